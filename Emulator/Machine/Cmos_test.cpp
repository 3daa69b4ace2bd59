#include "Machine/Cmos.h"

#include <gtest/gtest.h>

#include "Machine/Machine.h"

namespace {

using vyr::emu::Cmos;
using vyr::emu::Machine;
using vyr::emu::Profile;

uint8_t PortRead(Machine &M, uint8_t Index) {
  M.IoWrite(0x70, 1, Index);
  return static_cast<uint8_t>(M.IoRead(0x71, 1));
}

TEST(CmosTest, TimeRegistersFollowTheClockInTheProfilesFormat) {
  const uint8_t Registers[] = {Cmos::kRegisterB, Cmos::kSeconds, Cmos::kMinutes,   Cmos::kHours,    Cmos::kDayOfMonth,
                               Cmos::kMonth,     Cmos::kYear,    Cmos::kDayOfWeek, Cmos::kRegisterD};
  // 2026-12-06 23:45:59 is a Sunday.
  const struct {
    bool Binary;
    std::vector<uint8_t> Values;  // in the order above
  } Cases[] = {
      {false, {0x02, 0x59, 0x45, 0x23, 0x06, 0x12, 0x26, 1, 0x80}},
      {true, {0x06, 59, 45, 23, 6, 12, 26, 1, 0x80}},
  };
  for (const auto &C : Cases) {
    Profile P = Profile::Default();
    P.ClockStart = "2026-12-06 23:45:59";
    P.RtcBinary = C.Binary;
    Machine M(P);
    std::vector<uint8_t> Got;
    for (uint8_t Index : Registers) Got.push_back(PortRead(M, Index));
    EXPECT_EQ(C.Values, Got) << (C.Binary ? "binary" : "BCD");
  }
}

TEST(CmosTest, RegisterBDecidesTheFormatAndTheClockMoves) {
  Profile P = Profile::Default();
  P.ClockStart = "2026-12-06 10:00:09";
  Machine M(P);
  EXPECT_EQ(0x09, PortRead(M, Cmos::kSeconds));
  M.AdvanceNs(3000000000ull);
  EXPECT_EQ(0x12, PortRead(M, Cmos::kSeconds));  // BCD 12
  M.IoWrite(0x70, 1, Cmos::kRegisterB);
  M.IoWrite(0x71, 1, Cmos::kB24Hour | Cmos::kBBinary);
  EXPECT_EQ(12, PortRead(M, Cmos::kSeconds));
}

TEST(CmosTest, AlarmRegistersAreStoredAndTimeWritesIgnored) {
  Machine M(Profile::Default());
  for (uint8_t Index : {Cmos::kSecondsAlarm, Cmos::kMinutesAlarm, Cmos::kHoursAlarm, uint8_t(0x20), uint8_t(0x7F)}) {
    M.IoWrite(0x70, 1, Index | 0x80);  // NMI mask bit is not part of the index
    M.IoWrite(0x71, 1, 0x30u + Index);
    EXPECT_EQ(0x30u + Index, PortRead(M, Index)) << int(Index);
  }
  uint8_t Hours = PortRead(M, Cmos::kHours);
  M.IoWrite(0x70, 1, Cmos::kHours);
  M.IoWrite(0x71, 1, 0x01);
  EXPECT_EQ(Hours, PortRead(M, Cmos::kHours));
}

TEST(CmosTest, RegisterCClearsOnRead) {
  Machine M(Profile::Default());
  EXPECT_EQ(0, PortRead(M, Cmos::kRegisterC));  // no update since power-on
  M.AdvanceNs(2000000000ull);
  EXPECT_EQ(Cmos::kCUpdateEnded, PortRead(M, Cmos::kRegisterC));
  EXPECT_EQ(0, PortRead(M, Cmos::kRegisterC));
}

}  // namespace

// Completion action and status, the 16h request, the RTC alarm and EndProgram.
#include "Flash/Completion.h"

#include <cstring>

#include "FlashFixture.h"
#include "Base/RunState.h"
#include "EndProgram.h"

namespace {

using vyr::emu::Cmos;
using vyr::emu::Profile;
using vyr::testing::FlashTest;

class CompletionTest : public FlashTest {
 protected:
  void Options(bool R, bool S, bool N) {
    mCommandLine.Flags[OPT_R] = R;
    mCommandLine.Flags[OPT_S] = S;
    mCommandLine.Flags[OPT_N] = N;
  }
  const EMU_COMPLETION &Received() { return M().Bios().Completion; }
};

TEST_F(CompletionTest, IniActionAndOptionsDecideInOrder) {
  struct Case { UINT32 Ini; bool R, S, N; UINT8 Sent; };
  const Case Cases[] = {
      {2, false, true, true, 0},  {2, true, true, false, 1}, {1, true, false, false, 2},
      {0, false, true, false, 1}, {3, false, false, false, 3}, {0x102, false, false, false, 2},
  };
  Start();
  for (const Case &C : Cases) {
    mIniSettings.FlashComplete.Action = C.Ini;
    Options(C.R, C.S, C.N);
    SetStatus_16h(COMPLETE_KEEP, COMPLETE_KEEP);
    ASSERT_TRUE(SMI_FlashComplete());
    EXPECT_EQ(C.Sent, Received().Action) << "ini " << C.Ini << " r" << C.R << " s" << C.S << " n" << C.N;
  }
}

TEST_F(CompletionTest, KeepRecomputesTheActionButKeepsTheStatus) {
  Start();
  Options(false, true, false);
  SetStatus_16h(COMPLETE_ACTION_REBOOT, COMPLETE_STATUS_FLASH_PARTIAL);
  EXPECT_EQ(COMPLETE_ACTION_REBOOT, mCompletion.Action);
  SetStatus_16h(COMPLETE_KEEP, COMPLETE_KEEP);
  EXPECT_EQ(COMPLETE_ACTION_SHUTDOWN, mCompletion.Action);  // -s over the INI's reboot
  EXPECT_EQ(COMPLETE_STATUS_FLASH_PARTIAL, mCompletion.Status);
  EXPECT_TRUE(Logged(" ini flash complete setting 0x02 (Reboot)\r\n Command force shutdown\r\n"));
  EXPECT_TRUE(Logged(" Set 16h Complete Action 0x02 (Reboot)\r\n"));
  EXPECT_TRUE(Logged(" Set 16h Complete Status 0x02 (Flash Partial)\r\n"));
  // Values without a name trace an empty one.
  SetStatus_16h(7, 9);
  SetStatus_16h(3, 0);
  EXPECT_TRUE(Logged(" Set 16h Complete Action 0x07 ()\r\n Set 16h Complete Status 0x09 ()\r\n"));
  EXPECT_TRUE(Logged(" Set 16h Complete Action 0x03 (S3)\r\n Set 16h Complete Status 0x00 (AP Terminated)\r\n"));
}

TEST_F(CompletionTest, RequestCarriesTheFinishBufferAndRegisters) {
  Start();
  SetStatus_16h(COMPLETE_ACTION_SHUTDOWN, COMPLETE_STATUS_FLASH_PARTIAL);
  ASSERT_TRUE(SMI_FlashComplete());
  const SMI_REGISTERS &In = M().SmiTranscript().back().In;
  EXPECT_EQ(0x16EFu, In.Eax & 0xFFFF);
  EXPECT_EQ(0x0001u, In.Ecx & 0xFFFF);  // CH 0, CL 1
  EXPECT_EQ(mFwsmi.Buffer[0].Address, In.Esi);
  EXPECT_EQ(0u, In.Edi);
  UINT8 Data[13];
  ASSERT_TRUE(M().ReadPhysical(In.Esi, Data, sizeof(Data)));
  EXPECT_EQ(0, std::memcmp(Data, "$FINISHI\x0D\x00\x00\x00\x02", 13));
  EXPECT_EQ(1u, Received().Requests);
  EXPECT_EQ(2, Received().Status);
  char Registers[200];
  std::snprintf(Registers, sizeof(Registers),
                "  CX 0x0001\r\n  CH 0x00\r\n  CL 0x01\r\n  DX 0x00B2\r\n EDI 0x00000000\r\n ESI 0x%08X\r\n", In.Esi);
  EXPECT_TRUE(Logged(Registers));
  EXPECT_TRUE(Logged(" 16h Input Data:\r\n Clear CMOS 0x00\r\n Complete Action 0x01 (Shutdown)\r\n"
                     " Complete Status 0x02 (Flash Partial)\r\n"));
  // FuncSpecific_16h sends its own values and leaves the record alone.
  ASSERT_TRUE(FuncSpecific_16h(0, 1));
  EXPECT_EQ(0, Received().Action);
  EXPECT_EQ(1, Received().Status);
  EXPECT_EQ(COMPLETE_ACTION_SHUTDOWN, mCompletion.Action);
  EXPECT_EQ(COMPLETE_STATUS_FLASH_PARTIAL, mCompletion.Status);
  EXPECT_TRUE(Logged(" FuncSpecific_16h() |enable|\r\n"));
}

TEST_F(CompletionTest, RefusedRequestIsRetriedAndFailsEndProgram) {
  Start([](Profile &P) { P.BiosFaults = {{0x16, 0x25, 1, 0}}; });
  mIniSettings.Others.SMIErrorRetry = 2;
  EXPECT_FALSE(EndProgram());
  EXPECT_EQ(3u, CallsOf(0x16));
  EXPECT_TRUE(Logged(" Call FWSMI failed. Error Code: 0x25, Retry Count: 03\r\n"));
  EXPECT_TRUE(Logged("BIOS return not success"));
  EXPECT_TRUE(Logged("FWSMI failed"));
  UINT8 Error = 0;
  FLASH_COMPLETE_BLOCK Block = {};
  EXPECT_FALSE(Fwsmi_16h(&Block, &Error));
  EXPECT_EQ(0x25, Error);
  // No block: refused without a call, the error left alone.
  const UINT32 Calls = CallsOf(0x16);
  EXPECT_FALSE(Fwsmi_16h(nullptr, &Error));
  EXPECT_EQ(Calls, CallsOf(0x16));
  EXPECT_EQ(0x25, Error);
  EXPECT_TRUE(Logged("Input buffer is NULL"));
}

// ---- AutoWakeup ------------------------------------------------------------------

struct Alarm {
  uint8_t Hours, Minutes, Seconds;
  bool operator==(const Alarm &O) const { return Hours == O.Hours && Minutes == O.Minutes && Seconds == O.Seconds; }
};

class AutoWakeupTest : public CompletionTest {
 protected:
  void Start(const char *Clock, bool Binary) {
    FlashTest::Start([&](Profile &P) {
      P.ClockStart = Clock;
      P.RtcBinary = Binary;
    });
  }
  Alarm Programmed() {
    Cmos &C = M().Rtc();
    return {C.Peek(Cmos::kHoursAlarm), C.Peek(Cmos::kMinutesAlarm), C.Peek(Cmos::kSecondsAlarm)};
  }
};

TEST_F(AutoWakeupTest, AlarmTimesWrapAtMidnightInBcdAndBinary) {
  struct Case { const char *Clock; UINT32 Interval; bool Binary; Alarm Expected; const char *Trace; };
  const Case Cases[] = {
      {"2026-12-06 23:59:00", 120, false, {0x00, 0x01, 0x00}, " Day + 1 (60)\r\n SET  0: 1: 0 (60)\r\n BCD  0: 1: 0\r\n"},
      {"2026-12-06 23:59:00", 60, false, {0x00, 0x00, 0x00}, " Day + 1 (0)\r\n SET  0: 0: 0 (0)\r\n"},
      {"2026-12-06 12:34:56", 30, false, {0x12, 0x35, 0x26}, " SET 12:35:26 (45326)\r\n BCD 18:53:38\r\n"},
      {"2026-12-06 12:34:56", 30, true, {12, 35, 26}, " SET 12:35:26 (45326)\r\n"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Clock << " +" << C.Interval << (C.Binary ? " binary" : " BCD"));
    Start(C.Clock, C.Binary);
    mIniSettings.FlashComplete.Action = COMPLETE_ACTION_SHUTDOWN;
    EXPECT_TRUE(AutoWakeup(C.Interval));
    EXPECT_EQ(C.Expected, Programmed());
    EXPECT_TRUE(Logged(C.Trace)) << Log();
    if (C.Interval == 120) {
      EXPECT_TRUE(Logged("[AutoWakeup] enable 23:59:00\r\n RTC 35:89: 0 (86340)\r\n")) << Log();
    }
    EXPECT_EQ(C.Binary, Logged(" RTC ") && !Logged(" BCD "));
    uint8_t B = M().Rtc().Peek(Cmos::kRegisterB);
    EXPECT_EQ(Cmos::kBAlarmInterrupt, B & (Cmos::kBAlarmInterrupt | Cmos::kBSet));
    EXPECT_EQ(C.Binary, (B & Cmos::kBBinary) != 0);
  }
}

// ---- EndProgram ------------------------------------------------------------------

TEST_F(CompletionTest, EndProgramSendsWhatTheRunLeftUnlessTheVendorRuleHolds) {
  struct Case { bool Firmware; UINT16 Vendor; bool NoPause, ForceIt; };
  // None of these may enter the key loop: each returns with the run's completion.
  const Case Cases[] = {
      {false, 0x1028, false, true},  {false, 0x1028, false, false}, {true, 0x1028, true, true},
      {true, 0x1028, false, false}, {true, 0x1234, false, true},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(testing::Message() << "firmware " << C.Firmware << " vendor " << std::hex << C.Vendor
                                    << " nopause " << C.NoPause << " forceit " << C.ForceIt);
    Start();
    mRun.FirmwareMode = C.Firmware;
    mPlatformQuery.VendorId = C.Vendor;
    mCommandLine.Flags[OPT_NOPAUSE] = C.NoPause;
    mCommandLine.Flags[OPT_FORCEIT] = C.ForceIt;
    SetStatus_16h(COMPLETE_KEEP, COMPLETE_STATUS_FLASH_ENTIRE);
    EXPECT_TRUE(EndProgram());
    EXPECT_EQ(1u, Received().Requests);
    EXPECT_EQ(COMPLETE_ACTION_REBOOT, Received().Action);
    EXPECT_EQ(COMPLETE_STATUS_FLASH_ENTIRE, Received().Status);
    UINT32 Hook = 0xFF;
    ASSERT_TRUE(EmuBiosRecentHookCode(&M().Bios(), 0, &Hook));
    EXPECT_EQ(0u, Hook);
  }
}

}  // namespace

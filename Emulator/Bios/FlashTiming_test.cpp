#include "Bios/FlashTiming.h"

#include <gtest/gtest.h>

namespace {

// The defaults: 48 MHz, dual-output reads with 8 dummy clocks, 64-byte
// controller cycles, tPP 0.4 ms, erases 45/120/150 ms.
TEST(FlashTiming, OperationsCostWhatTheDefaultPartTakes) {
  EMU_FLASH_TIMING T;
  EmuFlashTimingDefaults(&T);
  // One 64-byte cycle: 8 + 24 + 8 command clocks and 256 data clocks on two lines.
  EXPECT_EQ(EmuFlashReadNs(&T, 64), 6167u);
  EXPECT_EQ(EmuFlashReadNs(&T, 0), 0u);
  EXPECT_EQ(EmuFlashReadNs(&T, 0x10000), 6314667u) << "1024 cycles: 40960 command and 262144 data clocks";
  struct {
    UINT32 Offset, Length;
    UINT64 Ns;
  } Erases[] = {
      {0x00000, 0x10000, 150000000},  // one 64 KiB block
      {0x01000, 0x01000, 45000000},   // one sector
      {0x08000, 0x08000, 120000000},  // a 32 KiB half
      {0x08000, 0x18000, 270000000},  // 32 KiB, then 64 KiB
      {0x0F000, 0x02000, 90000000},   // two sectors across a block boundary
      {0x00000, 0x00800, 45000000},   // less than a sector costs a sector
  };
  for (const auto &E : Erases) {
    SCOPED_TRACE(testing::Message() << std::hex << E.Offset << "+" << E.Length);
    EXPECT_EQ(EmuFlashEraseNs(&T, E.Offset, E.Length), E.Ns);
  }
  // A page: tPP and 4 page-program commands of 32 clocks with 64 data bytes each.
  EXPECT_EQ(EmuFlashProgramNs(&T, 0, 256), 400000u + 45334u);
  EXPECT_EQ(EmuFlashProgramNs(&T, 128, 256), 800000u + 45334u) << "two pages touched";
  T.ReadWidth = 4;
  T.BusKHz = 100000;
  EXPECT_EQ(EmuFlashReadNs(&T, 64), 1680u) << "quad reads at 100 MHz: 40 + 128 clocks";
}

}  // namespace

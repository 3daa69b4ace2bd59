#include "vyrfft/Launcher.h"

#include <gtest/gtest.h>

namespace {

TEST(VyrfftCompletionLine, NamesWhatTheBiosWasAskedFor) {
  struct Case {
    EMU_COMPLETION Completion;
    const char *Line;
  };
  const Case Cases[] = {
      {{0, 0, 0, 0, 0}, "vyrfft: no completion request was sent"},
      {{0, 2, 0, 0, 0}, "vyrfft: no completion request was accepted (2 malformed)"},
      {{1, 0, 0, 2, 1}, "vyrfft: the platform would now reboot (action 2, status 1 Flash Entire)"},
      {{2, 0, 0, 1, 2}, "vyrfft: the platform would now shut down (action 1, status 2 Flash Partial)"},
      {{1, 0, 1, 9, 7}, "vyrfft: the platform was asked for an unknown action (action 9, status 7, clear CMOS)"},
  };
  for (const Case &C : Cases) {
    EXPECT_EQ(C.Line, vyr::fft::DescribeCompletion(C.Completion));
  }
}

}  // namespace

namespace {

TEST(VyrfftBlockLine, CountsEachOutcomeOnce) {
  using vyr::emu::BlockWrite;
  EXPECT_EQ("vyrfft: no flash block was written (15h)", vyr::fft::DescribeBlockWrites({}));
  const std::vector<BlockWrite> Blocks = {
      {0xFFA80000, 0x10000, 0x00, 1}, {0xFFA90000, 0x10000, 0x00, 3}, {0xFFAA0000, 0x10000, 0x29, 1},
      {0xFFAB0000, 0x10000, 0x2A, 1}, {0xFFAC0000, 0x10000, 0x25, 6}, {0xFFAD0000, 0x10000, 0xEF, 6},
  };
  EXPECT_EQ("vyrfft: flash blocks (15h): 2 written, 1 skipped (0x29), 1 locked (0x2A), 2 failed, of 6",
            vyr::fft::DescribeBlockWrites(Blocks));
}

TEST(VyrfftBlockLine, PowerCutNamesTheLastBlock) {
  EMU_BIOS Bios;
  EmuBiosInit(&Bios);
  Bios.Flash.BlocksWritten = 3;
  Bios.Flash.PowerCutAddress = 0xFFA90000;
  Bios.PoweredOffCalls = 14;
  EXPECT_EQ("vyrfft: the power was cut after block write 3 at 0xFFA90000; the flash keeps what was written, and "
            "the 14 SMI calls and the console output after it never happened on a real machine",
            vyr::fft::DescribePowerCut(Bios));
}

}  // namespace

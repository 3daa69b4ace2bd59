#include "vyrfft/Launcher.h"

#include <gtest/gtest.h>

namespace {

TEST(VyrfftCompletionLine, NamesWhatTheBiosWasAskedFor) {
  const struct {
    EMU_COMPLETION Completion;
    const char *Line;
  } Cases[] = {
      {{0, 0, 0, 0, 0}, "vyrfft: no completion request was sent"},
      {{0, 2, 0, 0, 0}, "vyrfft: no completion request was accepted (2 malformed)"},
      {{1, 0, 0, 2, 1}, "vyrfft: the platform would now reboot (action 2, status 1 Flash Entire)"},
      {{2, 0, 0, 1, 2}, "vyrfft: the platform would now shut down (action 1, status 2 Flash Partial)"},
      {{1, 0, 1, 9, 7}, "vyrfft: the platform was asked for an unknown action (action 9, status 7, clear CMOS)"},
  };
  for (const auto &C : Cases) EXPECT_EQ(C.Line, vyr::fft::DescribeCompletion(C.Completion));
}

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

TEST(VyrfftPowerCutLine, NamesWhatTheFrozenMachineDropped) {
  using vyr::emu::DroppedWrite;
  const DroppedWrite Var{true, "set", "FlashCommand", "G", 1, 2};
  const DroppedWrite Log{false, "write", "\\VyrFFT-Secure.Log", "fs0", 40, 900};
  const DroppedWrite Escape{false, "create", "\\a\x1B[2Jb", "fs0", 1, 0};
  const struct {
    std::vector<DroppedWrite> Dropped;
    const char *Line;
  } Cases[] = {
      {{}, "vyrfft: the machine froze at the cut; the run asked for no variable or file change after it"},
      {{Var, Log, {false, "resize", "\\VyrFFT-Secure.Log", "fs0", 2, 0}},
       "vyrfft: the machine froze at the cut and dropped what the run wrote after it: 1 variable write "
       "(FlashCommand) and 42 file writes (fs0:\\VyrFFT-Secure.Log)"},
      // Paths come from the run's command line: control bytes reach the terminal as '?'.
      {{Escape}, "vyrfft: the machine froze at the cut and dropped what the run wrote after it: 0 variable writes "
                 "and 1 file write (fs0:\\a?[2Jb)"},
      {{{false, "create", "\\1", "fs0", 1, 0}, {false, "create", "\\2", "fs0", 1, 0}, {false, "create", "\\3", "fs0", 1, 0},
        {false, "create", "\\4", "fs0", 1, 0}, {false, "create", "\\5", "fs0", 1, 0}},
       "vyrfft: the machine froze at the cut and dropped what the run wrote after it: 0 variable writes and 5 file "
       "writes (fs0:\\1, fs0:\\2, fs0:\\3, fs0:\\4, ...)"},
  };
  for (const auto &C : Cases) EXPECT_EQ(C.Line, vyr::fft::DescribeDroppedWrites(C.Dropped));
}

}  // namespace

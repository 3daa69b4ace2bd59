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

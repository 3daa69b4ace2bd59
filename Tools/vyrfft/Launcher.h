// vyrfft's run: the driver loaded into an emulated PC and driven by name.
#ifndef VYRFFT_LAUNCHER_H_
#define VYRFFT_LAUNCHER_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "Bios/EmuBios.h"
#include "vyrfft/Options.h"

namespace vyr::fft {

enum ExitCode {
  kExitOk = 0,
  kExitRunFailed = 1,
  kExitUsage = 2,
  kExitCompletionRefused = 3,
  kExitLoadFailed = 4,
};

// The line vyrfft prints after a run about the completion request (16h)
// that the emulated BIOS received, without the line end.
std::string DescribeCompletion(const EMU_COMPLETION &Completion);

// Runs one launch as Options say; messages of vyrfft itself go to Log.
int Run(const Options &Options, std::ostream &Log);
int VyrfftMain(const std::vector<std::string> &Args, std::ostream &Out, std::ostream &Err);

}  // namespace vyr::fft

#endif  // VYRFFT_LAUNCHER_H_

// vyrfft's run: the driver loaded into an emulated PC and driven by name.
#ifndef VYRFFT_LAUNCHER_H_
#define VYRFFT_LAUNCHER_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vyrfft/Options.h"

namespace vyr::fft {

enum ExitCode {
  kExitOk = 0,
  kExitRunFailed = 1,
  kExitUsage = 2,
  kExitCompletionRefused = 3,
  kExitLoadFailed = 4,
};

// Runs one launch as Options say; messages of vyrfft itself go to Log.
int Run(const Options &Options, std::ostream &Log);
int VyrfftMain(const std::vector<std::string> &Args, std::ostream &Out, std::ostream &Err);

}  // namespace vyr::fft

#endif  // VYRFFT_LAUNCHER_H_

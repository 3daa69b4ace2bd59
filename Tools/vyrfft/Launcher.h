// vyrfft's run: the driver loaded into an emulated PC and driven by name.
#ifndef VYRFFT_LAUNCHER_H_
#define VYRFFT_LAUNCHER_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "Bios/EmuBios.h"
#include "Machine/Machine.h"
#include "vyrfft/Options.h"

namespace vyr::fft {

enum ExitCode {
  kExitOk = 0,
  kExitRunFailed = 1,
  kExitUsage = 2,
  kExitCompletionRefused = 3,
  kExitLoadFailed = 4,
  kExitPowerCut = 5,
  kExitSaveFailed = 6,  // flash.bin could not be written back: the run's writes are lost
};

// The line vyrfft prints after a run about the completion request (16h)
// that the emulated BIOS received, without the line end.
std::string DescribeCompletion(const EMU_COMPLETION &Completion);

// The line vyrfft prints after a run about the 15h block writes as the
// emulated BIOS answered them, without the line end.
std::string DescribeBlockWrites(const std::vector<emu::BlockWrite> &Blocks);
// The run's modeled time on real hardware, with its parts and the bus it assumes.
std::string DescribeModeledTime(const emu::ModeledTime &Time, const EMU_FLASH_TIMING &Timing);

// The line about a power cut the profile asked for (bios.powerCutAfterWrites).
std::string DescribePowerCut(const EMU_BIOS &Bios);

// The line about a flash.bin that could not be written back (Reason: the
// host's error), without the line end.
std::string DescribeSaveFailure(const std::string &Reason);

// The line about what the frozen machine dropped after a power cut.
std::string DescribeDroppedWrites(const std::vector<emu::DroppedWrite> &Dropped);

// The identity (model name, version) that the machine's BIOS reports (11h).
std::string DescribeIdentity(const EMU_BIOS &Bios);

// Runs one launch as Options say: the console goes to Out, messages of
// vyrfft itself to Log.
int Run(const Options &Options, std::ostream &Out, std::ostream &Log);
int VyrfftMain(const std::vector<std::string> &Args, std::ostream &Out, std::ostream &Err);

}  // namespace vyr::fft

#endif  // VYRFFT_LAUNCHER_H_

// The BIOS's 41h answers (the 52-byte "$EDO" answer and the data handed
// back), changed by the input: the PFAT support query and the update progress
// report must read only the answer and remember a refusal.
#include <cstdint>

#include "Flash/Progress.h"
#include "FuzzHarness.h"
#include "Smi/ExtraDataRequest.h"

namespace {

void Ready(vyr::emu::Machine &M) {
  fuzz::ChangeAnswer(M, 0x41, {'c', EXTRA_DATA_ANSWER_SIZE}, {'D', PROGRESS_REPORT_SIZE});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(fuzz::SupportEverything, Ready);
  ExtraDataRequestResetState();
  ProgressResetState();
  fuzz::Reader In(Data, Size);
  fuzz::TraceToScreen((In.U8() & 7) == 1);
  uint32_t Total = In.U32();
  fuzz::Answers() = &In;
  BOOLEAN Pfat = IsSupportPfat();
  fuzz::Require(IsSupportPfat() == Pfat);  // asked once, then remembered
  // Progress reports until the BIOS refuses one: none is sent after that.
  for (uint32_t Current = 0; Current < 4; Current++) {
    if (!SMI_PassUpdateProgress(Current, Total)) {
      fuzz::Require(mProgress.BiosReportDisabled);
      fuzz::Require(!SMI_PassUpdateProgress(Current + 1, Total));
      break;
    }
  }
  fuzz::Answers() = nullptr;
  fuzz::TraceToScreen(false);
  return 0;
}

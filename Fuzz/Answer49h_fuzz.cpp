// The BIOS's 49h answer (status and the 16-byte "$RDI" request it fills in),
// changed by the input: a restore request counts only when the BIOS answered
// with success and knew the request type.
#include <cstdint>

#include "FuzzHarness.h"
#include "Image/Bvdt.h"

namespace {

void Ready(vyr::emu::Machine &M) { fuzz::ChangeAnswer(M, 0x49, {'c', RESTORE_REQUEST_SIZE}); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(fuzz::SupportEverything, Ready);
  fuzz::Reader In(Data, Size);
  fuzz::TraceToScreen((In.U8() & 7) == 1);
  fuzz::Answers() = &In;
  FuncFwsmi_49h();
  fuzz::Answers() = nullptr;
  fuzz::TraceToScreen(false);
  return 0;
}

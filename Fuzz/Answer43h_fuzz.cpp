// The BIOS's 43h answers (status and the "$PASSWDI" record it fills), changed
// by the input: the password check must read its answer byte inside the
// record, and must never pass a set password the BIOS did not accept.
#include <cstdint>

#include "Config/CommandLine.h"
#include "FuzzHarness.h"
#include "Image/Admission.h"
#include "Smi/PlatformQueries.h"

namespace {

void Ready(vyr::emu::Machine &M) { fuzz::ChangeAnswer(M, 0x43, {'c', PASSWORD_REQUEST_SIZE}); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(fuzz::SupportEverything, Ready);
  AdmissionResetState();
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  fuzz::TraceToScreen((Mode & 7) == 1);
  mPlatformQuery.VendorId = (Mode & 2) != 0 ? VENDOR_ID_DELL : 0x1234;
  fuzz::Answers() = &In;
  UINT8 Answer = 0xAA;
  BOOLEAN Queried = SMI_CheckPasswordByBios(PASSWORD_MODE_QUERY, NULL, &Answer);
  fuzz::Require(Queried || Answer == 0xAA);  // no answer byte without an answer
  CheckPassword();
  fuzz::Answers() = nullptr;
  fuzz::TraceToScreen(false);
  mPlatformQuery.VendorId = 0;
  return 0;
}

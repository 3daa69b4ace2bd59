// The BIOS's 48h answers (status, action in AH and the "$EXO" record),
// changed by the input: the secure-platform query and a capsule submission
// of a size from the input must keep the block list within its 512 entries.
#include <cstdint>

#include "Flash/SecureCapsule.h"
#include "FuzzHarness.h"

namespace {

void Ready(vyr::emu::Machine &M) {
  fuzz::ChangeAnswer(M, 0x48, {'D', CAPSULE_EXT_RECORD_SIZE}, {'S', 24});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(fuzz::SupportEverything, Ready);
  SecureCapsuleResetState();
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  fuzz::TraceToScreen((Mode & 7) == 1);
  SetViaEspRequest((Mode & 2) != 0);
  SECURE_CAPSULE_REQUEST Request;
  ZeroMem(&Request, sizeof(Request));
  Request.Address = In.U32();
  Request.Size = In.U32();
  Request.Flags = In.U8();
  fuzz::Answers() = &In;
  BOOLEAN Secure = IsSecurePlatform();
  fuzz::Require(IsSecurePlatform() == Secure);
  fuzz::Require(!mSecureCapsule.EspSupported || Secure);
  BOOLEAN Taken = Fwsmi_48h(&Request);
  fuzz::Answers() = nullptr;
  fuzz::TraceToScreen(false);
  // More than 512 blocks of 512 KiB never reach the BIOS.
  if (Taken && Request.Size != 0) fuzz::Require(Request.Size <= 512u * 0x80000u);
  return 0;
}

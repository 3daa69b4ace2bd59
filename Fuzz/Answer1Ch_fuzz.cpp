// The BIOS's 1Ch answer (status and the anti-theft bits in CL), changed by
// the input: the verdict must follow the bits, and a refusal must never be
// remembered as permission.
#include <cstdint>

#include "FuzzHarness.h"
#include "Smi/PlatformQueries.h"

namespace {

void Ready(vyr::emu::Machine &M) { fuzz::ChangeAnswer(M, 0x1C); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(fuzz::SupportEverything, Ready);
  PlatformQueryResetState();
  fuzz::Reader In(Data, Size);
  fuzz::TraceToScreen((In.U8() & 7) == 1);
  fuzz::Answers() = &In;
  BOOLEAN Allowed = SMI_CheckATpStatus();
  fuzz::Answers() = nullptr;
  fuzz::TraceToScreen(false);

  const ANTI_THEFT_STATUS &Status = mPlatformQuery.AntiTheft;
  bool Enrolled = Status.Supported != 0 && Status.Enrolled != 0;
  bool Refused = Enrolled && (Status.Stolen != 0 || Status.FlashAllowed == 0 || Status.TimerEnough == 0);
  if (Allowed) fuzz::Require(Status.ReturnCode == 0 && !Refused);
  fuzz::Require(IsAntiTheftPresent() == 0 || (Allowed && Status.Supported != 0));
  // The first verdict is kept.
  fuzz::Require(SMI_CheckATpStatus() == Allowed);
  return 0;
}

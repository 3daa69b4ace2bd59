// The BIOS's 11h answer (the 320-byte platform information area, the switch
// byte and the extended switches), changed by the input: the model name and
// version must come out as terminated text inside their fields.
#include <algorithm>
#include <cstdint>

#include "FuzzHarness.h"
#include "Smi/PlatformQueries.h"
#include "vyrpack/Bvdt.h"

namespace {

// The BIOS answers 11h with the identity of the BVDT it searches its flash
// for: a 64 KiB part with a BVDT at its start keeps that search short.
void Edit(vyr::emu::Profile &P) {
  fuzz::SupportEverything(P);
  P.Flash.Size = 0x10000;
}

void Ready(vyr::emu::Machine &M) {
  vyr::pack::BvdtStamp Stamp;
  Stamp.model = "VyrPC";
  Stamp.version = "V1.00";
  vyr::pack::Bytes Area = vyr::pack::BuildBvdtArea(Stamp);
  std::copy(Area.begin(), Area.end(), M.FlashContents().begin());
  fuzz::ChangeAnswer(M, 0x11, {'D', PLATFORM_INFO_AREA_SIZE}, {'S', 64});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(Edit, Ready);
  PlatformQueryResetState();
  fuzz::Reader In(Data, Size);
  fuzz::TraceToScreen((In.U8() & 7) == 1);
  fuzz::Answers() = &In;
  PLATFORM_INFO Info;
  BOOLEAN Answered = SMI_GetPlatformInfo(&Info);
  fuzz::Answers() = nullptr;
  fuzz::TraceToScreen(false);
  if (!Answered) return 0;

  fuzz::Require(StrnLenS(Info.ModelName, MODEL_NAME_BYTES) < MODEL_NAME_BYTES);
  fuzz::Require(StrnLenS(Info.Version, MODEL_VERSION_BYTES) < MODEL_VERSION_BYTES);
  BIOS_CONTROL_SWITCHES Switches;
  fuzz::Require(GetBiosControlSwitches(&Switches));
  const UINT8 *Bytes = &Switches.CheckModelName;
  for (size_t Index = 0; Index < sizeof(Switches); Index++) fuzz::Require(Bytes[Index] <= 1);
  // Later calls answer from the kept record.
  PLATFORM_INFO Again;
  fuzz::Require(SMI_GetPlatformInfo(&Again) && CompareMem(&Again, &Info, sizeof(Info)) == 0);
  return 0;
}

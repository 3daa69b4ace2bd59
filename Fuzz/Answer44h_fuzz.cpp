// The BIOS's 44h answer (status and the six-byte permit, message number and
// action), changed by the input, with a switch list from the input: the
// message number must never index past the INI's message table.
#include <cstdint>
#include <string>

#include "FuzzHarness.h"
#include "Image/Admission.h"

namespace {

void Ready(vyr::emu::Machine &M) { fuzz::ChangeAnswer(M, 0x44, {'S', COMMON_FLASH_ANSWER_SIZE}); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(fuzz::SupportEverything, Ready);
  AdmissionResetState();
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  fuzz::TraceToScreen((Mode & 7) == 1);
  // The switch string ([CommonFlash] SwitchString), at most its field.
  uint8_t Length = In.U8();
  std::vector<uint8_t> Switches = In.Bytes(Length);
  INI_COMMON_FLASH &Ini = mIniSettings.CommonFlash;
  ZeroMem(Ini.SwitchString, sizeof(Ini.SwitchString));
  CopyMem(Ini.SwitchString, Switches.data(), Switches.size() < sizeof(Ini.SwitchString) ? Switches.size() : sizeof(Ini.SwitchString) - 1);
  CopyMem(Ini.ErrorMsg[Mode % COMMON_FLASH_MESSAGE_LIMIT], "Not now", 8);
  fuzz::Answers() = &In;
  fuzz::Require(FuncCommonFlash());
  fuzz::Answers() = nullptr;

  COMMON_FLASH_STATUS Status;
  GetCommonFlashStatus(&Status);
  BOOLEAN Permitted = CheckCommonFlashPermit();
  fuzz::Require(Permitted || (Status.Answered != 0 && Status.Permit == 0));
  UINT8 Action = 0x55;
  if (!CommonFlashActionOverride(&Action)) fuzz::Require(Action == 0x55);
  fuzz::TraceToScreen(false);
  ZeroMem(&Ini, sizeof(Ini));
  return 0;
}

// The two variables a shell run leaves for the firmware run, as arbitrary
// bytes in the machine's variable store: "FlashINISettings" goes through the
// INI loader, "FlashCommand" becomes the command line. Then the section
// filter that writes the first one, over the input as INI text.
//
// Input: the length of the INI variable (2 bytes), its bytes, and the
// command variable's bytes (the rest).
#include <cstdint>
#include <vector>

#include "Config/CommandLine.h"
#include "Config/IniStore.h"
#include "Config/OverrideVariables.h"
#include "FuzzHarness.h"
#include "Guids.h"

namespace {

void Store(vyr::emu::Machine &M, const CHAR16 *Name, const std::vector<uint8_t> &Bytes) {
  M.Variables().Set(Name, &gFlashOverrideVariableGuid, OVERRIDE_VARIABLE_ATTRIBUTES, Bytes.size(), Bytes.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  vyr::emu::Machine &M = fuzz::SharedMachine();
  IniStoreResetState();
  CommandLineResetState();
  fuzz::Reader In(Data, Size);
  uint16_t IniLength = In.U16();
  std::vector<uint8_t> Ini = In.Bytes(IniLength);
  std::vector<uint8_t> Command = In.Rest();
  fuzz::TraceToScreen(IniLength % 16 == 1);
  Store(M, FLASH_INI_SETTINGS_VARIABLE, Ini);
  Store(M, FLASH_COMMAND_VARIABLE, Command);

  // Each is read once and then cleared.
  BOOLEAN IniRead = GetIniOverrideVariable();
  fuzz::Require(IniRead == !Ini.empty());
  fuzz::Require(!GetIniOverrideVariable());
  BOOLEAN CommandRead = GetCommandOverrideVariable();
  fuzz::Require(CommandRead == !Command.empty());
  const CHAR16 *Saved = nullptr;
  UINT32 SavedSize = 0;
  if (GetSavedCommandLine(&Saved, &SavedSize)) {
    fuzz::Require(SavedSize == StrLen(Saved) * 2 + 2);
  }

  // The filter's output is never longer than its input.
  std::vector<CHAR8> Output(Ini.size() + 1, 0);
  UINT32 Length = FilterOverrideSections(reinterpret_cast<const CHAR8 *>(Ini.data()), (UINT32)Ini.size(), Output.data());
  fuzz::Require(Length <= Ini.size() && Output[Length] == 0);
  SetIniOverrideVariable(reinterpret_cast<const CHAR8 *>(Ini.data()), (UINT32)Ini.size());
  ClearIniOverrideVariable();
  fuzz::TraceToScreen(false);
  IniStoreResetState();
  ZeroMem(&mIniSettings, sizeof(mIniSettings));
  InitialIniConfig();
  mIniSettings.Others.SMIErrorRetry = 0;
  return 0;
}

// The two main entries. Each runs its flow as far as this build carries it
// and fails at the first step that is not part of it yet.
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Config/IniSettings.h"
#include "Config/OverrideVariables.h"
#include "Console/Trace.h"
#include "Flash/ExtraData.h"
#include "Image/Package.h"
#include "NamedFunction.h"
#include "Startup.h"

static CHAR16 mFileName[FILE_NAME_CHARS];
static CHAR16 mOptionString[OPTION_STRING_CHARS];

BOOLEAN EFIAPI ShellFlashMain(VOID) {
  FuncEnter(u"ShellFlashMain");
  mRun.FirmwareMode = FALSE;
  CheckDebugArgument();

  SetApplication(GetArgument(0));
  SetPackageStatus();
  ClearIniOverrideVariable();
  ClearCommandOverrideVariable();
  InitialIniConfig();
  EdtResetState();

  if (!ArgumentCheck(mFileName, mOptionString)) {
    FuncExit(u"ShellFlashMain", u"Argument check failed");
    return FALSE;
  }
  if (!Initialize()) {
    FuncExit(u"ShellFlashMain", u"Initialize failed");
    return FALSE;
  }
  FuncExit(u"ShellFlashMain", u"Flash flow not built yet");
  return FALSE;
}

BOOLEAN EFIAPI UefiFlashMain(VOID) {
  FuncEnter(u"UefiFlashMain");
  mRun.FirmwareMode = TRUE;
  InitialIniConfig();
  if (!Initialize()) {
    FuncExit(u"UefiFlashMain", u"Initialize failed");
    return FALSE;
  }
  FuncExit(u"UefiFlashMain", u"Flash flow not built yet");
  return FALSE;
}

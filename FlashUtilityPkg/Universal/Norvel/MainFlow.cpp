// The two main entries. Each runs its flow as far as this build carries it
// and fails at the first step that is not part of it yet.
#include "Config/IniSettings.h"
#include "Console/Trace.h"
#include "NamedFunction.h"
#include "Startup.h"

BOOLEAN EFIAPI ShellFlashMain(VOID) {
  FuncEnter(u"ShellFlashMain");
  mRun.FirmwareMode = FALSE;
  CheckDebugArgument();
  InitialIniConfig();
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

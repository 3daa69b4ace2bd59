// The two main entries. Each runs its flow as far as this build carries it
// and fails at the first step that is not part of it yet.
#include "BaseLib.h"
#include "Completion.h"
#include "Config/CommandLine.h"
#include "Config/IniSettings.h"
#include "Config/OverrideVariables.h"
#include "Console/Trace.h"
#include "Flash/ExtraData.h"
#include "Flash/ReadRom.h"
#include "Flash/RomMap.h"
#include "Image/Package.h"
#include "Image/PackageCommands.h"
#include "NamedFunction.h"
#include "Startup.h"

static CHAR16 mFileName[FILE_NAME_CHARS];
static CHAR16 mOptionString[OPTION_STRING_CHARS];

// Every failure of a flow leaves "Return To OS" with "AP Terminated" for EndProgram.
static BOOLEAN FailRun(CONST CHAR16 *Name, CONST CHAR16 *Reason) {
  SetStatus_16h(0, 0);
  FuncExit(Name, Reason);
  return FALSE;
}

// The query commands, first match wins. *Ran tells whether one was given;
// the result is the query's own.
static BOOLEAN RunQueryCommand(BOOLEAN *Ran) {
  *Ran = TRUE;
  if (IsOptionSet(OPT_HELP)) {
    PrintBanner(TRUE);
    DisplayUsage();
    return TRUE;
  }
  if (IsOptionSet(OPT_PR)) {
    return ShowExternalRegionMap();
  }
  if (IsOptionSet(OPT_PRIV)) {
    return ShowPrivateRegionMap();
  }
  if (IsOptionSet(OPT_PQ)) {
    return ShowProtectRegionMap();
  }
  if (IsOptionSet(OPT_PI)) {
    return ShowBvdtRegionMap(mFileName);
  }
  if (IsOptionSet(OPT_PW)) {
    return ShowWholeRegionMap();
  }
  if (IsOptionSet(OPT_G)) {
    PrintBanner(FALSE);
    return SaveRomToFile(mFileName);
  }
  if (IsExtrFdSet() || IsOptionSet(OPT_EDT)) {
    // Extraction and extra data are queries whose engines are not part of this build.
    PrintBanner(FALSE);
    DebugPrint(2, u" Query command not built yet\r\n");
    return FALSE;
  }
  *Ran = FALSE;
  return FALSE;
}

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
    return FailRun(u"ShellFlashMain", u"Argument check failed");
  }
  if (!Initialize()) {
    return FailRun(u"ShellFlashMain", u"Initialize failed");
  }
  if (!CallingNecessarySmi()) {
    return FailRun(u"ShellFlashMain", u"calling necessary FWSMI failed");
  }
  if (!CommandFilterCheck(mOptionString)) {
    return FailRun(u"ShellFlashMain", u"Argument check with command filter failed");
  }
  BOOLEAN Ran = FALSE;
  BOOLEAN Result = RunQueryCommand(&Ran);
  if (Ran) {
    FuncExit(u"ShellFlashMain", u"Query command");
    return Result;
  }
  // The configuration load comes next; a secure-boot check held back for it
  // is completed with the settings as they stand.
  if (!CompleteSecureBootProtectionCheck()) {
    return FailRun(u"ShellFlashMain", u"Secure Boot Protection check failed");
  }
  return FailRun(u"ShellFlashMain", u"Flash flow not built yet");
}

BOOLEAN EFIAPI UefiFlashMain(VOID) {
  FuncEnter(u"UefiFlashMain");
  mRun.FirmwareMode = TRUE;
  InitialIniConfig();
  if (!Initialize()) {
    return FailRun(u"UefiFlashMain", u"Initialize failed");
  }
  if (!CompleteSecureBootProtectionCheck()) {
    return FailRun(u"UefiFlashMain", u"Secure Boot Protection check failed");
  }
  return FailRun(u"UefiFlashMain", u"Flash flow not built yet");
}

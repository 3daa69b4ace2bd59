#include "Startup.h"

#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Config/IniStore.h"
#include "Flash/EcUpdate.h"
#include "Flash/RomMap.h"
#include "Image/Payload.h"
#include "Smi/FwsmiTransport.h"
#include "Smi/PlatformQueries.h"

STARTUP_STATE mStartup;

VOID StartupResetState(VOID) {
  FreePool(mStartup.ReserveBuffer);
  ZeroMem(&mStartup, sizeof(mStartup));
}

BOOLEAN InitialModuleVariable(EFI_HANDLE ImageHandle) {
  FuncEnter(u"InitialModuleVariable");
  CONST CHAR16 *Reason = NULL;
  if (!LocatePayloadRecords(ImageHandle, &Reason)) {
    FuncExit(u"InitialModuleVariable", Reason);
    return FALSE;
  }
  FuncExit(u"InitialModuleVariable", NULL);
  return TRUE;
}

VOID FreeResource(VOID) {
  FuncEnter(u"FreeResource");
  FreePool(mStartup.ReserveBuffer);
  mStartup.ReserveBuffer = NULL;
  FreeEcImageBuffer();
  FuncExit(u"FreeResource", NULL);
}

BOOLEAN Initialize(VOID) {
  FuncEnter(u"Initialize");
  if (mStartup.ReserveBuffer == NULL) {
    mStartup.ReserveBuffer = (UINT8 *)AllocateZeroPool(RESERVE_BUFFER_SIZE);
    if (mStartup.ReserveBuffer == NULL) {
      Print(u"\r\nError: Initialize\nAllocate memory failed. (%dMB)\r\n", 32);
      FuncExit(u"Initialize", u"allocate memory failed");
      return FALSE;
    }
  }
  if (mEcUpdate.ImageBuffer == NULL) {
    if (!AllocateEcImageBuffer()) {
      FreeResource();
      Print(u"\r\nError: Initialize\nAllocate memory failed. (%dMB)\r\n", 2);
      FuncExit(u"Initialize", u"Allocate memory failed");
      return FALSE;
    }
  }
  if (!AllocateFwsmiBuffers()) {
    Print(u"Error: Allocate physical memory for FWSMI failed!\r\n");
    FuncExit(u"Initialize", u"Allocate physical memory for FWSMI failed");
    return FALSE;
  }
  if (!InitialSmi()) {
    FreeResource();
    Print(u"\r\nError: Initialize\nFind SMI port failed.\r\n");
    FuncExit(u"Initialize", u"Initial SMI failed");
    return FALSE;
  }
  if (!SMI_IsSupport()) {
    FreeResource();
    Print(u"\r\nError: Initialize\r\nFWSMI %s failed.\r\n", u"10h");
    FuncExit(u"Initialize", u"SMI_IsSupport fail");
    return FALSE;
  }
  SMI_ApHookPoint(HOOK_AP_LAUNCH);
  PLATFORM_INFO Info;
  if (!SMI_GetPlatformInfo(&Info)) {
    FreeResource();
    Print(u"\r\nError: Initialize\r\nFWSMI %s failed.\r\n", u"11h");
    FuncExit(u"Initialize", u"Get platform information failed");
    return FALSE;
  }
  UINT32 WholeMapCount = 0;
  SMI_GetWholeRomMap(NULL, &WholeMapCount);
  if (!SecureBootProtectionCheck(WholeMapCount)) {
    FuncExit(u"Initialize", u"Secure Boot Protection check failed");
    return FALSE;
  }
  if (!SMI_CheckATpStatus()) {
    FreeResource();
    Print(u"\r\nError: Initialize\r\nFWSMI %s failed.\r\n", u"1Ch");
    FuncExit(u"Initialize", u"Get ATp information failed");
    return FALSE;
  }
  StampPayloadTags();
  FuncExit(u"Initialize", NULL);
  return TRUE;
}

static BOOLEAN SecureBootProtectionPasses(UINT32 WholeMapCount) {
  return WholeMapCount > 0 || IsOptionSet(OPT_SKIPSBP) ||
         mIniSettings.EngineeringErrorDisable.SkipSecureBootProtectionCheck != 0;
}

static VOID FailSecureBootProtection(VOID) {
  ConsolePrint(
      u"Flash process will be terminated!\r\n\r\nCurrent platform supports secure boot feature,\r\nit must provide NV "
      u"storage location by FWSMI interface.\r\nPlease contact OEM BIOS engineer to add the feature.\r\n\r\nWithout "
      u"this FWSMI interface,\r\nthe authenticate variables will be modified or cleared by flash process.\r\n\r\nIf "
      u"you understand the risk and still want to flash.\r\nYou can use following command or platform.ini settings "
      u"to ignore this error.\r\nCommand:\r\n        -skipsbp\r\nplatform.ini:\r\n        "
      u"[EngineeringErrorDisable]\r\n        SkipSecureBootProtectionCheck=1\r\n\r\n");
  FreeResource();
}

BOOLEAN SecureBootProtectionCheck(UINT32 WholeMapCount) {
  mStartup.SecureBootCheckPending = FALSE;
  if (!IsSecureBootSupport() || SecureBootProtectionPasses(WholeMapCount)) {
    return TRUE;
  }
  // The message offers a platform.ini setting, which cannot have been read
  // yet when start-up runs before the configuration: the check waits for it.
  if (mIniStore.Text == NULL) {
    mStartup.SecureBootCheckPending = TRUE;
    mStartup.WholeMapCount = WholeMapCount;
    DebugPrint(2, u" Secure boot protection check waits for platform.ini\r\n");
    return TRUE;
  }
  FailSecureBootProtection();
  return FALSE;
}

BOOLEAN CompleteSecureBootProtectionCheck(VOID) {
  if (!mStartup.SecureBootCheckPending) {
    return TRUE;
  }
  mStartup.SecureBootCheckPending = FALSE;
  if (SecureBootProtectionPasses(mStartup.WholeMapCount)) {
    return TRUE;
  }
  FailSecureBootProtection();
  return FALSE;
}

BOOLEAN CallingNecessarySmi(VOID) {
  FuncEnter(u"CallingNecessarySmi");
  if (!SMI_GetPlatformRomMap()) {
    FreeResource();
    Print(u"\r\nError: Initialize\r\nFWSMI %s failed.\r\n", u"12h");
    FuncExit(u"CallingNecessarySmi", u"Get platform ROM map failed");
    return FALSE;
  }
  if (!SMI_GetFlashPartInfo()) {
    FreeResource();
    Print(u"\r\nError: Initialize\r\nFWSMI %s failed.\r\n", u"13h");
    FuncExit(u"CallingNecessarySmi", u"Get flash part information failed");
    return FALSE;
  }
  FuncExit(u"CallingNecessarySmi", NULL);
  return TRUE;
}


#include "Startup.h"

#include "BaseLib.h"
#include "Console/Print.h"
#include "Console/Trace.h"
#include "Image/Payload.h"
#include "NamedFunction.h"
#include "Smi/FwsmiTransport.h"
#include "Smi/PlatformQueries.h"

STARTUP_STATE mStartup;

VOID StartupResetState(VOID) {
  FreePool(mStartup.ReserveBuffer);
  FreePool(mStartup.EcImageBuffer);
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
  FreePool(mStartup.EcImageBuffer);
  mStartup.EcImageBuffer = NULL;
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
  if (mStartup.EcImageBuffer == NULL) {
    mStartup.EcImageBuffer = (UINT8 *)AllocateZeroPool(EC_IMAGE_BUFFER_SIZE);
    if (mStartup.EcImageBuffer == NULL) {
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

VOID PrintBanner(BOOLEAN WithBuild) {
  CONST CHAR16 *Version = mRun.FirmwareMode ? u"1.00.61" : u"1.4b-Beta5";
  CONST CHAR16 *Build = mRun.FirmwareMode ? u"01" : u"00";
  CHAR16 Text[32];
  if (WithBuild) {
    UnicodeSPrint(Text, sizeof(Text), u"%s.%s", Version, Build);
  } else {
    UnicodeSPrint(Text, sizeof(Text), u"%s", Version);
  }
  Print(u"\r\n\r\n                Korvath VyrFFT (Flash Firmware Tool) Version %s\r\n", Text);
  Print(u"         Copyright (c) 2026 Korvath. All rights reserved.");
  Print(u"\r\n\r\n\r\n");
}

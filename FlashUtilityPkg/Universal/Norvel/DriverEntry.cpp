// The image's entry point, its unload routine and its Component Name protocol.
#include "DriverEntry.h"

#include "Base/RunState.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Config/EdtArguments.h"
#include "Config/IniStore.h"
#include "Console/ConsoleUi.h"
#include "Console/FileAccess.h"
#include "Flash/BlockFlash.h"
#include "Flash/BlockStatus.h"
#include "Flash/Completion.h"
#include "Flash/EcUpdate.h"
#include "Flash/Progress.h"
#include "Flash/RomAccess.h"
#include "Flash/RomMap.h"
#include "Flash/SecureCapsule.h"
#include "Flash/SecureFlash.h"
#include "Guids.h"
#include "Image/Admission.h"
#include "Image/Bvdt.h"
#include "Image/ImageAnalysis.h"
#include "Image/PfatImage.h"
#include "Image/MultiFd.h"
#include "Image/OemCustom.h"
#include "Image/Package.h"
#include "Image/PackageCommands.h"
#include "Image/Payload.h"
#include "MainFlow.h"
#include "NamedFunction.h"
#include "Platform.h"
#include "Smi/ExtraDataRequest.h"
#include "Smi/FwsmiTransport.h"
#include "Smi/PlatformQueries.h"
#include "Startup.h"

typedef struct EFI_COMPONENT_NAME_PROTOCOL EFI_COMPONENT_NAME_PROTOCOL;

struct EFI_COMPONENT_NAME_PROTOCOL {
  EFI_STATUS(EFIAPI *GetDriverName)(EFI_COMPONENT_NAME_PROTOCOL *This, CHAR8 *Language, CHAR16 **DriverName);
  EFI_STATUS(EFIAPI *GetControllerName)(EFI_COMPONENT_NAME_PROTOCOL *This, EFI_HANDLE Controller, EFI_HANDLE Child,
                                        CHAR8 *Language, CHAR16 **ControllerName);
  CHAR8 *SupportedLanguages;
};

static CHAR8 mSupportedLanguages[] = "eng";
static CHAR16 mDriverName[] = u"1.00.42.00";

// ISO 639-2 look-up: the supported-languages string is a run of three-letter codes.
static BOOLEAN IsLanguageSupported(CONST CHAR8 *Language) {
  for (CONST CHAR8 *Code = mSupportedLanguages; *Code != 0; Code += 3) {
    if (AsciiStrnLenS(Code, 3) < 3) {
      return FALSE;
    }
    if (Code[0] == Language[0] && Code[1] == Language[1] && Code[2] == Language[2]) {
      return TRUE;
    }
  }
  return FALSE;
}

static EFI_STATUS EFIAPI ComponentNameGetDriverName(EFI_COMPONENT_NAME_PROTOCOL *This, CHAR8 *Language,
                                                    CHAR16 **DriverName) {
  if (Language == NULL || DriverName == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  if (AsciiStrnLenS(Language, 3) < 3 || !IsLanguageSupported(Language)) {
    return EFI_UNSUPPORTED;
  }
  *DriverName = mDriverName;
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI ComponentNameGetControllerName(EFI_COMPONENT_NAME_PROTOCOL *This, EFI_HANDLE Controller,
                                                        EFI_HANDLE Child, CHAR8 *Language, CHAR16 **ControllerName) {
  return EFI_UNSUPPORTED;
}

static EFI_COMPONENT_NAME_PROTOCOL mComponentName = {ComponentNameGetDriverName, ComponentNameGetControllerName,
                                                     mSupportedLanguages};

EFI_STATUS EFIAPI NorvelDriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  PlatformInitialize(ImageHandle, SystemTable);
  RegisterLogWriter();

  VOID *Existing = NULL;
  if (EFI_ERROR(PlatformLocateProtocol(&gNamedFunctionProtocolGuid, &Existing))) {
    EFI_HANDLE Handle = ImageHandle;
    EFI_STATUS Status = PlatformInstallProtocolInterface(&Handle, &gNamedFunctionProtocolGuid, &mNamedFunctionProtocol);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = NULL;
  EFI_STATUS Status = PlatformHandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, (VOID **)&LoadedImage);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  LoadedImage->Unload = NorvelUnload;
  EFI_HANDLE Handle = ImageHandle;
  Status = PlatformInstallProtocolInterface(&Handle, &gEfiComponentNameProtocolGuid, &mComponentName);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (!InitialModuleVariable(ImageHandle)) {
    Print(u"Driver Initial Module Variable failed\r\n");
    return EFI_UNSUPPORTED;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI NorvelUnload(EFI_HANDLE ImageHandle) {
  FreeResource();
  PlatformUninstallProtocolInterface(ImageHandle, &gEfiComponentNameProtocolGuid, &mComponentName);
  PlatformUninstallProtocolInterface(ImageHandle, &gNamedFunctionProtocolGuid, &mNamedFunctionProtocol);
  return EFI_SUCCESS;
}

VOID ResetModuleState(VOID) {
  TraceResetState();
  ConsoleUiResetState();
  FileAccessResetState();
  FwsmiResetState();
  PlatformQueryResetState();
  PayloadResetState();
  PackageResetState();
  IniStoreResetState();
  CommandLineResetState();
  EdtResetState();
  PackageCommandsResetState();
  StartupResetState();
  CompletionResetState();
  BvdtResetState();
  AdmissionResetState();
  BlockFlashResetState();
  EcUpdateResetState();
  RomMapResetState();
  RomAccessResetState();
  BlockStatusResetState();
  SecureCapsuleResetState();
  SecureFlashResetState();
  ImageAnalysisResetState();
  PfatImageResetState();
  MultiFdResetState();
  OemCustomResetState();
  ProgressResetState();
  ExtraDataRequestResetState();
  SettingsResetState();
  RunStateResetState();
  MainFlowResetState();
}

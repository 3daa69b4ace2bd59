// GUIDs the utility uses. Defined with constant initialisers only: the UEFI
// image has no runtime to run constructors.
#ifndef VYR_GUIDS_H_
#define VYR_GUIDS_H_

#include "Base.h"

extern CONST EFI_GUID gNamedFunctionProtocolGuid;
extern CONST EFI_GUID gEfiComponentNameProtocolGuid;
extern CONST EFI_GUID gEfiLoadedImageProtocolGuid;
extern CONST EFI_GUID gEfiSimpleFileSystemProtocolGuid;
extern CONST EFI_GUID gEfiDevicePathProtocolGuid;
extern CONST EFI_GUID gEfiAcpiTableGuid;    // ACPI 2.0 RSDP
extern CONST EFI_GUID gEfiAcpi10TableGuid;  // ACPI 1.0 RSDP
extern CONST EFI_GUID gEfiGlobalVariableGuid;
extern CONST EFI_GUID gFlashOverrideVariableGuid;
extern CONST EFI_GUID gVyrCapsuleUpdateProgressProtocolGuid;

BOOLEAN CompareGuid(CONST EFI_GUID *A, CONST EFI_GUID *B);

#endif  // VYR_GUIDS_H_

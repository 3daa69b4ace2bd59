// The UEFI backend's own state, for the UEFI launcher, which needs services the
// facade does not carry (LoadImage, StartImage, UnloadImage, ResetSystem).
// Nothing in the utility includes this header.
#ifndef VYR_UEFI_PLATFORM_H_
#define VYR_UEFI_PLATFORM_H_

#include "Platform.h"
#include "UefiTables.h"

// Kept by PlatformInitialize; NULL before it.
extern EFI_HANDLE gImageHandle;
extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_RUNTIME_SERVICES *gRT;

#endif  // VYR_UEFI_PLATFORM_H_

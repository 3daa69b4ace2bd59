// The driver's entry and unload, and the return of every module to its load
// state.
#ifndef VYR_DRIVER_ENTRY_H_
#define VYR_DRIVER_ENTRY_H_

#include "Base.h"

EFI_STATUS EFIAPI NorvelUnload(EFI_HANDLE ImageHandle);

// Returns every module of the utility to its load state (a fresh image).
VOID ResetModuleState(VOID);

#endif  // VYR_DRIVER_ENTRY_H_

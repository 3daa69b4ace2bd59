// Start-up: module preparation, the run's initialisation and the release of
// the module's large buffers.
#ifndef VYR_STARTUP_H_
#define VYR_STARTUP_H_

#include "Base.h"

#define RESERVE_BUFFER_SIZE 0x2000000

typedef struct {
  UINT8 *ReserveBuffer;   // 32 MiB, held from the first Initialize to FreeResource
  BOOLEAN SecureBootCheckPending;  // failed before platform.ini was read
  UINT32 WholeMapCount;
} STARTUP_STATE;

extern STARTUP_STATE mStartup;

VOID StartupResetState(VOID);

BOOLEAN InitialModuleVariable(EFI_HANDLE ImageHandle);
BOOLEAN Initialize(VOID);
BOOLEAN CallingNecessarySmi(VOID);
// The secure-boot protection check: passes with a whole ROM map, -skipsbp or
// [EngineeringErrorDisable] SkipSecureBootProtectionCheck. Before platform.ini
// is loaded a failing check is held back; the flows complete it once the
// configuration is known.
BOOLEAN SecureBootProtectionCheck(UINT32 WholeMapCount);
BOOLEAN CompleteSecureBootProtectionCheck(VOID);
VOID FreeResource(VOID);

#endif  // VYR_STARTUP_H_

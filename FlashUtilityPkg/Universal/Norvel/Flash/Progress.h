// Progress of a capsule-style update: the overall percentage handed to the
// platform's progress protocol, and the per-block report to the BIOS (41h).
#ifndef VYR_PROGRESS_H_
#define VYR_PROGRESS_H_

#include "Base.h"

// Only the first member is used: the overall percentage, 0 to 100.
typedef EFI_STATUS(EFIAPI *VYR_CAPSULE_UPDATE_PROGRESS)(UINT32 Percentage);
typedef struct {
  VYR_CAPSULE_UPDATE_PROGRESS UpdateProgress;
} VYR_CAPSULE_UPDATE_PROGRESS_PROTOCOL;

typedef enum {
  ProgressPhaseBios = 1,
  ProgressPhaseDeviceFirmware = 2,
  ProgressPhaseEc = 3,
  ProgressPhaseIsh = 4,
  ProgressPhasePdt = 5,
  ProgressPhaseMe = 6,
  ProgressPhaseEnd = 7,
} PROGRESS_PHASE;

#define PROGRESS_REPORT_SIZE 16  // "$67I" data

typedef struct {
  VYR_CAPSULE_UPDATE_PROGRESS_PROTOCOL *Protocol;  // NULL until located
  UINT32 TotalSize;
  UINT32 BiosBase;            // 0 or the ROM size
  UINT32 DeviceFirmwareDone;  // bytes of the device-firmware record done
  BOOLEAN BiosReportDisabled; // 41h progress report off after its first failure
} PROGRESS_STATE;

extern PROGRESS_STATE mProgress;

VOID ProgressResetState(VOID);

BOOLEAN InitCapsuleUpdateProgressProtocol(VOID);
// Totals from the package records: ISH + PDT + ME, or BIOS base + device
// firmware + EC. FALSE when the protocol cannot be located.
BOOLEAN InitBinaryCapsuleUpdateProgress(VOID);
BOOLEAN InitRomCapsuleUpdateProgress(VOID);
// Done is the byte count reached within Phase.
VOID UpdateCapsuleUpdatePercentage(UINT8 Phase, UINT32 Done);
// The percentage a report of Phase and Done gives (0 when the total is 0).
UINT8 CapsuleUpdatePercentage(UINT8 Phase, UINT32 Done, UINT32 *Base);
VOID SetDeviceFirmwareProgressBase(UINT32 Done);

// "$67I" through the long form of 41h; off for the rest of the run once it fails.
BOOLEAN SMI_PassUpdateProgress(UINT32 Current, UINT32 Total);

#endif  // VYR_PROGRESS_H_

// The protocol through which the test image of the driver hands its software
// SMIs to the emulated BIOS driver (EmuBiosDriver.cpp) inside real firmware.
// Test builds only: the production image has no code that looks for it.
#ifndef VYR_EMULATED_SMI_H_
#define VYR_EMULATED_SMI_H_

#include "Base.h"
#include "SmiRegisters.h"

#define VYR_EMULATED_SMI_PROTOCOL_GUID \
  {0x6a0f3c2e, 0x51d7, 0x4f3b, {0x9e, 0x2a, 0x7c, 0x44, 0x1b, 0x85, 0xd0, 0x3f}}
#define VYR_EMULATED_SMI_REVISION 1

typedef struct VYR_EMULATED_SMI_PROTOCOL VYR_EMULATED_SMI_PROTOCOL;

// What a byte written to the SMI command port would do: the emulated BIOS
// answers in the registers when DX is its command port and AL its main
// function number; anything else leaves them as they are.
typedef VOID(EFIAPI *VYR_EMULATED_SMI_TRIGGER)(VYR_EMULATED_SMI_PROTOCOL *This, SMI_REGISTERS *Registers);

struct VYR_EMULATED_SMI_PROTOCOL {
  UINT32 Revision;
  VYR_EMULATED_SMI_TRIGGER Trigger;
};

#endif  // VYR_EMULATED_SMI_H_

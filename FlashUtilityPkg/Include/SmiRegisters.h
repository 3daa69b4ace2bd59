// Register image of one software SMI, shared by the utility, the platform
// backends and the emulated BIOS.
#ifndef VYR_SMI_REGISTERS_H_
#define VYR_SMI_REGISTERS_H_

#include "Base.h"

typedef struct {
  UINT32 Eax;
  UINT32 Ebx;
  UINT32 Ecx;
  UINT32 Edx;
  UINT32 Esi;
  UINT32 Edi;
} SMI_REGISTERS;

#endif  // VYR_SMI_REGISTERS_H_

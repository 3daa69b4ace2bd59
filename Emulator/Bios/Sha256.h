// SHA-256 for the emulated BIOS's signature checks. Freestanding: 32-bit
// arithmetic only, so that the IA32 UEFI build needs no helpers.
#ifndef VYR_EMU_SHA256_H_
#define VYR_EMU_SHA256_H_

#include "Base.h"

#define EMU_SHA256_DIGEST_SIZE 32

typedef struct {
  UINT32 State[8];
  UINT32 LengthLow;   // bytes hashed so far, low and high words
  UINT32 LengthHigh;
  UINT8 Block[64];
  UINT32 Filled;      // bytes waiting in Block
} EMU_SHA256;

VOID EmuSha256Init(EMU_SHA256 *Context);
VOID EmuSha256Update(EMU_SHA256 *Context, CONST VOID *Data, UINTN Length);
VOID EmuSha256Final(EMU_SHA256 *Context, UINT8 Digest[EMU_SHA256_DIGEST_SIZE]);

#endif  // VYR_EMU_SHA256_H_

// Byte helpers shared by the emulated BIOS's handlers. Freestanding: no libc,
// and volatile stores so that the compiler does not turn the loops back into
// memset/memcpy calls that a UEFI image has no library for.
#ifndef VYR_EMU_BYTES_H_
#define VYR_EMU_BYTES_H_

#include "Base.h"

namespace emu_bytes {

inline VOID FillBytes(VOID *Buffer, UINTN Length, UINT8 Value) {
  volatile UINT8 *Bytes = (volatile UINT8 *)Buffer;
  while (Length-- != 0) {
    *Bytes++ = Value;
  }
}

inline VOID ZeroBytes(VOID *Buffer, UINTN Length) { FillBytes(Buffer, Length, 0); }

inline VOID CopyBytes(VOID *Destination, CONST VOID *Source, UINTN Length) {
  volatile UINT8 *To = (volatile UINT8 *)Destination;
  CONST UINT8 *From = (CONST UINT8 *)Source;
  while (Length-- != 0) {
    *To++ = *From++;
  }
}

inline BOOLEAN SameBytes(CONST VOID *A, CONST VOID *B, UINTN Length) {
  CONST UINT8 *X = (CONST UINT8 *)A;
  CONST UINT8 *Y = (CONST UINT8 *)B;
  for (UINTN Index = 0; Index < Length; Index++) {
    if (X[Index] != Y[Index]) {
      return FALSE;
    }
  }
  return TRUE;
}

// Little-endian fields of the exchange buffers.
inline VOID Put16(UINT8 *Bytes, UINT16 Value) {
  Bytes[0] = (UINT8)Value;
  Bytes[1] = (UINT8)(Value >> 8);
}

inline VOID Put32(UINT8 *Bytes, UINT32 Value) {
  for (UINTN Index = 0; Index < 4; Index++) {
    Bytes[Index] = (UINT8)(Value >> (8 * Index));
  }
}

inline UINT16 Get16(CONST UINT8 *Bytes) { return (UINT16)(Bytes[0] | (Bytes[1] << 8)); }

inline UINT32 Get32(CONST UINT8 *Bytes) {
  return (UINT32)Bytes[0] | ((UINT32)Bytes[1] << 8) | ((UINT32)Bytes[2] << 16) | ((UINT32)Bytes[3] << 24);
}

}  // namespace emu_bytes

#endif  // VYR_EMU_BYTES_H_

#include "BaseLib.h"

#include "Guids.h"
#include "Platform.h"

// The compiler's own routines: a byte loop here runs for every module reset
// and trace buffer, and under instrumentation it costs more than the work
// around it. The firmware image links its memmove and memset from the
// platform's runtime.
VOID *CopyMem(VOID *Destination, CONST VOID *Source, UINTN Length) {
  if (Destination == Source || Length == 0) {
    return Destination;
  }
  return __builtin_memmove(Destination, Source, Length);
}

VOID *SetMem(VOID *Buffer, UINTN Length, UINT8 Value) {
  if (Length == 0) {
    return Buffer;
  }
  return __builtin_memset(Buffer, Value, Length);
}

VOID *ZeroMem(VOID *Buffer, UINTN Length) { return SetMem(Buffer, Length, 0); }

// Word by word: block compares run over whole ROM images, and most of their
// words are equal.
INTN CompareMem(CONST VOID *A, CONST VOID *B, UINTN Length) {
  CONST UINT8 *X = (CONST UINT8 *)A;
  CONST UINT8 *Y = (CONST UINT8 *)B;
  UINTN I = 0;
  for (; Length - I >= sizeof(UINTN); I += sizeof(UINTN)) {
    UINTN U;
    UINTN V;
    __builtin_memcpy(&U, X + I, sizeof(UINTN));
    __builtin_memcpy(&V, Y + I, sizeof(UINTN));
    if (U != V) {
      break;
    }
  }
  for (; I < Length; I++) {
    if (X[I] != Y[I]) {
      return (INTN)X[I] - (INTN)Y[I];
    }
  }
  return 0;
}

VOID *AllocatePool(UINTN Size) { return PlatformAllocatePool(Size); }

VOID *AllocateZeroPool(UINTN Size) { return PlatformAllocateZeroPool(Size); }

VOID *AllocateCopyPool(UINTN Size, CONST VOID *Source) {
  VOID *Buffer = PlatformAllocatePool(Size);
  if (Buffer != NULL) {
    CopyMem(Buffer, Source, Size);
  }
  return Buffer;
}

VOID FreePool(VOID *Buffer) {
  if (Buffer != NULL) {
    PlatformFreePool(Buffer);
  }
}

UINTN StrLen(CONST CHAR16 *String) {
  UINTN Length = 0;
  while (String[Length] != 0) {
    Length++;
  }
  return Length;
}

UINTN StrnLenS(CONST CHAR16 *String, UINTN MaxSize) {
  if (String == NULL) {
    return 0;
  }
  UINTN Length = 0;
  while (Length < MaxSize && String[Length] != 0) {
    Length++;
  }
  return Length;
}

INTN StrCmp(CONST CHAR16 *A, CONST CHAR16 *B) {
  while (*A != 0 && *A == *B) {
    A++;
    B++;
  }
  return (INTN)*A - (INTN)*B;
}

VOID StrCpyS(CHAR16 *Destination, UINTN DestMax, CONST CHAR16 *Source) {
  if (DestMax == 0) {
    return;
  }
  UINTN I = 0;
  for (; I + 1 < DestMax && Source[I] != 0; I++) {
    Destination[I] = Source[I];
  }
  Destination[I] = 0;
}

VOID StrCatS(CHAR16 *Destination, UINTN DestMax, CONST CHAR16 *Source) {
  UINTN Length = StrnLenS(Destination, DestMax);
  if (Length >= DestMax) {
    return;
  }
  StrCpyS(Destination + Length, DestMax - Length, Source);
}

CHAR16 CharToLower(CHAR16 Char) { return (Char >= u'A' && Char <= u'Z') ? (CHAR16)(Char - u'A' + u'a') : Char; }

BOOLEAN StrEqualNoCase(CONST CHAR16 *A, CONST CHAR16 *B) {
  while (*A != 0 && *B != 0) {
    if (CharToLower(*A) != CharToLower(*B)) {
      return FALSE;
    }
    A++;
    B++;
  }
  return *A == 0 && *B == 0;
}

UINTN AsciiStrLen(CONST CHAR8 *String) {
  UINTN Length = 0;
  while (String[Length] != 0) {
    Length++;
  }
  return Length;
}

UINTN AsciiStrnLenS(CONST CHAR8 *String, UINTN MaxSize) {
  if (String == NULL) {
    return 0;
  }
  UINTN Length = 0;
  while (Length < MaxSize && String[Length] != 0) {
    Length++;
  }
  return Length;
}

INTN AsciiStrCmp(CONST CHAR8 *A, CONST CHAR8 *B) {
  while (*A != 0 && *A == *B) {
    A++;
    B++;
  }
  return (INTN)(UINT8)*A - (INTN)(UINT8)*B;
}

VOID AsciiStrCpyS(CHAR8 *Destination, UINTN DestMax, CONST CHAR8 *Source) {
  if (DestMax == 0) {
    return;
  }
  UINTN I = 0;
  for (; I + 1 < DestMax && Source[I] != 0; I++) {
    Destination[I] = Source[I];
  }
  Destination[I] = 0;
}

CHAR8 AsciiCharToLower(CHAR8 Char) { return (Char >= 'A' && Char <= 'Z') ? (CHAR8)(Char - 'A' + 'a') : Char; }

BOOLEAN AsciiStrEqualNoCase(CONST CHAR8 *A, CONST CHAR8 *B) {
  while (*A != 0 && *B != 0) {
    if (AsciiCharToLower(*A) != AsciiCharToLower(*B)) {
      return FALSE;
    }
    A++;
    B++;
  }
  return *A == 0 && *B == 0;
}

VOID AsciiStrToUnicodeS(CONST CHAR8 *Source, CHAR16 *Destination, UINTN DestMax) {
  if (DestMax == 0) {
    return;
  }
  UINTN I = 0;
  for (; I + 1 < DestMax && Source[I] != 0; I++) {
    Destination[I] = (CHAR16)(UINT8)Source[I];
  }
  Destination[I] = 0;
}

VOID UnicodeStrToAsciiS(CONST CHAR16 *Source, CHAR8 *Destination, UINTN DestMax) {
  if (DestMax == 0) {
    return;
  }
  UINTN I = 0;
  for (; I + 1 < DestMax && Source[I] != 0; I++) {
    Destination[I] = (CHAR8)Source[I];
  }
  Destination[I] = 0;
}

// A word at a time: XOR with the byte repeated leaves a zero byte where it
// matched, and (W - 0x01..01) & ~W & 0x80..80 is not zero exactly when W has a
// zero byte. Image scans run over whole ROM images, where a wanted first byte
// is rare.
UINTN FindFirstOfBytes(CONST VOID *Buffer, UINTN Size, CONST UINT8 *Bytes, UINTN Count) {
  CONST UINT8 *B = (CONST UINT8 *)Buffer;
  CONST UINTN Ones = (UINTN)-1 / 0xFF;
  CONST UINTN Highs = Ones << 7;
  UINTN Repeated[FIND_FIRST_OF_MAX];
  if (Count > FIND_FIRST_OF_MAX) {
    Count = FIND_FIRST_OF_MAX;
  }
  for (UINTN K = 0; K < Count; K++) {
    Repeated[K] = Ones * Bytes[K];
  }
  // Four words per step, their match bits gathered before one test.
  CONST UINTN Step = 4 * sizeof(UINTN);
  UINTN I = 0;
  while (I < Size) {
    if (Size - I >= Step) {
      UINTN Words[4];
      __builtin_memcpy(Words, B + I, Step);
      UINTN Hits = 0;
      for (UINTN K = 0; K < Count; K++) {
        for (UINTN J = 0; J < 4; J++) {
          UINTN X = Words[J] ^ Repeated[K];
          Hits |= (X - Ones) & ~X;
        }
      }
      if ((Hits & Highs) == 0) {
        I += Step;
        continue;
      }
    }
    // A match somewhere in this step, or the tail: byte by byte.
    UINTN End = Size - I >= Step ? I + Step : Size;
    for (; I < End; I++) {
      for (UINTN K = 0; K < Count; K++) {
        if (B[I] == Bytes[K]) {
          return I;
        }
      }
    }
  }
  return Size;
}

INTN FindBytes(CONST VOID *Haystack, UINTN HaystackSize, CONST VOID *Needle, UINTN NeedleSize) {
  if (NeedleSize == 0 || NeedleSize > HaystackSize) {
    return -1;
  }
  CONST UINT8 *H = (CONST UINT8 *)Haystack;
  CONST UINT8 *First = (CONST UINT8 *)Needle;
  UINTN Last = HaystackSize - NeedleSize;
  for (UINTN I = 0; I <= Last; I++) {
    I += FindFirstOfBytes(H + I, Last + 1 - I, First, 1);
    if (I > Last) {
      break;
    }
    if (CompareMem(H + I, Needle, NeedleSize) == 0) {
      return (INTN)I;
    }
  }
  return -1;
}

UINT16 ReadUnaligned16(CONST VOID *Buffer) {
  CONST UINT8 *B = (CONST UINT8 *)Buffer;
  return (UINT16)(B[0] | (B[1] << 8));
}

UINT32 ReadUnaligned32(CONST VOID *Buffer) {
  CONST UINT8 *B = (CONST UINT8 *)Buffer;
  return (UINT32)B[0] | ((UINT32)B[1] << 8) | ((UINT32)B[2] << 16) | ((UINT32)B[3] << 24);
}

VOID WriteUnaligned16(VOID *Buffer, UINT16 Value) {
  UINT8 *B = (UINT8 *)Buffer;
  B[0] = (UINT8)Value;
  B[1] = (UINT8)(Value >> 8);
}

VOID WriteUnaligned32(VOID *Buffer, UINT32 Value) {
  UINT8 *B = (UINT8 *)Buffer;
  for (int I = 0; I < 4; I++) {
    B[I] = (UINT8)(Value >> (8 * I));
  }
}

BOOLEAN CompareGuid(CONST EFI_GUID *A, CONST EFI_GUID *B) { return CompareMem(A, B, sizeof(EFI_GUID)) == 0; }

CONST EFI_GUID gNamedFunctionProtocolGuid = {0x530D4469, 0x5683, 0x4EAD, {0xAF, 0x79, 0x54, 0xD1, 0x88, 0x2B, 0x8A, 0x35}};
CONST EFI_GUID gEfiComponentNameProtocolGuid = {0x107A772C, 0xD5E1, 0x11D4, {0x9A, 0x46, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
CONST EFI_GUID gEfiLoadedImageProtocolGuid = {0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
CONST EFI_GUID gEfiSimpleFileSystemProtocolGuid = {0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
CONST EFI_GUID gEfiDevicePathProtocolGuid = {0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
CONST EFI_GUID gEfiAcpiTableGuid = {0x8868E871, 0xE4F1, 0x11D3, {0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};
CONST EFI_GUID gEfiAcpi10TableGuid = {0xEB9D2D30, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
CONST EFI_GUID gEfiGlobalVariableGuid = {0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};
CONST EFI_GUID gFlashOverrideVariableGuid = {0x382AF2BB, 0xFFFF, 0xABCD, {0xAA, 0xEE, 0xCC, 0xE0, 0x99, 0x33, 0x88, 0x77}};
CONST EFI_GUID gVyrCapsuleUpdateProgressProtocolGuid = {0x142B9A2A, 0x2E71, 0x486F, {0x80, 0xBD, 0x5B, 0x7B, 0xDA, 0xC1, 0xDE, 0xEC}};

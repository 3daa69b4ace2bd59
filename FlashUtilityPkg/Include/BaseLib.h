// Memory, string and pool helpers of the utility (its own: no C library).
#ifndef VYR_BASE_LIB_H_
#define VYR_BASE_LIB_H_

#include "Base.h"

VOID *CopyMem(VOID *Destination, CONST VOID *Source, UINTN Length);  // overlapping ranges allowed
VOID *SetMem(VOID *Buffer, UINTN Length, UINT8 Value);
VOID *ZeroMem(VOID *Buffer, UINTN Length);
INTN CompareMem(CONST VOID *A, CONST VOID *B, UINTN Length);

VOID *AllocatePool(UINTN Size);
VOID *AllocateZeroPool(UINTN Size);
VOID *AllocateCopyPool(UINTN Size, CONST VOID *Source);
VOID FreePool(VOID *Buffer);  // NULL is ignored

UINTN StrLen(CONST CHAR16 *String);
UINTN StrnLenS(CONST CHAR16 *String, UINTN MaxSize);
INTN StrCmp(CONST CHAR16 *A, CONST CHAR16 *B);
// Copies at most DestMax - 1 characters and always terminates (when DestMax > 0).
VOID StrCpyS(CHAR16 *Destination, UINTN DestMax, CONST CHAR16 *Source);
VOID StrCatS(CHAR16 *Destination, UINTN DestMax, CONST CHAR16 *Source);
CHAR16 CharToLower(CHAR16 Char);  // A-Z only
// Whole-string comparison with A-Z folded to a-z; other characters exact.
BOOLEAN StrEqualNoCase(CONST CHAR16 *A, CONST CHAR16 *B);

UINTN AsciiStrLen(CONST CHAR8 *String);
UINTN AsciiStrnLenS(CONST CHAR8 *String, UINTN MaxSize);
INTN AsciiStrCmp(CONST CHAR8 *A, CONST CHAR8 *B);
VOID AsciiStrCpyS(CHAR8 *Destination, UINTN DestMax, CONST CHAR8 *Source);
CHAR8 AsciiCharToLower(CHAR8 Char);
BOOLEAN AsciiStrEqualNoCase(CONST CHAR8 *A, CONST CHAR8 *B);
// Widens each byte; copies at most DestMax - 1 characters and terminates.
VOID AsciiStrToUnicodeS(CONST CHAR8 *Source, CHAR16 *Destination, UINTN DestMax);
// Keeps the low byte of each character; same limits as AsciiStrToUnicodeS.
VOID UnicodeStrToAsciiS(CONST CHAR16 *Source, CHAR8 *Destination, UINTN DestMax);

// Index of the first byte of Buffer that is one of Bytes[0..Count), or Size
// when there is none. At most FIND_FIRST_OF_MAX bytes are looked for.
#define FIND_FIRST_OF_MAX 4
UINTN FindFirstOfBytes(CONST VOID *Buffer, UINTN Size, CONST UINT8 *Bytes, UINTN Count);
// First occurrence of Needle in Haystack, or -1.
INTN FindBytes(CONST VOID *Haystack, UINTN HaystackSize, CONST VOID *Needle, UINTN NeedleSize);

// Little-endian field access in byte buffers (no alignment assumed).
UINT16 ReadUnaligned16(CONST VOID *Buffer);
UINT32 ReadUnaligned32(CONST VOID *Buffer);
VOID WriteUnaligned16(VOID *Buffer, UINT16 Value);
VOID WriteUnaligned32(VOID *Buffer, UINT32 Value);

#endif  // VYR_BASE_LIB_H_

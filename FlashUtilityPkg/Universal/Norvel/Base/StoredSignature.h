// Signatures that this image must not carry verbatim: they are stored with
// '~' in place of their first character and patched when used, so that a
// scan of a package holding the utility itself finds only real records.
#ifndef VYR_STORED_SIGNATURE_H_
#define VYR_STORED_SIGNATURE_H_

#include "Base.h"
#include "BaseLib.h"

#define STORED_SIGNATURE_MAX 32

// Writes Stored (Length bytes) to Out with its first character replaced by First.
static inline VOID MakeStoredSignature(VOID *Out, CONST CHAR8 *Stored, UINTN Length, CHAR8 First) {
  CopyMem(Out, Stored, Length);
  ((CHAR8 *)Out)[0] = First;
}

// Offset of the first occurrence in Data, or -1.
static inline INTN FindStoredSignature(CONST VOID *Data, UINTN Size, CONST CHAR8 *Stored, UINTN Length,
                                       CHAR8 First) {
  CHAR8 Needle[STORED_SIGNATURE_MAX];
  if (Length == 0 || Length > STORED_SIGNATURE_MAX) {
    return -1;
  }
  MakeStoredSignature(Needle, Stored, Length, First);
  return FindBytes(Data, Size, Needle, Length);
}

// TRUE when Data (at least Length bytes) begins with the signature.
static inline BOOLEAN HasStoredSignature(CONST VOID *Data, CONST CHAR8 *Stored, UINTN Length, CHAR8 First) {
  CHAR8 Needle[STORED_SIGNATURE_MAX];
  if (Length == 0 || Length > STORED_SIGNATURE_MAX) {
    return FALSE;
  }
  MakeStoredSignature(Needle, Stored, Length, First);
  return CompareMem(Data, Needle, Length) == 0;
}

#endif  // VYR_STORED_SIGNATURE_H_

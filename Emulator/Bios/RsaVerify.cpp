#include "Bios/RsaVerify.h"

#include "Bios/EmuBytes.h"

namespace {

using namespace emu_bytes;

// Little-endian 32-bit limbs; one limb more than the key so that a doubled
// value below 2n fits.
#define LIMBS (EMU_RSA_KEY_SIZE / 4)
#define WIDE (LIMBS + 1)

typedef struct {
  UINT32 Limb[WIDE];
} NUMBER;

VOID FromBigEndian(NUMBER *N, CONST UINT8 *Bytes) {
  ZeroBytes(N, sizeof(*N));
  for (UINTN I = 0; I < EMU_RSA_KEY_SIZE; I++) {
    UINTN Bit = 8 * (EMU_RSA_KEY_SIZE - 1 - I);
    N->Limb[Bit / 32] |= (UINT32)Bytes[I] << (Bit % 32);
  }
}

VOID ToBigEndian(CONST NUMBER *N, UINT8 *Bytes) {
  for (UINTN I = 0; I < EMU_RSA_KEY_SIZE; I++) {
    UINTN Bit = 8 * (EMU_RSA_KEY_SIZE - 1 - I);
    Bytes[I] = (UINT8)(N->Limb[Bit / 32] >> (Bit % 32));
  }
}

// -1, 0, 1 as A is below, equal to or above B.
INTN Compare(CONST NUMBER *A, CONST NUMBER *B) {
  for (UINTN I = WIDE; I-- != 0;) {
    if (A->Limb[I] != B->Limb[I]) {
      return A->Limb[I] < B->Limb[I] ? -1 : 1;
    }
  }
  return 0;
}

VOID Subtract(NUMBER *A, CONST NUMBER *B) {
  UINT32 Borrow = 0;
  for (UINTN I = 0; I < WIDE; I++) {
    UINT32 Before = A->Limb[I];
    UINT32 Result = Before - B->Limb[I] - Borrow;
    Borrow = (Before < B->Limb[I] || (Before == B->Limb[I] && Borrow != 0)) ? 1 : 0;
    A->Limb[I] = Result;
  }
}

VOID Add(NUMBER *A, CONST NUMBER *B) {
  UINT32 Carry = 0;
  for (UINTN I = 0; I < WIDE; I++) {
    UINT32 Sum = A->Limb[I] + B->Limb[I];
    UINT32 Out = Sum + Carry;
    Carry = (Sum < A->Limb[I] || Out < Sum) ? 1 : 0;
    A->Limb[I] = Out;
  }
}

VOID Double(NUMBER *A) {
  for (UINTN I = WIDE; I-- != 0;) {
    A->Limb[I] = (A->Limb[I] << 1) | (I != 0 ? A->Limb[I - 1] >> 31 : 0);
  }
}

// Result = A * B mod M by doubling and adding over B's bits; A and B below M.
VOID MultiplyMod(NUMBER *Result, CONST NUMBER *A, CONST NUMBER *B, CONST NUMBER *M) {
  NUMBER R;
  ZeroBytes(&R, sizeof(R));
  for (UINTN Bit = 32 * LIMBS; Bit-- != 0;) {
    Double(&R);
    if (Compare(&R, M) >= 0) {
      Subtract(&R, M);
    }
    if (((B->Limb[Bit / 32] >> (Bit % 32)) & 1) != 0) {
      Add(&R, A);
      if (Compare(&R, M) >= 0) {
        Subtract(&R, M);
      }
    }
  }
  CopyBytes(Result, &R, sizeof(R));
}

// DER prefix of a SHA-256 DigestInfo.
CONST UINT8 mDigestInfo[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                             0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

}  // namespace

BOOLEAN EmuRsaVerifySha256(CONST UINT8 Modulus[EMU_RSA_KEY_SIZE], CONST UINT8 Digest[EMU_SHA256_DIGEST_SIZE],
                           CONST UINT8 Signature[EMU_RSA_KEY_SIZE]) {
  if ((Modulus[0] & 0x80) == 0 || (Modulus[EMU_RSA_KEY_SIZE - 1] & 1) == 0) {
    return FALSE;
  }
  NUMBER M, S, X;
  FromBigEndian(&M, Modulus);
  FromBigEndian(&S, Signature);
  if (Compare(&S, &M) >= 0) {
    return FALSE;
  }
  // S^65537 = S^(2^16) * S.
  CopyBytes(&X, &S, sizeof(X));
  for (UINTN Round = 0; Round < 16; Round++) {
    MultiplyMod(&X, &X, &X, &M);
  }
  MultiplyMod(&X, &X, &S, &M);
  UINT8 Encoded[EMU_RSA_KEY_SIZE];
  ToBigEndian(&X, Encoded);
  // 00 01 FF..FF 00 DigestInfo Digest, the padding filling the rest.
  UINTN PadEnd = EMU_RSA_KEY_SIZE - sizeof(mDigestInfo) - EMU_SHA256_DIGEST_SIZE - 1;
  if (Encoded[0] != 0x00 || Encoded[1] != 0x01 || Encoded[PadEnd] != 0x00) {
    return FALSE;
  }
  for (UINTN I = 2; I < PadEnd; I++) {
    if (Encoded[I] != 0xFF) {
      return FALSE;
    }
  }
  return SameBytes(Encoded + PadEnd + 1, mDigestInfo, sizeof(mDigestInfo)) &&
                 SameBytes(Encoded + PadEnd + 1 + sizeof(mDigestInfo), Digest, EMU_SHA256_DIGEST_SIZE)
             ? TRUE
             : FALSE;
}

#include "Bios/Sha256.h"

#include "Bios/EmuBytes.h"

namespace {

using namespace emu_bytes;

CONST UINT32 mRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

UINT32 Rotr(UINT32 X, UINT32 N) { return (X >> N) | (X << (32 - N)); }

VOID Compress(UINT32 *State, CONST UINT8 *Block) {
  UINT32 W[64];
  for (UINTN I = 0; I < 16; I++) {
    W[I] = ((UINT32)Block[4 * I] << 24) | ((UINT32)Block[4 * I + 1] << 16) | ((UINT32)Block[4 * I + 2] << 8) |
           Block[4 * I + 3];
  }
  for (UINTN I = 16; I < 64; I++) {
    UINT32 S0 = Rotr(W[I - 15], 7) ^ Rotr(W[I - 15], 18) ^ (W[I - 15] >> 3);
    UINT32 S1 = Rotr(W[I - 2], 17) ^ Rotr(W[I - 2], 19) ^ (W[I - 2] >> 10);
    W[I] = W[I - 16] + S0 + W[I - 7] + S1;
  }
  UINT32 A = State[0], B = State[1], C = State[2], D = State[3];
  UINT32 E = State[4], F = State[5], G = State[6], H = State[7];
  for (UINTN I = 0; I < 64; I++) {
    UINT32 T1 = H + (Rotr(E, 6) ^ Rotr(E, 11) ^ Rotr(E, 25)) + ((E & F) ^ (~E & G)) + mRound[I] + W[I];
    UINT32 T2 = (Rotr(A, 2) ^ Rotr(A, 13) ^ Rotr(A, 22)) + ((A & B) ^ (A & C) ^ (B & C));
    H = G;
    G = F;
    F = E;
    E = D + T1;
    D = C;
    C = B;
    B = A;
    A = T1 + T2;
  }
  State[0] += A;
  State[1] += B;
  State[2] += C;
  State[3] += D;
  State[4] += E;
  State[5] += F;
  State[6] += G;
  State[7] += H;
}

}  // namespace

VOID EmuSha256Init(EMU_SHA256 *Context) {
  static CONST UINT32 Initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  ZeroBytes(Context, sizeof(*Context));
  CopyBytes(Context->State, Initial, sizeof(Initial));
}

VOID EmuSha256Update(EMU_SHA256 *Context, CONST VOID *Data, UINTN Length) {
  CONST UINT8 *Bytes = (CONST UINT8 *)Data;
  UINT32 Before = Context->LengthLow;
  Context->LengthLow += (UINT32)Length;
  if (Context->LengthLow < Before) {
    Context->LengthHigh++;
  }
  while (Length != 0) {
    if (Context->Filled == 0 && Length >= 64) {
      Compress(Context->State, Bytes);
      Bytes += 64;
      Length -= 64;
      continue;
    }
    UINT32 Take = 64 - Context->Filled;
    if (Take > Length) {
      Take = (UINT32)Length;
    }
    CopyBytes(Context->Block + Context->Filled, Bytes, Take);
    Context->Filled += Take;
    Bytes += Take;
    Length -= Take;
    if (Context->Filled == 64) {
      Compress(Context->State, Context->Block);
      Context->Filled = 0;
    }
  }
}

VOID EmuSha256Final(EMU_SHA256 *Context, UINT8 Digest[EMU_SHA256_DIGEST_SIZE]) {
  // The length in bits, big-endian, after the 0x80 mark and the padding.
  UINT32 BitsHigh = (Context->LengthHigh << 3) | (Context->LengthLow >> 29);
  UINT32 BitsLow = Context->LengthLow << 3;
  UINT8 Tail[8];
  for (UINTN I = 0; I < 4; I++) {
    Tail[I] = (UINT8)(BitsHigh >> (24 - 8 * I));
    Tail[4 + I] = (UINT8)(BitsLow >> (24 - 8 * I));
  }
  static CONST UINT8 Mark = 0x80;
  static CONST UINT8 Zero = 0;
  EmuSha256Update(Context, &Mark, 1);
  while (Context->Filled != 56) {
    EmuSha256Update(Context, &Zero, 1);
  }
  EmuSha256Update(Context, Tail, sizeof(Tail));
  for (UINTN I = 0; I < 8; I++) {
    Digest[4 * I] = (UINT8)(Context->State[I] >> 24);
    Digest[4 * I + 1] = (UINT8)(Context->State[I] >> 16);
    Digest[4 * I + 2] = (UINT8)(Context->State[I] >> 8);
    Digest[4 * I + 3] = (UINT8)Context->State[I];
  }
}

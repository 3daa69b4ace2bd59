// RSA-2048 signature check (PKCS#1 v1.5 with SHA-256, public exponent 65537)
// for the emulated BIOS: what a signing platform runs on a capsule, an RBU
// image or a PFAT packet before it writes anything. Freestanding; speed and
// constant time do not matter here, a public key and public data only.
#ifndef VYR_EMU_RSA_VERIFY_H_
#define VYR_EMU_RSA_VERIFY_H_

#include "Base.h"
#include "Bios/Sha256.h"

#define EMU_RSA_KEY_SIZE 256  // bytes of the modulus and of a signature

// TRUE when Signature (big-endian, 256 bytes) is the PKCS#1 v1.5 SHA-256
// signature of Digest under the modulus (big-endian, 256 bytes, e = 65537).
// A modulus that is even or shorter than 2048 bits, or a signature not below
// it, is refused.
BOOLEAN EmuRsaVerifySha256(CONST UINT8 Modulus[EMU_RSA_KEY_SIZE], CONST UINT8 Digest[EMU_SHA256_DIGEST_SIZE],
                           CONST UINT8 Signature[EMU_RSA_KEY_SIZE]);

#endif  // VYR_EMU_RSA_VERIFY_H_

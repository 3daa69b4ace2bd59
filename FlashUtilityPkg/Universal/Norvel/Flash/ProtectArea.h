// The protect-area write (-pbi:Type): one protected area of the ROM rewritten
// from a file, every other block kept protected. The OEM profile area
// (vendor 1025h, type 0Ah) takes only a firmware volume with a right header
// checksum, and only with the BIOS password.
#ifndef VYR_PROTECT_AREA_H_
#define VYR_PROTECT_AREA_H_

#include "Base.h"

#define PROFILE_AREA_TYPE 0x0A
#define FV_HEADER_LENGTH_OFFSET 0x30
#define FV_CHECKSUM_OFFSET 0x32

// The 16-bit checksum a firmware-volume header at the start of Image must
// hold: 0x10000 minus the sum of its (header length / 2) words, the checksum
// field counted as 0. FALSE when the header does not fit the file.
BOOLEAN CalculateFvChecksum(CONST UINT8 *Image, UINT32 Size, UINT16 *Checksum);
// The checks of a -pbi file against the area of the -pbi type.
BOOLEAN VerifyProfile(CONST UINT8 *Image, UINT32 Size);
// Unprotects the blocks that share a byte with the first area of Type.
BOOLEAN UnportectSpecifyProtectAreaType(UINT8 Type);
// The -pbi engine.
BOOLEAN FlashProtectAreaOnly(CONST UINT8 *Image, UINT32 Size);

#endif  // VYR_PROTECT_AREA_H_

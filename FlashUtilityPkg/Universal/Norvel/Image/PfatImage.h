// A PFAT image: the FD, then the "$PFATHDR" block of per-block headers and
// the "$PFATCER" block of per-block certificates, found by their signatures.
// ProcessPfatImage records where they lie and whether the image checksum
// holds; the accessors read the blocks' fields only inside the image.
#ifndef VYR_PFAT_IMAGE_H_
#define VYR_PFAT_IMAGE_H_

#include "Base.h"

#define PFAT_BLOCK_HEAD_SIZE 32  // in front of the per-block headers / certificates
#define PFAT_FIELD_COUNT 12      // number of blocks
#define PFAT_FIELD_ITEM_SIZE 16  // H, or C
#define PFAT_FIELD_ROM_BLOCK 20  // R (header block)
#define PFAT_FIELD_CHECKSUM 20   // image checksum (certificate block)

typedef struct {
  BOOLEAN Processed;
  BOOLEAN IsPfat;
  BOOLEAN Signed;
  BOOLEAN ChecksumValid;
  UINT32 HeaderOffset;
  UINT32 CertificateOffset;
} PFAT_INFO;

typedef struct {
  PFAT_INFO Info;
} PFAT_IMAGE_STATE;

extern PFAT_IMAGE_STATE mPfatImage;

VOID PfatImageResetState(VOID);

// Fills mPfatImage.Info for Image. FALSE for no image, no "$PFATHDR" or no
// "$PFATCER"; a wrong checksum still answers TRUE with ChecksumValid clear.
BOOLEAN ProcessPfatImage(CONST UINT8 *Image, UINT32 Size);
CONST PFAT_INFO *GetPfatInfo(VOID);

// The fields of a header or certificate block of Size bytes: FALSE when the
// block's first 32 bytes are not all there.
BOOLEAN ReadPfatBlockFields(CONST UINT8 *Block, UINT32 Size, UINT32 *Count, UINT32 *ItemSize, UINT32 *Third);

// The three pieces of a processed signed image: the ROM data R·n bytes from
// the start, the header block H·n + 32 bytes, the certificate block C·n + 32
// bytes. FALSE (with the reason traced) when one of them does not lie wholly
// inside the image.
BOOLEAN GetPfatPieces(CONST UINT8 *Image, UINT32 Size, UINT32 *RomSize, UINT32 *HeaderSize, UINT32 *CertificateSize);

#endif  // VYR_PFAT_IMAGE_H_

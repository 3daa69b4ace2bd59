#include "Image/PfatImage.h"

#include "Base/Trace.h"
#include "BaseLib.h"
#include "Image/ImageAnalysis.h"

PFAT_IMAGE_STATE mPfatImage;

VOID PfatImageResetState(VOID) { ZeroMem(&mPfatImage, sizeof(mPfatImage)); }

CONST PFAT_INFO *GetPfatInfo(VOID) { return &mPfatImage.Info; }

BOOLEAN ReadPfatBlockFields(CONST UINT8 *Block, UINT32 Size, UINT32 *Count, UINT32 *ItemSize, UINT32 *Third) {
  if (Block == NULL || Size < PFAT_BLOCK_HEAD_SIZE) {
    return FALSE;
  }
  *Count = ReadUnaligned32(Block + PFAT_FIELD_COUNT);
  *ItemSize = ReadUnaligned32(Block + PFAT_FIELD_ITEM_SIZE);
  *Third = ReadUnaligned32(Block + PFAT_FIELD_ROM_BLOCK);
  return TRUE;
}

// The 32-bit wrapping byte sum of [0, End) with the four checksum bytes at
// Field counted as 0.
static UINT32 PfatChecksum(CONST UINT8 *Image, UINT32 End, UINT32 Field) {
  UINT32 Sum = 0;
  for (UINT32 At = 0; At < End; At++) {
    if (At - Field >= 4) {
      Sum += Image[At];
    }
  }
  return Sum;
}

BOOLEAN ProcessPfatImage(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"ProcessPfatImage");
  PFAT_INFO *Info = &mPfatImage.Info;
  ZeroMem(Info, sizeof(*Info));
  Info->Processed = TRUE;
  if (Image == NULL) {
    FuncExit(u"ProcessPfatImage", u"Input buffer is NULL");
    return FALSE;
  }
  INTN Header = FindImageSignature(ImageSignaturePfatHeader, Image, Size);
  if (Header < 0) {
    FuncExit(u"ProcessPfatImage", u"Not PFAT image");
    return FALSE;
  }
  Info->HeaderOffset = (UINT32)Header;
  Info->IsPfat = TRUE;
  INTN Certificate = FindImageSignature(ImageSignaturePfatCertificate, Image, Size);
  if (Certificate < 0) {
    FuncExit(u"ProcessPfatImage", u"Unsigned PFAT image");
    return FALSE;
  }
  Info->CertificateOffset = (UINT32)Certificate;
  Info->Signed = TRUE;
  UINT32 Count = 0, ItemSize = 0, Stored = 0;
  // A certificate block cut short by the end of the file has no checksum to
  // compare: the image is not valid.
  if (ReadPfatBlockFields(Image + Certificate, Size - (UINT32)Certificate, &Count, &ItemSize, &Stored)) {
    UINT64 End = (UINT64)Certificate + (UINT64)ItemSize * Count + PFAT_BLOCK_HEAD_SIZE;
    if (End > Size) {
      End = Size;
    }
    UINT32 Calculated = PfatChecksum(Image, (UINT32)End, (UINT32)Certificate + PFAT_FIELD_CHECKSUM);
    Info->ChecksumValid = Calculated == Stored;
    DebugPrint(4, u" Image checksum = 0x%lx\r\n Calculate checksum = 0x%lx\r\n PFAT image valid = %d\r\n",
               (UINT64)Stored, (UINT64)Calculated, Info->ChecksumValid ? 1 : 0);
  }
  FuncExit(u"ProcessPfatImage", Info->ChecksumValid ? u"Valid PFAT image" : u"Checksum incorrect");
  return TRUE;
}

static BOOLEAN PieceRefused(CONST CHAR16 *What) {
  DebugPrint(4, u" PFAT %s lies outside the image\r\n", What);
  return FALSE;
}

BOOLEAN GetPfatPieces(CONST UINT8 *Image, UINT32 Size, UINT32 *RomSize, UINT32 *HeaderSize, UINT32 *CertificateSize) {
  CONST PFAT_INFO *Info = &mPfatImage.Info;
  if (Image == NULL || !Info->Signed || Info->HeaderOffset >= Size || Info->CertificateOffset >= Size) {
    return PieceRefused(u"image");
  }
  UINT32 Count = 0, HeaderItem = 0, Rom = 0, CertCount = 0, CertItem = 0, Unused = 0;
  if (!ReadPfatBlockFields(Image + Info->HeaderOffset, Size - Info->HeaderOffset, &Count, &HeaderItem, &Rom) ||
      !ReadPfatBlockFields(Image + Info->CertificateOffset, Size - Info->CertificateOffset, &CertCount, &CertItem,
                           &Unused)) {
    return PieceRefused(u"block heads");
  }
  // 64-bit products: a header's fields must not wrap into a size that fits.
  UINT64 RomBytes = (UINT64)Rom * Count;
  UINT64 HeaderBytes = (UINT64)HeaderItem * Count + PFAT_BLOCK_HEAD_SIZE;
  UINT64 CertBytes = (UINT64)CertItem * Count + PFAT_BLOCK_HEAD_SIZE;
  if (RomBytes > Info->HeaderOffset) {
    return PieceRefused(u"ROM data");
  }
  if (HeaderBytes > Size - Info->HeaderOffset) {
    return PieceRefused(u"header block");
  }
  if (CertBytes > Size - Info->CertificateOffset) {
    return PieceRefused(u"certificate block");
  }
  *RomSize = (UINT32)RomBytes;
  *HeaderSize = (UINT32)HeaderBytes;
  *CertificateSize = (UINT32)CertBytes;
  return TRUE;
}

// What an FD image holds: one pass that finds every signature and payload
// record, then the secure capsule and its records, and the RBU window.
#include "Image/ImageAnalysis.h"

#include "Base/HexDump.h"
#include "Base/StoredSignature.h"
#include "Base/Trace.h"
#include "Image/Payload.h"

// "$ZTK" and the capsule GUID DDA13833-C342-4EAE-B5C9-C2D7D613DBB8.
static CONST CHAR8 kCapsuleSignature[20] = {'~',         'Z',         'T',         'K',         0x33,
                                            0x38,        (CHAR8)0xA1, (CHAR8)0xDD, 0x42,        (CHAR8)0xC3,
                                            (CHAR8)0xAE, 0x4E,        (CHAR8)0xB5, (CHAR8)0xC9, (CHAR8)0xC2,
                                            (CHAR8)0xD7, (CHAR8)0xD6, 0x13,        (CHAR8)0xDB, (CHAR8)0xB8};
static CONST CHAR8 kRbuSignature[] = "~RBU";
static CONST CHAR8 kServerInfoSignature[] = "~BIS";

#define RECORD_DUMP_LENGTH 25
#define RBU_INFO_DUMP_LENGTH 0x54
#define RBU_SERVER_DUMP_LENGTH 0x1C

IMAGE_ANALYSIS mImageAnalysis;

VOID ImageAnalysisResetState(VOID) { ZeroMem(&mImageAnalysis, sizeof(mImageAnalysis)); }

// ---- The scan ---------------------------------------------------------------

// Stored with one character changed, so that a scan of a package holding this
// driver finds only real signatures; the character goes back at Patch.
typedef struct {
  CONST CHAR8 *Stored;
  UINT8 Length;
  UINT8 Patch;
  CHAR8 Char;
} STORED_IMAGE_SIGNATURE;

static CONST STORED_IMAGE_SIGNATURE kSignatures[ImageSignatureCount] = {
    {"SBVDT", 5, 0, '$'},       {"SPRODEX", 7, 0, '$'},
    {"SVEREX", 6, 0, '$'},      {"SRDATE", 6, 0, '$'},
    {"~FWSMI", 6, 0, '$'},      {"~_NORVEL_BIOSIMG", 16, 0, '$'},
    {"~PFATHDR", 8, 0, '$'},    {"~PFATCER", 8, 0, '$'},
    {"~MULTISC", 8, 0, '$'},
    {"~#EFI#DRV_", 10, 0, 'Q'}, {kCapsuleSignature, sizeof(kCapsuleSignature), 0, '$'},
    {"pTAS", 4, 3, '$'},
};

#define IMAGE_NEEDLE_MAX 24

VOID GetImageSignature(IMAGE_SIGNATURE Which, CHAR8 *Needle, UINTN *Length) {
  CONST STORED_IMAGE_SIGNATURE *S = &kSignatures[Which];
  CopyMem(Needle, S->Stored, S->Length);
  Needle[S->Patch] = S->Char;
  *Length = S->Length;
}

// A record counts only when its header and its data, by the size it gives,
// end inside the image.
static BOOLEAN IsWholeRecord(CONST UINT8 *Image, UINT64 Size, UINT64 At, UINT32 *DataSize) {
  if (Size - At < PAYLOAD_HEADER_LENGTH) {
    return FALSE;
  }
  UINT32 Length = ReadUnaligned32(Image + At + 20);
  if (Length > Size - At - PAYLOAD_HEADER_LENGTH) {
    return FALSE;
  }
  *DataSize = Length;
  return TRUE;
}

VOID AnalyzeImage(CONST UINT8 *Image, UINT32 Size) {
  IMAGE_SCAN *Scan = &mImageAnalysis.Scan;
  ZeroMem(Scan, sizeof(*Scan));
  if (Image == NULL) {
    return;
  }
  Scan->Image = Image;
  Scan->Size = Size;
  CHAR8 Needles[ImageSignatureCount + PayloadTagCount][IMAGE_NEEDLE_MAX];
  UINTN Lengths[ImageSignatureCount + PayloadTagCount];
  INTN *Found[ImageSignatureCount + PayloadTagCount];
  BOOLEAN Starts[256];
  ZeroMem(Starts, sizeof(Starts));
  UINT8 StartBytes[FIND_FIRST_OF_MAX];
  UINTN StartCount = 0;
  UINTN Count = ImageSignatureCount + PayloadTagCount;
  for (UINTN N = 0; N < Count; N++) {
    if (N < ImageSignatureCount) {
      GetImageSignature((IMAGE_SIGNATURE)N, Needles[N], &Lengths[N]);
      Found[N] = &Scan->Signature[N];
    } else {
      GetPayloadTag((PAYLOAD_TAG_ID)(N - ImageSignatureCount), Needles[N]);
      Lengths[N] = PAYLOAD_TAG_LENGTH;
      Found[N] = &Scan->Record[N - ImageSignatureCount];
    }
    *Found[N] = -1;
    UINT8 First = (UINT8)Needles[N][0];
    if (!Starts[First]) {
      if (StartCount < FIND_FIRST_OF_MAX) {
        StartBytes[StartCount] = First;
      }
      StartCount++;
      Starts[First] = TRUE;
    }
  }
  // The signatures begin with few distinct bytes: jump from one to the next a
  // word at a time instead of looking at every byte of the image.
  BOOLEAN Jump = StartCount <= FIND_FIRST_OF_MAX;
  UINTN Open = Count;
  for (UINT64 At = 0; At < Size && Open != 0; At++) {
    if (Jump) {
      At += FindFirstOfBytes(Image + At, (UINTN)(Size - At), StartBytes, StartCount);
      if (At >= Size) {
        break;
      }
    } else if (!Starts[Image[At]]) {
      continue;
    }
    for (UINTN N = 0; N < Count; N++) {
      if (*Found[N] >= 0 || (UINT8)Needles[N][0] != Image[At] || Size - At < Lengths[N] ||
          CompareMem(Image + At, Needles[N], Lengths[N]) != 0) {
        continue;
      }
      if (N >= ImageSignatureCount && !IsWholeRecord(Image, Size, At, &Scan->RecordDataSize[N - ImageSignatureCount])) {
        continue;  // a later occurrence may still be whole
      }
      *Found[N] = (INTN)At;
      Open--;
    }
  }
}

static BOOLEAN IsAnalysed(CONST UINT8 *Image, UINT64 Size) {
  return Image != NULL && Image == mImageAnalysis.Scan.Image && Size == mImageAnalysis.Scan.Size;
}

INTN FindImageSignature(IMAGE_SIGNATURE Which, CONST UINT8 *Image, UINT64 Size) {
  if (Image == NULL || Which >= ImageSignatureCount) {
    return -1;
  }
  if (IsAnalysed(Image, Size)) {
    return mImageAnalysis.Scan.Signature[Which];
  }
  CHAR8 Needle[IMAGE_NEEDLE_MAX];
  UINTN Length = 0;
  GetImageSignature(Which, Needle, &Length);
  return FindBytes(Image, (UINTN)Size, Needle, Length);
}

CONST UINT8 *FindImageRecord(PAYLOAD_TAG_ID Tag, CONST UINT8 *Image, UINT32 Size, UINT32 *DataSize) {
  if (Image == NULL || Tag >= PayloadTagCount) {
    return NULL;
  }
  if (!IsAnalysed(Image, Size)) {
    return FindPayloadRecordInBuffer(Tag, Image, Size, DataSize);
  }
  if (mImageAnalysis.Scan.Record[Tag] < 0) {
    return NULL;
  }
  *DataSize = mImageAnalysis.Scan.RecordDataSize[Tag];
  return Image + mImageAnalysis.Scan.Record[Tag];
}

BOOLEAN GetImageRecordData(PAYLOAD_TAG_ID Tag, CONST UINT8 *Image, UINT32 Size, CONST UINT8 **Data, UINT32 *DataSize) {
  CONST UINT8 *Record = FindImageRecord(Tag, Image, Size, DataSize);
  if (Record == NULL) {
    return FALSE;
  }
  *Data = Record + PAYLOAD_HEADER_LENGTH;
  return TRUE;
}

static UINTN Smaller(UINTN A, UINTN B) { return A < B ? A : B; }

// The first record with Tag whose header and data both lie inside the image.
static UINT8 *FindRecord(UINT8 *Image, UINT32 Size, PAYLOAD_TAG_ID Tag, UINT32 *DataSize) {
  return (UINT8 *)FindImageRecord(Tag, Image, Size, DataSize);
}

static VOID DumpRecordHeader(CONST UINT8 *Record, CONST UINT8 *Image, UINT32 Size) {
  DumpHex(Record, Smaller(RECORD_DUMP_LENGTH, (UINTN)(Image + Size - Record)));
}

// EC, ME and device-firmware records: traced when present, taken when not empty.
static UINT8 *NoteSideRecord(UINT8 *Image, UINT32 Size, PAYLOAD_TAG_ID Tag, CONST CHAR16 *Header, CONST CHAR16 *Found,
                             BOOLEAN *Has, UINT32 *RecordSize) {
  UINT32 DataSize = 0;
  UINT8 *Record = FindRecord(Image, Size, Tag, &DataSize);
  if (Record == NULL) {
    return NULL;
  }
  DebugPrint(4, Header);
  DumpRecordHeader(Record, Image, Size);
  if (DataSize == 0) {
    return NULL;
  }
  *Has = TRUE;
  *RecordSize = DataSize;
  DebugPrint(4, Found, DataSize / 1024);
  return Record + PAYLOAD_HEADER_LENGTH;
}

BOOLEAN ParseSecureCapsule(UINT8 *Image, UINT32 Size) {
  FuncEnter(u"ParseSecureCapsule");
  SECURE_CAPSULE_INFO *Info = &mImageAnalysis.Capsule;
  // What the last image was; the flags of the side records stay from earlier images.
  Info->IsSecureImage = FALSE;
  Info->SecureSize = 0;
  Info->EcOnly = FALSE;
  Info->NativeMeOnly = FALSE;
  Info->BiosRecordData = NULL;
  if (Image == NULL) {
    Size = 0;
  }
  if (FindImageSignature(ImageSignatureDriver, Image, Size) >= 0) {
    Info->DriverSignature = TRUE;
    DebugPrint(4, u"EFI DRV Signature found!\r\n");
  }
  UINT8 *Data = NoteSideRecord(Image, Size, PayloadEc, u"===== EC in capsule Header =====\r\n",
                               u" Secure capsule with EC (%dK)\r\n", &Info->HasEc, &Info->EcSize);
  if (Data != NULL) {
    Info->EcData = Data;
  }
  Data = NoteSideRecord(Image, Size, PayloadMe, u"===== ME in capsule Header =====\r\n",
                        u" Secure capsule with ME (%dK)\r\n", &Info->HasMe, &Info->MeSize);
  if (Data != NULL) {
    Info->MeData = Data;
  }
  Data = NoteSideRecord(Image, Size, PayloadDeviceFirmware, u"===== Device Firmware in capsule Header =====\r\n",
                        u" Secure capsule with device firmware (%dK)\r\n", &Info->HasDeviceFirmware,
                        &Info->DeviceFirmwareSize);
  if (Data != NULL) {
    Info->DeviceFirmwareData = Data;
  }

  if (FindImageSignature(ImageSignatureCapsule, Image, Size) < 0) {
    DebugPrint(4, u"Legacy FD size (0x%X)\r\n", Size);
    FuncExit(u"ParseSecureCapsule", u"Legacy image");
    return FALSE;
  }
  UINT32 BiosSize = 0;
  UINT8 *Bios = FindRecord(Image, Size, PayloadBios, &BiosSize);
  if (Bios == NULL) {
    DebugPrint(4, u"Secure capsule but secure BIOS not found\r\n");
    FuncExit(u"ParseSecureCapsule", u"No BIOS record");
    return FALSE;
  }
  DebugPrint(4, u"===== BIOS in capsule Header =====\r\n");
  DumpRecordHeader(Bios, Image, Size);
  Info->IsSecureImage = TRUE;
  Info->SecureSize = BiosSize;
  Info->BiosRecordData = Bios + PAYLOAD_HEADER_LENGTH;
  Info->EcOnly = BiosSize == 0 && Info->HasEc;
  Info->NativeMeOnly = BiosSize == 0 && Info->HasMe;
  DebugPrint(4, u" Secure capsule size (0x%X)\r\n", Info->SecureSize);
  DebugPrint(4, u" Updata External EC region only = %d\r\n", Info->EcOnly);
  DebugPrint(4, u" Updata Native ME only = %d\r\n", Info->NativeMeOnly);
  FuncExit(u"ParseSecureCapsule", NULL);
  return TRUE;
}

// ---- RBU ----------------------------------------------------------------------------

static BOOLEAN NotRbuWindow(CONST CHAR16 *Reason) {
  mImageAnalysis.Rbu.Present = FALSE;
  mImageAnalysis.Rbu.RawFd = NULL;
  mImageAnalysis.Rbu.RawFdSize = 0;
  FuncExit(u"IsRbuImage", Reason);
  return FALSE;
}

BOOLEAN IsRbuImage(UINT8 *Image, UINT32 Size) {
  FuncEnter(u"IsRbuImage");
  if (Image == NULL || Size < 5 || !HasStoredSignature(Image, kRbuSignature, 4, '$')) {
    mImageAnalysis.Rbu.Present = FALSE;
    FuncExit(u"IsRbuImage", u"Not RBU image");
    return FALSE;
  }
  DebugPrint(4, u"===== RBU Info =====\r\n");
  DumpHex(Image, Smaller(RBU_INFO_DUMP_LENGTH, Size));
  mImageAnalysis.Rbu.Present = TRUE;
  UINT32 Header = Image[4];
  UINT32 Start = Header;
  UINT32 Remainder = 0;
  if (Header <= Size - 4 && HasStoredSignature(Image + Header, kServerInfoSignature, 4, '$')) {
    DebugPrint(4, u"===== DELL Server Info =====\r\n");
    DumpHex(Image + Header, Smaller(RBU_SERVER_DUMP_LENGTH, Size - Header));
    if (Size - Header < 6) {
      return NotRbuWindow(u"RBU window outside the file");
    }
    Start = Header + ReadUnaligned16(Image + Header + 4);
  }
  // The window and its 8-byte trailer must fit in the file.
  if (Start > Size || Size - Start < RBU_TRAILER_SIZE) {
    return NotRbuWindow(u"RBU window outside the file");
  }
  UINT32 RawSize = Size - Start - RBU_TRAILER_SIZE;
  if (Start != Header) {
    // After a server block the window is kept in whole 512 KiB units by
    // moving its start back; a start that would leave the file is refused.
    Remainder = RawSize % CAPSULE_BLOCK_LENGTH;
    if (Remainder > Start) {
      return NotRbuWindow(u"RBU window outside the file");
    }
    Start -= Remainder;
  }
  mImageAnalysis.Rbu.HeaderLength = Header;
  mImageAnalysis.Rbu.RawFdOffset = Start;
  mImageAnalysis.Rbu.RawFd = Image + Start;
  mImageAnalysis.Rbu.RawFdSize = RawSize;
  DebugPrint(4, u" RBU FD\r\n-----+------\r\n file  0x%X\r\n  raw  0x%X\r\n", Size, RawSize);
  if (Remainder != 0) {
    DebugPrint(4, u" RBU secure FD\r\n-----+------\r\n  cer  0x%X\r\n  raw  0x%X\r\n", Remainder, RawSize);
  }
  FuncExit(u"IsRbuImage", NULL);
  return TRUE;
}

UINT32 RbuCrc32(CONST UINT8 *Data, UINT32 Length) {
  if (Data == NULL || Length == 0) {
    return 0;
  }
  for (UINT32 Index = 0; Index < 256; Index++) {
    UINT32 Value = Index;
    for (UINTN Bit = 0; Bit < 8; Bit++) {
      Value = (Value & 1) != 0 ? (Value >> 1) ^ 0xEDB88320u : Value >> 1;
    }
    mImageAnalysis.CrcTable[Index] = Value;
  }
  UINT32 Crc = 0xFFFFFFFFu;
  for (UINT32 Index = 0; Index < Length; Index++) {
    Crc = mImageAnalysis.CrcTable[(Crc ^ Data[Index]) & 0xFF] ^ (Crc >> 8);
  }
  return Crc;
}

BOOLEAN CheckRbuChecksum(UINT8 *Image, UINT32 Size) {
  FuncEnter(u"CheckRbuChecksum");
  BOOLEAN Recorded = mImageAnalysis.Rbu.Present && mImageAnalysis.Rbu.RawFd == Image + mImageAnalysis.Rbu.RawFdOffset &&
                     (UINT64)mImageAnalysis.Rbu.RawFdOffset + mImageAnalysis.Rbu.RawFdSize + RBU_TRAILER_SIZE <= Size;
  if (!Recorded && !IsRbuImage(Image, Size)) {
    FuncExit(u"CheckRbuChecksum", u"Not RBU image");
    return FALSE;
  }
  UINT32 Trailer = mImageAnalysis.Rbu.RawFdOffset + mImageAnalysis.Rbu.RawFdSize;
  UINT32 FdChecksum = ReadUnaligned32(Image + Trailer);
  UINT32 EntireChecksum = ReadUnaligned32(Image + Trailer + 4);
  DebugPrint(4, u" RBU Checksum: FD (0x%X), Entire (0x%X)\r\n", FdChecksum, EntireChecksum);
  // The FD sum runs from the header's end up to the trailer, a server
  // information block included.
  UINT32 Header = mImageAnalysis.Rbu.HeaderLength;
  BOOLEAN Entire = RbuCrc32(Image, Size - 4) == EntireChecksum;
  BOOLEAN Fd = RbuCrc32(Image + Header, Trailer - Header) == FdChecksum;
  if (!Entire || !Fd) {
    Print(u"RBU image checksum fail!\r\n");
    FuncExit(u"CheckRbuChecksum", u"Checksum incorrect");
    return FALSE;
  }
  FuncExit(u"CheckRbuChecksum", NULL);
  return TRUE;
}

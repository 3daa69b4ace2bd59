#include "Image/Payload.h"

#include "Base/Trace.h"
#include "BaseLib.h"
#include "Guids.h"
#include "Platform.h"

PAYLOAD_STATE mPayload;

// Stored with '~' for '$': a scan of this image must find only appended records.
static CONST CHAR8 mPayloadTags[PayloadTagCount][PAYLOAD_TAG_LENGTH + 1] = {
    "~_NORVEL_BIOSIMG", "~_NORVEL_INI_IMG", "~_NORVEL_EC_IMG_", "~_NORVEL_ISH_IMG", "~_NORVEL_PDT_IMG",
    "~_NORVEL_ME_IMG_", "~_NORVEL_OEM_ID_", "~_PFAT_HDR_IMG__", "~_PFAT_CER_IMG__", "~_DEVICE_FW_IMG_",
};

static CONST CHAR16 *CONST mAbsentNotes[PayloadTagCount] = {
    NULL,
    NULL,
    u"Capsule not pack EC\r\n",
    u"Capsule not pack ISH\r\n",
    u"Capsule not pack PDT\r\n",
    u"Capsule not pack ME\r\n",
    u"Capsule not pack OEM ID\r\n",
    u"Capsule not pack PFAT header\r\n",
    u"Capsule not pack PFAT cer\r\n",
    u"Capsule not pack Device FW\r\n",
};

VOID PayloadResetState(VOID) { ZeroMem(&mPayload, sizeof(mPayload)); }

VOID GetPayloadTag(PAYLOAD_TAG_ID Id, CHAR8 *Tag) {
  CopyMem(Tag, mPayloadTags[Id], PAYLOAD_TAG_LENGTH);
  Tag[0] = '$';
}

// The scan range of a PE image: from the last section's file position to the
// image's end. FALSE when the headers do not lie inside the image.
static BOOLEAN LastSectionStart(CONST UINT8 *Base, UINT64 Size, UINT64 *Start) {
  if (Size < 0x40 || Base[0] != 'M' || Base[1] != 'Z') {
    return FALSE;
  }
  UINT64 PeOffset = ReadUnaligned32(Base + 0x3C);
  if (PeOffset + 24 > Size || CompareMem(Base + PeOffset, "PE\0\0", 4) != 0) {
    return FALSE;
  }
  UINT16 Sections = ReadUnaligned16(Base + PeOffset + 6);
  UINT16 OptionalSize = ReadUnaligned16(Base + PeOffset + 20);
  if (Sections == 0) {
    return FALSE;
  }
  UINT64 LastHeader = PeOffset + 24 + OptionalSize + (UINT64)(Sections - 1) * 40;
  if (LastHeader + 40 > Size) {
    return FALSE;
  }
  *Start = ReadUnaligned32(Base + LastHeader + 20);  // PointerToRawData
  return *Start < Size;
}

BOOLEAN ScanPayloadImage(UINT8 *Base, UINT64 Size, CONST CHAR16 **Reason) {
  CONST CHAR16 *Unused = NULL;
  if (Reason == NULL) {
    Reason = &Unused;
  }
  *Reason = NULL;
  for (UINTN Id = 0; Id < PayloadTagCount; Id++) {
    mPayload.Record[Id] = NULL;
  }
  UINT64 Start = 0;
  if (Base == NULL || !LastSectionStart(Base, Size, &Start)) {
    *Reason = u"image header not valid";
    return FALSE;
  }
  CHAR8 Tags[PayloadTagCount][PAYLOAD_TAG_LENGTH];
  for (UINTN Id = 0; Id < PayloadTagCount; Id++) {
    GetPayloadTag((PAYLOAD_TAG_ID)Id, Tags[Id]);
  }
  UINT64 Position = Start;
  while (Position + PAYLOAD_TAG_LENGTH <= Size) {
    UINTN Match = PayloadTagCount;
    if (Base[Position] == '$') {
      for (UINTN Id = 0; Id < PayloadTagCount; Id++) {
        if (CompareMem(Base + Position, Tags[Id], PAYLOAD_TAG_LENGTH) == 0) {
          Match = Id;
          break;
        }
      }
    }
    // A record whose header or data would run past the image is not taken:
    // the size comes from the file and must not lead the reads outside it.
    if (Match < PayloadTagCount && Position + PAYLOAD_HEADER_LENGTH <= Size) {
      UINT64 DataSize = ReadUnaligned32(Base + Position + 20);
      if (Position + PAYLOAD_HEADER_LENGTH + DataSize <= Size) {
        if (mPayload.Record[Match] == NULL) {
          mPayload.Record[Match] = Base + Position;
        }
        Position += PAYLOAD_HEADER_LENGTH + DataSize;
        continue;
      }
      DebugPrint(4, u"Payload record %a runs past the image\r\n", mPayloadTags[Match] + 1);
    }
    Position++;
  }

  for (UINTN Id = PayloadEc; Id < PayloadTagCount; Id++) {
    if (mPayload.Record[Id] == NULL) {
      DebugPrint(4, mAbsentNotes[Id]);
      SetMem(mPayload.EmptyRecord[Id], PAYLOAD_TAG_LENGTH, ' ');
      ZeroMem(mPayload.EmptyRecord[Id] + PAYLOAD_TAG_LENGTH, 8);
      mPayload.Record[Id] = mPayload.EmptyRecord[Id];
    }
  }
  if (mPayload.Record[PayloadBios] == NULL) {
    *Reason = u"BIOS image pointer is NULL";
    return FALSE;
  }
  if (mPayload.Record[PayloadIni] == NULL) {
    *Reason = u"ini image pointer is NULL";
    return FALSE;
  }
  mPayload.Located = TRUE;
  return TRUE;
}

BOOLEAN LocatePayloadRecords(EFI_HANDLE ImageHandle, CONST CHAR16 **Reason) {
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = NULL;
  if (EFI_ERROR(PlatformHandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, (VOID **)&LoadedImage)) ||
      LoadedImage == NULL) {
    *Reason = u"locate LoadedImage protocol failed";
    return FALSE;
  }
  return ScanPayloadImage((UINT8 *)LoadedImage->ImageBase, LoadedImage->ImageSize, Reason);
}

UINT8 *PayloadRecordData(PAYLOAD_TAG_ID Id) {
  return mPayload.Record[Id] == NULL ? NULL : mPayload.Record[Id] + PAYLOAD_HEADER_LENGTH;
}

UINT32 PayloadRecordSize(PAYLOAD_TAG_ID Id) {
  return mPayload.Record[Id] == NULL ? 0 : ReadUnaligned32(mPayload.Record[Id] + 20);
}

BOOLEAN HasEcImage(VOID) { return PayloadRecordSize(PayloadEc) != 0; }
BOOLEAN HasIshImage(VOID) { return PayloadRecordSize(PayloadIsh) != 0; }
BOOLEAN HasPdtImage(VOID) { return PayloadRecordSize(PayloadPdt) != 0; }
BOOLEAN HasMeImage(VOID) { return PayloadRecordSize(PayloadMe) != 0; }
BOOLEAN HasDeviceFirmware(VOID) { return PayloadRecordSize(PayloadDeviceFirmware) != 0; }
BOOLEAN HasPfatImage(VOID) {
  return PayloadRecordSize(PayloadPfatHeader) != 0 && PayloadRecordSize(PayloadPfatCertificate) != 0;
}
BOOLEAN IsBiosRecordEmpty(VOID) { return PayloadRecordSize(PayloadBios) == 0; }

VOID StampPayloadTags(VOID) {
  for (UINTN Id = 0; Id < PayloadTagCount; Id++) {
    if (mPayload.Record[Id] != NULL) {
      GetPayloadTag((PAYLOAD_TAG_ID)Id, (CHAR8 *)mPayload.Record[Id]);
    }
  }
}

CONST UINT8 *FindPayloadRecordInBuffer(PAYLOAD_TAG_ID Id, CONST UINT8 *Buffer, UINT32 Size, UINT32 *DataSize) {
  if (Buffer == NULL || Id >= PayloadTagCount) {
    return NULL;
  }
  CHAR8 Tag[PAYLOAD_TAG_LENGTH];
  GetPayloadTag(Id, Tag);
  UINT32 Position = 0;
  while (Position < Size) {
    INTN Found = FindBytes(Buffer + Position, Size - Position, Tag, PAYLOAD_TAG_LENGTH);
    if (Found < 0) {
      return NULL;
    }
    UINT32 Record = Position + (UINT32)Found;
    // The size is the file's word: a record counts only when it ends inside
    // the buffer; an occurrence that would run past it is passed over.
    if (Size - Record >= PAYLOAD_HEADER_LENGTH) {
      UINT32 Length = ReadUnaligned32(Buffer + Record + 20);
      if (Length <= Size - Record - PAYLOAD_HEADER_LENGTH) {
        *DataSize = Length;
        return Buffer + Record;
      }
    }
    Position = Record + 1;
  }
  return NULL;
}

BOOLEAN GetPayloadRecordInBuffer(PAYLOAD_TAG_ID Id, CONST UINT8 *Buffer, UINT32 Size, CONST UINT8 **Data,
                                 UINT32 *DataSize) {
  CONST UINT8 *Record = FindPayloadRecordInBuffer(Id, Buffer, Size, DataSize);
  if (Record == NULL) {
    return FALSE;
  }
  *Data = Record + PAYLOAD_HEADER_LENGTH;
  return TRUE;
}

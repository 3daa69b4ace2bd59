// The payload records appended to the driver's own image.
#ifndef VYR_PAYLOAD_H_
#define VYR_PAYLOAD_H_

#include "Base.h"

#define PAYLOAD_TAG_LENGTH 16
#define PAYLOAD_HEADER_LENGTH 24  // tag, unread length, data size

typedef enum {
  PayloadBios,
  PayloadIni,
  PayloadEc,
  PayloadIsh,
  PayloadPdt,
  PayloadMe,
  PayloadOemId,
  PayloadPfatHeader,
  PayloadPfatCertificate,
  PayloadDeviceFirmware,
  PayloadTagCount
} PAYLOAD_TAG_ID;

typedef struct {
  UINT8 *Record[PayloadTagCount];  // found record, or the tag's empty record
  UINT8 EmptyRecord[PayloadTagCount][PAYLOAD_HEADER_LENGTH];
  BOOLEAN Located;
} PAYLOAD_STATE;

extern PAYLOAD_STATE mPayload;

VOID PayloadResetState(VOID);

// Finds the records between the last section's file position and the end of
// the loaded image. FALSE without the loaded image, a BIOS or an INI record;
// Reason then names the failure for the exit trace.
BOOLEAN LocatePayloadRecords(EFI_HANDLE ImageHandle, CONST CHAR16 **Reason);
// The same scan over a given image in memory (Base .. Base + Size).
BOOLEAN ScanPayloadImage(UINT8 *Base, UINT64 Size, CONST CHAR16 **Reason);

UINT8 *PayloadRecordData(PAYLOAD_TAG_ID Id);
UINT32 PayloadRecordSize(PAYLOAD_TAG_ID Id);
BOOLEAN HasEcImage(VOID);
BOOLEAN HasIshImage(VOID);
BOOLEAN HasPdtImage(VOID);
BOOLEAN HasMeImage(VOID);
BOOLEAN HasDeviceFirmware(VOID);
BOOLEAN HasPfatImage(VOID);
BOOLEAN IsBiosRecordEmpty(VOID);
// The tag as it stands in an image (PAYLOAD_TAG_LENGTH bytes, no terminator).
VOID GetPayloadTag(PAYLOAD_TAG_ID Id, CHAR8 *Tag);
// The first record with that tag whose header and data lie inside the buffer
// (its tag), or NULL; occurrences whose size runs past the end are passed over.
CONST UINT8 *FindPayloadRecordInBuffer(PAYLOAD_TAG_ID Id, CONST UINT8 *Buffer, UINT32 Size, UINT32 *DataSize);
// The data of that record; FALSE when there is none.
BOOLEAN GetPayloadRecordInBuffer(PAYLOAD_TAG_ID Id, CONST UINT8 *Buffer, UINT32 Size, CONST UINT8 **Data,
                                 UINT32 *DataSize);
// Writes every tag (with its '$') into its record, empty records included.
VOID StampPayloadTags(VOID);

#endif  // VYR_PAYLOAD_H_

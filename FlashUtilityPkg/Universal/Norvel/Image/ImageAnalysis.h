// What an FD image holds, found once per image and read by the flows and the
// engines: the secure capsule and the records it carries, and the RBU window.
#ifndef VYR_IMAGE_ANALYSIS_H_
#define VYR_IMAGE_ANALYSIS_H_

#include "Base.h"
#include "Image/Payload.h"

#define CAPSULE_BLOCK_LENGTH 0x80000
#define RBU_TRAILER_SIZE 8

typedef struct {
  BOOLEAN DriverSignature;
  BOOLEAN HasEc;
  UINT32 EcSize;
  BOOLEAN HasMe;
  UINT32 MeSize;
  BOOLEAN HasDeviceFirmware;
  UINT32 DeviceFirmwareSize;
  UINT8 *DeviceFirmwareData;
  BOOLEAN IsSecureImage;
  UINT32 SecureSize;
  BOOLEAN EcOnly;
  BOOLEAN NativeMeOnly;
  BOOLEAN SecureFlashDone;
  UINT8 *BiosData;  // set by the 48h engine
  UINT32 BiosSize;
  // Record data as the last parse found them, for the engines.
  UINT8 *BiosRecordData;
  UINT8 *EcData;
  UINT8 *MeData;
} SECURE_CAPSULE_INFO;

typedef struct {
  BOOLEAN Present;
  UINT32 HeaderLength;
  UINT32 RawFdOffset;
  UINT8 *RawFd;
  UINT32 RawFdSize;
} RBU_IMAGE_INFO;

// The signatures the flows and engines look for in an image.
typedef enum {
  ImageSignatureBvdt,    // "$BVDT": the BIOS version data table
  ImageSignatureProdex,  // "$PRODEX", "$VEREX", "$RDATE": its extensions
  ImageSignatureVerex,
  ImageSignatureRdate,
  ImageSignatureBvdtMap,     // "$FWSMI": the ROM map carried in the BVDT area
  ImageSignatureBiosRecord,  // "$_NORVEL_BIOSIMG": a BIOS-region image's record
  ImageSignaturePfatHeader,  // "$PFATHDR"
  ImageSignaturePfatCertificate,  // "$PFATCER"
  ImageSignatureMultiSku,    // "$MULTISC"
  ImageSignatureDriver,      // "Q#EFI#DRV_": signed by a current secure flash
  ImageSignatureCapsule,     // "$ZTK" and the capsule GUID
  ImageSignatureAntiTheft,   // the anti-theft marker
  ImageSignatureCount
} IMAGE_SIGNATURE;

// One pass over an image: the first occurrence of every signature and the
// first whole record of every payload tag.
typedef struct {
  CONST UINT8 *Image;  // NULL: no image analysed
  UINT64 Size;
  INTN Signature[ImageSignatureCount];  // offset, or -1
  INTN Record[PayloadTagCount];         // offset of the record's tag, or -1
  UINT32 RecordDataSize[PayloadTagCount];
} IMAGE_SCAN;

typedef struct {
  IMAGE_SCAN Scan;
  SECURE_CAPSULE_INFO Capsule;
  RBU_IMAGE_INFO Rbu;
  UINT32 CrcTable[256];
} IMAGE_ANALYSIS;

extern IMAGE_ANALYSIS mImageAnalysis;

VOID ImageAnalysisResetState(VOID);

// ---- The scan ----
// Reads Image once and keeps what it holds; NULL forgets the last image. The
// flows call it for every image they load, and again when they swap it.
VOID AnalyzeImage(CONST UINT8 *Image, UINT32 Size);
// The first occurrence of the signature in the first Size bytes of Image, or
// -1; from the scan when Image is the analysed image, else searched now (a
// part of an image, a working copy).
INTN FindImageSignature(IMAGE_SIGNATURE Which, CONST UINT8 *Image, UINT64 Size);
// The signature as it stands in an image; Length gets its byte count.
VOID GetImageSignature(IMAGE_SIGNATURE Which, CHAR8 *Needle, UINTN *Length);
// As FindPayloadRecordInBuffer, from the scan when Image is the analysed image.
CONST UINT8 *FindImageRecord(PAYLOAD_TAG_ID Tag, CONST UINT8 *Image, UINT32 Size, UINT32 *DataSize);
// The data of that record; FALSE when there is none.
BOOLEAN GetImageRecordData(PAYLOAD_TAG_ID Tag, CONST UINT8 *Image, UINT32 Size, CONST UINT8 **Data, UINT32 *DataSize);

// ---- Secure capsule ----
BOOLEAN ParseSecureCapsule(UINT8 *Image, UINT32 Size);

// ---- RBU ----
BOOLEAN IsRbuImage(UINT8 *Image, UINT32 Size);
BOOLEAN CheckRbuChecksum(UINT8 *Image, UINT32 Size);
UINT32 RbuCrc32(CONST UINT8 *Data, UINT32 Length);

#endif  // VYR_IMAGE_ANALYSIS_H_

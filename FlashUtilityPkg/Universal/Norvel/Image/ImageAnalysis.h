// What an FD image holds, found once per image and read by the flows and the
// engines: the secure capsule and the records it carries, and the RBU window.
#ifndef VYR_IMAGE_ANALYSIS_H_
#define VYR_IMAGE_ANALYSIS_H_

#include "Base.h"

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

typedef struct {
  SECURE_CAPSULE_INFO Capsule;
  RBU_IMAGE_INFO Rbu;
  UINT32 CrcTable[256];
} IMAGE_ANALYSIS;

extern IMAGE_ANALYSIS mImageAnalysis;

VOID ImageAnalysisResetState(VOID);

// ---- Secure capsule ----
BOOLEAN ParseSecureCapsule(UINT8 *Image, UINT32 Size);

// ---- RBU ----
BOOLEAN IsRbuImage(UINT8 *Image, UINT32 Size);
BOOLEAN CheckRbuChecksum(UINT8 *Image, UINT32 Size);
UINT32 RbuCrc32(CONST UINT8 *Data, UINT32 Length);

#endif  // VYR_IMAGE_ANALYSIS_H_

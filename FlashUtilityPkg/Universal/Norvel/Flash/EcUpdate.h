// EC images: the part sizes the BIOS reports (21h), the size checks of an EC
// image carried in front of a BIOS image, the EC image buffer, and the EC
// region of the SPI flash written block by block through 15h.
#ifndef VYR_EC_UPDATE_H_
#define VYR_EC_UPDATE_H_

#include "Base.h"

#define EC_IMAGE_MAX_SIZE 0x200000   // the EC image buffer
#define EC_IMAGE_BUFFER_SIZE EC_IMAGE_MAX_SIZE
#define EC_PART_MAX 10
#define EC_PART_RECORD_SIZE 52       // 21h request and answer
#define EC_PART_SIGNATURE_SIZE 8
#define EC_SIZE_INDEX_MAX 5          // 0x10000 << 5 = 0x200000
#define EC_SIZE_INDEX_PARTS 0xFF     // any other size / several parts in the record

typedef struct {
  UINT32 PartCount;
  UINT32 PartSize[EC_PART_MAX];
  UINT32 WholeSize;  // sum of the parts
} EC_PART_TABLE;

typedef struct {
  UINT8 *ImageBuffer;   // EC_IMAGE_BUFFER_SIZE, from start-up to FreeResource
  EC_PART_TABLE Parts;
  UINT8 Queried;        // 21h asked once per load...
  BOOLEAN QueryResult;  // ...and its verdict kept
  UINT32 ImageSize;     // bytes held in the EC image buffer
  UINT8 CapsuleEcRecord;  // the secure capsule brought an EC record
} EC_UPDATE_STATE;

extern EC_UPDATE_STATE mEcUpdate;

VOID EcUpdateResetState(VOID);

// ---- 21h part information ----
// EC_SIZE_INDEX_PARTS for a size without an index.
UINT8 EcSizeToIndex(UINT32 Size);
// 0 for indexes 6-0xFE and for EC_SIZE_INDEX_PARTS.
UINT32 EcIndexToSize(UINT8 Index);
// Record: EC_PART_RECORD_SIZE bytes sent and copied back whatever the status.
// Status and Index receive AL and the BIOS's size index. TRUE for status 0.
BOOLEAN Fwsmi_21h(UINT8 SizeIndex, UINT8 *Record, UINT8 *Status, UINT8 *Index);
BOOLEAN FuncGetEcPartInfo(UINT32 EcSize);
// Fills mEcUpdate.Parts from the BIOS's index and answer record.
BOOLEAN Process21hOutputData(UINT8 Index, CONST UINT8 *Record);
BOOLEAN CheckEcPartSize(UINT32 EcSize);
// The part information is asked at the first call and reused after.
BOOLEAN SMI_CheckEcPartSize(UINT32 EcSize);
// The whole check of the EC part of an FD file (EcSize 0: none) against the
// -ecb/-ecbp/-eob options, the 2 MiB limit and the part sizes.
BOOLEAN FuncChk_SizeEC(UINT32 EcSize);

// ---- The EC image buffer (allocated at start-up) ----
// FALSE when it could not be allocated; an existing buffer is kept.
MUST_CHECK BOOLEAN AllocateEcImageBuffer(VOID);
VOID FreeEcImageBuffer(VOID);
// Copies Size bytes to the start of the buffer; never shrinks or clears it.
MUST_CHECK BOOLEAN StoreEcImage(CONST UINT8 *Image, UINT32 Size);
// The EC part in front of an FD file's BIOS: its size passes FuncChk_SizeEC
// and, when it is not 0, its bytes go to the EC image buffer.
MUST_CHECK BOOLEAN TakeEcPart(CONST UINT8 *Image, UINT32 EcSize);
CONST UINT8 *GetEcImageBuffer(VOID);
UINT32 GetEcImageSize(VOID);
// Set by the secure-capsule road when its capsule carries an EC record.
VOID SetCapsuleEcRecord(BOOLEAN Present);

// ---- The EC region of the SPI flash ----
// Writes Image into the blocks left writable (SetRegionReserve with the EC
// region selected), each from the next unwritten image bytes.
BOOLEAN UpdateExternalEcMain(CONST UINT8 *Image, UINT32 Size);

#endif  // VYR_EC_UPDATE_H_

// FWSMI 41h: announcements of extra data ("$EDI") and the BIOS's status
// answer ("$EDO"). Used by the PFAT engine, the -edt transfer and the update
// progress report; the PFAT support answer lives here because it is a 41h query.
#ifndef VYR_EXTRA_DATA_REQUEST_H_
#define VYR_EXTRA_DATA_REQUEST_H_

#include "Base.h"

#define EXTRA_DATA_SHORT_REQUEST_SIZE 14
#define EXTRA_DATA_LONG_REQUEST_SIZE 42
#define EXTRA_DATA_LONG_DECLARED_SIZE 50
#define EXTRA_DATA_ANSWER_SIZE 52

// Offsets in the answer.
#define EXTRA_DATA_ANSWER_STRUCTURE_SIZE 4
#define EXTRA_DATA_ANSWER_BLOCK_INDEX 8
#define EXTRA_DATA_ANSWER_SIZE_INDEX 9
#define EXTRA_DATA_ANSWER_DATA_SIZE 10
#define EXTRA_DATA_ANSWER_STATUS 14
#define EXTRA_DATA_ANSWER_RETURN_CODE 16

#define EXTRA_DATA_STATUS_NOT_SUPPORTED 0x8000
#define EXTRA_DATA_STATUS_RETURN_CODE 0x2000

#define EXTRA_DATA_SIZE_IN_BYTES 0xFF

#define EXTRA_DATA_TYPE_PFAT_PACKET 0x58
#define EXTRA_DATA_TYPE_PFAT_RESULT 0x5A
#define EXTRA_DATA_TYPE_UPDATE_PROGRESS 0x67

typedef struct {
  BOOLEAN PfatQueried;
  BOOLEAN PfatSupported;
} EXTRA_DATA_REQUEST_STATE;

extern EXTRA_DATA_REQUEST_STATE mExtraDataRequest;

VOID ExtraDataRequestResetState(VOID);

// One 41h exchange under the retry policy. Request (RequestLength bytes) goes
// into buffer 1, Data (when DataLength is not 0) into buffer 2. Status gets
// the final AL. The 52 answer bytes go to Answer; with Short they are copied
// only after status 0, otherwise always, followed by DataLength bytes of
// buffer 2 into DataBack when it is not NULL.
BOOLEAN Fwsmi_41h(CONST UINT8 *Request, UINT32 RequestLength, CONST VOID *Data, UINT32 DataLength, BOOLEAN Short,
                  UINT8 *Status, UINT8 *Answer, VOID *DataBack);
// Short form: type, size index, size in bytes. Answer holds 52 bytes.
BOOLEAN FuncFwsmi_41h(UINT8 Type, UINT8 SizeIndex, UINT32 Size, UINT8 *Answer);
// Long form with data in buffer 2; Status gets the final AL, Answer 52 bytes
// whatever the status, DataBack (may be NULL) DataLength bytes.
BOOLEAN FuncFwsmi_41hLong(UINT8 Type, UINT8 SizeIndex, UINT32 Size, CONST VOID *Data, UINT32 DataLength,
                          UINT8 *Status, UINT8 *Answer, VOID *DataBack);

UINT16 ExtraDataAnswerStatus(CONST UINT8 *Answer);

BOOLEAN SMI_IsSupportPfat(VOID);
BOOLEAN IsSupportPfat(VOID);

#endif  // VYR_EXTRA_DATA_REQUEST_H_

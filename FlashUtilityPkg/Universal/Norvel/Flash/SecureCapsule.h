// The BIOS's secure update interfaces: the secure-platform (48h) and
// OEM-secure (4Ch) support queries, the OEM/ODM notifications (1Ah), the
// skip-model-check verification (1Bh) and the completion-action mapping. The
// 48h, ESP and 4Ch flash engines build on these; what an image holds comes
// from the image analysis.
#ifndef VYR_SECURE_CAPSULE_H_
#define VYR_SECURE_CAPSULE_H_

#include "Base.h"

#define CAPSULE_BLOCK_LIST_MAX 512
#define CAPSULE_BLOCK_LIST_SIZE (8 + 16 * CAPSULE_BLOCK_LIST_MAX)  // 8200
#define CAPSULE_EXT_RECORD_SIZE 9
#define CAPSULE_EXT_FLAG_ESP 0x01

#define SKIP_MODEL_CHECK_BLOCK_LENGTH 4096
#define SKIP_MODEL_CHECK_NOT_THIS_BLOCK 0x28

#define OEM_SECURE_MODE_FLASH 0
#define OEM_SECURE_MODE_VERIFY 1

// 1Ah actions and statuses.
#define OEM_ODM_ACTION_BEGIN 1
#define OEM_ODM_ACTION_END 2
#define OEM_ODM_STATUS_NONE 0
#define OEM_ODM_STATUS_SUCCESS 1
#define OEM_ODM_STATUS_FAILURE 2


typedef struct {
  BOOLEAN SecureQueried;
  BOOLEAN SecurePlatform;
  BOOLEAN EspSupported;
  BOOLEAN ViaEspRequest;
  UINT8 LastAction;  // action byte of the last successful 48h
  BOOLEAN OemSecureQueried;
  BOOLEAN OemSecurePlatform;
} SECURE_CAPSULE_STATE;

extern SECURE_CAPSULE_STATE mSecureCapsule;

VOID SecureCapsuleResetState(VOID);

VOID SetViaEspRequest(BOOLEAN ViaEsp);

// ---- 48h ----
typedef struct {
  UINT32 Address;  // physical; 0 = the BIOS takes the capsule from the ESP
  UINT32 Size;
  UINT8 Flags;     // CAPSULE_EXT_FLAG_ESP: the capsule is also on the ESP
  // Answer.
  UINT8 Status;
  UINT8 Action;
  BOOLEAN Answered;  // the record came back as "$EXO"
  UINT8 AnswerFlags;
} SECURE_CAPSULE_REQUEST;

// Fills List (CAPSULE_BLOCK_LIST_SIZE bytes) with descriptors of 512 KiB
// blocks from Address. A size of 0 gives no descriptor, or one all-zero
// descriptor with ZeroSizeEntry. FALSE when the capsule needs more than 512.
BOOLEAN BuildCapsuleBlockList(UINT8 *List, UINT32 Address, UINT32 Size, BOOLEAN ZeroSizeEntry, UINT32 *Count);
BOOLEAN Fwsmi_48h(SECURE_CAPSULE_REQUEST *Request);
BOOLEAN SMI_IsSecurePlatform(VOID);
BOOLEAN IsSecurePlatform(VOID);

// ---- 4Ch ----
typedef struct {
  UINT32 Address;
  UINT32 Size;
  // Answer (taken on status 0).
  UINT8 Status;
  UINT8 Action;
  BOOLEAN SignatureAccepted;
  BOOLEAN FallBackAllowed;
  BOOLEAN UpdateSucceeded;
} OEM_SECURE_REQUEST;

BOOLEAN Fwsmi_4Ch(OEM_SECURE_REQUEST *Request, UINT32 Mode);
BOOLEAN SMI_IsOemSecurePlatform(VOID);
BOOLEAN IsOemSecurePlatform(VOID);

// ---- 1Ah / 1Bh ----
// Status gets the final AL (may be NULL).
BOOLEAN Fwsmi_1Ah(UINT8 Action, UINT8 Status, UINT8 *FinalStatus);
BOOLEAN SMI_OemOdmCustom2(UINT8 Action, UINT8 Status);
BOOLEAN Fwsmi_1Bh(UINT32 BlockAddress, CONST UINT8 *Block, UINT8 *FinalStatus);
// Presents the EC blocks (with -ecb/-ecbp) and the ROM's 4 KiB blocks until
// the BIOS decides. Image holds ImageSize bytes; blocks beyond it are not sent.
BOOLEAN SMI_SkipModelCheckVerify(CONST UINT8 *Image, UINT32 ImageSize, UINT32 RomSize);

// ---- Completion actions (BIOS numbering -> 16h numbering) ----
UINT8 GetSecureCompleteAction(VOID);
UINT8 GetOemCompleteAction(UINT8 Action);

#endif  // VYR_SECURE_CAPSULE_H_

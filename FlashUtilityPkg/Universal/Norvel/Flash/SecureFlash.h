// The signed-update engines: the secure capsule handed to the BIOS through
// 48h (from memory or as a file on the EFI system partition), with the block
// writer as the fall-back of an ordinary platform, and the OEM secure RBU
// image verified and flashed by the BIOS through 4Ch.
#ifndef VYR_SECURE_FLASH_H_
#define VYR_SECURE_FLASH_H_

#include "Base.h"
#include "Platform.h"

#define ESP_CAPSULE_DIRECTORY u"\\EFI\\Korvath"
#define ESP_CAPSULE_FILE u"\\EFI\\Korvath\\capsimg.bin"
#define OEM_SECURE_COMPLETE_WAIT_US 2000000

typedef struct {
  PLATFORM_FILE EspRoot;  // the ESP's root while the capsule file is written
  UINT32 EspHandleIndex;
  BOOLEAN LocateFailed;  // the last search had no handle list to walk
} SECURE_FLASH_STATE;

extern SECURE_FLASH_STATE mSecureFlash;

VOID SecureFlashResetState(VOID);

// ---- 48h ----
// One submission of the Size bytes of Image (staged in pages the BIOS can
// read), or of the ESP file when the request and the BIOS both name the ESP.
BOOLEAN SMI_SecureCapsuleFlash(CONST UINT8 *Image, UINT32 Size);
BOOLEAN FuncSize_entire48h(CONST UINT8 *Data, UINT32 Size);
BOOLEAN FuncSize_region48h(CONST UINT8 *Data, UINT32 Size);
BOOLEAN FuncUpdate_secureFD(CONST UINT8 *Image, UINT32 Size);
BOOLEAN FuncUpdate_via48h(CONST UINT8 *Image, UINT32 Size);

// ---- The ESP ----
// The first handle (of Count) whose device path has a messaging node of
// Subtype and whose volume holds "\EFI"; its root goes to mSecureFlash.
BOOLEAN FindEspBySubtype(EFI_HANDLE *Handles, UINTN Count, UINT8 Subtype);
// The first handle with a controller node and a hard-drive node.
BOOLEAN FindEmmcEsp(EFI_HANDLE *Handles, UINTN Count);
// Walks [SecureUpdate] DeviceOrder over the file-system handles.
BOOLEAN FindEspFileHandle(VOID);
BOOLEAN DoSecureFlashViaEsp(CONST UINT8 *Buffer, UINT32 Size);

// ---- 4Ch ----
BOOLEAN RunOemSecureFlash(CONST UINT8 *Image, UINT32 Size, BOOLEAN *FallBack);
BOOLEAN FuncUpdate_via4Ch(CONST UINT8 *Image, UINT32 Size);

#endif  // VYR_SECURE_FLASH_H_

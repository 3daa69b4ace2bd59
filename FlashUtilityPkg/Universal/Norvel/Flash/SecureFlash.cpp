#include "Flash/SecureFlash.h"

#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Console/FileAccess.h"
#include "Flash/BlockFlash.h"
#include "Flash/Completion.h"
#include "Flash/EcUpdate.h"
#include "Flash/RomMap.h"
#include "Flash/RomMapTypes.h"
#include "Flash/SecureCapsule.h"
#include "Guids.h"
#include "Image/Bvdt.h"
#include "Image/ImageAnalysis.h"
#include "Smi/FwsmiTransport.h"

#define MAX_ESP_PATH_NODES 64
#define HW_CONTROLLER_DP 0x05
#define MEDIA_HARDDRIVE_DP 0x01

SECURE_FLASH_STATE mSecureFlash;

// The root is not closed here: after a reset of the module it may belong to
// a machine that is gone.
VOID SecureFlashResetState(VOID) { ZeroMem(&mSecureFlash, sizeof(mSecureFlash)); }

// ---- Staging ------------------------------------------------------------------------

// The BIOS reads physical memory below the FWSMI limit only: pool memory may
// lie anywhere, so the image goes to pages of its own for the call.
typedef struct {
  EFI_PHYSICAL_ADDRESS Address;
  UINTN Pages;
} STAGED_IMAGE;

static BOOLEAN StageImage(CONST UINT8 *Image, UINT32 Size, STAGED_IMAGE *Staged) {
  Staged->Address = 0;
  Staged->Pages = ((UINTN)Size + 0xFFF) / 0x1000;
  if (Image == NULL || Size == 0 || Staged->Pages == 0) {
    return FALSE;
  }
  EFI_PHYSICAL_ADDRESS Address = 0;
  if (EFI_ERROR(PlatformAllocatePagesBelow(FWSMI_MAX_ADDRESS, Staged->Pages, &Address))) {
    return FALSE;
  }
  if (Address == 0 || !PlatformWritePhysical(Address, Image, Size)) {
    PlatformFreePages(Address, Staged->Pages);
    return FALSE;
  }
  Staged->Address = Address;
  return TRUE;
}

static VOID FreeStagedImage(STAGED_IMAGE *Staged) {
  if (Staged->Address != 0) {
    PlatformFreePages(Staged->Address, Staged->Pages);
    Staged->Address = 0;
  }
}

// Data of Length bytes lies inside the Size bytes of Image.
static BOOLEAN LiesInside(CONST UINT8 *Image, UINT32 Size, CONST UINT8 *Data, UINT32 Length) {
  return Image != NULL && Data != NULL && Data >= Image && (UINT64)(Data - Image) + Length <= Size;
}

// ---- 48h ----------------------------------------------------------------------------

BOOLEAN SMI_SecureCapsuleFlash(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"SMI_SecureCapsuleFlash");
  SECURE_CAPSULE_REQUEST Request;
  ZeroMem(&Request, sizeof(Request));
  Request.Flags = mSecureCapsule.ViaEspRequest ? CAPSULE_EXT_FLAG_ESP : 0;
  Request.Size = Size;
  STAGED_IMAGE Staged = {0, 0};
  BOOLEAN FromEsp = mSecureCapsule.ViaEspRequest && mSecureCapsule.EspSupported;
  if (!FromEsp) {
    if (!StageImage(Image, Size, &Staged)) {
      FuncExit(u"SMI_SecureCapsuleFlash", u"Allocate memory failed");
      return FALSE;
    }
    Request.Address = (UINT32)Staged.Address;
  }
  BOOLEAN Called = Fwsmi_48h(&Request);
  FreeStagedImage(&Staged);
  if (!Called) {
    // The transport's own failure answers "not supported"; any other status is the BIOS's refusal.
    BOOLEAN Refused = Request.Status != FWSMI_STATUS_NOT_SUPPORTED && Request.Status != FWSMI_STATUS_SUCCESS;
    FuncExit(u"SMI_SecureCapsuleFlash", Refused ? u"BIOS return not success" : u"FWSMI 48h failed");
    return FALSE;
  }
  // A capsule is taken only with status 0 and the "$EXO" answer: anything
  // else did not reach a BIOS that will apply it.
  if (Request.Status != FWSMI_STATUS_SUCCESS || !Request.Answered) {
    FuncExit(u"SMI_SecureCapsuleFlash", u"BIOS return not success");
    return FALSE;
  }
  mSecureCapsule.LastAction = Request.Action;
  DebugPrint(4, u" BIOS return action (%d)\r\n", Request.Action);
  FuncExit(u"SMI_SecureCapsuleFlash", NULL);
  return TRUE;
}

BOOLEAN FuncSize_entire48h(CONST UINT8 *Data, UINT32 Size) {
  FuncEnter(u"FuncSize_entire48h");
  (VOID)Data;
  DebugPrint(4, u" entire Secure\r\n-----+------\r\n  13h  0x%X\r\n   FD  0x%X\r\n", GetRomSize(), Size);
  if (GetRegionSelection() != 0 && !GetExternalRegionMap(NULL, 0)) {
    FuncExit(u"FuncSize_entire48h", u"Get Intel region map failed");
    return FALSE;
  }
  FuncExit(u"FuncSize_entire48h", NULL);
  return TRUE;
}

BOOLEAN FuncSize_region48h(CONST UINT8 *Data, UINT32 Size) {
  FuncEnter(u"FuncSize_region48h");
  (VOID)Data;
  if (GetRegionSelection() == 0) {
    Print(u"Error: Size not match!\r\n ROM Size = 0x%X\r\n File Size = 0x%X\r\n", GetRomSize(), Size);
    FuncExit(u"FuncSize_region48h", u"No region selected");
    return FALSE;
  }
  if (!GetExternalRegionMap(NULL, 0)) {
    FuncExit(u"FuncSize_region48h", u"Get Intel region map failed");
    return FALSE;
  }
  REGION_RECORD Current;
  ZeroMem(&Current, sizeof(Current));
  GetCurrentRegionRecord(&Current);
  DebugPrint(4, u" region Secure\r\n-----+------\r\n  17h  0x%X\r\n   FD  0x%X\r\n",
             Current.Slot[REGION_SLOT_BIOS].Size, Size);
  if (!CheckRegionSize(Size)) {
    FuncExit(u"FuncSize_region48h", u"Region size invalid");
    return FALSE;
  }
  FuncExit(u"FuncSize_region48h", NULL);
  return TRUE;
}

BOOLEAN FuncUpdate_secureFD(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"FuncUpdate_secureFD");
  if (mSecureCapsule.ViaEspRequest) {
    DebugPrint(4, u" Capsule update via ESP\r\n");
    if (!DoSecureFlashViaEsp(Image, Size)) {
      FuncExit(u"FuncUpdate_secureFD", u"Do secure flash via ESP failed");
      return FALSE;
    }
  }
  DebugPrint(4, u" Capsule Update via 48h\r\n");
  if (!SMI_SecureCapsuleFlash(Image, Size)) {
    Print(u"The BIOS image to be updated is invalid or\r\nonboard BIOS does not support Secure Flash.\r\n");
    FuncExit(u"FuncUpdate_secureFD", u"Do secure flash failed");
    return FALSE;
  }
  SetStatus_16h(GetSecureCompleteAction(), 0);
  mImageAnalysis.Capsule.SecureFlashDone = TRUE;
  FuncExit(u"FuncUpdate_secureFD", NULL);
  return TRUE;
}

BOOLEAN FuncUpdate_via48h(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"FuncUpdate_via48h");
  SECURE_CAPSULE_INFO *Info = &mImageAnalysis.Capsule;
  UINT32 RomSize = GetRomSize();
  DebugPrint(4, u" Capsule size 0x%X\r\n", Size);
  // The record's place comes from the last parse: it must be this image's.
  if (!Info->IsSecureImage || !LiesInside(Image, Size, Info->BiosRecordData, Info->SecureSize)) {
    FuncExit(u"FuncUpdate_via48h", u"No BIOS record");
    return FALSE;
  }
  Info->BiosData = Info->BiosRecordData;
  Info->BiosSize = Info->SecureSize;
  if (!Info->NativeMeOnly && !Info->EcOnly) {
    if (Info->HasEc) {
      if (!LiesInside(Image, Size, Info->EcData, Info->EcSize) || !FuncChk_SizeEC(Info->EcSize)) {
        FuncExit(u"FuncUpdate_via48h", u"FuncChk_SizeEC failed");
        return FALSE;
      }
      if (!StoreEcImage(Info->EcData, Info->EcSize)) {
        FuncExit(u"FuncUpdate_via48h", u"FuncChk_SizeEC failed");
        return FALSE;
      }
    }
    if (RomSize > Info->BiosSize) {
      if (!FuncSize_region48h(Info->BiosData, Info->BiosSize)) {
        FuncExit(u"FuncUpdate_via48h", u"FuncSize_region48h failed");
        return FALSE;
      }
    } else if (!FuncSize_entire48h(Info->BiosData, Info->BiosSize)) {
      FuncExit(u"FuncUpdate_via48h", u"FuncSize_entire48h failed");
      return FALSE;
    }
    if (!IsModelCheckNeeded() && !SMI_SkipModelCheckVerify(Info->BiosData, Info->BiosSize, RomSize)) {
      FuncExit(u"FuncUpdate_via48h", u"Skip model check verify failed");
      return FALSE;
    }
  }
  if (IsSecurePlatform()) {
    if (!UpdateOemMe()) {
      FuncExit(u"FuncUpdate_via48h", u"Update OEM ME failed");
      return FALSE;
    }
    BOOLEAN Done = FuncUpdate_secureFD(Image, Size);
    FuncExit(u"FuncUpdate_via48h", u"via 48h or via ESP");
    return Done;
  }
  BOOLEAN Done = FuncUpdate_via15h(Info->BiosData, Info->BiosSize);
  FuncExit(u"FuncUpdate_via48h", u"via 15h");
  return Done;
}

// ---- The ESP ------------------------------------------------------------------------

static UINT16 NodeLength(CONST EFI_DEVICE_PATH_PROTOCOL *Node) {
  return (UINT16)(Node->Length[0] | (Node->Length[1] << 8));
}

// Whether Handle's device path has the controller node and the hard-drive
// node of an eMMC boot partition; every node is traced, a malformed one ends the walk.
static BOOLEAN HasEmmcNodes(EFI_HANDLE Handle) {
  EFI_DEVICE_PATH_PROTOCOL *Node = NULL;
  if (EFI_ERROR(PlatformHandleProtocol(Handle, &gEfiDevicePathProtocolGuid, (VOID **)&Node)) || Node == NULL) {
    return FALSE;
  }
  BOOLEAN Controller = FALSE;
  BOOLEAN HardDrive = FALSE;
  for (UINTN Nodes = 0; Nodes < MAX_ESP_PATH_NODES; Nodes++) {
    DebugPrint(4, u"EFI_DEVICE_PATH Type(%d) SubType(%d) Length[0](%d) Length[1](%d)\r\n", Node->Type, Node->SubType,
               Node->Length[0], Node->Length[1]);
    if (Node->Type == END_DEVICE_PATH_TYPE && Node->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
      break;
    }
    Controller |= Node->Type == HARDWARE_DEVICE_PATH && Node->SubType == HW_CONTROLLER_DP;
    HardDrive |= Node->Type == MEDIA_DEVICE_PATH && Node->SubType == MEDIA_HARDDRIVE_DP;
    if (NodeLength(Node) < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      break;
    }
    Node = (EFI_DEVICE_PATH_PROTOCOL *)((UINT8 *)Node + NodeLength(Node));
  }
  return Controller && HardDrive;
}

static PLATFORM_FILE OpenHandleVolume(EFI_HANDLE Handle, CONST CHAR16 *VolumeFailure) {
  VOID *FileSystem = NULL;
  PLATFORM_FILE Root = NULL;
  if (EFI_ERROR(PlatformHandleProtocol(Handle, &gEfiSimpleFileSystemProtocolGuid, &FileSystem))) {
    DebugPrint(4, u" Handle simple file system protocol failed\r\n");
    return NULL;
  }
  if (EFI_ERROR(PlatformOpenVolume(FileSystem, &Root))) {
    DebugPrint(4, VolumeFailure);
    return NULL;
  }
  return Root;
}

BOOLEAN FindEspBySubtype(EFI_HANDLE *Handles, UINTN Count, UINT8 Subtype) {
  for (UINTN From = 0; Handles != NULL && From < Count;) {
    INTN Found = FindHandleByMessagingSubtype(Handles + From, Count - From, Subtype);
    if (Found < 0) {
      return FALSE;
    }
    UINTN Index = From + (UINTN)Found;
    From = Index + 1;
    PLATFORM_FILE Root = OpenHandleVolume(Handles[Index], u" Open volume failed\r\n");
    if (Root == NULL) {
      continue;
    }
    // An ESP holds "\EFI"; another partition of the same device does not.
    PLATFORM_FILE Efi = NULL;
    if (EFI_ERROR(PlatformFileOpen(Root, &Efi, u"\\EFI", EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE,
                                   EFI_FILE_DIRECTORY))) {
      DebugPrint(4, u"Open [%s] directory failed\r\n", u"\\EFI");
      PlatformFileClose(Root);
      continue;
    }
    PlatformFileClose(Efi);
    mSecureFlash.EspRoot = Root;
    mSecureFlash.EspHandleIndex = (UINT32)Index;
    return TRUE;
  }
  return FALSE;
}

BOOLEAN FindEmmcEsp(EFI_HANDLE *Handles, UINTN Count) {
  for (UINTN Index = 0; Handles != NULL && Index < Count; Index++) {
    if (!HasEmmcNodes(Handles[Index])) {
      continue;
    }
    PLATFORM_FILE Root = OpenHandleVolume(Handles[Index], u"Open volume failed\r\n");
    if (Root == NULL) {
      return FALSE;
    }
    mSecureFlash.EspRoot = Root;
    mSecureFlash.EspHandleIndex = (UINT32)Index;
    return TRUE;
  }
  return FALSE;
}

BOOLEAN FindEspFileHandle(VOID) {
  FuncEnter(u"FindEspFileHandle");
  mSecureFlash.EspRoot = NULL;
  mSecureFlash.LocateFailed = FALSE;
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(PlatformLocateHandleBuffer(&gEfiSimpleFileSystemProtocolGuid, &Count, &Handles))) {
    mSecureFlash.LocateFailed = TRUE;
    FuncExit(u"FindEspFileHandle", u"Locate handle buffer failed");
    return FALSE;
  }
  DebugPrint(4, u" Total FAT partition count: %d\r\n", (UINT32)Count);
  static CONST struct {
    UINT8 Code;
    UINT8 Subtype;  // 0: the eMMC search
    CONST CHAR16 *Found;
  } kDevices[] = {
      {DEVICE_ORDER_EMMC, 0, u"Device Path [eMMC] (0x%X)\r\n"},
      {DEVICE_ORDER_NVME, MSG_NVME_NAMESPACE_DP, u"Device Path [NVMe] (0x%X)\r\n"},
      {DEVICE_ORDER_SATA, MSG_SATA_DP, u"Device Path [SATA] (0x%X)\r\n"},
      {DEVICE_ORDER_ATAPI, MSG_ATAPI_DP, u"Device Path [ATAPI] (0x%X)\r\n"},
      {DEVICE_ORDER_USB, MSG_USB_DP, u"Device Path [USB] (0x%X)\r\n"},
  };
  BOOLEAN Found = FALSE;
  for (UINTN Slot = 0; Slot < INI_DEVICE_ORDER_SLOTS && !Found; Slot++) {
    UINT8 Code = mIniSettings.SecureUpdate.DeviceOrder[Slot];
    for (UINTN Kind = 0; Kind < sizeof(kDevices) / sizeof(kDevices[0]) && !Found; Kind++) {
      if (kDevices[Kind].Code != Code) {
        continue;
      }
      Found = kDevices[Kind].Subtype == 0 ? FindEmmcEsp(Handles, Count)
                                          : FindEspBySubtype(Handles, Count, kDevices[Kind].Subtype);
      if (Found) {
        DebugPrint(4, kDevices[Kind].Found, mSecureFlash.EspHandleIndex);
      }
    }
  }
  if (!Found) {
    DebugPrint(4, u"Via ESP method Device Path not found (0x%X)\r\n", (UINT32)Count);
  }
  FreePool(Handles);
  FuncExit(u"FindEspFileHandle", Found ? NULL : u"no ESP partition found");
  return Found;
}

static BOOLEAN EspFailed(CONST CHAR16 *Reason) {
  if (mSecureFlash.EspRoot != NULL) {
    PlatformFileClose(mSecureFlash.EspRoot);
    mSecureFlash.EspRoot = NULL;
  }
  FuncExit(u"DoSecureFlashViaEsp", Reason);
  return FALSE;
}

BOOLEAN DoSecureFlashViaEsp(CONST UINT8 *Buffer, UINT32 Size) {
  FuncEnter(u"DoSecureFlashViaEsp");
  if (Buffer == NULL) {
    return EspFailed(u"Input buffer is NULL");
  }
  if (!FindEspFileHandle()) {
    return EspFailed(mSecureFlash.LocateFailed ? u"Locate handle buffer failed" : u"no ESP partition found");
  }
  PLATFORM_FILE Root = mSecureFlash.EspRoot;
  PLATFORM_FILE Directory = NULL;
  if (EFI_ERROR(PlatformFileOpen(Root, &Directory, ESP_CAPSULE_DIRECTORY,
                                 EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE,
                                 EFI_FILE_DIRECTORY))) {
    DebugPrint(4, u"Create [%s] directory failed\r\n", ESP_CAPSULE_DIRECTORY);
    return EspFailed(u"Create dir failed");
  }
  PlatformFileClose(Directory);
  PLATFORM_FILE File = NULL;
  if (!EFI_ERROR(PlatformFileOpen(Root, &File, ESP_CAPSULE_FILE, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE, 0))) {
    if (PlatformFileDelete(File) != EFI_SUCCESS) {
      DebugPrint(4, u"Delete [%s] in ESP failed\r\n", ESP_CAPSULE_FILE);
      return EspFailed(u"Delete capsule in ESP failed");
    }
  }
  File = NULL;
  if (EFI_ERROR(PlatformFileOpen(Root, &File, ESP_CAPSULE_FILE,
                                 EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0))) {
    DebugPrint(4, u"Create [%s] in ESP failed\r\n", ESP_CAPSULE_FILE);
    return EspFailed(u"Create capsule in ESP failed");
  }
  UINTN Written = Size;
  EFI_STATUS Status = PlatformFileWrite(File, &Written, Buffer);
  EFI_STATUS Flushed = PlatformFileFlush(File);
  PlatformFileClose(File);
  // A short file would be read by the BIOS as another capsule: it is removed.
  if (EFI_ERROR(Status) || EFI_ERROR(Flushed) || Written != Size) {
    if (!EFI_ERROR(PlatformFileOpen(Root, &File, ESP_CAPSULE_FILE, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE, 0))) {
      PlatformFileDelete(File);
    }
    DebugPrint(4, u"Create [%s] in ESP failed\r\n", ESP_CAPSULE_FILE);
    return EspFailed(u"Write capsule in ESP failed");
  }
  DebugPrint(4, u" via ESP file size: 0x%X\r\n", (UINT32)Written);
  PlatformFileClose(Root);
  mSecureFlash.EspRoot = NULL;
  FuncExit(u"DoSecureFlashViaEsp", NULL);
  return TRUE;
}

// ---- 4Ch ----------------------------------------------------------------------------

BOOLEAN RunOemSecureFlash(CONST UINT8 *Image, UINT32 Size, BOOLEAN *FallBack) {
  FuncEnter(u"RunOemSecureFlash");
  BOOLEAN Ignored = FALSE;
  if (FallBack == NULL) {
    FallBack = &Ignored;
  }
  *FallBack = FALSE;
  STAGED_IMAGE Staged = {0, 0};
  if (!StageImage(Image, Size, &Staged)) {
    Print(u"Some error occur during calling secure flash interface.\r\n");
    FuncExit(u"RunOemSecureFlash", u"Cannot run secure flash");
    return FALSE;
  }
  OEM_SECURE_REQUEST Request;
  ZeroMem(&Request, sizeof(Request));
  Request.Address = (UINT32)Staged.Address;
  Request.Size = Size;
  if (!Fwsmi_4Ch(&Request, OEM_SECURE_MODE_VERIFY)) {
    FreeStagedImage(&Staged);
    Print(u"Some error occur during calling secure flash interface.\r\n");
    FuncExit(u"RunOemSecureFlash", u"Cannot run secure flash");
    return FALSE;
  }
  if (!Request.SignatureAccepted) {
    FreeStagedImage(&Staged);
    Print(u"ROM file digital signature failed authentication.\r\n");
    *FallBack = Request.FallBackAllowed;
    FuncExit(u"RunOemSecureFlash", u"Signature failed");
    return FALSE;
  }
  Print(u"Update will take several minutes. Please wait...\r\n");
  OEM_SECURE_REQUEST Flash;
  ZeroMem(&Flash, sizeof(Flash));
  Flash.Address = Request.Address;
  Flash.Size = Size;
  BOOLEAN Called = Fwsmi_4Ch(&Flash, OEM_SECURE_MODE_FLASH);
  FreeStagedImage(&Staged);
  if (!Called) {
    Print(u"Some error occur during calling secure flash interface.\r\n");
    FuncExit(u"RunOemSecureFlash", u"Call secure flash interface failed");
    return FALSE;
  }
  // The flash counts only when the BIOS accepted the image again and says it wrote it.
  if (!Flash.UpdateSucceeded || !Flash.SignatureAccepted) {
    Print(u"Secure update failed!\r\n");
    FuncExit(u"RunOemSecureFlash", u"Secure flash result failed");
    return FALSE;
  }
  Print(u"\r\n                        Flash complete!\r\n");
  PlatformStall(OEM_SECURE_COMPLETE_WAIT_US);
  SetStatus_16h(GetOemCompleteAction(Flash.Action), 0);
  FuncExit(u"RunOemSecureFlash", NULL);
  return TRUE;
}

BOOLEAN FuncUpdate_via4Ch(CONST UINT8 *Image, UINT32 Size) {
  FuncEnter(u"FuncUpdate_via4Ch");
  DebugPrint(4, u" FuncUpdate_via4Ch\r\n-----+------------\r\n   FD  0x%X\r\n", Size);
  CONST RBU_IMAGE_INFO *Rbu = &mImageAnalysis.Rbu;
  // The window was found in this image and, with its trailer, stays inside it.
  if (!Rbu->Present || Rbu->RawFd != Image + Rbu->RawFdOffset ||
      (UINT64)Rbu->RawFdOffset + Rbu->RawFdSize + RBU_TRAILER_SIZE > Size || Rbu->RawFdSize == 0) {
    FuncExit(u"FuncUpdate_via4Ch", u"Not RBU image");
    return FALSE;
  }
  if (!IsModelCheckNeeded() && !SMI_SkipModelCheckVerify(Rbu->RawFd, Rbu->RawFdSize, GetRomSize())) {
    FuncExit(u"FuncUpdate_via4Ch", u"Skip model check verify failed");
    return FALSE;
  }
  if (IsOemSecurePlatform()) {
    BOOLEAN FallBack = FALSE;
    if (RunOemSecureFlash(Image, Size, &FallBack)) {
      SMI_OemOdmCustom2(OEM_ODM_ACTION_END, OEM_ODM_STATUS_SUCCESS);
      FuncExit(u"FuncUpdate_via4Ch", NULL);
      return TRUE;
    }
    if (!FallBack) {
      SMI_OemOdmCustom2(OEM_ODM_ACTION_END, OEM_ODM_STATUS_FAILURE);
      FuncExit(u"FuncUpdate_via4Ch", u"OEM secure flash failed");
      return FALSE;
    }
    DebugPrint(4, u" Fall back to block flash\r\n");
  }
  BOOLEAN Done = FuncUpdate_via15h(Rbu->RawFd, Rbu->RawFdSize);
  FuncExit(u"FuncUpdate_via4Ch", Done ? NULL : u"via 15h failed");
  return Done;
}

// The emulated BIOS as a UEFI boot-service driver, for rehearsing whole
// updates inside real firmware (QEMU + OVMF), which has no FWSMI handler of
// its own. Its entry reads, from \EmuBios\ on its own volume, the set-up that
// `vyrfft --export-bios` wrote for a machine (bios.setup) and that machine's
// flash (flash.bin), and installs the emulated-SMI protocol that the driver's
// test image calls instead of writing to the SMI port. Every call that changes
// the flash writes the changed span back to flash.bin at once, as a real part
// keeps what it was given; a write-back that fails stops the emulated BIOS
// (nothing answers from then on), so the run fails instead of passing with a
// flash that was never kept. A signing platform's capsule file is read from
// \EFI\Korvath\capsimg.bin of the same volume, and -edt items are kept as
// \EmuBios\extra-XX.bin.
#include "Base/Print.h"
#include "BaseLib.h"
#include "Bios/EmuBios.h"
#include "Bios/EmuBiosSetup.h"
#include "Bios/SignedFunctions.h"
#include "Guids.h"
#include "Platform.h"
#include "Uefi/EmulatedSmi.h"

#define SETUP_PATH u"\\EmuBios\\bios.setup"
#define FLASH_PATH u"\\EmuBios\\flash.bin"
#define ESP_CAPSULE_PATH u"\\EFI\\Korvath\\capsimg.bin"
// Room for a capsule: a whole flash image, an ME or EC image up to the part's
// size again, and the other records.
#define CAPSULE_SLACK 0x100000

static EMU_BIOS mBios;
static UINT16 mSmiPort;
static PLATFORM_FILE mRoot;
static CONST EFI_GUID mEmulatedSmiGuid = VYR_EMULATED_SMI_PROTOCOL_GUID;

static VOID Say(CONST CHAR16 *Format, ...) {
  CHAR16 Text[256];
  va_list Marker;
  va_start(Marker, Format);
  UnicodeVSPrint(Text, sizeof(Text), Format, Marker);
  va_end(Marker);
  PlatformConsoleOutputString(u"VyrEmuBios: ");
  PlatformConsoleOutputString(Text);
}

// Firmware maps memory 1:1; an IA32 image reaches only the low 4 GiB.
static BOOLEAN InAddressSpace(UINT64 Address, UINTN Length) {
  UINT64 Limit = sizeof(VOID *) == 4 ? 0x100000000ull : ~0ull;
  return Address != 0 && Address <= Limit && Length <= Limit - Address;
}

static BOOLEAN ReadMemory(VOID *Context, UINT64 Address, VOID *Buffer, UINTN Length) {
  if (!InAddressSpace(Address, Length)) return FALSE;
  CopyMem(Buffer, (CONST VOID *)(UINTN)Address, Length);
  return TRUE;
}

static BOOLEAN WriteMemory(VOID *Context, UINT64 Address, CONST VOID *Buffer, UINTN Length) {
  if (!InAddressSpace(Address, Length)) return FALSE;
  CopyMem((VOID *)(UINTN)Address, Buffer, Length);
  return TRUE;
}

// Reads exactly Size bytes of Path; FALSE when the file is shorter or longer.
static BOOLEAN ReadWhole(CONST CHAR16 *Path, VOID *Buffer, UINTN Size) {
  PLATFORM_FILE File = NULL;
  if (EFI_ERROR(PlatformFileOpen(mRoot, &File, Path, EFI_FILE_MODE_READ, 0))) {
    Say(u"cannot open %s\n", Path);
    return FALSE;
  }
  UINTN Got = Size;
  UINT8 Extra = 0;
  UINTN More = 1;
  BOOLEAN Ok = !EFI_ERROR(PlatformFileRead(File, &Got, Buffer)) && Got == Size &&
               !EFI_ERROR(PlatformFileRead(File, &More, &Extra)) && More == 0;
  PlatformFileClose(File);
  if (!Ok) Say(u"%s is not %d bytes long\n", Path, (UINT32)Size);
  return Ok;
}

// The changed span of the contents into flash.bin.
static BOOLEAN WriteBack(VOID) {
  EMU_FLASH *Flash = &mBios.Flash;
  PLATFORM_FILE File = NULL;
  UINTN Length = Flash->ChangedEnd - Flash->ChangedStart;
  EFI_STATUS Status = PlatformFileOpen(mRoot, &File, FLASH_PATH, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE, 0);
  if (!EFI_ERROR(Status)) Status = PlatformFileSetPosition(File, Flash->ChangedStart);
  UINTN Written = Length;
  if (!EFI_ERROR(Status)) Status = PlatformFileWrite(File, &Written, Flash->Contents + Flash->ChangedStart);
  if (!EFI_ERROR(Status) && Written != Length) Status = EFI_VOLUME_FULL;
  if (!EFI_ERROR(Status)) Status = PlatformFileFlush(File);
  if (File != NULL) {
    EFI_STATUS Closed = PlatformFileClose(File);
    if (!EFI_ERROR(Status)) Status = Closed;
  }
  if (EFI_ERROR(Status)) {
    Say(u"writing back %d bytes at 0x%x of %s failed: %r; the BIOS stops answering\n", (UINT32)Length,
        Flash->ChangedStart, FLASH_PATH, Status);
    return FALSE;
  }
  Flash->ContentsChanged = FALSE;
  return TRUE;
}

static BOOLEAN ReadEspCapsule(VOID *Context, UINT8 *Buffer, UINT32 Capacity, UINT32 *Size) {
  *Size = 0;
  PLATFORM_FILE File = NULL;
  if (EFI_ERROR(PlatformFileOpen(mRoot, &File, ESP_CAPSULE_PATH, EFI_FILE_MODE_READ, 0))) {
    return FALSE;
  }
  UINT64 Length = 0;
  BOOLEAN Ok = !EFI_ERROR(PlatformFileSetPosition(File, ~(UINT64)0)) &&
               !EFI_ERROR(PlatformFileGetPosition(File, &Length)) && !EFI_ERROR(PlatformFileSetPosition(File, 0));
  *Size = Length > 0xFFFFFFFFull ? 0xFFFFFFFFu : (UINT32)Length;
  if (Ok && Length <= Capacity) {
    UINTN Got = (UINTN)Length;
    Ok = !EFI_ERROR(PlatformFileRead(File, &Got, Buffer)) && Got == Length;
  } else {
    Ok = FALSE;
  }
  PlatformFileClose(File);
  return Ok;
}

static VOID StoreExtraData(VOID *Context, UINT8 Type, CONST UINT8 *Data, UINT32 Size) {
  CHAR16 Path[64];
  UnicodeSPrint(Path, sizeof(Path), u"\\EmuBios\\extra-%02X.bin", Type);
  PLATFORM_FILE File = NULL;
  EFI_STATUS Status = PlatformFileOpen(mRoot, &File, Path, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0);
  UINTN Written = Size;
  if (!EFI_ERROR(Status)) Status = PlatformFileSetSize(File, 0);
  if (!EFI_ERROR(Status)) Status = PlatformFileWrite(File, &Written, Data);
  if (!EFI_ERROR(Status) && Written != Size) Status = EFI_VOLUME_FULL;
  if (!EFI_ERROR(Status)) Status = PlatformFileFlush(File);
  if (File != NULL) PlatformFileClose(File);
  if (EFI_ERROR(Status)) Say(u"keeping extra data type %02Xh in %s failed: %r\n", Type, Path, Status);
}

// The signing platform's store for a capsule or RBU image and for the -edt
// item being assembled; without them signed requests are refused.
static VOID LendSignedBuffers(UINT32 FlashSize) {
  UINT64 Wanted = 2 * (UINT64)FlashSize + CAPSULE_SLACK;
  UINT32 Capacity = Wanted > 0xFFFFFFFFull ? 0xFFFFFFFFu : (UINT32)Wanted;
  UINT32 ExtraCapacity = mBios.Signed.ExtraDataLimit;
  UINT8 *Store = (UINT8 *)PlatformAllocatePool(Capacity);
  UINT8 *Extra = (UINT8 *)PlatformAllocatePool(ExtraCapacity == 0 ? 1 : ExtraCapacity);
  if (Store == NULL || Extra == NULL) {
    PlatformFreePool(Store);
    PlatformFreePool(Extra);
    Say(u"no memory for the signed-update store; capsules are refused\n");
    return;
  }
  EmuSignedSetBuffers(&mBios.Signed, Store, Capacity, Extra, ExtraCapacity);
  mBios.Signed.ReadEsp = ReadEspCapsule;
  mBios.Signed.StoreExtra = StoreExtraData;
  mBios.Signed.HostContext = NULL;
}

static VOID EFIAPI Trigger(VYR_EMULATED_SMI_PROTOCOL *This, SMI_REGISTERS *Registers) {
  if (Registers == NULL || (Registers->Edx & 0xFFFF) != mSmiPort) {
    return;  // not a write to this BIOS's command port
  }
  EmuBiosHandleSmi(&mBios, Registers);
  if (mBios.Flash.ContentsChanged && !WriteBack()) {
    mBios.Flash.PoweredOff = TRUE;
  }
}

static VYR_EMULATED_SMI_PROTOCOL mProtocol = {VYR_EMULATED_SMI_REVISION, Trigger};

static EFI_STATUS OpenOwnVolume(EFI_HANDLE ImageHandle) {
  EFI_LOADED_IMAGE_PROTOCOL *Self = NULL;
  VOID *FileSystem = NULL;
  EFI_STATUS Status = PlatformHandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, (VOID **)&Self);
  if (!EFI_ERROR(Status)) Status = PlatformHandleProtocol(Self->DeviceHandle, &gEfiSimpleFileSystemProtocolGuid, &FileSystem);
  if (!EFI_ERROR(Status)) Status = PlatformOpenVolume(FileSystem, &mRoot);
  if (EFI_ERROR(Status)) Say(u"cannot open the driver's own volume: %r\n", Status);
  return Status;
}

extern "C" EFI_STATUS EFIAPI EmuBiosDriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  PlatformInitialize(ImageHandle, SystemTable);
  EFI_STATUS Status = OpenOwnVolume(ImageHandle);
  if (EFI_ERROR(Status)) return Status;

  UINTN SetupSize = EmuBiosSetupSize();
  UINT8 *Setup = (UINT8 *)PlatformAllocatePool(SetupSize);
  EmuBiosInit(&mBios);
  BOOLEAN Loaded = Setup != NULL && ReadWhole(SETUP_PATH, Setup, SetupSize) &&
                   EmuBiosLoadSetup(&mBios, Setup, SetupSize, &mSmiPort);
  PlatformFreePool(Setup);
  if (!Loaded) {
    Say(u"%s is not a BIOS set-up of this build (vyrfft --export-bios writes one)\n", SETUP_PATH);
    return EFI_LOAD_ERROR;
  }
  UINT32 Size = mBios.Flash.ContentsSize;
  UINT8 *Contents = Size != 0 ? (UINT8 *)PlatformAllocatePool(Size) : NULL;
  if (Contents == NULL || !ReadWhole(FLASH_PATH, Contents, Size)) {
    PlatformFreePool(Contents);
    return EFI_LOAD_ERROR;
  }
  EmuFlashSetContents(&mBios.Flash, Contents, Size);
  mBios.Flash.ContentsChanged = FALSE;
  EmuBiosSetMemory(&mBios, ReadMemory, WriteMemory, NULL);
  LendSignedBuffers(Size);

  EFI_HANDLE Handle = NULL;
  Status = PlatformInstallProtocolInterface(&Handle, &mEmulatedSmiGuid, &mProtocol);
  if (EFI_ERROR(Status)) {
    Say(u"cannot install the emulated-SMI protocol: %r\n", Status);
    return Status;
  }
  Say(u"answering FWSMI %02Xh on port 0x%04X, flash %d KiB from %s\n", mBios.MainFunction, mSmiPort, Size / 1024,
      FLASH_PATH);
  return EFI_SUCCESS;
}

// The emulated BIOS as a UEFI boot-service driver, for rehearsing whole
// updates inside real firmware (QEMU + OVMF), which has no FWSMI handler of
// its own. Its entry reads, from \EmuBios\ on its own volume, the set-up that
// `vyrfft --export-bios` wrote for a machine (bios.setup) and that machine's
// flash (flash.bin), and installs the emulated-SMI protocol that the driver's
// test image calls instead of writing to the SMI port. Every call that changes
// the flash writes the changed span back to flash.bin at once, as a real part
// keeps what it was given; a write-back that fails stops the emulated BIOS
// (nothing answers from then on), so the run fails instead of passing with a
// flash that was never kept.
#include "Base/Print.h"
#include "BaseLib.h"
#include "Bios/EmuBios.h"
#include "Bios/EmuBiosSetup.h"
#include "Guids.h"
#include "Platform.h"
#include "Uefi/EmulatedSmi.h"

#define SETUP_PATH u"\\EmuBios\\bios.setup"
#define FLASH_PATH u"\\EmuBios\\flash.bin"

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

// The boot application of the emulated-BIOS test disks: what an operator
// types in the firmware's shell before an update (load the BIOS driver, start
// the launcher), done at boot, so that a run needs nothing typed. It loads and starts the emulated
// BIOS driver \EmuBios\EmuBios.efi, then starts the launcher named by the
// first word of \EmuBios\launch.txt with that whole line as its load options,
// exactly as a shell passes a typed command line ("VyrFFTLauncher.efi new.fd
// -dbg"). The launcher shuts the machine down; should it return, this does.
#include "Base/Print.h"
#include "BaseLib.h"
#include "Guids.h"
#include "Launcher/Uefi/LauncherArgs.h"
#include "Platform/Uefi/UefiPlatform.h"

#define DRIVER_PATH u"\\EmuBios\\EmuBios.efi"
#define LAUNCH_PATH u"\\EmuBios\\launch.txt"

static UINT64 mPathBuffer[4096 / sizeof(UINT64)];
static CHAR16 mLine[LAUNCHER_LINE_CHARS];
static CHAR16 mWords[LAUNCHER_LINE_CHARS];
static CHAR16 mImagePath[LAUNCHER_PATH_CHARS + 2];
static UINT8 mLaunchFile[LAUNCHER_LINE_CHARS];

static VOID Say(CONST CHAR16 *Format, ...) {
  CHAR16 Text[320];
  va_list Marker;
  va_start(Marker, Format);
  UnicodeVSPrint(Text, sizeof(Text), Format, Marker);
  va_end(Marker);
  PlatformConsoleOutputString(u"VyrEmuBoot: ");
  PlatformConsoleOutputString(Text);
}

static EFI_STATUS Load(EFI_HANDLE ImageHandle, EFI_LOADED_IMAGE_PROTOCOL *Self, CONST CHAR16 *Path, EFI_HANDLE *Image) {
  EFI_DEVICE_PATH_PROTOCOL *Device = NULL;
  EFI_STATUS Status = PlatformHandleProtocol(Self->DeviceHandle, &gEfiDevicePathProtocolGuid, (VOID **)&Device);
  EFI_DEVICE_PATH_PROTOCOL *Full =
      EFI_ERROR(Status) ? NULL : AppendFilePathNode(Device, Path, mPathBuffer, sizeof(mPathBuffer));
  Status = Full == NULL ? EFI_NOT_FOUND : gBS->LoadImage(FALSE, ImageHandle, Full, NULL, 0, Image);
  Say(u"LoadImage %s: %r\n", Path, Status);
  return Status;
}

static BOOLEAN ReadLaunchLine(EFI_LOADED_IMAGE_PROTOCOL *Self) {
  VOID *FileSystem = NULL;
  PLATFORM_FILE Root = NULL;
  PLATFORM_FILE File = NULL;
  if (EFI_ERROR(PlatformHandleProtocol(Self->DeviceHandle, &gEfiSimpleFileSystemProtocolGuid, &FileSystem)) ||
      EFI_ERROR(PlatformOpenVolume(FileSystem, &Root))) {
    return FALSE;
  }
  EFI_STATUS Status = PlatformFileOpen(Root, &File, LAUNCH_PATH, EFI_FILE_MODE_READ, 0);
  PlatformFileClose(Root);
  if (EFI_ERROR(Status)) return FALSE;
  UINTN Size = sizeof(mLaunchFile);
  Status = PlatformFileRead(File, &Size, mLaunchFile);
  PlatformFileClose(File);
  if (EFI_ERROR(Status)) return FALSE;
  ArgsFileToLine(mLaunchFile, Size, mLine, LAUNCHER_LINE_CHARS);
  return mLine[0] != 0;
}

static VOID ShutDown(VOID) {
  Say(u"shutting down\n");
  gRT->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, NULL);
}

extern "C" EFI_STATUS EFIAPI EmuBootEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  PlatformInitialize(ImageHandle, SystemTable);
  gBS->SetWatchdogTimer(0, 0, 0, NULL);
  EFI_LOADED_IMAGE_PROTOCOL *Self = NULL;
  EFI_HANDLE Driver = NULL;
  EFI_HANDLE Launcher = NULL;
  EFI_STATUS Status = PlatformHandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, (VOID **)&Self);
  if (EFI_ERROR(Status) || EFI_ERROR(Load(ImageHandle, Self, DRIVER_PATH, &Driver))) {
    ShutDown();
    return EFI_LOAD_ERROR;
  }
  Status = gBS->StartImage(Driver, NULL, NULL);
  Say(u"emulated BIOS driver entry returned %r\n", Status);
  if (EFI_ERROR(Status) || !ReadLaunchLine(Self)) {
    if (!EFI_ERROR(Status)) Say(u"no command line in %s\n", LAUNCH_PATH);
    ShutDown();
    return EFI_LOAD_ERROR;
  }
  // The first word names the launcher, relative to the volume root.
  StrCpyS(mWords, LAUNCHER_LINE_CHARS, mLine);
  CHAR16 *Argv[2] = {NULL, NULL};
  SplitLine(mWords, Argv, 1);
  UnicodeSPrint(mImagePath, sizeof(mImagePath), u"\\%s", Argv[0]);
  Say(u"command line: %s\n", mLine);
  if (!EFI_ERROR(Load(ImageHandle, Self, mImagePath, &Launcher))) {
    EFI_LOADED_IMAGE_PROTOCOL *Child = NULL;
    if (!EFI_ERROR(PlatformHandleProtocol(Launcher, &gEfiLoadedImageProtocolGuid, (VOID **)&Child))) {
      Child->LoadOptions = mLine;
      Child->LoadOptionsSize = (UINT32)((StrLen(mLine) + 1) * sizeof(CHAR16));
    }
    Status = gBS->StartImage(Launcher, NULL, NULL);
    Say(u"the launcher returned %r\n", Status);
  }
  ShutDown();
  return EFI_SUCCESS;
}

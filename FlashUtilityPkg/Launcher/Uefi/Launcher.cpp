// The UEFI launcher application: loads the driver VyrFFT.efi from its own
// directory, drives it by name as a shell launcher does, reports on the
// console what each step gave, unloads the driver and shuts the machine down
// (so that a virtual machine running it comes to an end by itself).
//
// Command line: the load options when a shell gives them ("LAUNCHER.EFI -dbg
// ..."), otherwise the first line of VyrFFT.args beside the launcher (the
// utility's arguments only, e.g. "-dbg"). A first argument "--firmware" is the
// launcher's own: it calls UefiFlashMain, as firmware starting an update from
// the driver's payload would, instead of ShellFlashMain.
#include "BaseLib.h"
#include "Base/Print.h"
#include "Guids.h"
#include "LauncherArgs.h"
#include "NamedFunctionProtocol.h"
#include "../../Platform/Uefi/UefiPlatform.h"

#define DRIVER_FILE_NAME u"VyrFFT.efi"
#define ARGS_FILE_NAME u"VyrFFT.args"
#define ARGS_FILE_MAX_BYTES 4096
#define DEVICE_PATH_BUFFER_BYTES 4096
#define PRINT_CHARS 512

// The seven entries in table order, and a name the table lacks: its look-up
// shows the driver's warning (which waits for a key) and must answer NULL.
static CONST CHAR16 *CONST mEntryNames[] = {u"SetCurrentDirectory", u"SetCommandLineArgument", u"SetImageHandle",
                                            u"SetShellExecuteCallback", u"EndProgram", u"ShellFlashMain",
                                            u"UefiFlashMain"};
static CONST CHAR16 mMisspeltName[] = u"ShellFlashMian";

static CHAR16 mLine[LAUNCHER_LINE_CHARS];
static CHAR16 *mArgv[LAUNCHER_MAX_ARGS + 1];
static CHAR16 mProgramName[LAUNCHER_PATH_CHARS];
static CHAR16 mDirectory[LAUNCHER_PATH_CHARS];
static CHAR16 mCurrentDirectory[LAUNCHER_PATH_CHARS + 8];
static CHAR16 mDriverPath[LAUNCHER_PATH_CHARS + 16];
static CHAR16 mArgsPath[LAUNCHER_PATH_CHARS + 16];
static BOOLEAN mFirmwareRun;
static UINT64 mDevicePathBuffer[DEVICE_PATH_BUFFER_BYTES / sizeof(UINT64)];

static VOID Say(CONST CHAR16 *Format, ...) {
  CHAR16 Text[PRINT_CHARS];
  va_list Marker;
  va_start(Marker, Format);
  UnicodeVSPrint(Text, sizeof(Text), Format, Marker);
  va_end(Marker);
  PlatformConsoleOutputString(u"VyrFFT launcher: ");
  PlatformConsoleOutputString(Text);
}

static VOID EFIAPI ShellExecute(CONST CHAR16 *CommandLine) {
  // No shell stands behind this launcher: the command is shown, not run.
  Say(u"shell command requested: %s\n", CommandLine != NULL ? CommandLine : u"<null>");
}

// The first line of VyrFFT.args beside the launcher into mLine; FALSE without the file.
static BOOLEAN ReadArgsFile(EFI_HANDLE Device) {
  VOID *FileSystem = NULL;
  PLATFORM_FILE Root = NULL;
  PLATFORM_FILE File = NULL;
  if (EFI_ERROR(PlatformHandleProtocol(Device, &gEfiSimpleFileSystemProtocolGuid, &FileSystem)) ||
      EFI_ERROR(PlatformOpenVolume(FileSystem, &Root))) {
    return FALSE;
  }
  EFI_STATUS Status = PlatformFileOpen(Root, &File, mArgsPath, EFI_FILE_MODE_READ, 0);
  PlatformFileClose(Root);
  if (EFI_ERROR(Status)) {
    return FALSE;
  }
  UINT8 *Data = (UINT8 *)AllocateZeroPool(ARGS_FILE_MAX_BYTES);
  UINTN Size = ARGS_FILE_MAX_BYTES;
  BOOLEAN Read = Data != NULL && !EFI_ERROR(PlatformFileRead(File, &Size, Data));
  PlatformFileClose(File);
  if (Read) {
    ArgsFileToLine(Data, Size, mLine, LAUNCHER_LINE_CHARS);
  }
  FreePool(Data);
  return Read;
}

// Argument 0 is the program as the shell named it; the utility reads it as
// its own application file, in the current directory.
static UINT32 GatherArguments(EFI_LOADED_IMAGE_PROTOCOL *Self) {
  mArgv[0] = mProgramName;
  if (LoadOptionsToLine(Self->LoadOptions, Self->LoadOptionsSize, mLine, LAUNCHER_LINE_CHARS)) {
    // A shell passes the whole command line, starting with the program's own name.
    UINT32 Count = SplitLine(mLine, mArgv + 0, LAUNCHER_MAX_ARGS);
    if (Count > 1) {
      Say(u"%d argument(s) from the load options\n", Count - 1);
      return Count;
    }
    mArgv[0] = mProgramName;
  }
  if (!ReadArgsFile(Self->DeviceHandle)) {
    Say(u"no load options and no %s: no arguments\n", mArgsPath);
    return 1;
  }
  UINT32 Count = 1 + SplitLine(mLine, mArgv + 1, LAUNCHER_MAX_ARGS - 1);
  Say(u"%d argument(s) from %s\n", Count - 1, mArgsPath);
  return Count;
}

// The IA32 images divide 64-bit numbers through the runtime's helpers (sizes,
// printed numbers): they are proved here on the real processor and calling
// convention before the driver relies on them. Volatile operands keep the
// compiler from folding the divisions away.
static BOOLEAN CheckDivision(VOID) {
  static CONST struct {
    UINT64 A, B, Q, R;
  } Unsigned[] = {
      {100000000000ull, 1000, 100000000, 0},
      {0xFFFFFFFFFFFFFFFFull, 0x100000000ull, 0xFFFFFFFF, 0xFFFFFFFF},
      {0x123456789ABCDEF0ull, 0x1234567, 0x1000000790ull, 0x400},
      {0x123456789ABCDEF0ull, 0x1234567890ull, 0x1000000, 0xABCDEF0},
      {7, 0x100000001ull, 0, 7},
      {0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 1, 0},
      {0x8000000000000000ull, 3, 0x2AAAAAAAAAAAAAAAull, 2},
  };
  static CONST struct {
    INT64 A, B, Q, R;
  } Signed[] = {
      {-7, 2, -3, -1},
      {7, -2, -3, 1},
      {-100000000000ll, -3, 33333333333ll, -1},
      {(INT64)0x8000000000000000ull, 0x100000000ll, -2147483648ll, 0},
      {0x7FFFFFFFFFFFFFFFll, -4886718345ll, -1887436800ll, 1266679807ll},
  };
  for (UINTN I = 0; I < ARRAY_SIZE(Unsigned); I++) {
    volatile UINT64 A = Unsigned[I].A;
    volatile UINT64 B = Unsigned[I].B;
    if (A / B != Unsigned[I].Q || A % B != Unsigned[I].R) {
      Say(u"64-bit unsigned division %d is WRONG\n", (UINT32)I);
      return FALSE;
    }
  }
  for (UINTN I = 0; I < ARRAY_SIZE(Signed); I++) {
    volatile INT64 A = Signed[I].A;
    volatile INT64 B = Signed[I].B;
    if (A / B != Signed[I].Q || A % B != Signed[I].R) {
      Say(u"64-bit signed division %d is WRONG\n", (UINT32)I);
      return FALSE;
    }
  }
  Say(u"64-bit division checked\n");
  return TRUE;
}

static VOID ShutDown(VOID) {
  Say(u"shutting down\n");
  gRT->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, NULL);
}

static EFI_STATUS LoadDriver(EFI_HANDLE ImageHandle, EFI_LOADED_IMAGE_PROTOCOL *Self, EFI_HANDLE *Driver) {
  EFI_DEVICE_PATH_PROTOCOL *DevicePath = NULL;
  EFI_STATUS Status = PlatformHandleProtocol(Self->DeviceHandle, &gEfiDevicePathProtocolGuid, (VOID **)&DevicePath);
  if (EFI_ERROR(Status)) {
    Say(u"the launcher's device has no device path: %r\n", Status);
    return Status;
  }
  EFI_DEVICE_PATH_PROTOCOL *DriverPath =
      AppendFilePathNode(DevicePath, mDriverPath, mDevicePathBuffer, sizeof(mDevicePathBuffer));
  if (DriverPath == NULL) {
    Say(u"the driver's device path does not fit\n");
    return EFI_BUFFER_TOO_SMALL;
  }
  Status = gBS->LoadImage(FALSE, ImageHandle, DriverPath, NULL, 0, Driver);
  Say(u"LoadImage %s: %r\n", mDriverPath, Status);
  return Status;
}

// Looks the seven entries up, then the misspelt name.
static BOOLEAN LookUpEntries(NAMED_FUNCTION_PROTOCOL *Protocol, VOID **Entries) {
  BOOLEAN All = TRUE;
  for (UINTN Index = 0; Index < ARRAY_SIZE(mEntryNames); Index++) {
    Entries[Index] = Protocol->GetFunctionByName(mEntryNames[Index]);
    if (Entries[Index] == NULL) {
      Say(u"entry %s not found\n", mEntryNames[Index]);
      All = FALSE;
    }
  }
  if (All) {
    Say(u"all seven entries resolved by name\n");
  }
  Say(u"looking up the misspelt name %s (press a key at the warning)\n", mMisspeltName);
  VOID *Missing = Protocol->GetFunctionByName(mMisspeltName);
  Say(u"misspelt name %s\n", Missing == NULL ? u"answered NULL" : u"was FOUND (wrong)");
  return All && Missing == NULL;
}

static VOID RunDriver(EFI_HANDLE ImageHandle, EFI_LOADED_IMAGE_PROTOCOL *Self, UINT32 Argc) {
  EFI_HANDLE Driver = NULL;
  if (EFI_ERROR(LoadDriver(ImageHandle, Self, &Driver))) {
    return;
  }
  EFI_STATUS Status = gBS->StartImage(Driver, NULL, NULL);
  Say(u"driver entry returned %r\n", Status);
  if (EFI_ERROR(Status)) {
    // A driver whose entry fails is unloaded by the firmware itself.
    return;
  }
  NAMED_FUNCTION_PROTOCOL *Protocol = NULL;
  Status = PlatformLocateProtocol(&gNamedFunctionProtocolGuid, (VOID **)&Protocol);
  if (EFI_ERROR(Status) || Protocol == NULL) {
    Say(u"named-function protocol not found: %r\n", Status);
  } else {
    VOID *Entries[ARRAY_SIZE(mEntryNames)];
    if (LookUpEntries(Protocol, Entries)) {
      ((SET_IMAGE_HANDLE)Entries[2])(ImageHandle, 1);
      ((SET_CURRENT_DIRECTORY)Entries[0])(mCurrentDirectory);
      ((SET_SHELL_EXECUTE_CALLBACK)Entries[3])(ShellExecute);
      ((SET_COMMAND_LINE_ARGUMENT)Entries[1])(Argc, mArgv);
      Say(u"current directory %s, program %s\n", mCurrentDirectory, mArgv[0]);
      BOOLEAN Result;
      if (mFirmwareRun) {
        Result = ((UEFI_FLASH_MAIN)Entries[6])();
        Say(u"UefiFlashMain returned %s\n", Result ? u"TRUE" : u"FALSE");
      } else {
        Result = ((SHELL_FLASH_MAIN)Entries[5])();
        Say(u"ShellFlashMain returned %s\n", Result ? u"TRUE" : u"FALSE");
      }
      Result = ((END_PROGRAM)Entries[4])();
      Say(u"EndProgram returned %s\n", Result ? u"TRUE" : u"FALSE");
    }
  }
  Status = gBS->UnloadImage(Driver);
  Say(u"UnloadImage: %r\n", Status);
}

extern "C" EFI_STATUS EFIAPI LauncherEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  PlatformInitialize(ImageHandle, SystemTable);
  // The boot manager's watchdog would reset the machine under a long run.
  gBS->SetWatchdogTimer(0, 0, 0, NULL);
  Say(u"started (%s)\n", sizeof(VOID *) == 4 ? u"IA32" : u"X64");

  EFI_LOADED_IMAGE_PROTOCOL *Self = NULL;
  EFI_STATUS Status = PlatformHandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, (VOID **)&Self);
  if (EFI_ERROR(Status) || Self == NULL) {
    Say(u"no loaded image protocol on the launcher: %r\n", Status);
    ShutDown();
    return Status;
  }
  if (!FilePathDirectory(Self->FilePath, mDirectory, LAUNCHER_PATH_CHARS) ||
      !FilePathName(Self->FilePath, mProgramName, LAUNCHER_PATH_CHARS)) {
    Say(u"the launcher's own file path is unknown; using the volume root\n");
    StrCpyS(mDirectory, LAUNCHER_PATH_CHARS, u"\\");
    StrCpyS(mProgramName, LAUNCHER_PATH_CHARS, u"VyrFFTLauncher.efi");
  }
  UnicodeSPrint(mDriverPath, sizeof(mDriverPath), u"%s%s", mDirectory, DRIVER_FILE_NAME);
  UnicodeSPrint(mArgsPath, sizeof(mArgsPath), u"%s%s", mDirectory, ARGS_FILE_NAME);
  // "fs0:\EFI\BOOT" for \EFI\BOOT\, "fs0:" for the root: the utility reads
  // only what follows the colon.
  UnicodeSPrint(mCurrentDirectory, sizeof(mCurrentDirectory), u"fs0:%s", mDirectory);
  UINTN Length = StrLen(mCurrentDirectory);
  if (Length > 0 && mCurrentDirectory[Length - 1] == u'\\') {
    mCurrentDirectory[Length - 1] = 0;
  }

  if (!CheckDivision()) {
    ShutDown();
    return EFI_ABORTED;
  }
  UINT32 Argc = GatherArguments(Self);
  if (Argc > 1 && StrCmp(mArgv[1], u"--firmware") == 0) {
    mFirmwareRun = TRUE;
    for (UINT32 Index = 1; Index + 1 < Argc; Index++) mArgv[Index] = mArgv[Index + 1];
    Argc--;
  }
  mArgv[Argc] = NULL;
  RunDriver(ImageHandle, Self, Argc);
  ShutDown();
  return EFI_SUCCESS;
}

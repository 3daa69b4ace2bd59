#include "Console/FileAccess.h"

#include "Base/Print.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Guids.h"

FILE_ACCESS_STATE mFileAccess;

#define MAX_DEVICE_PATH_NODES 64

static CONST CHAR16 *LogDirectory(VOID) { return mFileAccess.CurrentDirectory; }

// Constant data only: the image has no start-up code to fill a table.
static CONST LOG_WRITER mLogWriter = {LogDirectory, EfiDeleteFile, EfiAppendFile};

VOID RegisterLogWriter(VOID) { SetLogWriter(&mLogWriter); }

VOID FileAccessResetState(VOID) {
  ZeroMem(&mFileAccess, sizeof(mFileAccess));
  RegisterLogWriter();
}

VOID EFIAPI SetImageHandle(EFI_HANDLE Handle, UINT8 Flag) {
  DebugPrint(2, u"Image Handle: %X\r\n", (UINT32)(UINTN)Handle);
  if (Flag != 0) {
    mFileAccess.LauncherImage = Handle;
  } else {
    mFileAccess.SecondImage = Handle;
  }
}

VOID EFIAPI SetCurrentDirectory(CONST CHAR16 *Path) {
  if (Path == NULL) {
    return;
  }
  CHAR16 Work[SET_DIRECTORY_WORK_CHARS];
  StrCpyS(Work, SET_DIRECTORY_WORK_CHARS, Path);
  CHAR16 *Colon = NULL;
  for (CHAR16 *P = Work; *P != 0; P++) {
    if (*P == u':') {
      Colon = P;
      break;
    }
  }
  if (Colon == NULL) {
    StrCpyS(mFileAccess.CurrentDirectory, CURRENT_DIRECTORY_CHARS, Work);
    return;
  }
  // fs0:\Tools -> .\Tools\   and   fs1: -> .\   (cut at the directory's size)
  UnicodeSPrint(mFileAccess.CurrentDirectory, sizeof(mFileAccess.CurrentDirectory), u".%s\\", Colon + 1);
}

VOID EFIAPI SetShellExecuteCallback(SHELL_EXECUTE_CALLBACK Callback) { mFileAccess.ShellExecute = Callback; }

VOID RunShellCommand(CONST CHAR16 *CommandLine) {
  if (mFileAccess.ShellExecute != NULL) {
    mFileAccess.ShellExecute(CommandLine);
  }
}

static BOOLEAN OpenImageVolume(VOID) {
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = NULL;
  EFI_STATUS Status = PlatformHandleProtocol(mFileAccess.LauncherImage, &gEfiLoadedImageProtocolGuid, (VOID **)&LoadedImage);
  if (EFI_ERROR(Status)) {
    DebugPrint(2, u"HandleProtocol (gEfiLoadedImageProtocolGuid) fail - %r\r\n", Status);
    return FALSE;
  }
  VOID *FileSystem = NULL;
  Status = PlatformHandleProtocol(LoadedImage->DeviceHandle, &gEfiSimpleFileSystemProtocolGuid, &FileSystem);
  if (EFI_ERROR(Status)) {
    DebugPrint(2, u"Open FileSystemProtocol fail - %r\r\n", Status);
    return FALSE;
  }
  PLATFORM_FILE Root = NULL;
  Status = PlatformOpenVolume(FileSystem, &Root);
  if (EFI_ERROR(Status)) {
    DebugPrint(2, u"Open OpenVolume fail - %r\r\n", Status);
    return FALSE;
  }
  mFileAccess.Volume = Root;
  return TRUE;
}

static UINT16 NodeLength(CONST EFI_DEVICE_PATH_PROTOCOL *Node) {
  return (UINT16)(Node->Length[0] | (Node->Length[1] << 8));
}

INTN FindHandleByMessagingSubtype(EFI_HANDLE *Handles, UINTN Count, UINT8 Subtype) {
  for (UINTN Index = 0; Index < Count; Index++) {
    EFI_DEVICE_PATH_PROTOCOL *Node = NULL;
    if (EFI_ERROR(PlatformHandleProtocol(Handles[Index], &gEfiDevicePathProtocolGuid, (VOID **)&Node)) || Node == NULL) {
      continue;
    }
    // A malformed path (node shorter than its header) ends the walk instead of looping on it.
    for (UINTN Nodes = 0; Nodes < MAX_DEVICE_PATH_NODES; Nodes++) {
      DebugPrint(4, u"EFI_DEVICE_PATH Type(%d) SubType(%d) Length[0](%d) Length[1](%d)\r\n", Node->Type, Node->SubType,
                 Node->Length[0], Node->Length[1]);
      if (Node->Type == END_DEVICE_PATH_TYPE && Node->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
        break;
      }
      if (Node->Type == MESSAGING_DEVICE_PATH && Node->SubType == Subtype) {
        return (INTN)Index;
      }
      if (NodeLength(Node) < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
        break;
      }
      Node = (EFI_DEVICE_PATH_PROTOCOL *)((UINT8 *)Node + NodeLength(Node));
    }
  }
  return -1;
}

static VOID SetFileHandle_EFI(VOID) {
  FuncEnter(u"SetFileHandle_EFI");
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(PlatformLocateHandleBuffer(&gEfiSimpleFileSystemProtocolGuid, &Count, &Handles))) {
    FuncExit(u"SetFileHandle_EFI", u"Locate handle buffer failed");
    return;
  }
  INTN Chosen = FindHandleByMessagingSubtype(Handles, Count, MSG_USB_DP);
  if (Chosen < 0) {
    DebugPrint(2, u"Get first specified subtype partition (USB) failed (%d)\r\n", (UINT32)Count);
    if (Count == 0) {
      FreePool(Handles);
      FuncExit(u"SetFileHandle_EFI", u"No file system");
      return;
    }
    Chosen = 0;
  }
  VOID *FileSystem = NULL;
  PLATFORM_FILE Root = NULL;
  if (EFI_ERROR(PlatformHandleProtocol(Handles[Chosen], &gEfiSimpleFileSystemProtocolGuid, &FileSystem))) {
    DebugPrint(2, u" Handle simple file system protocol failed\r\n");
  } else if (EFI_ERROR(PlatformOpenVolume(FileSystem, &Root))) {
    DebugPrint(2, u" Open volume failed\r\n");
  } else {
    mFileAccess.Volume = Root;
    DebugPrint(2, u"SetFileHandle() |set| (%d)\r\n", (UINT32)Count);
  }
  // The handle list is not needed once the root is open.
  FreePool(Handles);
  FuncExit(u"SetFileHandle_EFI", mFileAccess.Volume != NULL ? NULL : u"Open volume failed");
}

PLATFORM_FILE GetFileVolume(VOID) {
  if (mFileAccess.Volume != NULL) {
    return mFileAccess.Volume;
  }
  // The selection traces, and the log writer appends through here: a nested
  // call during the selection gets no volume rather than starting another one.
  if (mFileAccess.Selecting) {
    return NULL;
  }
  mFileAccess.Selecting = TRUE;
  if (mFileAccess.LauncherImage != NULL) {
    OpenImageVolume();
  } else {
    SetFileHandle_EFI();
  }
  mFileAccess.Selecting = FALSE;
  return mFileAccess.Volume;
}

static VOID JoinPath(CHAR16 *Path, CONST CHAR16 *Name) {
  UnicodeSPrint(Path, FILE_PATH_CHARS * sizeof(CHAR16), u"%s%s", mFileAccess.CurrentDirectory, Name);
}

static VOID WritePath(CHAR16 *Path, CONST CHAR16 *Name) {
  if (Name[0] == u'\\') {
    UnicodeSPrint(Path, FILE_PATH_CHARS * sizeof(CHAR16), u"%s", Name);
  } else {
    JoinPath(Path, Name);
  }
}

static PLATFORM_FILE OpenPath(CONST CHAR16 *Path, UINT64 Mode, UINT64 Attributes, EFI_STATUS *StatusOut) {
  PLATFORM_FILE Root = GetFileVolume();
  if (Root == NULL) {
    if (StatusOut != NULL) {
      *StatusOut = EFI_NOT_FOUND;
    }
    return NULL;
  }
  PLATFORM_FILE File = NULL;
  EFI_STATUS Status = PlatformFileOpen(Root, &File, Path, Mode, Attributes);
  if (StatusOut != NULL) {
    *StatusOut = Status;
  }
  return EFI_ERROR(Status) ? NULL : File;
}

BOOLEAN EfiReadFileStatus(CONST CHAR16 *Name, VOID **Buffer, UINT32 *Size, EFI_STATUS *StatusOut) {
  EFI_STATUS Ignored;
  EFI_STATUS *Result = StatusOut != NULL ? StatusOut : &Ignored;
  *Result = EFI_NOT_FOUND;
  if (Name == NULL) {
    *Result = EFI_INVALID_PARAMETER;
    return FALSE;
  }
  if (GetFileVolume() == NULL) {
    return FALSE;
  }
  CHAR16 Path[FILE_PATH_CHARS];
  JoinPath(Path, Name);
  DebugPrint(2, u"Open file [%s]\r\n", Path);
  EFI_STATUS Status;
  PLATFORM_FILE File = OpenPath(Path, EFI_FILE_MODE_READ, 0, &Status);
  if (File == NULL) {
    DebugPrint(2, u"Open file [%s] fail - %r\r\n", Path, Status);
    *Result = Status;
    return FALSE;
  }
  UINT64 FileSize = 0;
  if (EFI_ERROR(PlatformFileSetPosition(File, ~(UINT64)0)) || EFI_ERROR(PlatformFileGetPosition(File, &FileSize)) ||
      EFI_ERROR(PlatformFileSetPosition(File, 0)) || FileSize > 0xFFFFFFFFull) {
    // Sizes travel as 32 bits: a larger file is refused rather than read in part.
    PlatformFileClose(File);
    *Result = EFI_DEVICE_ERROR;
    return FALSE;
  }
  if (Size != NULL) {
    *Size = (UINT32)FileSize;
  }
  *Result = EFI_SUCCESS;
  if (Buffer != NULL) {
    *Buffer = NULL;
    // Filled by the read, or freed.
    UINT8 *Data = (UINT8 *)AllocatePool(FileSize == 0 ? 1 : (UINTN)FileSize);
    if (Data == NULL) {
      *Result = EFI_OUT_OF_RESOURCES;
    } else {
      UINTN ReadSize = (UINTN)FileSize;
      if (FileSize != 0 && (EFI_ERROR(PlatformFileRead(File, &ReadSize, Data)) || ReadSize != FileSize)) {
        FreePool(Data);
        *Result = EFI_DEVICE_ERROR;
      } else {
        *Buffer = Data;
      }
    }
  }
  PlatformFileClose(File);
  return *Result == EFI_SUCCESS;
}

BOOLEAN EfiReadFile(CONST CHAR16 *Name, VOID **Buffer, UINT32 *Size) {
  return EfiReadFileStatus(Name, Buffer, Size, NULL);
}

BOOLEAN EfiFileExists(CONST CHAR16 *Name) { return EfiReadFile(Name, NULL, NULL); }

UINT32 EfiGetFileSize(CONST CHAR16 *Name) {
  UINT32 Size = 0;
  return EfiReadFile(Name, NULL, &Size) ? Size : 0;
}

BOOLEAN EfiWriteFile(CONST CHAR16 *Name, CONST VOID *Buffer, UINT32 Size) {
  if (Name == NULL || (Buffer == NULL && Size != 0)) {
    return FALSE;
  }
  CHAR16 Path[FILE_PATH_CHARS];
  WritePath(Path, Name);
  PLATFORM_FILE File = OpenPath(Path, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0, NULL);
  if (File == NULL) {
    return FALSE;
  }
  BOOLEAN Result = TRUE;
  if (Buffer != NULL) {
    UINTN Written = Size;
    // The file must hold exactly the buffer: an older, longer file loses its tail.
    if (EFI_ERROR(PlatformFileSetPosition(File, 0)) || EFI_ERROR(PlatformFileWrite(File, &Written, Buffer)) ||
        Written != Size || EFI_ERROR(PlatformFileSetSize(File, Size)) || EFI_ERROR(PlatformFileFlush(File))) {
      Result = FALSE;
    }
  }
  // A NULL buffer only probes that the file can be made; an existing file is left as it is.
  PlatformFileClose(File);
  return Result;
}

BOOLEAN EfiCreateFile(CONST CHAR16 *Name, BOOLEAN *Created) {
  *Created = FALSE;
  if (Name == NULL) {
    return FALSE;
  }
  CHAR16 Path[FILE_PATH_CHARS];
  WritePath(Path, Name);
  PLATFORM_FILE Existing = OpenPath(Path, EFI_FILE_MODE_READ, 0, NULL);
  if (Existing != NULL) {
    PlatformFileClose(Existing);
    return TRUE;
  }
  PLATFORM_FILE File = OpenPath(Path, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0, NULL);
  if (File == NULL) {
    return FALSE;
  }
  PlatformFileClose(File);
  *Created = TRUE;
  return TRUE;
}

BOOLEAN EfiAppendFile(CONST CHAR16 *Name, CONST VOID *Buffer, UINT32 Size) {
  if (Name == NULL || (Buffer == NULL && Size != 0)) {
    return FALSE;
  }
  CHAR16 Path[FILE_PATH_CHARS];
  JoinPath(Path, Name);
  PLATFORM_FILE File = OpenPath(Path, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, 0, NULL);
  if (File == NULL) {
    return FALSE;
  }
  UINTN Written = Size;
  BOOLEAN Result = !EFI_ERROR(PlatformFileSetPosition(File, ~(UINT64)0)) &&
                   (Size == 0 || (!EFI_ERROR(PlatformFileWrite(File, &Written, Buffer)) && Written == Size));
  PlatformFileClose(File);
  return Result;
}

static BOOLEAN DeletePath(CONST CHAR16 *Path) {
  DebugPrint(2, u"EfiDeleteFile (%s)\r\n", Path);
  if (GetFileVolume() == NULL) {
    return FALSE;
  }
  PLATFORM_FILE File = OpenPath(Path, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE, 0, NULL);
  if (File == NULL) {
    return TRUE;  // nothing there to delete
  }
  return PlatformFileDelete(File) == EFI_SUCCESS;
}

BOOLEAN EfiDeleteFile(CONST CHAR16 *Name) {
  if (Name == NULL) {
    return FALSE;
  }
  CHAR16 Path[FILE_PATH_CHARS];
  JoinPath(Path, Name);
  return DeletePath(Path);
}

BOOLEAN EfiDeleteWrittenFile(CONST CHAR16 *Name) {
  if (Name == NULL) {
    return FALSE;
  }
  CHAR16 Path[FILE_PATH_CHARS];
  WritePath(Path, Name);
  return DeletePath(Path);
}

BOOLEAN EfiCreateDirectory(CONST CHAR16 *Name) {
  if (Name == NULL) {
    return FALSE;
  }
  CHAR16 Path[FILE_PATH_CHARS];
  WritePath(Path, Name);
  DebugPrint(2, u"  Str - (%s)\r\nmkDir - (%s)\r\n", Name, Path);
  PLATFORM_FILE File =
      OpenPath(Path, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE, EFI_FILE_DIRECTORY, NULL);
  if (File == NULL) {
    DebugPrint(2, u"Create directory |fail| (%s)\n", Name);
    return FALSE;
  }
  PlatformFileClose(File);
  return TRUE;
}

// File and volume access: one volume for the run, a current directory, and
// whole-file operations.
#ifndef VYR_FILE_ACCESS_H_
#define VYR_FILE_ACCESS_H_

#include "NamedFunctionProtocol.h"
#include "Platform.h"

#define CURRENT_DIRECTORY_CHARS 128
#define SET_DIRECTORY_WORK_CHARS 256
#define FILE_PATH_CHARS 512

typedef struct {
  PLATFORM_FILE Volume;        // root of the chosen volume; kept for the run
  BOOLEAN Selecting;           // a selection is running (its traces must not start another)
  EFI_HANDLE LauncherImage;    // SetImageHandle with a non-zero flag
  EFI_HANDLE SecondImage;      // SetImageHandle with a zero flag
  CHAR16 CurrentDirectory[CURRENT_DIRECTORY_CHARS];
  SHELL_EXECUTE_CALLBACK ShellExecute;
} FILE_ACCESS_STATE;

extern FILE_ACCESS_STATE mFileAccess;

// Also registers the log writer.
VOID FileAccessResetState(VOID);
// The trace's log goes through this module's file calls from now on.
VOID RegisterLogWriter(VOID);

VOID EFIAPI SetImageHandle(EFI_HANDLE Handle, UINT8 Flag);
VOID EFIAPI SetCurrentDirectory(CONST CHAR16 *Path);
VOID EFIAPI SetShellExecuteCallback(SHELL_EXECUTE_CALLBACK Callback);

// The chosen volume's root, selecting it first when needed; NULL when none.
PLATFORM_FILE GetFileVolume(VOID);
// Index of the first handle whose device path has a messaging node of Subtype, or -1.
INTN FindHandleByMessagingSubtype(EFI_HANDLE *Handles, UINTN Count, UINT8 Subtype);

MUST_CHECK BOOLEAN EfiReadFile(CONST CHAR16 *Name, VOID **Buffer OPTIONAL, UINT32 *Size OPTIONAL);
// EfiReadFile that tells why it failed: EFI_NOT_FOUND only when there is no
// such file (or no volume), another error when the file is there but could
// not be read whole.
MUST_CHECK BOOLEAN EfiReadFileStatus(CONST CHAR16 *Name, VOID **Buffer OPTIONAL, UINT32 *Size OPTIONAL, EFI_STATUS *Status);
BOOLEAN EfiFileExists(CONST CHAR16 *Name);
UINT32 EfiGetFileSize(CONST CHAR16 *Name);
MUST_CHECK BOOLEAN EfiWriteFile(CONST CHAR16 *Name, CONST VOID *Buffer, UINT32 Size);
// The probe of EfiWriteFile (Name, NULL, 0): makes the file when it is not
// there, and says in *Created whether it was made now.
MUST_CHECK BOOLEAN EfiCreateFile(CONST CHAR16 *Name, BOOLEAN *Created);
// Deletes a file named as EfiWriteFile names it (a leading '\' is the root).
BOOLEAN EfiDeleteWrittenFile(CONST CHAR16 *Name);
MUST_CHECK BOOLEAN EfiAppendFile(CONST CHAR16 *Name, CONST VOID *Buffer, UINT32 Size);
BOOLEAN EfiDeleteFile(CONST CHAR16 *Name);
BOOLEAN EfiCreateDirectory(CONST CHAR16 *Name);
VOID RunShellCommand(CONST CHAR16 *CommandLine);

#endif  // VYR_FILE_ACCESS_H_

// The named-function table and the launcher's set-up state.
#ifndef VYR_NAMED_FUNCTION_H_
#define VYR_NAMED_FUNCTION_H_

#include "NamedFunctionProtocol.h"

#define NAMED_FUNCTION_NAME_CHARS 64

typedef struct {
  CHAR16 Name[NAMED_FUNCTION_NAME_CHARS];
  VOID *Entry;
} NAMED_FUNCTION_ENTRY;

typedef struct {
  UINT32 Argc;     // as registered; the strings stay the launcher's
  CHAR16 **Argv;
  BOOLEAN FirmwareMode;  // set by UefiFlashMain, cleared by ShellFlashMain
} RUN_STATE;

extern RUN_STATE mRun;
extern NAMED_FUNCTION_PROTOCOL mNamedFunctionProtocol;

VOID *EFIAPI GetFunctionByName(CONST CHAR16 *Name);
VOID EFIAPI SetCommandLineArgument(UINT32 Argc, CHAR16 **Argv);

// Registered arguments; NULL past the end.
UINT32 GetArgumentCount(VOID);
CONST CHAR16 *GetArgument(UINT32 Index);

// The main entries and the launcher's last call.
BOOLEAN EFIAPI ShellFlashMain(VOID);
BOOLEAN EFIAPI UefiFlashMain(VOID);
BOOLEAN EFIAPI EndProgram(VOID);

EFI_STATUS EFIAPI NorvelUnload(EFI_HANDLE ImageHandle);

// Returns every module of the utility to its load state (a fresh image).
VOID ResetModuleState(VOID);

#endif  // VYR_NAMED_FUNCTION_H_

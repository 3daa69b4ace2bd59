// Package commands that consume their own arguments before the option words
// are checked: -OemCus VALUE (into the 19h list) and -extrFD [DIRECTORY], and
// the -extrFD extraction itself.
#ifndef VYR_PACKAGE_COMMANDS_H_
#define VYR_PACKAGE_COMMANDS_H_

#include "Base.h"

#define OEM_CUS_VALUE_CHARS 256
#define EXTR_FD_DIRECTORY_CHARS 128

typedef struct {
  BOOLEAN OemCusGiven;
  CHAR16 OemCusValue[OEM_CUS_VALUE_CHARS];
  BOOLEAN ExtrFd;
  CHAR16 ExtrFdDirectory[EXTR_FD_DIRECTORY_CHARS];  // relative to the current directory unless it starts with '\' 
} PACKAGE_COMMANDS_STATE;

extern PACKAGE_COMMANDS_STATE mPackageCommands;

VOID PackageCommandsResetState(VOID);

// Both work on the command line's argument copy (CopyArgumentList) and blank
// the words they consume. OemCusPrePass fails when a -OemCus value is missing,
// lacks the "CUS" prefix or does not fit the 19h list; ExtrFdPrePass never fails.
BOOLEAN OemCusPrePass(VOID);
BOOLEAN ExtrFdPrePass(VOID);

BOOLEAN IsOemCusGiven(VOID);
CONST CHAR16 *GetOemCusValue(VOID);  // NULL when -OemCus was not given
BOOLEAN IsExtrFdSet(VOID);
CONST CHAR16 *GetExtrFdDirectory(VOID);
// Writes every packed BIOS image into the -extrFD directory; TRUE only when
// all of them were written.
BOOLEAN ExecuteExtrFd(VOID);

#endif  // VYR_PACKAGE_COMMANDS_H_

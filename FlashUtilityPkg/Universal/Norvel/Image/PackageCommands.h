// Package commands that consume their own arguments before the option words
// are checked: -OemCus VALUE and -extrFD [DIRECTORY]. The pre-passes only
// record what was asked; the operations that act on it come with the package
// formats and the 19h exchange.
#ifndef VYR_PACKAGE_COMMANDS_H_
#define VYR_PACKAGE_COMMANDS_H_

#include "Base.h"

#define OEM_CUS_VALUE_CHARS 256
#define EXTR_FD_DIRECTORY_CHARS 128

typedef struct {
  BOOLEAN OemCusGiven;
  CHAR16 OemCusValue[OEM_CUS_VALUE_CHARS];
  BOOLEAN ExtrFd;
  CHAR16 ExtrFdDirectory[EXTR_FD_DIRECTORY_CHARS];  // empty: the current directory
} PACKAGE_COMMANDS_STATE;

extern PACKAGE_COMMANDS_STATE mPackageCommands;

VOID PackageCommandsResetState(VOID);

// Both work on the command line's argument copy (CopyArgumentList) and blank
// the words they consume. OemCusPrePass fails when -OemCus has no value or
// the value does not fit; ExtrFdPrePass never fails.
BOOLEAN OemCusPrePass(VOID);
BOOLEAN ExtrFdPrePass(VOID);

BOOLEAN IsOemCusGiven(VOID);
CONST CHAR16 *GetOemCusValue(VOID);  // NULL when -OemCus was not given
BOOLEAN IsExtrFdSet(VOID);
CONST CHAR16 *GetExtrFdDirectory(VOID);  // "" when no directory was given

#endif  // VYR_PACKAGE_COMMANDS_H_

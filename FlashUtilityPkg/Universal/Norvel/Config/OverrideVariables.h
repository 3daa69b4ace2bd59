// The two variables that carry a shell run's settings and options into the
// firmware run that follows a secure update.
#ifndef VYR_OVERRIDE_VARIABLES_H_
#define VYR_OVERRIDE_VARIABLES_H_

#include "Base.h"

#define FLASH_INI_SETTINGS_VARIABLE u"FlashINISettings"
#define FLASH_COMMAND_VARIABLE u"FlashCommand"
#define OVERRIDE_VARIABLE_ATTRIBUTES \
  (EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS)

BOOLEAN ClearOverrideVariable(CONST CHAR16 *Name);
// The caller frees *Buffer.
BOOLEAN GetOverrideVariable(CONST CHAR16 *Name, VOID **Buffer, UINTN *Size);
BOOLEAN SetOverrideVariable(CONST CHAR16 *Name, CONST VOID *Data, UINTN Size);

BOOLEAN ClearIniOverrideVariable(VOID);
BOOLEAN ClearCommandOverrideVariable(VOID);
BOOLEAN GetIniOverrideVariable(VOID);
BOOLEAN GetCommandOverrideVariable(VOID);
// Text NULL and Size 0: the current INI text.
BOOLEAN SetIniOverrideVariable(CONST CHAR8 *Text, UINT32 Size);
// Data NULL and Size 0: the saved command line.
BOOLEAN SetCommandOverrideVariable(CONST CHAR16 *Data, UINT32 Size);

// The INI text as "FlashINISettings" holds it: sections whose names begin with
// an excluded word are left out. Returns the output length; Output has room
// for Size + 1 bytes.
UINT32 FilterOverrideSections(CONST CHAR8 *Text, UINT32 Size, CHAR8 *Output);

#endif  // VYR_OVERRIDE_VARIABLES_H_

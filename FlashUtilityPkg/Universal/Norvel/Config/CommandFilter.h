// The BIOS's command filter: which options the platform allows on the
// command line, and which INI settings it lets the text choose.
#ifndef VYR_COMMAND_FILTER_H_
#define VYR_COMMAND_FILTER_H_

#include "Base.h"

// Every option of OptionString that the filter forbids is refused.
BOOLEAN CommandFilterCheck(CONST CHAR16 *OptionString);
// The INI settings the filter does not let the text choose are set back.
BOOLEAN ChkFilterTblIni(VOID);

#endif  // VYR_COMMAND_FILTER_H_

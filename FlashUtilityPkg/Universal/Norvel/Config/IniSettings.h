// Loading the settings record from the INI text, and its log dump.
#ifndef VYR_INI_SETTINGS_H_
#define VYR_INI_SETTINGS_H_

#include "Base.h"

// Every setting to its built-in default.
VOID InitialIniConfig(VOID);
// Every section reloaded from the current INI text (called by LoadOption):
// clears the read record, loads, and ends the record with "[55AA]".
VOID LoadIniConfig(BOOLEAN MultiFd);
// The whole record to the log at level 4.
VOID DumpIniConfig(VOID);

#endif  // VYR_INI_SETTINGS_H_

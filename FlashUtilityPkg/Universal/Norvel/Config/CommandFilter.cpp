#include "Config/CommandLine.h"

// Placeholder until the command filter lands: nothing is filtered.
BOOLEAN ChkFilterTblIni(VOID) { return TRUE; }

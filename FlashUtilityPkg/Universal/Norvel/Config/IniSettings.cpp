#include "Config/IniSettings.h"

#include "BaseLib.h"

INI_SETTINGS mIniSettings;

// Placeholder until the full settings loaders land: the defaults the built
// parts read.
VOID InitialIniConfig(VOID) {
  ZeroMem(&mIniSettings, sizeof(mIniSettings));
  mIniSettings.Others.SMIErrorRetry = 5;
  mIniSettings.Others.SMIErrorRetryDelay = 100;
}

VOID LoadIniConfig(BOOLEAN MultiFd) { (VOID)MultiFd; }

VOID DumpIniConfig(VOID) {}

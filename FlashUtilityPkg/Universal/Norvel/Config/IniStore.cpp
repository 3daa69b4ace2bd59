#include "Config/IniStore.h"

#include "BaseLib.h"
#include "Console/Trace.h"

// Placeholder until the INI store lands: no text is ever current.
INI_STORE mIniStore;

VOID IniStoreResetState(VOID) { ZeroMem(&mIniStore, sizeof(mIniStore)); }

CONST CHAR16 *GetMessageString(CONST CHAR8 *Key, CONST CHAR16 *Default) {
  (VOID)Key;
  return Default;
}

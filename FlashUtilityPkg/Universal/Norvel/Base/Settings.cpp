#include "Base/Settings.h"

#include "BaseLib.h"

INI_SETTINGS mIniSettings;

VOID SettingsResetState(VOID) { ZeroMem(&mIniSettings, sizeof(mIniSettings)); }

#include "Config/IniSettings.h"

#include "BaseLib.h"

INI_SETTINGS mIniSettings;

VOID InitialIniConfig(VOID) {
  ZeroMem(&mIniSettings, sizeof(mIniSettings));
  mIniSettings.Log_file.Flag = 0;
  mIniSettings.Log_file.Level = 0;
  mIniSettings.Log_file.LogOnScreen = 0;
  mIniSettings.Others.SMIErrorRetry = 5;
  mIniSettings.Others.SMIErrorRetryDelay = 100;
}

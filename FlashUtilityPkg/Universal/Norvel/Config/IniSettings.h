// The settings record of platform.ini. It holds the keys that the built parts
// of the utility read; each section grows as its readers arrive.
#ifndef VYR_INI_SETTINGS_H_
#define VYR_INI_SETTINGS_H_

#include "Base.h"

typedef struct {
  UINT8 Flag;         // 1: trace into the log file
  UINT8 Level;        // 0..4
  UINT8 LogOnScreen;  // 1: every trace message also on the console
} INI_LOG_FILE;

typedef struct {
  UINT32 SMIErrorRetry;       // retries after the first attempt
  UINT32 SMIErrorRetryDelay;  // milliseconds between attempts
} INI_OTHERS;

typedef struct {
  INI_LOG_FILE Log_file;
  INI_OTHERS Others;
} INI_SETTINGS;

extern INI_SETTINGS mIniSettings;

// Resets every setting to its built-in default.
VOID InitialIniConfig(VOID);

#endif  // VYR_INI_SETTINGS_H_

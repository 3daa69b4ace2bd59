// The INI store: the one current platform.ini text, cleaned once when loaded
// and searched as text for every look-up.
#ifndef VYR_INI_STORE_H_
#define VYR_INI_STORE_H_

#include "Base.h"

#define INI_VALUE_SIZE 1024     // scratch value buffer: values hold at most 1023 characters
#define INI_RECORD_STRING_SIZE 4096

typedef struct {
  CHAR8 *Text;     // current text, Length + 1 bytes, zero-terminated
  UINT32 Length;
  CHAR8 *Shadow;   // lower-case copy of the same length
  CHAR8 *Record;   // IniReadRecord: sections, keys, values strings of 4096 bytes each
  BOOLEAN MultiFd; // the load reads [MULTI_FD]
} INI_STORE;

extern INI_STORE mIniStore;

VOID IniStoreResetState(VOID);

// Cleans Text in place (comments, normalisation; *Length updated), installs a
// copy, loads every setting and applies the INI side of the command filter.
BOOLEAN LoadOption(CHAR8 *Text, UINT32 *Length, BOOLEAN MultiFd);
// Adopts Text (ownership passes to the store) and rebuilds the shadow.
BOOLEAN SetIniBuffer(CHAR8 *Text, UINT32 Length);
VOID GetIniBuffer(CHAR8 **Text, UINT32 *Length);

// Value is INI_VALUE_SIZE bytes; set to "" when the key is absent or empty.
BOOLEAN GetProfileString(CONST CHAR8 *Section, CONST CHAR8 *Key, CHAR8 *Value, BOOLEAN Record);
UINT32 GetProfileInt(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT32 Default, BOOLEAN Record);
UINT32 GetProfileHex(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT32 Default, BOOLEAN Record);
BOOLEAN GetProfileBool(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT32 Default, BOOLEAN Record);
BOOLEAN IsSectionPresent(CONST CHAR8 *Section);
BOOLEAN SetProfileString(CONST CHAR8 *Section, CONST CHAR8 *Key, CONST CHAR8 *Value);

// The IniReadRecord: cleared before a settings load, ended with "[55AA]" after it.
VOID IniRecordClear(VOID);
VOID IniRecordFinish(VOID);
// The three record strings (sections, keys, values); NULL before the first load.
CONST CHAR8 *IniRecordString(UINTN Which);

// Hexadecimal and decimal value parsing as the look-ups do it.
UINT32 IniParseDecimal(CONST CHAR8 *Text);
UINT32 IniParseHex(CONST CHAR8 *Text);

#endif  // VYR_INI_STORE_H_

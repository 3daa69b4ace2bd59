// The INI store: the one current platform.ini text, cleaned once when loaded
// and searched as text for every look-up. Nothing is parsed into a tree.
//
// Names passed in (section, key) are never changed: callers pass string
// literals. Every buffer below is a hard limit: longer input is cut or the
// look-up fails, it never runs past a buffer.
#ifndef VYR_INI_STORE_H_
#define VYR_INI_STORE_H_

#include "Base.h"

#define INI_VALUE_SIZE 1024     // scratch value buffer: values hold at most 1023 characters
#define INI_LINE_SIZE 1024      // a key's line, key name included: at most 1023 characters
#define INI_RECORD_STRING_SIZE 4096
#define INI_RECORD_SIZE (3 * INI_RECORD_STRING_SIZE)
#define INI_SECTION_PATTERN_SIZE 128  // "[%a]": section names of at most 125 characters
#define INI_KEY_PATTERN_SIZE 64       // "%a=": key names of at most 62 characters
#define INI_MAX_SECTION_NAME (INI_SECTION_PATTERN_SIZE - 3)
#define INI_MAX_KEY_NAME (INI_KEY_PATTERN_SIZE - 2)

// Which of the three record strings.
#define INI_RECORD_SECTIONS 0
#define INI_RECORD_KEYS 1
#define INI_RECORD_VALUES 2

typedef struct {
  CHAR8 *Text;     // current text; Length bytes are the text (a terminator is not relied on)
  UINT32 Length;
  CHAR8 *Shadow;   // lower-case copy of the same length, plus a terminator
  CHAR8 *Record;   // IniReadRecord: sections, keys, values strings of 4096 bytes each
  BOOLEAN MultiFd; // the load reads [MULTI_FD]
} INI_STORE;

extern INI_STORE mIniStore;

// Frees the text, the shadow and the record: the store's load state.
VOID IniStoreResetState(VOID);

// Adopts Text (ownership passes to the store) and rebuilds the shadow. FALSE
// when the shadow cannot be allocated: then nothing changes and the caller
// still owns Text.
MUST_CHECK BOOLEAN SetIniBuffer(CHAR8 *Text, UINT32 Length);
VOID GetIniBuffer(CHAR8 **Text, UINT32 *Length);

// The two cleaning passes of LoadOption, in place on Length bytes of Text.
// Drops lines whose first byte is ';' (only when there is at least one).
VOID StripCommentLines(CHAR8 *Text, UINT32 *Length);
// Trims blanks at both line ends, squeezes blanks around '=', drops a final
// line without LF.
VOID NormalizeIniLines(CHAR8 *Text, UINT32 *Length);

// Value is INI_VALUE_SIZE bytes; set to "" when the key is absent or empty.
BOOLEAN GetProfileString(CONST CHAR8 *Section, CONST CHAR8 *Key, CHAR8 *Value, BOOLEAN Record);
UINT32 GetProfileInt(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT32 Default, BOOLEAN Record);
UINT32 GetProfileHex(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT32 Default, BOOLEAN Record);
// Only a value (or default) whose leading decimal digits make 1 is TRUE.
BOOLEAN GetProfileBool(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT32 Default, BOOLEAN Record);
BOOLEAN IsSectionPresent(CONST CHAR8 *Section);
// FALSE only when memory runs out (the text is then unchanged).
BOOLEAN SetProfileString(CONST CHAR8 *Section, CONST CHAR8 *Key, CONST CHAR8 *Value);

// [MessageStringTable] Key with \r \n turned into CR LF and the surrounding
// double quotes removed, as a newly allocated string the caller frees; when
// the key is absent (or memory runs out) Default itself, which is not freed.
CONST CHAR16 *GetMessageString(CONST CHAR8 *Key, CONST CHAR16 *Default);

// The IniReadRecord: cleared before a settings load, ended with "[55AA]" after it.
VOID IniRecordClear(VOID);
VOID IniRecordFinish(VOID);
// The three record strings (INI_RECORD_SECTIONS, _KEYS, _VALUES); NULL before the first load.
CONST CHAR8 *IniRecordString(UINTN Which);

// Hexadecimal and decimal value parsing as the look-ups do it.
UINT32 IniParseDecimal(CONST CHAR8 *Text);
UINT32 IniParseHex(CONST CHAR8 *Text);

#endif  // VYR_INI_STORE_H_

// The argument check of the shell flow.
#ifndef VYR_ARGUMENT_CHECK_H_
#define VYR_ARGUMENT_CHECK_H_

#include "Base.h"

// FileName holds FILE_NAME_CHARS, OptionString OPTION_STRING_CHARS characters.
BOOLEAN ArgumentCheck(CHAR16 *FileName, CHAR16 *OptionString);

#endif  // VYR_ARGUMENT_CHECK_H_

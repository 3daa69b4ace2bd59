// Installing an INI text: the store takes it, the settings record is loaded
// from it and the command filter has its say.
#ifndef VYR_INI_LOAD_H_
#define VYR_INI_LOAD_H_

#include "Base.h"

// Cleans Text in place (comments, normalisation; *Length updated), installs a
// copy, loads every setting and applies the INI side of the command filter.
// The caller keeps its text. FALSE when the copy or its shadow could not be
// allocated: then nothing is loaded and the previous text stays current.
MUST_CHECK BOOLEAN LoadOption(CHAR8 *Text, UINT32 *Length, BOOLEAN MultiFd);

#endif  // VYR_INI_LOAD_H_

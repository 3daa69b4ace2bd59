// The -g save of the whole ROM to a file, block by block.
#ifndef VYR_READ_ROM_H_
#define VYR_READ_ROM_H_

#include "Base.h"

// The command -g.
BOOLEAN SaveRomToFile(CONST CHAR16 *FileName);

#endif  // VYR_READ_ROM_H_

// Placeholder until the multi-FD selection lands.
#ifndef VYR_MULTI_FD_H_
#define VYR_MULTI_FD_H_

#include "Base.h"

#define MULTI_FD_NAME_CHARS 39

VOID MultiFdResetState(VOID);
BOOLEAN SelectMultiFd(VOID);
VOID GetMultiFdFileName(CHAR16 *Name, UINTN Chars);

#endif  // VYR_MULTI_FD_H_

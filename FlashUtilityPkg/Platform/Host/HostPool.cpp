// Pool memory of the host backend: the process heap.
#include <cstdlib>

#include "Platform.h"

VOID *PlatformAllocatePool(UINTN Size) { return std::malloc(Size == 0 ? 1 : Size); }

VOID PlatformFreePool(VOID *Buffer) { std::free(Buffer); }

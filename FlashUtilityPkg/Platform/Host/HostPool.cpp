// Pool memory of the host backend: the process heap, with the attached
// machine's pool failures applied.
#include <cstdlib>

#include "HostPlatform.h"
#include "Machine/Machine.h"
#include "Platform.h"

VOID *PlatformAllocatePool(UINTN Size) {
  vyr::emu::Machine *Machine = HostPlatformMachine();
  if (Machine != nullptr && !Machine->PoolAllocationAllowed(Size)) {
    return NULL;
  }
  return std::malloc(Size == 0 ? 1 : Size);
}

VOID PlatformFreePool(VOID *Buffer) { std::free(Buffer); }

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
  VOID *Buffer = std::malloc(Size == 0 ? 1 : Size);
  vyr::emu::AdviseHugePages(Buffer, Size);
  return Buffer;
}

// calloc takes large blocks as fresh zero pages from the kernel: a buffer that
// is never written costs no memory and no time.
VOID *PlatformAllocateZeroPool(UINTN Size) {
  vyr::emu::Machine *Machine = HostPlatformMachine();
  if (Machine != nullptr && !Machine->PoolAllocationAllowed(Size)) {
    return NULL;
  }
  VOID *Buffer = std::calloc(Size == 0 ? 1 : Size, 1);
  vyr::emu::AdviseHugePages(Buffer, Size);
  return Buffer;
}

VOID PlatformFreePool(VOID *Buffer) { std::free(Buffer); }

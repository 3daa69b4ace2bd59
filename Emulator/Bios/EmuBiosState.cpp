#include "Bios/EmuBiosState.h"

#include "Bios/EmuBytes.h"

using namespace emu_bytes;

VOID EmuBiosSetMemory(EMU_BIOS *Bios, EMU_BIOS_READ_PHYSICAL Read, EMU_BIOS_WRITE_PHYSICAL Write, VOID *Context) {
  Bios->Memory.Read = Read;
  Bios->Memory.Write = Write;
  Bios->Memory.Context = Context;
}

VOID EmuBiosRegisterHandler(EMU_BIOS *Bios, UINT8 Function, EMU_BIOS_HANDLER Handler) {
  Bios->Handlers[Function] = Handler;
}

BOOLEAN EmuBiosAddFault(EMU_BIOS *Bios, CONST EMU_BIOS_FAULT *Fault) {
  for (UINTN Index = 0; Index < EMU_BIOS_MAX_FAULTS; Index++) {
    if (!Bios->Faults[Index].InUse) {
      CopyBytes(&Bios->Faults[Index], Fault, sizeof(*Fault));
      Bios->Faults[Index].InUse = TRUE;
      Bios->Faults[Index].Applied = 0;
      return TRUE;
    }
  }
  return FALSE;
}

VOID EmuBiosClearFaults(EMU_BIOS *Bios) { ZeroBytes(Bios->Faults, sizeof(Bios->Faults)); }

BOOLEAN EmuBiosReadPhysical(EMU_BIOS *Bios, UINT64 Address, VOID *Buffer, UINTN Length) {
  if (Bios->Memory.Read == NULL) {
    return FALSE;
  }
  return Bios->Memory.Read(Bios->Memory.Context, Address, Buffer, Length);
}

BOOLEAN EmuBiosWritePhysical(EMU_BIOS *Bios, UINT64 Address, CONST VOID *Buffer, UINTN Length) {
  if (Bios->Memory.Write == NULL) {
    return FALSE;
  }
  return Bios->Memory.Write(Bios->Memory.Context, Address, Buffer, Length);
}

BOOLEAN EmuBiosRecentHookCode(CONST EMU_BIOS *Bios, UINT32 Index, UINT32 *Code) {
  if (Index >= Bios->HookCount || Index >= EMU_BIOS_HOOK_RING_SIZE) {
    return FALSE;
  }
  *Code = Bios->HookCodes[(Bios->HookCount - 1 - Index) % EMU_BIOS_HOOK_RING_SIZE];
  return TRUE;
}

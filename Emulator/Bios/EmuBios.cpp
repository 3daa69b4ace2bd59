#include "Bios/EmuBios.h"

#include "Bios/EmuBytes.h"
#include "Bios/SignedFunctions.h"

namespace {

using namespace emu_bytes;

VOID SetAl(SMI_REGISTERS *Regs, UINT8 Status) { Regs->Eax = (Regs->Eax & 0xFFFFFF00u) | Status; }

// 1Fh: the utility announces a hook point in ECX. Nothing to do but remember it.
UINT8 EmuBiosHookPoint(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  Bios->HookCodes[Bios->HookCount % EMU_BIOS_HOOK_RING_SIZE] = Regs->Ecx;
  Bios->HookCount++;
  return 0;
}

// 16h: the flash-complete request; a reboot is the reset that writes a
// capsule waiting from 48h.
UINT8 EmuBiosFlashComplete(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  UINT8 Status = EmuPlatformFunction16h(Bios, Regs);
  if (Status == 0 && Bios->Completion.Action == EMU_COMPLETION_ACTION_REBOOT) {
    EmuSignedApplyPending(Bios);
  }
  return Status;
}

typedef struct {
  UINT8 Function;
  EMU_BIOS_HANDLER Handler;
} EMU_BIOS_HANDLER_ENTRY;

// The functions this model answers; a new function is one line here.
CONST EMU_BIOS_HANDLER_ENTRY mBuiltinHandlers[] = {
    {0x10, EmuPlatformFunction10h},
    {0x11, EmuPlatformFunction11h},
    {0x12, EmuFlashFunction12h},
    {0x13, EmuFlashFunction13h},
    {0x14, EmuFlashFunction14h},
    {0x15, EmuFlashFunction15h},
    {0x16, EmuBiosFlashComplete},
    {0x17, EmuFlashFunction17h},
    {0x19, EmuChecksFunction19h},
    {0x1A, EmuChecksFunction1Ah},
    {0x1B, EmuChecksFunction1Bh},
    {0x1C, EmuPlatformFunction1Ch},
    {0x1D, EmuChecksFunction1Dh},
    {0x1E, EmuFlashFunction1Eh},
    {0x1F, EmuBiosHookPoint},
    {0x21, EmuChecksFunction21h},
    {0x41, EmuSignedFunction41h},
    {0x42, EmuSignedFunction42h},
    {0x43, EmuChecksFunction43h},
    {0x44, EmuChecksFunction44h},
    {0x45, EmuChecksFunction45h},
    {0x48, EmuSignedFunction48h},
    {0x49, EmuChecksFunction49h},
    {0x4C, EmuSignedFunction4Ch},
};

EMU_BIOS_FAULT *FindFault(EMU_BIOS *Bios, UINT8 Function, UINT32 CallNumber) {
  for (UINTN Index = 0; Index < EMU_BIOS_MAX_FAULTS; Index++) {
    EMU_BIOS_FAULT *Fault = &Bios->Faults[Index];
    if (!Fault->InUse || Fault->Function != Function) {
      continue;
    }
    UINT32 First = Fault->FirstCall == 0 ? 1 : Fault->FirstCall;
    if (CallNumber < First) {
      continue;
    }
    if (Fault->Count != 0 && CallNumber - First >= Fault->Count) {
      continue;
    }
    return Fault;
  }
  return NULL;
}

VOID ApplyFault(EMU_BIOS_FAULT *Fault, SMI_REGISTERS *Regs) {
  Fault->Applied++;
  if ((Fault->ResultMask & EMU_BIOS_FAULT_SET_AH) != 0) {
    Regs->Eax = (Regs->Eax & 0xFFFF00FFu) | (Fault->Result.Eax & 0x0000FF00u);
  }
  if ((Fault->ResultMask & EMU_BIOS_FAULT_SET_ECX) != 0) {
    Regs->Ecx = Fault->Result.Ecx;
  }
  if ((Fault->ResultMask & EMU_BIOS_FAULT_SET_EDX) != 0) {
    Regs->Edx = Fault->Result.Edx;
  }
  if ((Fault->ResultMask & EMU_BIOS_FAULT_SET_ESI) != 0) {
    Regs->Esi = Fault->Result.Esi;
  }
  if ((Fault->ResultMask & EMU_BIOS_FAULT_SET_EDI) != 0) {
    Regs->Edi = Fault->Result.Edi;
  }
  SetAl(Regs, Fault->Status);
}

}  // namespace

VOID EmuBiosInit(EMU_BIOS *Bios) {
  ZeroBytes(Bios, sizeof(*Bios));
  Bios->MainFunction = EMU_BIOS_DEFAULT_MAIN_FUNCTION;
  EmuPlatformInit(&Bios->Platform);
  EmuFlashInit(&Bios->Flash);
  EmuChecksInit(&Bios->Checks);
  EmuSignedInit(&Bios->Signed);
  for (UINTN Index = 0; Index < ARRAY_SIZE(mBuiltinHandlers); Index++) {
    EmuBiosRegisterHandler(Bios, mBuiltinHandlers[Index].Function, mBuiltinHandlers[Index].Handler);
  }
}

VOID EmuBiosHandleSmi(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  if ((UINT8)(Regs->Eax & 0xFF) != Bios->MainFunction) {
    return;  // another SMI source: not ours to answer
  }
  if (Bios->Flash.PoweredOff) {
    Bios->PoweredOffCalls++;
    return;
  }
  if (Regs->Ebx != EMU_BIOS_CALL_SIGNATURE) {
    Bios->BadSignatureCalls++;
    SetAl(Regs, EMU_BIOS_STATUS_BAD_SIGNATURE);
    return;
  }
  UINT8 Function = (UINT8)((Regs->Eax >> 8) & 0xFF);
  Bios->TotalCalls++;
  UINT32 CallNumber = ++Bios->CallCount[Function];
  EMU_BIOS_FAULT *Fault = FindFault(Bios, Function, CallNumber);
  if (Fault != NULL) {
    ApplyFault(Fault, Regs);
    return;
  }
  EMU_BIOS_HANDLER Handler = Bios->Handlers[Function];
  if (Handler == NULL) {
    // AL keeps the main function number: the caller reads it as "not supported".
    Bios->UnhandledCalls++;
    return;
  }
  UINT8 Status = Handler(Bios, Regs);
  SetAl(Regs, Status);
}

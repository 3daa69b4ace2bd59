// The software SMI of the driver's test image (VyrFFT-emu.efi): the register
// image goes to the emulated BIOS driver's protocol instead of the SMI port,
// then the settle loop runs as on hardware. Built into the test image in place
// of Platform/Uefi/SmiTrigger.cpp; never into the production image.
#include "Platform.h"
#include "Uefi/EmulatedSmi.h"

static CONST EFI_GUID mEmulatedSmiGuid = VYR_EMULATED_SMI_PROTOCOL_GUID;

VOID PlatformTriggerSmi(SMI_REGISTERS *Registers, UINT32 SettleCount) {
  if (Registers == NULL) {
    return;
  }
  // Looked up on every call, as cheap as the port write it stands for: no
  // module state to reset between runs. Without the driver nothing answers,
  // like a BIOS without an FWSMI handler.
  VYR_EMULATED_SMI_PROTOCOL *Emulated = NULL;
  if (!EFI_ERROR(PlatformLocateProtocol(&mEmulatedSmiGuid, (VOID **)&Emulated)) && Emulated != NULL &&
      Emulated->Revision == VYR_EMULATED_SMI_REVISION) {
    Emulated->Trigger(Emulated, Registers);
  }
  // The settle loop, counted down in memory as the production trigger does.
  for (volatile UINT32 Count = SettleCount; Count != 0; Count = Count - 1) {
  }
}

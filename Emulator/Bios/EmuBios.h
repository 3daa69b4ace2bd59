// The emulated BIOS's FWSMI dispatch: signature and main-function checks,
// per-function call counters, fault injection and the table that hands each
// function number to its handler. Above the handlers, which sit on the state
// (EmuBiosState.h); this header brings all of them, so a host that drives the
// BIOS needs only this one. Freestanding: a UEFI test driver carries it into
// QEMU.
#ifndef VYR_EMU_BIOS_H_
#define VYR_EMU_BIOS_H_

#include "Base.h"
#include "Bios/CheckFunctions.h"
#include "Bios/EmuBiosState.h"
#include "Bios/FlashFunctions.h"
#include "Bios/PlatformFunctions.h"
#include "SmiRegisters.h"

// "$Vyr" with '$' in the most significant byte.
#define EMU_BIOS_CALL_SIGNATURE 0x24567972u
#define EMU_BIOS_DEFAULT_MAIN_FUNCTION 0xEF
// AL answered to a call whose EBX does not carry the signature.
#define EMU_BIOS_STATUS_BAD_SIGNATURE 0x01

// Zeroes the state, sets the default main function number and registers the
// built-in handlers.
VOID EmuBiosInit(EMU_BIOS *Bios);

// One software SMI written to the command port. Registers are changed in place;
// once the power is cut nothing answers any more.
VOID EmuBiosHandleSmi(EMU_BIOS *Bios, SMI_REGISTERS *Regs);

#endif  // VYR_EMU_BIOS_H_

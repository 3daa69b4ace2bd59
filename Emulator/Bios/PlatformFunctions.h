// The emulated BIOS's platform functions: 10h (tool information in, platform
// status out), 11h (platform information and control switches), 1Ch
// (anti-theft status) and 16h (flash complete: what the platform does next).
// Their answers come from EMU_PLATFORM, which the machine fills from the
// profile. Freestanding, like the BIOS core.
#ifndef VYR_EMU_PLATFORM_FUNCTIONS_H_
#define VYR_EMU_PLATFORM_FUNCTIONS_H_

#include "Bios/EmuBiosState.h"

// The answers of a plain machine: permission 1, interface 0x1504, AC plugged,
// battery full, vendor 0x1234, no BIOS check or command filter, model "VyrPC"
// version "V1.00", switches 0, no anti-theft.
VOID EmuPlatformInit(EMU_PLATFORM *Platform);

// Handlers for the dispatch table (EmuBios.cpp).
UINT8 EmuPlatformFunction10h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuPlatformFunction11h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuPlatformFunction1Ch(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuPlatformFunction16h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);

#endif  // VYR_EMU_PLATFORM_FUNCTIONS_H_

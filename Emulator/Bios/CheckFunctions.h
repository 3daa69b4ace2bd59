// The emulated BIOS's answers to the update flows' checks and notifications:
// 19h (OEM/ODM string exchange), 1Ah (OEM/ODM notifications), 1Bh (skip-model-
// check verify), 1Dh (settings record), 21h (EC part information), 43h
// (password), 44h (common flash), 45h (conditional data) and 49h
// (factory-copy restore); 41h, 48h and 4Ch, which also read EMU_CHECKS, are
// in SignedFunctions. Answers
// come from EMU_CHECKS, which the machine fills from the profile; each handler
// also records what the utility handed in. Freestanding, like the BIOS core.
#ifndef VYR_EMU_CHECK_FUNCTIONS_H_
#define VYR_EMU_CHECK_FUNCTIONS_H_

#include "Bios/EmuBiosState.h"

// A plain machine: 19h answers the empty list, 1Ah/1Bh/1Dh/49h succeed, no
// password, no common flash, no conditional-data check, not secure, not OEM
// secure, no PFAT, one EC part of 128 KiB.
VOID EmuChecksInit(EMU_CHECKS *Checks);

// Writes Count strings as the 19h answer list (each NUL-terminated, then 0xFF).
// FALSE, with the answer left as it was, when they do not fit the 256 bytes.
BOOLEAN EmuChecksSetStringAnswer(EMU_CHECKS *Checks, CONST CHAR8 *CONST *Strings, UINTN Count);

// The i-th most recent 1Ah notification (0 = latest); FALSE when fewer were sent.
BOOLEAN EmuChecksRecentNotification(CONST EMU_CHECKS *Checks, UINT32 Index, EMU_CHECKS_NOTIFICATION *Out);

// EC size index of 21h: 0-5 for 64 KiB to 2 MiB, else 0xFF.
UINT8 EmuChecksEcSizeIndex(UINT32 Size);

// Walks the typed items of a 44h buffer 1 (type, value bytes, 0xFF). Offset
// starts at 0; FALSE at the end (a zero type byte or no room left).
BOOLEAN EmuChecksNextCommonItem(CONST UINT8 *Items, UINTN Size, UINTN *Offset, UINT8 *Type, CONST UINT8 **Value,
                                UINTN *Length);

// Handlers for the dispatch table (EmuBios.cpp).
UINT8 EmuChecksFunction19h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuChecksFunction1Ah(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuChecksFunction1Bh(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuChecksFunction1Dh(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuChecksFunction21h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuChecksFunction43h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuChecksFunction44h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuChecksFunction45h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuChecksFunction49h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);

#endif  // VYR_EMU_CHECK_FUNCTIONS_H_

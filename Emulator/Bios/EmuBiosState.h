// The emulated BIOS's state and what its handlers share: the EMU_BIOS record
// (handler table, exchange-buffer access, counters, faults, hook ring and the
// platform, flash and check parts), its setters, and the physical-memory access
// the handlers use. Below the handlers; the dispatch (EmuBios.h) sits above
// them. Freestanding: a UEFI test driver carries it into QEMU.
#ifndef VYR_EMU_BIOS_STATE_H_
#define VYR_EMU_BIOS_STATE_H_

#include "Base.h"
#include "Bios/CheckState.h"
#include "Bios/FlashState.h"
#include "Bios/PlatformState.h"
#include "Bios/SignedState.h"
#include "SmiRegisters.h"

#define EMU_BIOS_MAX_FAULTS 32
#define EMU_BIOS_HOOK_RING_SIZE 16

// Result registers a fault leaves besides AL (bits of EMU_BIOS_FAULT.ResultMask).
#define EMU_BIOS_FAULT_SET_AH 0x01
#define EMU_BIOS_FAULT_SET_ECX 0x02
#define EMU_BIOS_FAULT_SET_EDX 0x04
#define EMU_BIOS_FAULT_SET_ESI 0x08
#define EMU_BIOS_FAULT_SET_EDI 0x10

typedef struct EMU_BIOS EMU_BIOS;

// Returns the status for AL; may change any other register.
typedef UINT8 (*EMU_BIOS_HANDLER)(EMU_BIOS *Bios, SMI_REGISTERS *Regs);

typedef BOOLEAN (*EMU_BIOS_READ_PHYSICAL)(VOID *Context, UINT64 Address, VOID *Buffer, UINTN Length);
typedef BOOLEAN (*EMU_BIOS_WRITE_PHYSICAL)(VOID *Context, UINT64 Address, CONST VOID *Buffer, UINTN Length);

// How handlers reach the exchange buffers in the machine's physical memory.
typedef struct {
  EMU_BIOS_READ_PHYSICAL Read;
  EMU_BIOS_WRITE_PHYSICAL Write;
  VOID *Context;
} EMU_BIOS_MEMORY;

typedef struct {
  BOOLEAN InUse;
  UINT8 Function;    // AH of the calls it answers
  UINT8 Status;      // AL it answers; the handler is skipped
  UINT8 ResultMask;  // EMU_BIOS_FAULT_SET_* taken from Result
  UINT32 FirstCall;  // 1-based number of the function's first call it answers (0 counts as 1)
  UINT32 Count;      // calls it answers from there; 0 = every later call
  UINT32 Applied;    // calls it has answered so far
  SMI_REGISTERS Result;  // AH is bits 8-15 of Result.Eax
} EMU_BIOS_FAULT;

struct EMU_BIOS {
  UINT8 MainFunction;
  EMU_BIOS_HANDLER Handlers[256];
  EMU_BIOS_MEMORY Memory;
  UINT32 CallCount[256];  // signed calls per function, faulted ones included
  UINT32 TotalCalls;      // signed calls
  UINT32 BadSignatureCalls;
  UINT32 UnhandledCalls;  // signed calls of a function without handler or fault
  EMU_BIOS_FAULT Faults[EMU_BIOS_MAX_FAULTS];
  // Hook points of function 1Fh, oldest overwritten first.
  UINT32 HookCodes[EMU_BIOS_HOOK_RING_SIZE];
  UINT32 HookCount;  // hook notifications received in total
  VOID *Context;     // state of the handlers that later models add
  EMU_PLATFORM Platform;  // answers of 10h, 11h and 1Ch
  EMU_FLASH Flash;        // the flash part: 12h, 13h, 14h, 15h, 17h, 1Eh
  EMU_COMPLETION Completion;  // the flash-complete request of 16h
  EMU_CHECKS Checks;          // 19h, 1Ah, 1Bh, 1Dh, 21h, 43h, 44h, 45h, 49h; the answers of 41h, 48h, 4Ch
  EMU_SIGNED Signed;          // the signed updates: 41h, 42h, 48h, 4Ch and the reset
  // Signed calls that arrived after the power was cut (EMU_FLASH.PoweredOff):
  // they change no register, so AL keeps the main function number.
  UINT32 PoweredOffCalls;
};

VOID EmuBiosSetMemory(EMU_BIOS *Bios, EMU_BIOS_READ_PHYSICAL Read, EMU_BIOS_WRITE_PHYSICAL Write, VOID *Context);
VOID EmuBiosRegisterHandler(EMU_BIOS *Bios, UINT8 Function, EMU_BIOS_HANDLER Handler);
// FALSE when the table is full.
BOOLEAN EmuBiosAddFault(EMU_BIOS *Bios, CONST EMU_BIOS_FAULT *Fault);
VOID EmuBiosClearFaults(EMU_BIOS *Bios);

// Exchange-buffer access for handlers; FALSE when the range is not memory.
BOOLEAN EmuBiosReadPhysical(EMU_BIOS *Bios, UINT64 Address, VOID *Buffer, UINTN Length);
BOOLEAN EmuBiosWritePhysical(EMU_BIOS *Bios, UINT64 Address, CONST VOID *Buffer, UINTN Length);

// The i-th most recent hook code (0 = latest); FALSE when fewer were received.
BOOLEAN EmuBiosRecentHookCode(CONST EMU_BIOS *Bios, UINT32 Index, UINT32 *Code);

#endif  // VYR_EMU_BIOS_STATE_H_

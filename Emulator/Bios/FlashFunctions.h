// The emulated BIOS's flash part: 12h (protected and private regions), 13h
// (flash part information and block map), 14h (read), 15h (write), 17h (flash-descriptor
// regions of the current flash and of a new image) and 1Eh (whole ROM map),
// and the model name and version that 11h reads from the BVDT of the flash
// contents. The contents live behind a pointer the host provides; they are
// mapped at the top of the 4 GiB window. Freestanding, like the BIOS core.
#ifndef VYR_EMU_FLASH_FUNCTIONS_H_
#define VYR_EMU_FLASH_FUNCTIONS_H_

#include "Bios/EmuBiosState.h"

// A plain part: 8 MiB, 128 blocks of 64 KiB, no maps, no contents.
VOID EmuFlashInit(EMU_FLASH *Flash);
// Sets the contents and their size (the ROM window).
VOID EmuFlashSetContents(EMU_FLASH *Flash, UINT8 *Contents, UINT32 Size);
// Base of the ROM window (2^32 - size).
UINT32 EmuFlashBase(CONST EMU_FLASH *Flash);

// The part's cells. Every path of the BIOS that changes flash bytes goes
// through these two, erase first, so the cell model holds for all of them.
//
// TRUE when [Address, Address + Length) is one or more whole blocks of the
// block map, laid from the ROM base upward (the map may mix block sizes; a
// zero-size or 0xFFFF entry ends it, and the blocks must lie in the window).
BOOLEAN EmuFlashIsBlockRange(CONST EMU_FLASH *Flash, UINT64 Address, UINT64 Length);
// Erases the blocks of a block range to 0xFF; FALSE, changing nothing, for a
// range that is not whole blocks.
BOOLEAN EmuFlashErase(EMU_FLASH *Flash, UINT32 Address, UINT32 Length);
// Programs Length bytes at Address (inside the window): stores them, or with
// ProgramClearsBitsOnly ANDs them into what the cells hold. FALSE, changing
// nothing, outside the window.
BOOLEAN EmuFlashProgram(EMU_FLASH *Flash, UINT32 Address, CONST UINT8 *Data, UINT32 Length);

// The model name and version of the BVDT in the contents (8-bit text,
// terminated). FALSE when there are no contents or no complete BVDT.
BOOLEAN EmuFlashBvdtIdentity(CONST EMU_FLASH *Flash, CHAR8 *ModelName, UINTN ModelCapacity, CHAR8 *Version,
                             UINTN VersionCapacity);

// Handlers for the dispatch table (EmuBios.cpp).
UINT8 EmuFlashFunction12h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuFlashFunction13h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuFlashFunction14h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuFlashFunction15h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuFlashFunction17h(EMU_BIOS *Bios, SMI_REGISTERS *Regs);
UINT8 EmuFlashFunction1Eh(EMU_BIOS *Bios, SMI_REGISTERS *Regs);

#endif  // VYR_EMU_FLASH_FUNCTIONS_H_

// What the emulated flash part's operations would cost on a real SPI NOR part
// behind a PC's SPI controller, so a rehearsal tells how long an update takes
// on hardware. The defaults are a W25Q128JV-class 16 MiB part's typical
// figures, read at 48 MHz with the dual-output fast read; the sources and the
// model are in docs/emulated-pc.md. Pure arithmetic, freestanding.
#ifndef VYR_EMU_FLASH_TIMING_H_
#define VYR_EMU_FLASH_TIMING_H_

#include "Base.h"

typedef struct {
  UINT32 BusKHz;            // SPI clock
  UINT8 ReadWidth;          // data lines of the read command: 1, 2 or 4
  UINT8 ReadDummyClocks;    // dummy clocks of the read command
  UINT16 CycleBytes;        // data bytes the controller moves per SPI command (its FIFO)
  UINT32 PageProgramNs;     // tPP, one 256-byte page
  UINT32 SectorEraseUs;     // tSE, 4 KiB
  UINT32 Block32EraseUs;    // tBE1, 32 KiB
  UINT32 Block64EraseUs;    // tBE2, 64 KiB
  UINT32 SmiOverheadNs;     // one software SMI: entry, dispatch and exit, before any flash work
} EMU_FLASH_TIMING;

VOID EmuFlashTimingDefaults(EMU_FLASH_TIMING *Timing);

// Nanoseconds to read Length bytes: one read command (8 clocks), a 24-bit
// address, the dummy clocks and the data for every CycleBytes.
UINT64 EmuFlashReadNs(CONST EMU_FLASH_TIMING *Timing, UINT64 Length);

// Nanoseconds to erase Length bytes at Offset (both on the block map's
// boundaries): the largest erase each aligned piece allows (64 KiB, 32 KiB,
// else 4 KiB sectors; a piece smaller than a sector costs a sector).
UINT64 EmuFlashEraseNs(CONST EMU_FLASH_TIMING *Timing, UINT32 Offset, UINT32 Length);

// Nanoseconds to program Length bytes at Offset: every 256-byte page touched
// costs tPP, and every CycleBytes the page-program command (8 clocks, 24-bit
// address, data on one line).
UINT64 EmuFlashProgramNs(CONST EMU_FLASH_TIMING *Timing, UINT32 Offset, UINT32 Length);

#endif  // VYR_EMU_FLASH_TIMING_H_

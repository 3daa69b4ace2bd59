#include "Bios/FlashTiming.h"

namespace {

// Clock periods at BusKHz as nanoseconds, rounded up.
UINT64 ClocksNs(CONST EMU_FLASH_TIMING *T, UINT64 Clocks) {
  UINT64 KHz = T->BusKHz == 0 ? 1 : T->BusKHz;
  return (Clocks * 1000000ull + KHz - 1) / KHz;
}

UINT64 Commands(CONST EMU_FLASH_TIMING *T, UINT64 Length) {
  UINT64 Cycle = T->CycleBytes == 0 ? 64 : T->CycleBytes;
  return (Length + Cycle - 1) / Cycle;
}

CONST UINT64 kCommandClocks = 8 + 24;  // opcode and 24-bit address

}  // namespace

VOID EmuFlashTimingDefaults(EMU_FLASH_TIMING *Timing) {
  Timing->BusKHz = 48000;
  Timing->ReadWidth = 2;
  Timing->ReadDummyClocks = 8;
  Timing->CycleBytes = 64;
  Timing->PageProgramNs = 400000;
  Timing->SectorEraseUs = 45000;
  Timing->Block32EraseUs = 120000;
  Timing->Block64EraseUs = 150000;
  Timing->SmiOverheadNs = 100000;
}

UINT64 EmuFlashReadNs(CONST EMU_FLASH_TIMING *T, UINT64 Length) {
  if (Length == 0) return 0;
  UINT64 Width = T->ReadWidth == 4 ? 4 : T->ReadWidth == 2 ? 2 : 1;
  UINT64 Clocks = Commands(T, Length) * (kCommandClocks + T->ReadDummyClocks) + (Length * 8 + Width - 1) / Width;
  return ClocksNs(T, Clocks);
}

UINT64 EmuFlashEraseNs(CONST EMU_FLASH_TIMING *T, UINT32 Offset, UINT32 Length) {
  UINT64 Ns = 0;
  UINT64 At = Offset;
  UINT64 End = (UINT64)Offset + Length;
  while (At < End) {
    UINT64 Left = End - At;
    if (At % 0x10000 == 0 && Left >= 0x10000) {
      Ns += (UINT64)T->Block64EraseUs * 1000;
      At += 0x10000;
    } else if (At % 0x8000 == 0 && Left >= 0x8000) {
      Ns += (UINT64)T->Block32EraseUs * 1000;
      At += 0x8000;
    } else {
      Ns += (UINT64)T->SectorEraseUs * 1000;
      At = (At / 0x1000 + 1) * 0x1000;
    }
  }
  return Ns;
}

UINT64 EmuFlashProgramNs(CONST EMU_FLASH_TIMING *T, UINT32 Offset, UINT32 Length) {
  if (Length == 0) return 0;
  UINT64 First = Offset / 256;
  UINT64 Last = ((UINT64)Offset + Length - 1) / 256;
  UINT64 Pages = Last - First + 1;
  return Pages * T->PageProgramNs + ClocksNs(T, Commands(T, Length) * kCommandClocks + (UINT64)Length * 8);
}

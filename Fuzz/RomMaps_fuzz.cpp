// The BIOS's answers about the flash (12h, 13h, 17h, 1Eh) and a new image's
// "$FWSMI" map as arbitrary bytes: whatever they say, the utility must read
// them inside their buffers, never overrun the block table and never set a
// protect flag outside it.
#include <cstdint>
#include <cstring>
#include <vector>

#include "Flash/BlockStatus.h"
#include "Flash/ReadRom.h"
#include "Flash/RomMap.h"
#include "FuzzHarness.h"
#include "Flash/RomAccess.h"
#include "Flash/RomMapListings.h"

namespace {

// Each answer takes a length (two bytes) and that many bytes of the input;
// the rest of its buffer stays zero, as the end of a list. Answers that
// repeat the input over the whole buffer would give every run a full block
// table: the table limits need only one input that asks for them.
UINT8 Answer(EMU_BIOS *Bios, UINT32 Address, size_t Length) {
  static std::vector<uint8_t> Bytes;
  Bytes.assign(Length, 0);
  fuzz::Reader &In = fuzz::AnswerBytes();
  size_t Take = In.U16();
  In.Fill(Bytes.data(), Take < Length ? Take : Length);
  return EmuBiosWritePhysical(Bios, Address, Bytes.data(), Bytes.size()) ? 0 : 0x22;
}

UINT8 Answer12h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  return Answer(Bios, Regs->Edi, ROM_MAP_COPY_SIZE) | Answer(Bios, Regs->Esi, ROM_MAP_COPY_SIZE);
}
UINT8 Answer13h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  return Answer(Bios, Regs->Edi, FLASH_PART_INFO_SIZE) | Answer(Bios, Regs->Esi, BLOCK_MAP_AREA_SIZE);
}
UINT8 Answer17h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) { return Answer(Bios, Regs->Edi, 512); }
UINT8 Answer1Eh(EMU_BIOS *Bios, SMI_REGISTERS *Regs) { return Answer(Bios, Regs->Edi, WHOLE_MAP_BUFFER_SIZE); }

void Ready(vyr::emu::Machine &M) {
  EmuBiosRegisterHandler(&M.Bios(), 0x12, Answer12h);
  EmuBiosRegisterHandler(&M.Bios(), 0x13, Answer13h);
  EmuBiosRegisterHandler(&M.Bios(), 0x17, Answer17h);
  EmuBiosRegisterHandler(&M.Bios(), 0x1E, Answer1Eh);
}

}  // namespace

// Input: a mode byte, the region selection, the answers in call order
// (1Eh, 12h, 13h, 17h ...), and the new image: what is left after them.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(nullptr, Ready);
  // The module's load state, but for the block table: it is kept (zeroed)
  // instead of freed, as a fresh 288 KiB allocation per run costs more than
  // the parse.
  BLOCK_ENTRY *Table = mRomMap.BlockTable;
  ZeroMem(&mRomMap, sizeof(mRomMap));
  if (Table != nullptr) ZeroMem(Table, BLOCK_TABLE_BYTES);
  mRomMap.BlockTable = Table;
  RomAccessResetState();
  BlockStatusResetState();
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  uint8_t Selection = In.U8();
  // No trace is formatted (the unit tests cover the listings; scrolling
  // thousands of rows through the console would cost most of the run). Bit 1
  // turns tracing on, which the block status log needs.
  fuzz::TraceToScreen(false);
  mTrace.DebugFlag = (Mode & 2) != 0 ? 1 : 0;
  mIniSettings.ForceFlash.UseBvdtRomMap = Mode & 1;
  fuzz::Answers() = &In;

  SMI_GetWholeRomMap(nullptr, nullptr);
  SMI_GetPlatformRomMap();
  if (SMI_GetFlashPartInfo()) fuzz::Require(GetBlockCount() <= BLOCK_TABLE_ENTRIES);
  // The image is what the answers left over, in an exact-size copy.
  std::vector<uint8_t> Image = In.Bytes(In.Left() > 0x20000 ? 0x20000 : In.Left());
  GetExternalRegionMap(Image.data(), static_cast<UINT32>(Image.size()));
  ReadBvdtRomMap(Image.data(), static_cast<UINT32>(Image.size()));
  SetRsvd_13h();
  SetRegionReserve(Selection);
  fuzz::Answers() = nullptr;
  // A few groups of the block status log are enough to cover its rows.
  for (UINT32 Index = 0; Index < GetBlockCount() && Index < 512; Index++) {
    fuzz::Require(GetBlockEntry(Index) != nullptr);
    LogBlockStatus(GetBlockEntry(Index)->Address, u'W');
  }
  fuzz::Require(GetBlockEntry(GetBlockCount()) == nullptr);
  TraceRomBlockProtectTable();
  return 0;
}

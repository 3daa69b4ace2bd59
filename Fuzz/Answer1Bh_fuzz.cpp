// The BIOS's 1Bh answers to the 4 KiB blocks of a skip-model-check
// verification, changed by the input: each status decides "next block",
// "passed" or "refused", and no block past the image or the table is sent.
#include <cstdint>
#include <vector>

#include "Flash/RomMap.h"
#include "Flash/SecureCapsule.h"
#include "FuzzHarness.h"

namespace {

uint32_t gImageSize = 0;
uint32_t gLastAddress = 0;
uint32_t gBlocks = 0;

UINT8 (*gReal)(EMU_BIOS *, SMI_REGISTERS *) = nullptr;

// Records what was sent, then the changed answer.
UINT8 Watch1Bh(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  gBlocks++;
  gLastAddress = Regs->Edi;
  return gReal(Bios, Regs);
}

void Ready(vyr::emu::Machine &M) {
  fuzz::Require(SMI_GetFlashPartInfo());  // the block table the blocks are named from
  fuzz::ChangeAnswer(M, 0x1B);
  gReal = M.Bios().Handlers[0x1B];
  EmuBiosRegisterHandler(&M.Bios(), 0x1B, Watch1Bh);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(fuzz::SupportEverything, Ready);
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  fuzz::TraceToScreen((Mode & 7) == 1);
  // An image of up to the ROM size plus a block, in an exact-size copy.
  gImageSize = In.U32() % (GetRomSize() + SKIP_MODEL_CHECK_BLOCK_LENGTH + 1);
  static std::vector<uint8_t> Image;
  Image.assign(gImageSize, 0x5A);
  gBlocks = 0;
  fuzz::Answers() = &In;
  SMI_SkipModelCheckVerify(Image.data(), gImageSize, GetRomSize());
  fuzz::Answers() = nullptr;
  fuzz::TraceToScreen(false);
  fuzz::Require(gBlocks <= gImageSize / SKIP_MODEL_CHECK_BLOCK_LENGTH);
  fuzz::Require(gBlocks <= GetRomSize() / SKIP_MODEL_CHECK_BLOCK_LENGTH);
  return 0;
}

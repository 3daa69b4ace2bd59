// A new FD image in the block writer's first stage: the BIOS-region-only
// test, the size checks and the placement of a region image (with an EC
// part split off its front), the whole-ROM copy, and the search for the
// "$BVDT" block in the flash. Whatever the image's size and records say,
// nothing is copied outside the working image or the EC buffer.
//
// Input: a mode byte (bit 1: the EC part is allowed), the region selection, the image size (4 bytes), then
// the image's bytes (the rest of the image is zero). The same bytes also go
// into the flash's BVDT region, which the search reads.
#include <cstdint>
#include <cstring>
#include <vector>

#include "Flash/BlockFlash.h"
#include "Flash/EcUpdate.h"
#include "Flash/ReadRom.h"
#include "Flash/RomMap.h"
#include "FuzzHarness.h"
#include "Startup.h"
#include "Flash/RomAccess.h"

namespace {

// A 64 KiB part: the image searches run over the whole image, twice.
constexpr uint32_t kRomSize = 0x10000;
constexpr uint32_t kRomBase = 0xFFFF0000u;
constexpr uint32_t kBvdtOffset = 0x8000;
// One 4 KiB BVDT region: the search compares at every offset of it.
constexpr uint32_t kBvdtSize = 0x1000;

void Edit(vyr::emu::Profile &P) {
  fuzz::SupportEverything(P);
  P.Flash.Size = kRomSize;
  P.Checks.EcPartSizes = {0x8000, 0x4000};
  // Descriptor, ME and BIOS regions, and a BVDT region the whole map names.
  P.Flash.ExternalRegions = {{0x00, 0x0000, 0x1000, 0}, {0x02, 0x1000, 0x7000, 0}, {0x01, 0x8000, 0x8000, 0}};
  P.Flash.WholeMap = {{0x0A, kRomBase + kBvdtOffset, kBvdtSize, 0}};
}

void Ready(vyr::emu::Machine &M) {
  FreePool(mEcUpdate.ImageBuffer);
  mEcUpdate.ImageBuffer = static_cast<UINT8 *>(AllocateZeroPool(EC_IMAGE_BUFFER_SIZE));
  fuzz::Require(mEcUpdate.ImageBuffer != nullptr);
}

void ResetWriter() {
  // The ROM map's load state, keeping the block table (zeroed) instead of a
  // fresh 288 KiB allocation per run.
  BLOCK_ENTRY *Table = mRomMap.BlockTable;
  ZeroMem(&mRomMap, sizeof(mRomMap));
  if (Table != nullptr) ZeroMem(Table, BLOCK_TABLE_BYTES);
  mRomMap.BlockTable = Table;
  RomAccessResetState();
  BlockFlashResetState();
  EcUpdateResetState();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  vyr::emu::Machine &M = fuzz::SharedMachine(Edit, Ready);
  ResetWriter();
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  // No trace is formatted: inputs that format them find new coverage in the
  // formatter and would fill the corpus with runs ten times slower.
  fuzz::TraceToScreen(false);
  SetCapsuleEcRecord((Mode & 2) != 0);
  SetRegionSelection(In.U8() & 0x3F);
  // Up to the ROM size with an EC part of up to 64 KiB in front (the EC
  // parts hold 48 KiB): the tag searches run over the whole image.
  uint32_t ImageSize = In.U32() % (kRomSize + 0x10000 + 1);
  std::vector<uint8_t> Image = In.Rest();
  Image.resize(ImageSize, 0);  // exact size: reads past it are caught
  std::vector<uint8_t> &Flash = M.FlashContents();
  uint32_t Copied = ImageSize < kBvdtSize ? ImageSize : kBvdtSize;
  if (Copied != 0) std::memcpy(Flash.data() + kBvdtOffset, Image.data(), Copied);
  std::memset(Flash.data() + kBvdtOffset + Copied, 0xFF, kBvdtSize - Copied);

  if (SMI_GetFlashPartInfo()) {
    fuzz::Require(GetRomSize() == kRomSize);
    IsBiosRegionOnlyImg(Image.data(), ImageSize);
    static std::vector<uint8_t> Working;
    Working.assign(kRomSize + WORKING_IMAGE_EXTRA, 0);
    if (GetRegionSelection() != 0 || ImageSize < kRomSize) GetExternalRegionMap(Image.data(), ImageSize);
    BOOLEAN Staged = ImageSize < kRomSize ? FuncSize_region(Working.data(), Image.data(), ImageSize)
                                          : FuncSize_entire(Working.data(), Image.data(), ImageSize);
    // An EC part is a piece of the image's front, kept whole or not at all.
    fuzz::Require(GetEcImageSize() <= ImageSize && GetEcImageSize() <= EC_IMAGE_MAX_SIZE);
    if (Staged && ImageSize >= kRomSize) {
      fuzz::Require(std::memcmp(Working.data(), Image.data() + ImageSize - kRomSize, kRomSize) == 0);
    }
    UINT32 Address = 0;
    UINT32 Length = 0;
    if (FindBvdtBlock(&Address, &Length)) {
      fuzz::Require(Address == kRomBase + kBvdtOffset && Length == kBvdtSize);
      fuzz::Require(FindBytes(Flash.data() + kBvdtOffset, kBvdtSize, "$BVDT", 5) >= 0);
    }
  }
  fuzz::TraceToScreen(false);
  return 0;
}

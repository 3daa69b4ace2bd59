// The emulated signing BIOS's checks of what a utility hands it: a secure
// capsule (its signature, capsule signature, records and their sizes) and
// an RBU image (header, "$BIS" block, window, checksums, signature record),
// over a 1 MiB part with a BIOS region. Every read must stay inside the
// image, whatever its sizes and offsets say.
//
// Input: the image itself, checked as both kinds.
#include <cstdint>
#include <cstring>
#include <vector>

#include "Bios/FlashFunctions.h"
#include "Bios/SignedFunctions.h"

namespace {

struct Bios {
  Bios() : Contents(0x100000, 0xFF) {
    EmuFlashInit(&Flash);
    Flash.BlockMap[0] = {0x100, 16};
    Flash.BlockMapCount = 1;
    Flash.External[0] = {1, 0x80000, 0x80000, 0};
    Flash.ExternalCount = 1;
    EmuFlashSetContents(&Flash, Contents.data(), uint32_t(Contents.size()));
    EmuSignedInit(&Signed);
    // Any odd 2048-bit modulus: the check runs to its end.
    std::memset(Signed.PublicKey, 0xC5, sizeof(Signed.PublicKey));
    Signed.PublicKey[0] = 0xE1;
    Signed.PublicKey[EMU_RSA_KEY_SIZE - 1] = 0x01;
    Signed.HasKey = TRUE;
  }
  std::vector<uint8_t> Contents;
  EMU_FLASH Flash;
  EMU_SIGNED Signed;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static Bios B;
  if (Size > 0x200000) return 0;
  // A copy of exactly the input's size, so that any overrun is seen.
  std::vector<uint8_t> Image(Data, Data + Size);
  EMU_CAPSULE_LAYOUT Layout;
  if (EmuSignedCheckCapsule(&B.Signed, &B.Flash, Image.data(), uint32_t(Size), &Layout) == 0) {
    __builtin_trap();  // nothing unsigned may pass
  }
  UINT32 Start = 0, Window = 0;
  BOOLEAN Authentic = FALSE;
  if (EmuSignedCheckRbu(&B.Signed, &B.Flash, Image.data(), uint32_t(Size), &Start, &Window, &Authentic) == 0) {
    if (uint64_t(Start) + Window + 8 > Size || Authentic) __builtin_trap();
  }
  return 0;
}

// The value of -e:Offset,Size,Address as arbitrary text, checked against a
// file of a size from the input, then written: the fields must parse without
// reading past the text, and the write must take only bytes of the file and
// never run past 4 GiB.
//
// Input: a mode byte, the file size (4 bytes), then the option's text (one
// character per byte; 01h takes the next two bytes as one wide character).
#include <cstdint>
#include <string>
#include <vector>

#include "Flash/BlockFlash.h"
#include "Flash/RomMap.h"
#include "FuzzHarness.h"

namespace {

void Ready(vyr::emu::Machine &M) { fuzz::Require(SMI_GetFlashPartInfo()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine(nullptr, Ready);
  BlockFlashResetState();
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  fuzz::TraceToScreen((Mode & 7) == 1);
  uint32_t FileSize = In.U32() % 0x50001;
  std::u16string Text;
  while (In.Left() != 0) {
    uint8_t Byte = In.U8();
    Text.push_back(Byte == 0x01 ? char16_t(In.U16()) : char16_t(Byte));
  }
  // An exact-size copy of the text with its terminator.
  std::vector<CHAR16> Value(Text.begin(), Text.end());
  Value.push_back(0);

  if (ParseCommand_e(Value.data())) {
    fuzz::Require(mBlockFlash.CommandE.Given == 1);
    if (IsValidCommand_e(FileSize)) {
      const COMMAND_E_ARGS &Args = mBlockFlash.CommandE;
      fuzz::Require(static_cast<uint64_t>(Args.Offset) + Args.Size <= FileSize);
      fuzz::Require(static_cast<uint64_t>(Args.Address) + Args.Size <= 0x100000000ull);
      fuzz::Require(Args.Address >= GetRomBase());
      // Writing costs a compare, a write and a verify per block: one input in four.
      if ((Mode & 6) == 6) {
        std::vector<uint8_t> File(FileSize, 0xA5);
        WriteCommand_e(File.data(), FileSize);
      }
    }
  } else {
    fuzz::Require(mBlockFlash.CommandE.Given == 0);
  }
  fuzz::TraceToScreen(false);
  return 0;
}

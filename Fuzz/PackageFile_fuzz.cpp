// A shell package as arbitrary bytes: whatever its headers, offsets, counts
// and names claim, the reader must stay inside the file, hand out names that
// are terminated, and data ranges that lie inside the file.
#include <cstdint>
#include <cstring>
#include <vector>

#include "BaseLib.h"
#include "FuzzHarness.h"
#include "Image/Package.h"

namespace {

uint32_t Touch(const std::vector<uint8_t> &File, uint32_t Start, uint32_t Size) {
  fuzz::Require((uint64_t)Start + Size <= File.size());
  uint32_t Sum = 0;
  for (uint32_t I = 0; I < Size; I++) Sum += File[Start + I];
  return Sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  // An exact-size copy, so that any read past the end is caught.
  std::vector<uint8_t> File(Data, Data + Size);
  const uint8_t *Bytes = File.data();
  const uint32_t Length = (uint32_t)File.size();
  uint32_t Sum = 0;
  UINT8 Count = 0;
  CHAR8 First[PACK_NAME_FIELD];
  const CHAR16 *Problem = nullptr;
  if (GetExtraPack(Bytes, Length, &Count, First, &Problem)) {
    fuzz::Require(AsciiStrnLenS(First, PACK_NAME_FIELD) < PACK_NAME_FIELD);
  }
  // Every index the count names, one past it, and always the first three.
  const uint32_t Last = Count > 2 ? (Count < 100 ? Count : 100) : 2;
  for (uint32_t Index = 0; Index <= Last; Index++) {
    PACKED_IMAGE Image;
    if (GetPackedImage(Bytes, Length, Index, &Image, &Problem) == PackedImageFound) {
      fuzz::Require(AsciiStrnLenS(Image.Name, PACK_NAME_FIELD) < PACK_NAME_FIELD);
      Sum += Touch(File, Image.Start, Image.Size);
    }
  }
  static const char *const kNames[] = {"FwUpdLcl.efi", "me.bin", ""};
  for (const char *Name : kNames) {
    UINT32 Start = 0, DataSize = 0;
    if (FindResourceRecord(Bytes, Length, Name, &Start, &DataSize)) Sum += Touch(File, Start, DataSize);
  }
  if (Sum == 0xFFFFFFFFu) std::memset(File.data(), 0, File.size());
  return 0;
}

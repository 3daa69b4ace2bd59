// A driver file as the emulated PC's loader reads it: the PE parser must
// refuse a malformed image with PeError, and an image it accepts must map
// into SizeOfImage bytes taking only bytes of the file.
#include <cstdint>
#include <vector>

#include "FuzzHarness.h"
#include "Machine/PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  std::vector<uint8_t> File(Data, Data + Size);  // exact size: reads past it are caught
  vyr::emu::PeInfo Info;
  try {
    Info = vyr::emu::ParsePe(File.data(), File.size());
  } catch (const vyr::emu::PeError &) {
    return 0;
  }
  fuzz::Require(Info.SizeOfHeaders <= Info.SizeOfImage || Info.SizeOfImage == 0);
  if (Info.SizeOfImage > (64u << 20)) return 0;  // the loader's pages, not the parser, limit this
  std::vector<uint8_t> Image(Info.SizeOfImage, 0);
  try {
    vyr::emu::MapPe(Info, File.data(), File.size(), Image.data());
  } catch (const vyr::emu::PeError &) {
  }
  return 0;
}

// A driver image as vyrpack reads it before appending payload records: the
// PE parser must refuse a malformed file with PeError, every section it
// reports must lie in the file, and the loader's view must be SizeOfImage
// bytes.
#include <cstdint>
#include <vector>

#include "FuzzHarness.h"
#include "vyrpack/PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  vyr::pack::Bytes File(Data, Data + Size);
  vyr::pack::PeInfo Info;
  try {
    Info = vyr::pack::ParsePe(File);
  } catch (const vyr::pack::PeError &) {
    return 0;
  }
  fuzz::Require(Info.sectionTableOffset + 40 * Info.sections.size() <= File.size());
  for (const vyr::pack::PeSection &Section : Info.sections) {
    fuzz::Require(Section.headerOffset + 40 <= File.size());
  }
  if (Info.sizeOfImage > (64u << 20)) return 0;
  try {
    vyr::pack::Bytes Mapped = vyr::pack::MapImage(File, Info);
    fuzz::Require(Mapped.size() == Info.sizeOfImage);
  } catch (const vyr::pack::PeError &) {
  }
  return 0;
}

// vyrpack's side of PE images: the stub driver image and the builder behind it,
// and the packager's reading and mapping of an image, which go through the
// emulator's PE reader (Machine/PeImage.h). A malformed file raises PeError
// with a message meant for the user.
#ifndef VYRPACK_PE_IMAGE_H_
#define VYRPACK_PE_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Machine/PeImage.h"

namespace vyr::pack {

using Bytes = std::vector<uint8_t>;

using PeError = emu::PeError;
using PeSection = emu::PeSectionHeader;
using PeInfo = emu::PeHeaders;
using emu::Hex32;
using emu::kMagicPe32;
using emu::kMagicPe32Plus;

enum class Arch { Ia32, X64 };

constexpr uint16_t kMachineIa32 = 0x014C;
constexpr uint16_t kMachineX64 = 0x8664;
constexpr uint16_t kSubsystemEfiBootServiceDriver = 11;
constexpr uint32_t kScnCntInitializedData = 0x00000040;

// Parses the headers and section table as the packager reads them
// (emu::PeReader::Packager); throws PeError when anything is missing, out of
// range or inconsistent.
PeInfo ParsePe(const Bytes& file);

struct SectionLayout {
  std::string name;
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t pointerToRawData = 0;  // ignored when raw is empty (then 0)
  Bytes raw;                      // padded with zeros to FileAlignment
  uint32_t characteristics = 0xC0000000 | kScnCntInitializedData;
};

struct ImageLayout {
  Arch arch = Arch::Ia32;
  uint32_t fileAlignment = 0x20;
  uint32_t sectionAlignment = 0x20;
  uint32_t sizeOfHeaders = 0;  // 0: the headers rounded up to FileAlignment
  uint16_t subsystem = kSubsystemEfiBootServiceDriver;
  std::vector<SectionLayout> sections;
};

// Lays out an EFI image from the given sections (file positions as given, gaps
// zero-filled); SizeOfImage covers the highest section. No code, entry point 0.
Bytes BuildPeImage(const ImageLayout& layout);

// A minimal EFI boot-service driver image with one ".data" section holding a
// marker text. File and section alignment are both 0x20, so each section sits
// at the same offset in the file and in memory. It is never executed (entry
// point 0): it stands in for the driver file that carries the payload records.
Bytes BuildStubDriverImage(Arch arch);

// The stub's marker text for the given architecture (without terminator).
std::string StubMarkerText(Arch arch);

// The image as a loader lays it out in memory: SizeOfImage bytes, headers at
// 0, each section's initialised bytes at its VirtualAddress, zeros elsewhere.
Bytes MapImage(const Bytes& file, const PeInfo& info);

std::string MachineName(uint16_t machine);
std::string SubsystemName(uint16_t subsystem);

// Little-endian helpers with bounds checks (throw PeError when out of range).
uint16_t ReadU16(const Bytes& b, size_t offset);
uint32_t ReadU32(const Bytes& b, size_t offset);
uint64_t ReadU64(const Bytes& b, size_t offset);
void WriteU16(Bytes& b, size_t offset, uint16_t value);
void WriteU32(Bytes& b, size_t offset, uint32_t value);
void WriteU64(Bytes& b, size_t offset, uint64_t value);

constexpr uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

}  // namespace vyr::pack

#endif  // VYRPACK_PE_IMAGE_H_

// The one PE32 / PE32+ reader: the emulated firmware's loader and vyrpack both
// read images through it. Every read is bounds-checked; a malformed file
// raises PeError naming what is wrong. The loader then places the image in
// memory the way the firmware's loader does (headers and sections; no
// relocation, nothing executed).
#ifndef VYR_EMU_PE_IMAGE_H_
#define VYR_EMU_PE_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vyr::emu {

struct PeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kPe32FixedSize = 96;  // optional header up to the data directories
constexpr size_t kPe32PlusFixedSize = 112;
constexpr uint16_t kMagicPe32 = 0x010B;
constexpr uint16_t kMagicPe32Plus = 0x020B;

struct PeSectionHeader {
  std::string name;  // up to 8 characters, NULs stripped
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t sizeOfRawData = 0;
  uint32_t pointerToRawData = 0;
  uint32_t characteristics = 0;
  size_t headerOffset = 0;  // file offset of this section's 40-byte header

  // The size the loader gives the section (old linkers leave VirtualSize 0).
  uint32_t LoadedSize() const { return virtualSize != 0 ? virtualSize : sizeOfRawData; }
};

// Everything the headers say, with where the fields that vyrpack rewrites lie.
struct PeHeaders {
  uint32_t peOffset = 0;  // e_lfanew
  uint16_t machine = 0;
  uint16_t sizeOfOptionalHeader = 0;
  size_t optionalHeaderOffset = 0;
  uint16_t magic = 0;
  uint32_t entryPoint = 0;
  uint64_t imageBase = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfImage = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t checkSum = 0;
  uint16_t subsystem = 0;
  uint16_t dllCharacteristics = 0;
  uint32_t numberOfRvaAndSizes = 0;
  uint32_t certificateTableOffset = 0;  // data directory 4: a file offset, not an RVA
  uint32_t certificateTableSize = 0;
  uint32_t pointerToSymbolTable = 0;
  size_t sectionTableOffset = 0;
  std::vector<PeSectionHeader> sections;

  bool IsPe32Plus() const { return magic == kMagicPe32Plus; }
  // Offsets of header fields that the packager rewrites.
  size_t SizeOfInitializedDataOffset() const { return optionalHeaderOffset + 8; }
  size_t SizeOfImageOffset() const { return optionalHeaderOffset + 56; }
  size_t CheckSumOffset() const { return optionalHeaderOffset + 64; }
};

// Who reads the image. Both refuse the same faults, each in the words its own
// user has always seen (the loader's go to vyrfft's log, the packager's to the
// person packing), and each also checks what only it relies on: the loader an
// image it can allocate and fill, the packager the header fields it rewrites
// (alignments, data directories, headers covering the section table).
enum class PeReader { Loader, Packager };

// Parses the headers and section table; throws PeError when anything is
// missing, out of range or inconsistent for that reader.
PeHeaders ReadPeHeaders(const uint8_t *Data, size_t Size, PeReader Reader);

// Copies headers and sections into Image (SizeOfImage bytes, zero-filled by the
// caller): each section's initialised bytes at its VirtualAddress. The loader
// also zeroes the rest of each section's VirtualSize, as firmware does; that
// shows only where sections overlap, and there the packager keeps what an
// earlier section put.
void MapPeImage(const PeHeaders &Headers, const uint8_t *Data, size_t Size, uint8_t *Image, PeReader Reader);

// Little-endian reads with the reader's bounds check (PeError when out of range).
void RequireRange(size_t DataSize, size_t Offset, size_t Length);
uint16_t ReadLe16(const uint8_t *Data, size_t Size, size_t Offset);
uint32_t ReadLe32(const uint8_t *Data, size_t Size, size_t Offset);
uint64_t ReadLe64(const uint8_t *Data, size_t Size, size_t Offset);

std::string Hex32(uint64_t Value);  // "0x0000ABCD" style, at least 8 digits

// What the firmware loader needs of an image.
struct PeSection {
  std::string Name;
  uint32_t VirtualAddress = 0;
  uint32_t VirtualSize = 0;
  uint32_t RawOffset = 0;
  uint32_t RawSize = 0;
};

struct PeInfo {
  bool Pe32Plus = false;
  uint16_t Machine = 0;
  uint16_t Subsystem = 0;
  uint32_t EntryPoint = 0;
  uint32_t SizeOfImage = 0;
  uint32_t SizeOfHeaders = 0;
  std::vector<PeSection> Sections;
  PeHeaders Headers;  // what MapPe lays out
};

// The loader's reading (PeReader::Loader). Throws PeError naming what is wrong.
PeInfo ParsePe(const uint8_t *Data, size_t Size);
// Copies headers and sections into Image (SizeOfImage bytes, zero-filled by the caller).
void MapPe(const PeInfo &Info, const uint8_t *Data, size_t Size, uint8_t *Image);

}  // namespace vyr::emu

#endif  // VYR_EMU_PE_IMAGE_H_

#include "vyrpack/PeImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vyr::pack {

namespace {

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kPe32FixedSize = 96;       // optional header up to the data directories
constexpr size_t kPe32PlusFixedSize = 112;
constexpr size_t kDataDirectoryCount = 16;
constexpr uint32_t kCertificateDirectory = 4;
// Mapping an image allocates SizeOfImage bytes; a driver is far below this.
constexpr uint32_t kMaxMappedImage = 512u * 1024 * 1024;

void RequireRange(const Bytes& b, size_t offset, size_t size) {
  if (offset > b.size() || size > b.size() - offset) {
    throw PeError("read of " + std::to_string(size) + " bytes at " + Hex32(offset) +
                  " runs past the end of the data (" + Hex32(b.size()) + " bytes)");
  }
}

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

std::string Hex32(uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(value));
  return buf;
}

uint16_t ReadU16(const Bytes& b, size_t offset) {
  RequireRange(b, offset, 2);
  return static_cast<uint16_t>(b[offset] | (b[offset + 1] << 8));
}

uint32_t ReadU32(const Bytes& b, size_t offset) {
  RequireRange(b, offset, 4);
  return static_cast<uint32_t>(b[offset]) | (static_cast<uint32_t>(b[offset + 1]) << 8) |
         (static_cast<uint32_t>(b[offset + 2]) << 16) | (static_cast<uint32_t>(b[offset + 3]) << 24);
}

uint64_t ReadU64(const Bytes& b, size_t offset) {
  return ReadU32(b, offset) | (static_cast<uint64_t>(ReadU32(b, offset + 4)) << 32);
}

void WriteU16(Bytes& b, size_t offset, uint16_t value) {
  RequireRange(b, offset, 2);
  b[offset] = static_cast<uint8_t>(value);
  b[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void WriteU32(Bytes& b, size_t offset, uint32_t value) {
  RequireRange(b, offset, 4);
  for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void WriteU64(Bytes& b, size_t offset, uint64_t value) {
  WriteU32(b, offset, static_cast<uint32_t>(value));
  WriteU32(b, offset + 4, static_cast<uint32_t>(value >> 32));
}

PeInfo ParsePe(const Bytes& file) {
  PeInfo info;
  if (file.size() < kDosHeaderSize) {
    throw PeError("not a PE image: " + std::to_string(file.size()) +
                  " bytes is too small for a DOS header");
  }
  if (file[0] != 'M' || file[1] != 'Z') throw PeError("not a PE image: no 'MZ' DOS signature");

  info.peOffset = ReadU32(file, 0x3C);
  const uint64_t coffEnd = uint64_t{info.peOffset} + 4 + kCoffHeaderSize;
  if (coffEnd > file.size()) {
    throw PeError("truncated PE image: the PE header at e_lfanew " + Hex32(info.peOffset) +
                  " lies past the end of the file (" + Hex32(file.size()) + " bytes)");
  }
  if (std::memcmp(&file[info.peOffset], "PE\0\0", 4) != 0) {
    throw PeError("not a PE image: no \"PE\\0\\0\" signature at " + Hex32(info.peOffset));
  }

  const size_t coff = info.peOffset + 4;
  info.machine = ReadU16(file, coff);
  const uint16_t numberOfSections = ReadU16(file, coff + 2);
  info.pointerToSymbolTable = ReadU32(file, coff + 8);
  info.sizeOfOptionalHeader = ReadU16(file, coff + 16);
  info.optionalHeaderOffset = coff + kCoffHeaderSize;

  const size_t opt = info.optionalHeaderOffset;
  if (info.sizeOfOptionalHeader < 2 || uint64_t{opt} + info.sizeOfOptionalHeader > file.size()) {
    throw PeError("truncated PE image: the optional header (" +
                  std::to_string(info.sizeOfOptionalHeader) + " bytes at " + Hex32(opt) +
                  ") runs past the end of the file");
  }
  info.magic = ReadU16(file, opt);
  size_t fixedSize = 0;
  if (info.magic == kMagicPe32) {
    fixedSize = kPe32FixedSize;
  } else if (info.magic == kMagicPe32Plus) {
    fixedSize = kPe32PlusFixedSize;
  } else {
    throw PeError("unsupported optional header magic " + Hex32(info.magic) +
                  " (expected 0x10B for PE32 or 0x20B for PE32+)");
  }
  if (info.sizeOfOptionalHeader < fixedSize) {
    throw PeError("optional header too small: SizeOfOptionalHeader " +
                  std::to_string(info.sizeOfOptionalHeader) + ", at least " +
                  std::to_string(fixedSize) + " needed");
  }

  info.imageBase = info.IsPe32Plus() ? ReadU64(file, opt + 24) : ReadU32(file, opt + 28);
  info.sectionAlignment = ReadU32(file, opt + 32);
  info.fileAlignment = ReadU32(file, opt + 36);
  info.sizeOfImage = ReadU32(file, opt + 56);
  info.sizeOfHeaders = ReadU32(file, opt + 60);
  info.checkSum = ReadU32(file, opt + 64);
  info.subsystem = ReadU16(file, opt + 68);
  info.dllCharacteristics = ReadU16(file, opt + 70);
  info.numberOfRvaAndSizes = ReadU32(file, opt + fixedSize - 4);
  const size_t directoriesRoom = (info.sizeOfOptionalHeader - fixedSize) / 8;
  if (info.numberOfRvaAndSizes > directoriesRoom) {
    throw PeError("NumberOfRvaAndSizes " + std::to_string(info.numberOfRvaAndSizes) +
                  " does not fit in the optional header (room for " +
                  std::to_string(directoriesRoom) + ")");
  }
  if (info.numberOfRvaAndSizes > kCertificateDirectory) {
    const size_t dir = opt + fixedSize + kCertificateDirectory * 8;
    info.certificateTableOffset = ReadU32(file, dir);
    info.certificateTableSize = ReadU32(file, dir + 4);
  }

  if (!IsPowerOfTwo(info.fileAlignment) || !IsPowerOfTwo(info.sectionAlignment)) {
    throw PeError("bad alignment: FileAlignment " + Hex32(info.fileAlignment) +
                  " and SectionAlignment " + Hex32(info.sectionAlignment) +
                  " must be non-zero powers of two");
  }

  info.sectionTableOffset = opt + info.sizeOfOptionalHeader;
  const uint64_t tableEnd =
      uint64_t{info.sectionTableOffset} + uint64_t{numberOfSections} * kSectionHeaderSize;
  if (tableEnd > file.size()) {
    throw PeError("truncated PE image: the section table (" + std::to_string(numberOfSections) +
                  " sections at " + Hex32(info.sectionTableOffset) +
                  ") runs past the end of the file (" + Hex32(file.size()) + " bytes)");
  }
  if (info.sizeOfHeaders < tableEnd || info.sizeOfHeaders > file.size()) {
    throw PeError("SizeOfHeaders " + Hex32(info.sizeOfHeaders) +
                  " must cover the section table (ends at " + Hex32(tableEnd) +
                  ") and lie within the file (" + Hex32(file.size()) + " bytes)");
  }

  for (uint16_t i = 0; i < numberOfSections; ++i) {
    PeSection s;
    s.headerOffset = info.sectionTableOffset + size_t{i} * kSectionHeaderSize;
    const char* name = reinterpret_cast<const char*>(&file[s.headerOffset]);
    s.name.assign(name, strnlen(name, 8));
    s.virtualSize = ReadU32(file, s.headerOffset + 8);
    s.virtualAddress = ReadU32(file, s.headerOffset + 12);
    s.sizeOfRawData = ReadU32(file, s.headerOffset + 16);
    s.pointerToRawData = ReadU32(file, s.headerOffset + 20);
    s.characteristics = ReadU32(file, s.headerOffset + 36);
    if (s.sizeOfRawData != 0 && uint64_t{s.pointerToRawData} + s.sizeOfRawData > file.size()) {
      throw PeError("truncated PE image: section '" + s.name + "' raw data (" +
                    Hex32(s.pointerToRawData) + " + " + Hex32(s.sizeOfRawData) +
                    ") runs past the end of the file (" + Hex32(file.size()) + " bytes)");
    }
    if (uint64_t{s.virtualAddress} + s.LoadedSize() > info.sizeOfImage) {
      throw PeError("section '" + s.name + "' (VA " + Hex32(s.virtualAddress) + " + " +
                    Hex32(s.LoadedSize()) + ") extends past SizeOfImage " +
                    Hex32(info.sizeOfImage));
    }
    info.sections.push_back(std::move(s));
  }
  return info;
}

Bytes MapImage(const Bytes& file, const PeInfo& info) {
  if (info.sizeOfImage > kMaxMappedImage) {
    throw PeError("SizeOfImage " + Hex32(info.sizeOfImage) + " is implausibly large");
  }
  Bytes mem(info.sizeOfImage, 0);
  const size_t headers = std::min<size_t>({info.sizeOfHeaders, file.size(), mem.size()});
  std::copy_n(file.begin(), headers, mem.begin());
  for (const PeSection& s : info.sections) {
    const uint32_t n = std::min(s.sizeOfRawData, s.LoadedSize());
    if (n == 0) continue;
    RequireRange(file, s.pointerToRawData, n);
    RequireRange(mem, s.virtualAddress, n);
    std::copy_n(file.begin() + s.pointerToRawData, n, mem.begin() + s.virtualAddress);
  }
  return mem;
}

std::string StubMarkerText(Arch arch) {
  return std::string("VyrFFT stub driver image (") + (arch == Arch::X64 ? "X64" : "IA32") +
         "): payload records follow in this section.\r\n";
}

Bytes BuildPeImage(const ImageLayout& layout) {
  const bool plus = layout.arch == Arch::X64;
  const size_t fixedSize = plus ? kPe32PlusFixedSize : kPe32FixedSize;
  const uint16_t optSize = static_cast<uint16_t>(fixedSize + kDataDirectoryCount * 8);
  const uint32_t peOffset = kDosHeaderSize;
  const size_t opt = peOffset + 4 + kCoffHeaderSize;
  const size_t sectionTable = opt + optSize;
  const uint32_t headersSize =
      layout.sizeOfHeaders != 0
          ? layout.sizeOfHeaders
          : static_cast<uint32_t>(AlignUp(sectionTable + layout.sections.size() * kSectionHeaderSize, layout.fileAlignment));

  uint64_t fileSize = headersSize;
  uint64_t imageEnd = headersSize;
  uint32_t initializedData = 0;
  for (const SectionLayout& s : layout.sections) {
    const uint64_t raw = AlignUp(s.raw.size(), layout.fileAlignment);
    if (raw != 0) fileSize = std::max(fileSize, s.pointerToRawData + raw);
    imageEnd = std::max<uint64_t>(imageEnd, uint64_t{s.virtualAddress} + std::max<uint64_t>(s.virtualSize, raw));
    if (s.characteristics & kScnCntInitializedData) initializedData += static_cast<uint32_t>(raw);
  }

  Bytes b(fileSize, 0);
  b[0] = 'M';
  b[1] = 'Z';
  WriteU32(b, 0x3C, peOffset);
  std::memcpy(&b[peOffset], "PE\0\0", 4);

  const size_t coff = peOffset + 4;
  WriteU16(b, coff, plus ? kMachineX64 : kMachineIa32);
  WriteU16(b, coff + 2, static_cast<uint16_t>(layout.sections.size()));
  WriteU16(b, coff + 16, optSize);
  // EXECUTABLE_IMAGE, plus 32BIT_MACHINE or LARGE_ADDRESS_AWARE. Relocations are
  // not marked stripped: the image has nothing to fix up and may load anywhere.
  WriteU16(b, coff + 18, static_cast<uint16_t>(0x0002 | (plus ? 0x0020 : 0x0100)));

  WriteU16(b, opt, plus ? kMagicPe32Plus : kMagicPe32);
  b[opt + 2] = 14;  // linker version: informational only
  WriteU32(b, opt + 8, initializedData);
  if (plus) {
    WriteU64(b, opt + 24, 0x10000000);
  } else {
    for (const SectionLayout& s : layout.sections) {
      if (s.characteristics & kScnCntInitializedData) {
        WriteU32(b, opt + 24, s.virtualAddress);  // BaseOfData
        break;
      }
    }
    WriteU32(b, opt + 28, 0x10000000);
  }
  WriteU32(b, opt + 32, layout.sectionAlignment);
  WriteU32(b, opt + 36, layout.fileAlignment);
  WriteU32(b, opt + 56, static_cast<uint32_t>(AlignUp(imageEnd, layout.sectionAlignment)));
  WriteU32(b, opt + 60, headersSize);
  WriteU16(b, opt + 68, layout.subsystem);
  WriteU16(b, opt + 70, 0);  // DllCharacteristics
  if (plus) {
    WriteU64(b, opt + 72, 0x100000);
    WriteU64(b, opt + 80, 0x1000);
    WriteU64(b, opt + 88, 0x100000);
    WriteU64(b, opt + 96, 0x1000);
  } else {
    WriteU32(b, opt + 72, 0x100000);
    WriteU32(b, opt + 76, 0x1000);
    WriteU32(b, opt + 80, 0x100000);
    WriteU32(b, opt + 84, 0x1000);
  }
  WriteU32(b, opt + fixedSize - 4, kDataDirectoryCount);

  for (size_t i = 0; i < layout.sections.size(); ++i) {
    const SectionLayout& s = layout.sections[i];
    const size_t h = sectionTable + i * kSectionHeaderSize;
    const uint32_t raw = static_cast<uint32_t>(AlignUp(s.raw.size(), layout.fileAlignment));
    const uint32_t rawPtr = raw != 0 ? s.pointerToRawData : 0;
    std::memcpy(&b[h], s.name.data(), std::min<size_t>(s.name.size(), 8));
    WriteU32(b, h + 8, s.virtualSize);
    WriteU32(b, h + 12, s.virtualAddress);
    WriteU32(b, h + 16, raw);
    WriteU32(b, h + 20, rawPtr);
    WriteU32(b, h + 36, s.characteristics);
    if (!s.raw.empty()) std::copy(s.raw.begin(), s.raw.end(), b.begin() + rawPtr);
  }
  return b;
}

Bytes BuildStubDriverImage(Arch arch) {
  ImageLayout layout;
  layout.arch = arch;
  const uint32_t headers = arch == Arch::X64 ? 0x180 : 0x160;  // headers + one section, rounded to 0x20
  const std::string marker = StubMarkerText(arch);
  // Equal alignments: the section's file position is its virtual address.
  layout.sections.push_back({".data", headers, static_cast<uint32_t>(marker.size()), headers,
                           Bytes(marker.begin(), marker.end())});
  return BuildPeImage(layout);
}

std::string MachineName(uint16_t machine) {
  switch (machine) {
    case kMachineIa32: return "IA32";
    case kMachineX64: return "X64";
    case 0xAA64: return "AARCH64";
    case 0x01C2: return "ARM";
    case 0x0200: return "IA64";
    case 0x0EBC: return "EBC";
    case 0x5064: return "RISCV64";
    default: return "unknown";
  }
}

std::string SubsystemName(uint16_t subsystem) {
  switch (subsystem) {
    case 10: return "EFI application";
    case 11: return "EFI boot service driver";
    case 12: return "EFI runtime driver";
    case 13: return "EFI ROM";
    default: return "not EFI";
  }
}

}  // namespace vyr::pack

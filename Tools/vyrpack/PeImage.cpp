#include "vyrpack/PeImage.h"

#include <algorithm>
#include <cstring>

namespace vyr::pack {

namespace {

using emu::kCoffHeaderSize;
using emu::kDosHeaderSize;
using emu::kPe32FixedSize;
using emu::kPe32PlusFixedSize;
using emu::kSectionHeaderSize;
using emu::RequireRange;

constexpr size_t kDataDirectoryCount = 16;
// Mapping an image allocates SizeOfImage bytes; a driver is far below this.
constexpr uint32_t kMaxMappedImage = 512u * 1024 * 1024;

}  // namespace

uint16_t ReadU16(const Bytes& b, size_t offset) { return emu::ReadLe16(b.data(), b.size(), offset); }

uint32_t ReadU32(const Bytes& b, size_t offset) { return emu::ReadLe32(b.data(), b.size(), offset); }

uint64_t ReadU64(const Bytes& b, size_t offset) { return emu::ReadLe64(b.data(), b.size(), offset); }

void WriteU16(Bytes& b, size_t offset, uint16_t value) {
  RequireRange(b.size(), offset, 2);
  b[offset] = static_cast<uint8_t>(value);
  b[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void WriteU32(Bytes& b, size_t offset, uint32_t value) {
  RequireRange(b.size(), offset, 4);
  for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void WriteU64(Bytes& b, size_t offset, uint64_t value) {
  WriteU32(b, offset, static_cast<uint32_t>(value));
  WriteU32(b, offset + 4, static_cast<uint32_t>(value >> 32));
}

PeInfo ParsePe(const Bytes& file) { return emu::ReadPeHeaders(file.data(), file.size(), emu::PeReader::Packager); }

Bytes MapImage(const Bytes& file, const PeInfo& info) {
  if (info.sizeOfImage > kMaxMappedImage) {
    throw PeError("SizeOfImage " + Hex32(info.sizeOfImage) + " is implausibly large");
  }
  Bytes mem(info.sizeOfImage, 0);
  emu::MapPeImage(info, file.data(), file.size(), mem.data(), emu::PeReader::Packager);
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

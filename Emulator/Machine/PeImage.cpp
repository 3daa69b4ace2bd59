#include "Machine/PeImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vyr::emu {

namespace {

constexpr uint32_t kCertificateDirectory = 4;
// The loader reads the optional header up to DllCharacteristics.
constexpr size_t kLoaderOptionalHeaderSize = 72;
// The largest image the loader allocates pages for.
constexpr uint32_t kMaxImageSize = 256u << 20;

bool IsPowerOfTwo(uint32_t V) { return V != 0 && (V & (V - 1)) == 0; }

// One fault, in the words of the reader that met it.
[[noreturn]] void Refuse(PeReader Reader, const std::string &LoaderText, const std::string &PackagerText) {
  throw PeError(Reader == PeReader::Loader ? LoaderText : PackagerText);
}

}  // namespace

std::string Hex32(uint64_t Value) {
  char Buffer[24];
  std::snprintf(Buffer, sizeof Buffer, "0x%08llX", static_cast<unsigned long long>(Value));
  return Buffer;
}

void RequireRange(size_t DataSize, size_t Offset, size_t Length) {
  if (Offset > DataSize || Length > DataSize - Offset) {
    throw PeError("read of " + std::to_string(Length) + " bytes at " + Hex32(Offset) +
                  " runs past the end of the data (" + Hex32(DataSize) + " bytes)");
  }
}

uint16_t ReadLe16(const uint8_t *Data, size_t Size, size_t Offset) {
  RequireRange(Size, Offset, 2);
  return static_cast<uint16_t>(Data[Offset] | (Data[Offset + 1] << 8));
}

uint32_t ReadLe32(const uint8_t *Data, size_t Size, size_t Offset) {
  RequireRange(Size, Offset, 4);
  return static_cast<uint32_t>(Data[Offset]) | (static_cast<uint32_t>(Data[Offset + 1]) << 8) |
         (static_cast<uint32_t>(Data[Offset + 2]) << 16) | (static_cast<uint32_t>(Data[Offset + 3]) << 24);
}

uint64_t ReadLe64(const uint8_t *Data, size_t Size, size_t Offset) {
  return ReadLe32(Data, Size, Offset) | (static_cast<uint64_t>(ReadLe32(Data, Size, Offset + 4)) << 32);
}

PeHeaders ReadPeHeaders(const uint8_t *Data, size_t Size, PeReader Reader) {
  const bool Loader = Reader == PeReader::Loader;
  auto U16 = [&](size_t Offset) { return ReadLe16(Data, Size, Offset); };
  auto U32 = [&](size_t Offset) { return ReadLe32(Data, Size, Offset); };
  PeHeaders Info;
  if (Size < kDosHeaderSize) {
    Refuse(Reader, "not a PE image: no MZ header",
           "not a PE image: " + std::to_string(Size) + " bytes is too small for a DOS header");
  }
  if (Data[0] != 'M' || Data[1] != 'Z') {
    Refuse(Reader, "not a PE image: no MZ header", "not a PE image: no 'MZ' DOS signature");
  }

  Info.peOffset = U32(0x3C);
  if (uint64_t{Info.peOffset} + 4 + kCoffHeaderSize > Size) {
    Refuse(Reader, "PE header offset 0x" + std::to_string(Info.peOffset) + " lies outside the file",
           "truncated PE image: the PE header at e_lfanew " + Hex32(Info.peOffset) +
               " lies past the end of the file (" + Hex32(Size) + " bytes)");
  }
  if (std::memcmp(Data + Info.peOffset, "PE\0\0", 4) != 0) {
    Refuse(Reader, "not a PE image: no PE signature",
           "not a PE image: no \"PE\\0\\0\" signature at " + Hex32(Info.peOffset));
  }

  const size_t Coff = Info.peOffset + 4;
  Info.machine = U16(Coff);
  const uint16_t NumberOfSections = U16(Coff + 2);
  Info.pointerToSymbolTable = U32(Coff + 8);
  Info.sizeOfOptionalHeader = U16(Coff + 16);
  Info.optionalHeaderOffset = Coff + kCoffHeaderSize;

  const size_t Opt = Info.optionalHeaderOffset;
  const size_t Least = Loader ? kLoaderOptionalHeaderSize : 2;  // the packager first needs the magic
  if (Info.sizeOfOptionalHeader < Least || uint64_t{Opt} + Info.sizeOfOptionalHeader > Size) {
    Refuse(Reader, "optional header is too short or cut off",
           "truncated PE image: the optional header (" + std::to_string(Info.sizeOfOptionalHeader) + " bytes at " +
               Hex32(Opt) + ") runs past the end of the file");
  }
  Info.magic = U16(Opt);
  size_t FixedSize = 0;
  if (Info.magic == kMagicPe32) {
    FixedSize = kPe32FixedSize;
  } else if (Info.magic == kMagicPe32Plus) {
    FixedSize = kPe32PlusFixedSize;
  } else {
    Refuse(Reader, "unknown optional header magic",
           "unsupported optional header magic " + Hex32(Info.magic) +
               " (expected 0x10B for PE32 or 0x20B for PE32+)");
  }
  if (!Loader && Info.sizeOfOptionalHeader < FixedSize) {
    throw PeError("optional header too small: SizeOfOptionalHeader " + std::to_string(Info.sizeOfOptionalHeader) +
                  ", at least " + std::to_string(FixedSize) + " needed");
  }

  // All below DllCharacteristics: inside the optional header for both readers.
  Info.entryPoint = U32(Opt + 16);
  Info.imageBase = Info.IsPe32Plus() ? ReadLe64(Data, Size, Opt + 24) : U32(Opt + 28);
  Info.sectionAlignment = U32(Opt + 32);
  Info.fileAlignment = U32(Opt + 36);
  Info.sizeOfImage = U32(Opt + 56);
  Info.sizeOfHeaders = U32(Opt + 60);
  Info.checkSum = U32(Opt + 64);
  Info.subsystem = U16(Opt + 68);
  Info.dllCharacteristics = U16(Opt + 70);
  // The loader accepts a header that ends before the data directories.
  size_t DirectoriesRoom = 0;
  if (Info.sizeOfOptionalHeader >= FixedSize) {
    Info.numberOfRvaAndSizes = U32(Opt + FixedSize - 4);
    DirectoriesRoom = (Info.sizeOfOptionalHeader - FixedSize) / 8;
  }
  if (Info.numberOfRvaAndSizes <= DirectoriesRoom && Info.numberOfRvaAndSizes > kCertificateDirectory) {
    const size_t Directory = Opt + FixedSize + kCertificateDirectory * 8;
    Info.certificateTableOffset = U32(Directory);
    Info.certificateTableSize = U32(Directory + 4);
  }

  if (Loader) {
    if (Info.sizeOfImage == 0 || Info.sizeOfImage > kMaxImageSize) {
      throw PeError("SizeOfImage is 0 or too large");
    }
    if (Info.sizeOfHeaders > Info.sizeOfImage || Info.sizeOfHeaders > Size) {
      throw PeError("SizeOfHeaders exceeds the image or the file");
    }
  } else {
    if (Info.numberOfRvaAndSizes > DirectoriesRoom) {
      throw PeError("NumberOfRvaAndSizes " + std::to_string(Info.numberOfRvaAndSizes) +
                    " does not fit in the optional header (room for " + std::to_string(DirectoriesRoom) + ")");
    }
    if (!IsPowerOfTwo(Info.fileAlignment) || !IsPowerOfTwo(Info.sectionAlignment)) {
      throw PeError("bad alignment: FileAlignment " + Hex32(Info.fileAlignment) + " and SectionAlignment " +
                    Hex32(Info.sectionAlignment) + " must be non-zero powers of two");
    }
  }

  Info.sectionTableOffset = Opt + Info.sizeOfOptionalHeader;
  const uint64_t TableEnd = uint64_t{Info.sectionTableOffset} + uint64_t{NumberOfSections} * kSectionHeaderSize;
  if (TableEnd > Size) {
    Refuse(Reader, "section table is cut off",
           "truncated PE image: the section table (" + std::to_string(NumberOfSections) + " sections at " +
               Hex32(Info.sectionTableOffset) + ") runs past the end of the file (" + Hex32(Size) + " bytes)");
  }
  if (!Loader && (Info.sizeOfHeaders < TableEnd || Info.sizeOfHeaders > Size)) {
    throw PeError("SizeOfHeaders " + Hex32(Info.sizeOfHeaders) + " must cover the section table (ends at " +
                  Hex32(TableEnd) + ") and lie within the file (" + Hex32(Size) + " bytes)");
  }

  for (uint16_t Index = 0; Index < NumberOfSections; ++Index) {
    PeSectionHeader S;
    S.headerOffset = Info.sectionTableOffset + size_t{Index} * kSectionHeaderSize;
    const char *Name = reinterpret_cast<const char *>(Data + S.headerOffset);
    S.name.assign(Name, strnlen(Name, 8));
    S.virtualSize = U32(S.headerOffset + 8);
    S.virtualAddress = U32(S.headerOffset + 12);
    S.sizeOfRawData = U32(S.headerOffset + 16);
    S.pointerToRawData = U32(S.headerOffset + 20);
    S.characteristics = U32(S.headerOffset + 36);
    if (S.sizeOfRawData != 0 && uint64_t{S.pointerToRawData} + S.sizeOfRawData > Size) {
      Refuse(Reader, "section " + S.name + " raw data lies outside the file",
             "truncated PE image: section '" + S.name + "' raw data (" + Hex32(S.pointerToRawData) + " + " +
                 Hex32(S.sizeOfRawData) + ") runs past the end of the file (" + Hex32(Size) + " bytes)");
    }
    if (uint64_t{S.virtualAddress} + S.LoadedSize() > Info.sizeOfImage) {
      Refuse(Reader, "section " + S.name + " lies outside SizeOfImage",
             "section '" + S.name + "' (VA " + Hex32(S.virtualAddress) + " + " + Hex32(S.LoadedSize()) +
                 ") extends past SizeOfImage " + Hex32(Info.sizeOfImage));
    }
    Info.sections.push_back(std::move(S));
  }
  return Info;
}

void MapPeImage(const PeHeaders &Headers, const uint8_t *Data, size_t Size, uint8_t *Image, PeReader Reader) {
  const size_t HeaderLength = std::min<size_t>({Headers.sizeOfHeaders, Size, Headers.sizeOfImage});
  if (HeaderLength != 0) {  // an empty image may have no buffer at all
    std::memcpy(Image, Data, HeaderLength);
  }
  for (const PeSectionHeader &S : Headers.sections) {
    // Raw data beyond the virtual size is not loaded.
    const uint32_t Length = std::min(S.sizeOfRawData, S.LoadedSize());
    if (Length != 0) {
      RequireRange(Size, S.pointerToRawData, Length);
      RequireRange(Headers.sizeOfImage, S.virtualAddress, Length);
      std::memcpy(Image + S.virtualAddress, Data + S.pointerToRawData, Length);
    }
    if (Reader == PeReader::Loader && S.virtualSize > Length) {
      std::memset(Image + S.virtualAddress + Length, 0, S.virtualSize - Length);
    }
  }
}

PeInfo ParsePe(const uint8_t *Data, size_t Size) {
  PeInfo Info;
  Info.Headers = ReadPeHeaders(Data, Size, PeReader::Loader);
  const PeHeaders &H = Info.Headers;
  Info.Pe32Plus = H.IsPe32Plus();
  Info.Machine = H.machine;
  Info.Subsystem = H.subsystem;
  Info.EntryPoint = H.entryPoint;
  Info.SizeOfImage = H.sizeOfImage;
  Info.SizeOfHeaders = H.sizeOfHeaders;
  for (const PeSectionHeader &S : H.sections) {
    Info.Sections.push_back({S.name, S.virtualAddress, S.virtualSize, S.pointerToRawData, S.sizeOfRawData});
  }
  return Info;
}

void MapPe(const PeInfo &Info, const uint8_t *Data, size_t Size, uint8_t *Image) {
  MapPeImage(Info.Headers, Data, Size, Image, PeReader::Loader);
}

}  // namespace vyr::emu

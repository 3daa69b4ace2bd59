#include "Machine/PeImage.h"

#include <algorithm>
#include <cstring>

namespace vyr::emu {

namespace {

constexpr uint32_t kMaxImageSize = 256u << 20;

uint16_t U16(const uint8_t *P) { return static_cast<uint16_t>(P[0] | (P[1] << 8)); }
uint32_t U32(const uint8_t *P) { return U16(P) | (static_cast<uint32_t>(U16(P + 2)) << 16); }

// Bytes a section fills in the image: its raw data, cut to the virtual size.
uint32_t CopyLength(const PeSection &S) { return S.VirtualSize == 0 ? S.RawSize : std::min(S.RawSize, S.VirtualSize); }

}  // namespace

PeInfo ParsePe(const uint8_t *Data, size_t Size) {
  if (Size < 64 || Data[0] != 'M' || Data[1] != 'Z') {
    throw PeError("not a PE image: no MZ header");
  }
  const uint32_t PeOffset = U32(Data + 0x3C);
  if (PeOffset > Size || Size - PeOffset < 24) {
    throw PeError("PE header offset 0x" + std::to_string(PeOffset) + " lies outside the file");
  }
  const uint8_t *Pe = Data + PeOffset;
  if (std::memcmp(Pe, "PE\0\0", 4) != 0) {
    throw PeError("not a PE image: no PE signature");
  }
  PeInfo Info;
  Info.Machine = U16(Pe + 4);
  const uint16_t SectionCount = U16(Pe + 6);
  const uint16_t OptionalSize = U16(Pe + 20);
  const size_t OptionalOffset = size_t(PeOffset) + 24;
  if (OptionalSize < 72 || OptionalOffset + OptionalSize > Size) {
    throw PeError("optional header is too short or cut off");
  }
  const uint8_t *Optional = Data + OptionalOffset;
  const uint16_t Magic = U16(Optional);
  if (Magic == 0x10B) {
    Info.Pe32Plus = false;
  } else if (Magic == 0x20B) {
    Info.Pe32Plus = true;
  } else {
    throw PeError("unknown optional header magic");
  }
  Info.EntryPoint = U32(Optional + 16);
  Info.SizeOfImage = U32(Optional + 56);
  Info.SizeOfHeaders = U32(Optional + 60);
  Info.Subsystem = U16(Optional + 68);
  if (Info.SizeOfImage == 0 || Info.SizeOfImage > kMaxImageSize) {
    throw PeError("SizeOfImage is 0 or too large");
  }
  if (Info.SizeOfHeaders > Info.SizeOfImage || Info.SizeOfHeaders > Size) {
    throw PeError("SizeOfHeaders exceeds the image or the file");
  }
  const size_t SectionTable = OptionalOffset + OptionalSize;
  if (SectionTable + size_t(SectionCount) * 40 > Size) {
    throw PeError("section table is cut off");
  }
  for (uint16_t Index = 0; Index < SectionCount; Index++) {
    const uint8_t *Header = Data + SectionTable + size_t(Index) * 40;
    PeSection S;
    S.Name.assign(reinterpret_cast<const char *>(Header), strnlen(reinterpret_cast<const char *>(Header), 8));
    S.VirtualSize = U32(Header + 8);
    S.VirtualAddress = U32(Header + 12);
    S.RawSize = U32(Header + 16);
    S.RawOffset = U32(Header + 20);
    if (S.RawSize != 0 && (uint64_t(S.RawOffset) + S.RawSize > Size)) {
      throw PeError("section " + S.Name + " raw data lies outside the file");
    }
    const uint64_t Span = std::max<uint64_t>(S.VirtualSize, CopyLength(S));
    if (uint64_t(S.VirtualAddress) + Span > Info.SizeOfImage) {
      throw PeError("section " + S.Name + " lies outside SizeOfImage");
    }
    Info.Sections.push_back(S);
  }
  return Info;
}

void MapPe(const PeInfo &Info, const uint8_t *Data, size_t Size, uint8_t *Image) {
  std::memcpy(Image, Data, std::min<size_t>(Info.SizeOfHeaders, Size));
  for (const PeSection &S : Info.Sections) {
    const uint32_t Length = CopyLength(S);
    if (Length != 0) {
      std::memcpy(Image + S.VirtualAddress, Data + S.RawOffset, Length);
    }
    if (S.VirtualSize > Length) {
      std::memset(Image + S.VirtualAddress + Length, 0, S.VirtualSize - Length);
    }
  }
}

}  // namespace vyr::emu

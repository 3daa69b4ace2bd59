// BVDT stamps: the version data table, the model/version lists, the release
// date and the ROM map that a BIOS image carries for the flash utility.
#ifndef VYRPACK_BVDT_H_
#define VYRPACK_BVDT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vyrpack/PeImage.h"

namespace vyr::pack {

struct BvdtDate {
  int year = 0;  // 2000-2099
  int month = 0;
  int day = 0;
};

struct BvdtTime {
  int hour = 0;
  int minute = 0;
  int second = 0;
};

struct BvdtMapEntry {
  uint8_t type = 0;
  uint32_t address = 0;
  uint32_t size = 0;
  uint8_t action = 0;
};

struct BvdtStamp {
  std::string model;    // at most kBvdtModelBytes
  std::string version;  // at most kBvdtVersionBytes
  std::optional<BvdtDate> buildDate;
  std::optional<BvdtTime> buildTime;
  std::optional<std::string> prodex;  // ','-separated model names
  std::optional<std::string> verex;   // ','-separated versions
  std::optional<BvdtDate> releaseDate;
  std::optional<std::vector<BvdtMapEntry>> romMap;
};

constexpr size_t kBvdtRecordSize = 64;   // "$BVDT" up to the end of the model name
constexpr size_t kBvdtModelBytes = 25;
constexpr size_t kBvdtModelOffset = 38;   // the model name's '$', from "$BVDT"
constexpr size_t kBvdtVersionBytes = 24;  // the version ends where the model name's '$' stands

// The bytes of the stamp area: the BVDT record, then "$PRODEX", "$VEREX",
// "$RDATE" and "$FWSMI" items for what the stamp holds. Throws
// std::runtime_error on texts that do not fit.
Bytes BuildBvdtArea(const BvdtStamp& stamp);

// Writes the area into a copy of `image` at `offset`. Throws when it does
// not fit or when an earlier copy of one of its signatures would hide it
// (the utility takes the first occurrence).
Bytes StampBvdt(const Bytes& image, size_t offset, const BvdtStamp& stamp);

// Offset of the first "$BVDT" in image, if any.
std::optional<size_t> FindBvdt(const Bytes& image);

// The BVDT's own model name as the utility reads it from an image: the first
// "$BVDT" in [image, image + size), then up to kBvdtModelBytes bytes at
// BVDT + 39 ending at a NUL or at the image's end. Nothing without "$BVDT".
std::optional<std::string> ReadBvdtModel(const uint8_t* image, size_t size);

// "YYYY-MM-DD", "HH:MM:SS", "TYPE:ADDRESS:SIZE[:ACTION]{,...}" (numbers in C
// notation: 0x for hex). Throw std::runtime_error on bad text.
BvdtDate ParseBvdtDate(const std::string& text);
BvdtTime ParseBvdtTime(const std::string& text);
std::vector<BvdtMapEntry> ParseBvdtRomMap(const std::string& text);

}  // namespace vyr::pack

#endif  // VYRPACK_BVDT_H_

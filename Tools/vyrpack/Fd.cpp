#include "vyrpack/Fd.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace vyr::pack {

namespace {

constexpr uint8_t kOemDataType = 0x0A;

std::string Hex(uint64_t value) {
  std::ostringstream s;
  s << "0x" << std::hex << std::uppercase << value;
  return s.str();
}

uint32_t ParseNumber(const std::string& text, const std::string& what) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (text.empty() || *end != 0 || errno != 0 || text[0] == '-' || v > 0xFFFFFFFFull) {
    throw std::runtime_error("bad " + what + " '" + text + "'");
  }
  return static_cast<uint32_t>(v);
}

}  // namespace

size_t ProfileBvdtOffset(const emu::Profile& profile) {
  const uint64_t size = profile.Flash.Size;
  const uint64_t base = 0x100000000ull - size;
  for (const emu::FlashRegionConfig& region : profile.Flash.WholeMap) {
    if (region.Type != kOemDataType) continue;
    if (region.Address < base || region.Address - base + kBvdtRecordSize > size) {
      throw std::runtime_error("the OEM data region at " + Hex(region.Address) + " lies outside the flash");
    }
    return static_cast<size_t>(region.Address - base);
  }
  throw std::runtime_error("the profile's whole ROM map has no OEM data region (type 0Ah) to hold the BVDT");
}

Bytes BuildProfileFd(const emu::Profile& profile, const Bytes* base, const BvdtStamp& stamp,
                     const std::vector<FdChange>& changes) {
  const size_t size = profile.Flash.Size;
  if (base != nullptr && base->size() != size) {
    throw std::runtime_error("the base image is " + std::to_string(base->size()) + " bytes, the flash " +
                             std::to_string(size));
  }
  const size_t bvdt = ProfileBvdtOffset(profile);
  Bytes image = base != nullptr ? *base : Bytes(size, profile.Flash.Fill);
  const std::string text = "VyrFFT " + stamp.model + " " + stamp.version + " ";
  for (const FdChange& change : changes) {
    const uint64_t end = uint64_t(change.offset) + change.size;
    if (change.size == 0 || end > size) {
      throw std::runtime_error("change " + Hex(change.offset) + ":" + Hex(change.size) + " is not inside the image");
    }
    if (change.offset < bvdt + kBvdtRecordSize && bvdt < end) {
      throw std::runtime_error("change " + Hex(change.offset) + ":" + Hex(change.size) + " would cover the BVDT");
    }
    for (uint64_t i = 0; i < change.size; i++) image[change.offset + i] = uint8_t(text[i % text.size()]);
  }
  return StampBvdt(image, bvdt, stamp);
}

std::vector<FdChange> ParseFdChanges(const std::string& text) {
  std::vector<FdChange> changes;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    const size_t colon = item.find(':');
    if (colon == std::string::npos) throw std::runtime_error("change '" + item + "' is not OFFSET:SIZE");
    changes.push_back({ParseNumber(item.substr(0, colon), "change offset"),
                       ParseNumber(item.substr(colon + 1), "change size")});
  }
  return changes;
}

}  // namespace vyr::pack

#include "vyrpack/Bvdt.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vyr::pack {

namespace {

uint8_t Bcd(int value) { return static_cast<uint8_t>((value / 10) << 4 | (value % 10)); }

void Append(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void AppendDate(Bytes& out, const BvdtDate& d) {
  out.push_back(Bcd(d.year - 2000));
  out.push_back(Bcd(d.month));
  out.push_back(Bcd(d.day));
}

void Put32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void AppendList(Bytes& out, const char* signature, const std::string& list) {
  if (list.find('\0') != std::string::npos) throw std::runtime_error(std::string(signature) + " list holds a NUL");
  Append(out, signature);
  Append(out, list);
  out.push_back(0);
}

long Number(const std::string& text, const std::string& what, long low, long high, int base = 0) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, base);
  if (text.empty() || *end != 0 || errno != 0 || v < low || v > high) {
    throw std::runtime_error("bad " + what + " '" + text + "'");
  }
  return static_cast<long>(v);
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

}  // namespace

Bytes BuildBvdtArea(const BvdtStamp& s) {
  if (s.model.size() > kBvdtModelBytes) {
    throw std::runtime_error("model name longer than " + std::to_string(kBvdtModelBytes) + " bytes");
  }
  if (s.version.size() > kBvdtVersionBytes) {
    throw std::runtime_error("version longer than " + std::to_string(kBvdtVersionBytes) + " bytes");
  }
  if (s.model.find('\0') != std::string::npos || s.version.find('\0') != std::string::npos) {
    throw std::runtime_error("model name and version may not hold a NUL");
  }
  Bytes out;
  Append(out, "$BVDT");
  // An item whose first byte is not '$' reads as absent.
  if (s.buildDate) {
    out.push_back('$');
    AppendDate(out, *s.buildDate);
  } else {
    out.insert(out.end(), 4, 0);
  }
  if (s.buildTime) {
    out.push_back('$');
    out.push_back(Bcd(s.buildTime->hour));
    out.push_back(Bcd(s.buildTime->minute));
    out.push_back(Bcd(s.buildTime->second));
  } else {
    out.insert(out.end(), 4, 0);
  }
  out.push_back('$');
  Append(out, s.version);
  out.insert(out.end(), kBvdtVersionBytes - s.version.size(), 0);
  out.push_back('$');
  Append(out, s.model);
  out.insert(out.end(), kBvdtModelBytes - s.model.size(), 0);
  if (s.prodex) AppendList(out, "$PRODEX", *s.prodex);
  if (s.verex) AppendList(out, "$VEREX", *s.verex);
  if (s.releaseDate) {
    Append(out, "$RDATE");
    AppendDate(out, *s.releaseDate);
  }
  if (s.romMap) {
    Append(out, "$FWSMI");
    for (const BvdtMapEntry& e : *s.romMap) {
      out.push_back(e.type);
      Put32(out, e.address);
      Put32(out, e.size);
      out.push_back(e.action);
    }
    out.push_back(0xFF);  // end entry
    out.insert(out.end(), 9, 0);
  }
  return out;
}

std::optional<size_t> FindBvdt(const Bytes& image) {
  static const std::string sig = "$BVDT";
  auto it = std::search(image.begin(), image.end(), sig.begin(), sig.end());
  if (it == image.end()) return std::nullopt;
  return static_cast<size_t>(it - image.begin());
}

std::optional<std::string> ReadBvdtModel(const uint8_t* image, size_t size) {
  static const char sig[] = "$BVDT";
  constexpr size_t sigSize = sizeof sig - 1;
  std::optional<size_t> found;
  // memchr between the '$'s: multi-SKU entries are searched one by one.
  for (size_t at = 0; !found && at < size && size - at >= sigSize; ++at) {
    const void* dollar = std::memchr(image + at, '$', size - at - sigSize + 1);
    if (dollar == nullptr) break;
    at = static_cast<size_t>(static_cast<const uint8_t*>(dollar) - image);
    if (std::memcmp(image + at, sig, sigSize) == 0) found = at;
  }
  if (!found) return std::nullopt;
  const size_t base = *found;
  std::string model;
  for (size_t at = base + kBvdtModelOffset + 1; at < size && model.size() < kBvdtModelBytes && image[at] != 0; ++at) {
    model += static_cast<char>(image[at]);
  }
  return model;
}

Bytes StampBvdt(const Bytes& image, size_t offset, const BvdtStamp& stamp) {
  const Bytes area = BuildBvdtArea(stamp);
  if (offset > image.size() || image.size() - offset < area.size()) {
    throw std::runtime_error("the BVDT area (" + std::to_string(area.size()) + " bytes at offset " +
                             std::to_string(offset) + ") does not fit in the " + std::to_string(image.size()) +
                             "-byte image");
  }
  Bytes out = image;
  std::copy(area.begin(), area.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
  // The utility takes the first occurrence of each signature: the stamped
  // ones must come first.
  for (const char* sig : {"$BVDT", "$PRODEX", "$VEREX", "$RDATE", "$FWSMI"}) {
    const std::string s = sig;
    auto inArea = std::search(area.begin(), area.end(), s.begin(), s.end());
    if (inArea == area.end()) continue;
    auto first = std::search(out.begin(), out.end(), s.begin(), s.end());
    const size_t want = offset + static_cast<size_t>(inArea - area.begin());
    if (static_cast<size_t>(first - out.begin()) != want) {
      throw std::runtime_error("an earlier \"" + s + "\" in the image at offset " +
                               std::to_string(first - out.begin()) + " would hide the stamped one");
    }
  }
  return out;
}

BvdtDate ParseBvdtDate(const std::string& text) {
  const auto parts = Split(text, '-');
  if (parts.size() != 3) throw std::runtime_error("bad date '" + text + "' (want YYYY-MM-DD)");
  BvdtDate d;
  d.year = static_cast<int>(Number(parts[0], "year", 2000, 2099, 10));
  d.month = static_cast<int>(Number(parts[1], "month", 1, 12, 10));
  d.day = static_cast<int>(Number(parts[2], "day", 1, 31, 10));
  return d;
}

BvdtTime ParseBvdtTime(const std::string& text) {
  const auto parts = Split(text, ':');
  if (parts.size() != 3) throw std::runtime_error("bad time '" + text + "' (want HH:MM:SS)");
  BvdtTime t;
  t.hour = static_cast<int>(Number(parts[0], "hour", 0, 23, 10));
  t.minute = static_cast<int>(Number(parts[1], "minute", 0, 59, 10));
  t.second = static_cast<int>(Number(parts[2], "second", 0, 59, 10));
  return t;
}

std::vector<BvdtMapEntry> ParseBvdtRomMap(const std::string& text) {
  std::vector<BvdtMapEntry> map;
  if (text.empty()) return map;
  for (const std::string& item : Split(text, ',')) {
    const auto f = Split(item, ':');
    if (f.size() != 3 && f.size() != 4) {
      throw std::runtime_error("bad ROM map entry '" + item + "' (want TYPE:ADDRESS:SIZE[:ACTION])");
    }
    BvdtMapEntry e;
    e.type = static_cast<uint8_t>(Number(f[0], "ROM map type", 0, 0xFE));
    e.address = static_cast<uint32_t>(Number(f[1], "ROM map address", 0, 0xFFFFFFFFL));
    e.size = static_cast<uint32_t>(Number(f[2], "ROM map size", 0, 0xFFFFFFFFL));
    if (f.size() == 4) e.action = static_cast<uint8_t>(Number(f[3], "ROM map action", 0, 0xFF));
    map.push_back(e);
  }
  return map;
}

}  // namespace vyr::pack

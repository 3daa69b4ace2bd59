#include "vyrpack/Package.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>

#include "vyrpack/Bvdt.h"

namespace vyr::pack {

namespace {

constexpr char kRomPackSig[] = "$ROM_PACK";
constexpr char kExtPackSig[] = "$EXT_PACK";
constexpr char kIniPackSig[] = "$INI_PACK";
constexpr char kRomExtPrefix[] = "$ROM_P";
constexpr char kResourceSig[] = "$EXT_RESRC";
constexpr char kMultiSkuSig[] = "$MULTISC";

constexpr uint64_t kU32Max = std::numeric_limits<uint32_t>::max();

// First occurrence of a signature from `from` on. Every signature starts with
// '$': jumping between them with memchr keeps the scan of large images fast.
std::optional<size_t> Find(const Bytes& file, const std::string& sig, size_t from = 0) {
  const uint8_t* data = file.data();
  for (size_t pos = from; pos < file.size() && file.size() - pos >= sig.size();) {
    const void* dollar = std::memchr(data + pos, sig[0], file.size() - pos - sig.size() + 1);
    if (dollar == nullptr) break;
    pos = static_cast<size_t>(static_cast<const uint8_t*>(dollar) - data);
    if (std::memcmp(data + pos, sig.data(), sig.size()) == 0) return pos;
    ++pos;
  }
  return std::nullopt;
}

uint32_t Get32(const Bytes& b, size_t at) {
  const uint8_t* p = b.data() + at;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void Put32(Bytes& b, size_t at, uint64_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutText(Bytes& b, size_t at, const std::string& text) { std::copy(text.begin(), text.end(), b.begin() + at); }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

// Names become file names in one directory (-extrFD writes the images out,
// resources are saved beside the utility).
void CheckNames(const std::vector<NamedFile>& files, const char* what) {
  std::set<std::string> seen;
  for (const NamedFile& f : files) {
    if (f.name.empty() || f.name.size() > kMaxPackageName) {
      throw PackageError(std::string(what) + " name " + Quoted(f.name) + " must have 1 to " +
                         std::to_string(kMaxPackageName) + " characters");
    }
    for (unsigned char c : f.name) {
      if (c < 0x20 || c > 0x7E || c == '\\' || c == '/' || c == ':') {
        throw PackageError(std::string(what) + " name " + Quoted(f.name) +
                           ": only printable ASCII without '\\', '/' and ':' is allowed");
      }
    }
    if (!seen.insert(Lower(f.name)).second) {
      throw PackageError(std::string(what) + " name " + Quoted(f.name) +
                         " is given twice (names are compared without case)");
    }
  }
}

void CheckText(const std::string& text, size_t limit, const char* what) {
  if (text.size() > limit) {
    throw PackageError(std::string(what) + " is " + std::to_string(text.size()) + " characters long; at most " +
                       std::to_string(limit) + " fit");
  }
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E) throw PackageError(std::string(what) + " may hold only printable ASCII");
  }
}

uint32_t ToU32(uint64_t v, const std::string& what) {
  if (v > kU32Max) throw PackageError(what + " does not fit in a 32-bit field (" + std::to_string(v) + ")");
  return static_cast<uint32_t>(v);
}

// Where each part of a built package lies, to name what shadows a header.
struct Part {
  uint64_t begin, end;
  std::string what;
};

std::string PartAt(const std::vector<Part>& parts, uint64_t pos) {
  for (const Part& p : parts) {
    if (pos >= p.begin && pos < p.end) return p.what;
  }
  return "the padding";
}

// An offset and size taken from a header, relative to the header's signature.
bool DataInside(const Bytes& file, uint64_t header, uint32_t offset, uint32_t size, const std::string& what,
                std::vector<std::string>& errors) {
  const uint64_t start = header + offset;
  if (start > file.size() || size > file.size() - start) {
    errors.push_back(what + ": offset " + Hex32(offset) + " from its header at " + Hex32(header) + " and size " +
                     std::to_string(size) + " run past the end of the file");
    return false;
  }
  return true;
}

bool HeaderInside(const Bytes& file, uint64_t at, size_t size, const std::string& what,
                  std::vector<std::string>& errors) {
  if (file.size() - at < size) {
    errors.push_back(what + " at " + Hex32(at) + " is cut off by the end of the file (" + std::to_string(size) +
                     " bytes needed, " + std::to_string(file.size() - at) + " left)");
    return false;
  }
  return true;
}

// A NUL-terminated text in a fixed field that HeaderInside has checked.
std::optional<std::string> Field(const Bytes& file, size_t at, size_t length) {
  const void* nul = std::memchr(file.data() + at, 0, length);
  if (nul == nullptr) return std::nullopt;
  return std::string(file.begin() + at, file.begin() + (static_cast<const uint8_t*>(nul) - file.data()));
}

std::optional<std::string> NameField(const Bytes& file, size_t at, size_t length, const std::string& what,
                                     std::vector<std::string>& errors) {
  auto name = Field(file, at, length);
  if (!name) {
    errors.push_back(what + ": the " + std::to_string(length) + "-byte name field at " + Hex32(at) +
                     " is not NUL-terminated");
  } else if (name->empty()) {
    errors.push_back(what + ": the name at " + Hex32(at) + " is empty");
    return std::nullopt;
  }
  return name;
}

}  // namespace

std::string FurtherRomSignature(size_t index) {
  const char digits[] = {static_cast<char>('0' + index / 10 % 10), static_cast<char>('0' + index % 10), 0};
  return std::string(kRomExtPrefix) + digits + "_";
}

Bytes ScrambleIni(const Bytes& text) {
  Bytes out(text.size());
  std::transform(text.begin(), text.end(), out.begin(),
                 [](uint8_t c) { return static_cast<uint8_t>(c << 1 | c >> 7); });
  return out;
}

Bytes UnscrambleIni(const Bytes& stored) {
  Bytes out(stored.size());
  std::transform(stored.begin(), stored.end(), out.begin(),
                 [](uint8_t c) { return static_cast<uint8_t>(c >> 1 | c << 7); });
  return out;
}

Bytes BuildPackage(const PackageInput& in) {
  ParsePe(in.application);
  if (in.images.empty() || in.images.size() > kMaxPackageImages) {
    throw PackageError("a package holds 1 to " + std::to_string(kMaxPackageImages) + " images, not " +
                       std::to_string(in.images.size()));
  }
  CheckNames(in.images, "image");
  CheckNames(in.resources, "resource");
  CheckText(in.options, kRomPackOptionsField - 1, "the built-in option text");
  CheckText(in.filter, kRomPackFilterField - 1, "the command filter");
  for (const NamedFile& f : in.images) {
    if (f.data.empty()) throw PackageError("image " + Quoted(f.name) + " is empty");
  }
  // The utility takes the first occurrence of each signature in the whole
  // file; one in the application would be read instead of the package's.
  for (const char* sig : {kRomPackSig, kExtPackSig, kIniPackSig, kResourceSig, kRomExtPrefix}) {
    if (auto at = Find(in.application, sig)) {
      throw PackageError("the application image holds \"" + std::string(sig) + "\" at offset " + Hex32(*at) +
                         ": the utility would read it as a package header");
    }
  }

  // Headers back to back after the application, then the data.
  std::vector<Part> parts = {{0, in.application.size(), "the application image"}};
  const size_t count = in.images.size();
  uint64_t pos = AlignUp(in.application.size(), kPackageAlignment);
  const uint64_t romPack = pos;
  parts.push_back({romPack, romPack + 17, "the ROM pack header"});
  parts.push_back({romPack + 17, romPack + 66, "the built-in options"});
  parts.push_back({romPack + 66, romPack + kRomPackHeaderSize, "the command filter"});
  pos += kRomPackHeaderSize;
  const uint64_t extPack = pos;
  parts.push_back({extPack, extPack + kExtPackHeaderSize, "the extra pack header"});
  pos += kExtPackHeaderSize;
  std::vector<uint64_t> headers = {romPack};
  for (size_t i = 1; i < count; ++i) {
    headers.push_back(pos);
    parts.push_back({pos, pos + kRomExtHeaderSize, "the header of image " + Quoted(in.images[i].name)});
    pos += kRomExtHeaderSize;
  }
  const uint64_t iniPack = pos;
  if (in.ini) {
    parts.push_back({pos, pos + kIniPackHeaderSize, "the INI pack header"});
    pos += kIniPackHeaderSize;
  }
  std::vector<uint64_t> data;
  for (const NamedFile& f : in.images) {
    pos = AlignUp(pos, kPackageAlignment);
    data.push_back(pos);
    parts.push_back({pos, pos + f.data.size(), "image " + Quoted(f.name)});
    pos += f.data.size();
  }
  uint64_t iniData = 0;
  if (in.ini) {
    pos = AlignUp(pos, kPackageAlignment);
    iniData = pos;
    parts.push_back({pos, pos + in.ini->size(), "the INI text"});
    pos += in.ini->size();
  }
  std::vector<uint64_t> records;
  for (const NamedFile& f : in.resources) {
    pos = AlignUp(pos, kPackageAlignment);
    records.push_back(pos);
    parts.push_back({pos, pos + kResourceHeaderSize + f.data.size(), "resource " + Quoted(f.name)});
    pos += kResourceHeaderSize + f.data.size();
  }
  if (pos > std::numeric_limits<size_t>::max() / 2) throw PackageError("the package would be too large");

  Bytes out(static_cast<size_t>(pos), 0);
  std::copy(in.application.begin(), in.application.end(), out.begin());
  PutText(out, romPack, kRomPackSig);
  Put32(out, romPack + 9, ToU32(data[0] - romPack, "the offset of image " + Quoted(in.images[0].name)));
  Put32(out, romPack + 13, ToU32(in.images[0].data.size(), "the size of image " + Quoted(in.images[0].name)));
  PutText(out, romPack + 17, in.options);
  PutText(out, romPack + 66, in.filter);
  PutText(out, extPack, kExtPackSig);
  out[extPack + 13] = static_cast<uint8_t>(count);
  PutText(out, extPack + 14, in.images[0].name);
  for (size_t i = 1; i < count; ++i) {
    const NamedFile& f = in.images[i];
    PutText(out, headers[i], FurtherRomSignature(i));
    Put32(out, headers[i] + 9, ToU32(data[i] - headers[i], "the offset of image " + Quoted(f.name)));
    Put32(out, headers[i] + 13, ToU32(f.data.size(), "the size of image " + Quoted(f.name)));
    PutText(out, headers[i] + 17, f.name);
  }
  for (size_t i = 0; i < count; ++i) std::copy(in.images[i].data.begin(), in.images[i].data.end(), out.begin() + data[i]);
  if (in.ini) {
    PutText(out, iniPack, kIniPackSig);
    Put32(out, iniPack + 9, ToU32(iniData - iniPack, "the offset of the INI text"));
    Put32(out, iniPack + 13, ToU32(in.ini->size(), "the size of the INI text"));
    const Bytes stored = ScrambleIni(*in.ini);
    std::copy(stored.begin(), stored.end(), out.begin() + iniData);
  }
  for (size_t i = 0; i < in.resources.size(); ++i) {
    const NamedFile& f = in.resources[i];
    const uint64_t r = records[i];
    PutText(out, r, kResourceSig);
    out[r + 10] = kResourceVerifyCode & 0xFF;
    out[r + 11] = kResourceVerifyCode >> 8;
    Put32(out, r + 12, ToU32(f.data.size(), "the size of resource " + Quoted(f.name)));
    PutText(out, r + 16, f.name);
    std::copy(f.data.begin(), f.data.end(), out.begin() + r + kResourceHeaderSize);
  }

  // Headers precede all data, so only the application could come first;
  // but names, options and the filter are inside the headers, and a later
  // header's signature among them would be found instead.
  std::vector<std::pair<std::string, uint64_t>> expected = {{kRomPackSig, romPack}, {kExtPackSig, extPack}};
  for (size_t i = 1; i < count; ++i) expected.push_back({FurtherRomSignature(i), headers[i]});
  if (in.ini) expected.push_back({kIniPackSig, iniPack});
  for (const auto& [sig, at] : expected) {
    const size_t first = *Find(out, sig);
    if (first != at) {
      throw PackageError("\"" + sig + "\" occurs in " + PartAt(parts, first) + " at offset " + Hex32(first) +
                         ", before the package's own header at " + Hex32(at) + ": the utility would read that one");
    }
  }
  // Resources are searched one after another from the start: every record
  // signature must be one of ours.
  const std::set<uint64_t> ours(records.begin(), records.end());
  for (auto at = Find(out, kResourceSig); at; at = Find(out, kResourceSig, *at + 1)) {
    if (ours.count(*at) == 0) {
      throw PackageError("\"" + std::string(kResourceSig) + "\" occurs in " + PartAt(parts, *at) + " at offset " +
                         Hex32(*at) + ": the utility would take it for a resource record");
    }
  }
  const PackageView view = ReadPackage(out);
  bool same = view.errors.empty() && view.images.size() == count && view.resources.size() == in.resources.size() &&
              view.options == in.options && view.filter == in.filter && view.iniText == in.ini.value_or(Bytes());
  for (size_t i = 0; same && i < count; ++i) {
    same = view.images[i].fileOffset == data[i] && view.images[i].name == in.images[i].name;
  }
  for (size_t i = 0; same && i < in.resources.size(); ++i) {
    same = view.resources[i].recordOffset == records[i] && view.resources[i].name == in.resources[i].name;
  }
  if (!same) throw PackageError("the package does not read back as packed");
  return out;
}

PackageView ReadPackage(const Bytes& file) {
  PackageView v;
  const auto romPack = Find(file, kRomPackSig);
  if (!romPack) return v;
  v.isPackage = true;
  v.romPackOffset = *romPack;
  auto& errors = v.errors;
  if (!HeaderInside(file, *romPack, kRomPackHeaderSize, "the ROM pack header", errors)) return v;
  if (auto t = Field(file, *romPack + 17, kRomPackOptionsField)) {
    v.options = *t;
  } else {
    errors.push_back("the built-in options (49 bytes at " + Hex32(*romPack + 17) + ") are not NUL-terminated");
  }
  if (auto t = Field(file, *romPack + 66, kRomPackFilterField)) {
    v.filter = *t;
  } else {
    errors.push_back("the command filter (256 bytes at " + Hex32(*romPack + 66) + ") is not NUL-terminated");
  }

  std::string firstName;
  v.imageCount = 1;
  if (const auto ext = Find(file, kExtPackSig)) {
    v.extPackOffset = *ext;
    if (HeaderInside(file, *ext, kExtPackHeaderSize, "the extra pack header", errors)) {
      const size_t count = file[*ext + 13];
      if (count == 0 || count > kMaxPackageImages) {
        errors.push_back("the extra pack header at " + Hex32(*ext) + " counts " + std::to_string(count) +
                         " images (1 to 99 expected)");
      } else {
        v.imageCount = count;
      }
      firstName = NameField(file, *ext + 14, kImageNameField, "image 0", errors).value_or("");
    }
  }
  const uint32_t firstOffset = Get32(file, *romPack + 9);
  const uint32_t firstSize = Get32(file, *romPack + 13);
  if (DataInside(file, *romPack, firstOffset, firstSize, "image 0", errors)) {
    v.images.push_back({0, *romPack, *romPack + firstOffset, firstSize, firstName});
  }
  for (size_t i = 1; i < v.imageCount; ++i) {
    const std::string sig = FurtherRomSignature(i);
    const std::string what = "image " + std::to_string(i);
    const auto h = Find(file, sig);
    if (!h) {
      errors.push_back(what + ": its header \"" + sig + "\" is missing");
      continue;
    }
    if (!HeaderInside(file, *h, kRomExtHeaderSize, "the header \"" + sig + "\"", errors)) continue;
    const auto name = NameField(file, *h + 17, kImageNameField, what, errors);
    const uint32_t offset = Get32(file, *h + 9);
    const uint32_t size = Get32(file, *h + 13);
    if (DataInside(file, *h, offset, size, what, errors) && name) {
      v.images.push_back({i, *h, *h + offset, size, *name});
    }
  }

  if (const auto ini = Find(file, kIniPackSig)) {
    v.iniPackOffset = *ini;
    if (HeaderInside(file, *ini, kIniPackHeaderSize, "the INI pack header", errors)) {
      const uint32_t offset = Get32(file, *ini + 9);
      const uint32_t size = Get32(file, *ini + 13);
      if (DataInside(file, *ini, offset, size, "the INI text", errors)) {
        v.iniFileOffset = *ini + offset;
        const auto begin = file.begin() + static_cast<std::ptrdiff_t>(v.iniFileOffset);
        v.iniText = UnscrambleIni(Bytes(begin, begin + size));
      }
    }
  }

  for (auto r = Find(file, kResourceSig); r; r = Find(file, kResourceSig, *r + 1)) {
    const std::string what = "the resource record at " + Hex32(*r);
    if (!HeaderInside(file, *r, kResourceHeaderSize, "the resource record", errors)) continue;
    PackageResourceView res;
    res.recordOffset = *r;
    res.verifyCode = static_cast<uint16_t>(file[*r + 10] | file[*r + 11] << 8);
    res.size = Get32(file, *r + 12);
    const auto name = NameField(file, *r + 16, kResourceNameField, what, errors);
    if (!name) continue;
    res.name = *name;
    if (res.verifyCode != kResourceVerifyCode) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%04X", res.verifyCode);
      errors.push_back(what + " ('" + res.name + "'): verify code " + code +
                       " is not 0x55AA, so the utility skips it");
    } else if (file.size() - *r - kResourceHeaderSize < res.size) {
      errors.push_back(what + " ('" + res.name + "'): its " + std::to_string(res.size) +
                       " bytes of data run past the end of the file");
      continue;
    }
    v.resources.push_back(res);
  }
  return v;
}

MultiSkuView ReadMultiSku(const Bytes& file) {
  MultiSkuView v;
  const auto at = Find(file, kMultiSkuSig);
  if (!at) return v;
  v.isMultiSku = true;
  v.offset = *at;
  if (!HeaderInside(file, *at, kMultiSkuHeaderSize, "the multi-SKU header", v.errors)) return v;
  v.count = Get32(file, *at + 12);
  const uint64_t room = file.size() - *at;
  uint64_t readable = (room - kMultiSkuHeaderSize) / kMultiSkuEntrySize;
  if (v.count == 0) v.errors.push_back("the multi-SKU header at " + Hex32(*at) + " counts no images");
  if (v.count > readable) {
    v.errors.push_back("the multi-SKU entry table (" + std::to_string(v.count) + " entries) runs past the end of the file; " +
                       std::to_string(readable) + " entries fit");
  }
  readable = std::min<uint64_t>(readable, v.count);
  // A wrong count makes every byte after the table an entry: name a few.
  constexpr size_t kNamedBadEntries = 8;
  size_t bad = 0;
  v.entries.reserve(readable);
  for (uint64_t i = 0; i < readable; ++i) {
    const size_t entry = *at + kMultiSkuHeaderSize + i * kMultiSkuEntrySize;
    const uint32_t offset = Get32(file, entry);
    const uint32_t size = Get32(file, entry + 4);
    if (offset > room || size > room - offset) {
      if (bad++ < kNamedBadEntries) {
        DataInside(file, *at, offset, size, "multi-SKU image " + std::to_string(i), v.errors);
      }
      continue;
    }
    MultiSkuEntryView e;
    e.fileOffset = *at + offset;
    e.size = size;
    e.model = ReadBvdtModel(file.data() + e.fileOffset, size);
    v.entries.push_back(e);
  }
  if (bad > kNamedBadEntries) {
    v.errors.push_back("and " + std::to_string(bad - kNamedBadEntries) + " more multi-SKU images run past the end of the file");
  }
  return v;
}

Bytes BuildMultiSku(const std::vector<NamedFile>& images) {
  if (images.size() < 2) throw PackageError("a multi-SKU image needs at least two images");
  std::vector<std::string> models;
  for (const NamedFile& f : images) {
    const auto bvdt = FindBvdt(f.data);
    if (!bvdt) throw PackageError(Quoted(f.name) + " has no BVDT (\"$BVDT\"): its model name cannot be read");
    if (f.data.size() - *bvdt < kBvdtRecordSize) {
      throw PackageError(Quoted(f.name) + ": its BVDT at " + Hex32(*bvdt) + " is cut off by the end of the image");
    }
    const std::string model = *ReadBvdtModel(f.data.data(), f.data.size());
    if (model.empty()) throw PackageError(Quoted(f.name) + ": its BVDT has an empty model name");
    const auto same = std::find(models.begin(), models.end(), model);
    if (same != models.end()) {
      throw PackageError(Quoted(images[same - models.begin()].name) + " and " + Quoted(f.name) +
                         " have the same model name '" + model + "': the utility would always take the first");
    }
    models.push_back(model);
  }
  uint64_t pos = AlignUp(kMultiSkuHeaderSize + kMultiSkuEntrySize * images.size(), kPackageAlignment);
  std::vector<uint64_t> data;
  for (const NamedFile& f : images) {
    pos = AlignUp(pos, kPackageAlignment);
    data.push_back(pos);
    pos += f.data.size();
  }
  if (pos > std::numeric_limits<size_t>::max() / 2) throw PackageError("the multi-SKU image would be too large");
  Bytes out(static_cast<size_t>(pos), 0);
  PutText(out, 0, kMultiSkuSig);
  Put32(out, 12, images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    const size_t entry = kMultiSkuHeaderSize + i * kMultiSkuEntrySize;
    Put32(out, entry, ToU32(data[i], "the offset of " + Quoted(images[i].name)));
    Put32(out, entry + 4, ToU32(images[i].data.size(), "the size of " + Quoted(images[i].name)));
    std::copy(images[i].data.begin(), images[i].data.end(), out.begin() + data[i]);
  }
  const MultiSkuView view = ReadMultiSku(out);
  bool same = view.errors.empty() && view.entries.size() == images.size();
  for (size_t i = 0; same && i < images.size(); ++i) same = view.entries[i].model == models[i];
  if (!same) throw PackageError("the multi-SKU image does not read back as packed");
  return out;
}

}  // namespace vyr::pack

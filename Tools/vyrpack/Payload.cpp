#include "vyrpack/Payload.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace vyr::pack {

namespace {

uint32_t ToU32(uint64_t value, const std::string& what) {
  if (value > std::numeric_limits<uint32_t>::max()) {
    throw PayloadError(what + " would exceed 4 GiB (" + Hex32(value) + ")");
  }
  return static_cast<uint32_t>(value);
}

// Byte-by-byte tag search over data[start, end). With driverOnly the unsearched
// tags are not recognised, so the scan walks through their records as the
// driver does. A record whose data runs past `end` is reported truncated; the
// driver would have jumped past the end, so its scan stops there.
std::vector<FoundRecord> ScanRange(const Bytes& data, size_t start, size_t end, bool driverOnly) {
  std::vector<FoundRecord> found;
  end = std::min(end, data.size());
  size_t pos = start;
  while (pos < end && end - pos >= kTagSize) {
    // Every tag starts with '$': skip to the next one (images are mostly other bytes).
    const void* dollar = std::memchr(&data[pos], '$', end - pos - kTagSize + 1);
    if (dollar == nullptr) break;
    pos = static_cast<size_t>(static_cast<const uint8_t*>(dollar) - data.data());
    const RecordTag* hit = nullptr;
    for (const RecordTag& t : RecordTags()) {
      if ((!driverOnly || t.searchedByDriver) && std::memcmp(&data[pos], t.tag, kTagSize) == 0) {
        hit = &t;
        break;
      }
    }
    if (hit == nullptr) {
      ++pos;
      continue;
    }
    FoundRecord r{hit->kind, pos, false, 0, true};
    if (end - pos >= kRecordHeaderSize) {
      r.headerComplete = true;
      r.dataSize = ReadU32(data, pos + 20);
      r.truncated = r.dataSize > end - pos - kRecordHeaderSize;
    }
    found.push_back(r);
    if (!r.truncated) {
      pos += kRecordHeaderSize + r.dataSize;
    } else if (driverOnly) {
      break;
    } else {
      ++pos;
    }
  }
  return found;
}

// Checks that records can extend the last section and returns the file
// position of its raw data. A section with no file data yet (only
// uninitialised data, as lld-link leaves a trailing .data/.bss) is given raw
// data at the end of the file.
uint64_t CheckLastSection(const PeInfo& pe, size_t fileSize) {
  if (pe.sections.empty()) throw PayloadError("the image has no sections to carry the records");
  const PeSection& last = pe.sections.back();
  const std::string name = "last section '" + last.name + "'";
  if (pe.certificateTableSize != 0) {
    throw PayloadError("the image is signed (certificate table of " +
                       std::to_string(pe.certificateTableSize) + " bytes at " +
                       Hex32(pe.certificateTableOffset) +
                       "); records would invalidate the signature: pack the unsigned image "
                       "and sign afterwards");
  }
  uint64_t dataEnd = pe.sizeOfHeaders;  // end of everything the section table accounts for
  for (const PeSection& s : pe.sections) {
    if (s.sizeOfRawData != 0) dataEnd = std::max(dataEnd, uint64_t{s.pointerToRawData} + s.sizeOfRawData);
  }
  const uint64_t rawPtr = last.sizeOfRawData != 0 ? last.pointerToRawData
                                                  : ToU32(AlignUp(fileSize, pe.fileAlignment), "the file size");
  if (last.virtualAddress < rawPtr) {
    throw PayloadError(name + " has VirtualAddress " + Hex32(last.virtualAddress) +
                       " below its PointerToRawData " + Hex32(rawPtr) +
                       ": the driver scans its loaded image from base + PointerToRawData, so "
                       "records placed in this section would fall outside the scanned range");
  }
  for (size_t i = 0; i + 1 < pe.sections.size(); ++i) {
    const PeSection& s = pe.sections[i];
    const bool memBelow = uint64_t{s.virtualAddress} + s.LoadedSize() <= last.virtualAddress;
    const bool fileBelow = s.sizeOfRawData == 0 || uint64_t{s.pointerToRawData} + s.sizeOfRawData <= rawPtr;
    if (!memBelow || !fileBelow) {
      throw PayloadError(name + " is not the highest section in memory and in the file (section '" +
                         s.name + "' lies above it); growing it would overlap");
    }
  }
  if (dataEnd != fileSize) {
    std::string detail = std::to_string(fileSize - dataEnd) +
                         " bytes of trailing data follow the sections' raw data (at " + Hex32(dataEnd) + ")";
    if (pe.pointerToSymbolTable >= dataEnd) detail += ", including a COFF symbol table";
    throw PayloadError(detail + "; the records must end the " + name +
                       "'s raw data: strip the overlay (debug data, symbols) and pack again");
  }
  return rawPtr;
}

std::string DescribeRecords(const std::vector<FoundRecord>& records) {
  if (records.empty()) return "none";
  std::string s;
  for (const FoundRecord& r : records) {
    if (!s.empty()) s += ", ";
    s += std::string(TagOf(r.kind).tag) + " at RVA " + Hex32(r.offset);
  }
  return s;
}

}  // namespace

const std::vector<RecordTag>& RecordTags() {
  static const std::vector<RecordTag> tags = {
      {RecordKind::Bios, "$_NORVEL_BIOSIMG", "bios", "BIOS image", true},
      {RecordKind::Ini, "$_NORVEL_INI_IMG", "ini", "platform.ini text", true},
      {RecordKind::Ec, "$_NORVEL_EC_IMG_", "ec", "EC image", true},
      {RecordKind::Ish, "$_NORVEL_ISH_IMG", "ish", "ISH image", true},
      {RecordKind::Pdt, "$_NORVEL_PDT_IMG", "pdt", "PDT image", true},
      {RecordKind::Me, "$_NORVEL_ME_IMG_", "me", "ME image", true},
      {RecordKind::OemId, "$_NORVEL_OEM_ID_", "oem-id", "OEM ID data sent with the ME image", true},
      {RecordKind::PfatHdr, "$_PFAT_HDR_IMG__", "pfat-hdr", "PFAT header", true},
      {RecordKind::PfatCer, "$_PFAT_CER_IMG__", "pfat-cer", "PFAT certificate", true},
      {RecordKind::DeviceFw, "$_DEVICE_FW_IMG_", "device-fw", "device firmware", true},
      {RecordKind::BiosCer, "$_NORVEL_BIOSCER", "bios-cer", "BIOS certificate (not read by the driver)", false},
      {RecordKind::BiosCr2, "$_NORVEL_BIOSCR2", "bios-cr2", "second BIOS certificate (not read by the driver)", false},
  };
  return tags;
}

const RecordTag& TagOf(RecordKind kind) { return RecordTags().at(static_cast<size_t>(kind)); }

Bytes EncodeRecord(RecordKind kind, const Bytes& data) {
  const uint32_t size = ToU32(data.size() + kRecordHeaderSize, std::string("record ") + TagOf(kind).tag) -
                        static_cast<uint32_t>(kRecordHeaderSize);
  Bytes out(kRecordHeaderSize);
  std::memcpy(out.data(), TagOf(kind).tag, kTagSize);
  WriteU32(out, 16, size + static_cast<uint32_t>(kRecordHeaderSize));
  WriteU32(out, 20, size);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

AppendResult AppendPayload(const Bytes& image, const std::vector<PayloadRecord>& records,
                           const AppendOptions& options) {
  // Records are written in RecordKind order whatever order the caller gives.
  std::array<const PayloadRecord*, 12> byKind{};
  for (const PayloadRecord& r : records) {
    const size_t k = static_cast<size_t>(r.kind);
    if (k >= byKind.size()) throw PayloadError("unknown record kind");
    if (byKind[k] != nullptr) throw PayloadError(std::string("two records tagged ") + TagOf(r.kind).tag);
    byKind[k] = &r;
  }
  const PayloadRecord emptyBios{RecordKind::Bios, {}};
  if (options.emptyBios) {
    if (byKind[0] != nullptr) throw PayloadError("a BIOS record was given together with an empty BIOS record");
    byKind[0] = &emptyBios;
  }
  if (byKind[0] == nullptr) {
    throw PayloadError("a BIOS record is required (give a BIOS image, or ask for an empty BIOS record "
                       "to update only the other parts)");
  }
  if (byKind[1] == nullptr) throw PayloadError("an INI record (platform.ini text) is required");

  const PeInfo pe = ParsePe(image);
  const uint64_t rawPtr = CheckLastSection(pe, image.size());
  const PeSection& last = pe.sections.back();
  const std::vector<FoundRecord> already = DriverView(image);
  if (!already.empty()) {
    throw PayloadError("the image already holds payload tags where the driver looks for them (" +
                       DescribeRecords(already) + "); pack an image without records");
  }

  AppendResult result;
  Bytes& out = result.image;
  out = image;
  // Records start after everything the section already occupies in memory too,
  // so a zero-filled tail (uninitialised data) is never overlaid by records.
  uint64_t pos = rawPtr + std::max(last.sizeOfRawData, last.virtualSize);
  for (const PayloadRecord* r : byKind) {
    if (r == nullptr) continue;
    pos = AlignUp(pos, kRecordAlignment);
    const Bytes rec = EncodeRecord(r->kind, r->data);
    const uint64_t offsetInSection = pos - rawPtr;
    const uint32_t rva = ToU32(last.virtualAddress + offsetInSection, "the record's address");
    out.resize(pos, 0);
    out.insert(out.end(), rec.begin(), rec.end());
    result.placed.push_back({r->kind, pos, rva, static_cast<uint32_t>(r->data.size())});
    pos += rec.size();
  }

  const uint64_t usedInSection = pos - rawPtr;
  const uint32_t newVirtualSize = ToU32(usedInSection, "the last section's VirtualSize");
  const uint32_t newRawSize = ToU32(AlignUp(usedInSection, pe.fileAlignment), "the last section's SizeOfRawData");
  const uint32_t newSizeOfImage = std::max(
      pe.sizeOfImage,
      ToU32(AlignUp(uint64_t{last.virtualAddress} + newVirtualSize, pe.sectionAlignment), "SizeOfImage"));
  out.resize(rawPtr + newRawSize, 0);

  WriteU32(out, last.headerOffset + 8, newVirtualSize);
  WriteU32(out, last.headerOffset + 20, static_cast<uint32_t>(rawPtr));
  WriteU32(out, last.headerOffset + 16, newRawSize);
  WriteU32(out, pe.SizeOfImageOffset(), newSizeOfImage);
  WriteU32(out, pe.CheckSumOffset(), 0);
  if (last.characteristics & kScnCntInitializedData) {
    const uint64_t grown = uint64_t{ReadU32(out, pe.SizeOfInitializedDataOffset())} +
                           (newRawSize - last.sizeOfRawData);
    WriteU32(out, pe.SizeOfInitializedDataOffset(),
             static_cast<uint32_t>(std::min<uint64_t>(grown, std::numeric_limits<uint32_t>::max())));
  }

  // The driver steps byte by byte through records it does not search for (the
  // certificates); a tag inside their data would derail its scan.
  std::vector<FoundRecord> expected;
  for (const PlacedRecord& p : result.placed) {
    if (TagOf(p.kind).searchedByDriver) expected.push_back({p.kind, p.rva, true, p.dataSize, false});
  }
  const std::vector<FoundRecord> seen = DriverView(out);
  const bool same = seen.size() == expected.size() &&
                    std::equal(seen.begin(), seen.end(), expected.begin(), [](const FoundRecord& a, const FoundRecord& b) {
                      return a.kind == b.kind && a.offset == b.offset && a.dataSize == b.dataSize && !a.truncated;
                    });
  if (!same) {
    throw PayloadError("the driver's scan of the packed image would find " + DescribeRecords(seen) +
                       " instead of " + DescribeRecords(expected) +
                       " (a record tag inside certificate data?)");
  }
  return result;
}

ScanReport ScanRecords(const Bytes& file) {
  ScanReport report;
  if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') {
    try {
      report.pe = ParsePe(file);
      report.isPe = true;
      report.start = report.pe.sizeOfHeaders;
    } catch (const PeError& e) {
      report.peError = e.what();
    }
  }
  report.records = ScanRange(file, report.start, file.size(), false);
  return report;
}

std::vector<FoundRecord> DriverView(const Bytes& file) {
  const PeInfo pe = ParsePe(file);
  if (pe.sections.empty()) return {};
  const Bytes mem = MapImage(file, pe);
  return ScanRange(mem, pe.sections.back().pointerToRawData, mem.size(), true);
}

uint32_t Crc32(const uint8_t* data, size_t size) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace vyr::pack

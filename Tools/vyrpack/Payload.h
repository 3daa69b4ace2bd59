// Payload records appended to the driver image, and scans that find them.
//
// Record layout (little-endian): 16-byte ASCII tag without terminator, u32
// second length (24 + data size; the driver never reads it), u32 data size,
// data. The packager starts each record on a 32-byte boundary of the file.
#ifndef VYRPACK_PAYLOAD_H_
#define VYRPACK_PAYLOAD_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "vyrpack/PeImage.h"

namespace vyr::pack {

class PayloadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// In the driver's search order; BiosCer and BiosCr2 are packed but never searched for.
enum class RecordKind : uint8_t {
  Bios, Ini, Ec, Ish, Pdt, Me, OemId, PfatHdr, PfatCer, DeviceFw, BiosCer, BiosCr2
};

constexpr size_t kTagSize = 16;
constexpr size_t kRecordHeaderSize = 24;
constexpr size_t kRecordAlignment = 32;

struct RecordTag {
  RecordKind kind;
  const char* tag;     // exactly kTagSize characters
  const char* option;  // command-line option naming the data file, without "--"
  const char* what;    // one-line description for help and inspect
  bool searchedByDriver;
};

// All twelve tags, in RecordKind order.
const std::vector<RecordTag>& RecordTags();
const RecordTag& TagOf(RecordKind kind);

struct PayloadRecord {
  RecordKind kind;
  Bytes data;
};

struct AppendOptions {
  // Pack a BIOS record of size 0 (the driver then updates only what the other
  // records carry). Without it a BIOS record must be supplied.
  bool emptyBios = false;
};

struct PlacedRecord {
  RecordKind kind;
  uint64_t fileOffset;  // of the tag
  uint32_t rva;         // where the loader puts the tag, relative to the image base
  uint32_t dataSize;
};

struct AppendResult {
  Bytes image;
  std::vector<PlacedRecord> placed;  // in file order
};

// Appends the records into the image's last section, growing its raw and
// virtual sizes and SizeOfImage, and clearing CheckSum. Throws PayloadError
// (or PeError for an unreadable image) with a message for the user; the input
// is never modified.
AppendResult AppendPayload(const Bytes& image, const std::vector<PayloadRecord>& records,
                           const AppendOptions& options = {});

// The bytes of one record (header and data, no padding).
Bytes EncodeRecord(RecordKind kind, const Bytes& data);

struct FoundRecord {
  RecordKind kind;
  uint64_t offset;      // of the tag: a file offset, or an RVA for DriverView
  bool headerComplete;  // false when the file ends inside the 24-byte header
  uint32_t dataSize;    // 0 when the header is incomplete
  bool truncated;       // the header or the data runs past the end
};

struct ScanReport {
  bool isPe = false;
  std::string peError;  // why a file starting with "MZ" was not taken as a PE
  PeInfo pe;            // valid when isPe
  size_t start = 0;     // where the scan began
  std::vector<FoundRecord> records;
};

// Scans byte by byte for any of the twelve tags: after the PE headers when the
// file is a PE, else over the whole file. After a record the scan continues
// past its data, after a truncated one a single byte on.
ScanReport ScanRecords(const Bytes& file);

// What the driver's own start-up scan finds once the image is loaded: the image
// is mapped, then scanned from the last section's PointerToRawData (taken as an
// offset from the image base) to SizeOfImage for the ten searched tags, moving
// one byte at a time and jumping over each record found. Offsets are RVAs.
std::vector<FoundRecord> DriverView(const Bytes& file);

// CRC-32 (IEEE 802.3, reflected, as zlib computes it).
uint32_t Crc32(const uint8_t* data, size_t size);

}  // namespace vyr::pack

#endif  // VYRPACK_PAYLOAD_H_

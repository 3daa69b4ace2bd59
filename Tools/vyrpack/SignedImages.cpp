#include "vyrpack/SignedImages.h"

#include <cstdio>
#include <cstring>

#include "vyrpack/Payload.h"
#include "vyrpack/Signing.h"

namespace vyr::pack {

namespace {

const uint8_t kCapsuleSignature[20] = {'$',  'Z',  'T',  'K',  0x33, 0x38, 0xA1, 0xDD, 0x42, 0xC3,
                                       0xAE, 0x4E, 0xB5, 0xC9, 0xC2, 0xD7, 0xD6, 0x13, 0xDB, 0xB8};
const char kDriverSignature[] = "Q#EFI#DRV_";
const char kCapsuleSignatureTag[] = "$_NORVEL_CAPSIG_";
const char kRbuSignatureTag[] = "$_NORVEL_RBUSIG_";
constexpr size_t kSignatureRecordSize = kRecordHeaderSize + kSignatureSize;

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
uint32_t Get32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void Append(Bytes& out, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  out.insert(out.end(), p, p + size);
}
void Align(Bytes& out) { out.resize((out.size() + kRecordAlignment - 1) / kRecordAlignment * kRecordAlignment, 0); }

// The signature record: its tag, the record length, 256, the signature.
Bytes SignatureRecord(const char* tag, const Bytes& signature) {
  Bytes record(kSignatureRecordSize, 0);
  std::memcpy(record.data(), tag, kTagSize);
  Put32(record, 16, uint32_t(kSignatureRecordSize));
  Put32(record, 20, uint32_t(kSignatureSize));
  std::memcpy(record.data() + kRecordHeaderSize, signature.data(), kSignatureSize);
  return record;
}

std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
  return text;
}

size_t FindBytes(const Bytes& file, const void* needle, size_t size, size_t from = 0) {
  const uint8_t* n = static_cast<const uint8_t*>(needle);
  for (size_t at = from; at + size <= file.size(); ++at) {
    if (file[at] == n[0] && std::memcmp(file.data() + at, n, size) == 0) return at;
  }
  return std::string::npos;
}

std::string Verdict(const std::optional<std::string>& keyPath,
                    const std::vector<std::pair<const uint8_t*, size_t>>& pieces, const uint8_t* signature) {
  if (!keyPath) return "present (give --key to check it)";
  return VerifyPieces(*keyPath, pieces, signature) ? "made by the key" : "NOT made by the key";
}

}  // namespace

uint32_t RbuCrc32(const uint8_t* data, size_t size) {
  if (data == nullptr || size == 0) return 0;
  return ~Crc32(data, size);
}

Bytes BuildSecureCapsule(const CapsuleParts& parts, const std::string& keyPath) {
  Bytes out;
  Append(out, kCapsuleSignature, sizeof kCapsuleSignature);
  Align(out);
  if (parts.driverSignature) {
    Append(out, kDriverSignature, sizeof kDriverSignature - 1);
    Align(out);
  }
  const auto add = [&](RecordKind kind, const Bytes& data) {
    const Bytes record = EncodeRecord(kind, data);
    out.insert(out.end(), record.begin(), record.end());
    Align(out);
  };
  if (parts.bios.empty() && !parts.ec && !parts.me) {
    throw SignedImageError("a capsule with an empty BIOS record must carry an EC or ME record");
  }
  add(RecordKind::Bios, parts.bios);
  if (parts.ec) add(RecordKind::Ec, *parts.ec);
  if (parts.me) add(RecordKind::Me, *parts.me);
  if (parts.deviceFirmware) add(RecordKind::DeviceFw, *parts.deviceFirmware);
  if (parts.ini) add(RecordKind::Ini, *parts.ini);
  const Bytes record = SignatureRecord(kCapsuleSignatureTag, Sign(keyPath, out));
  out.insert(out.end(), record.begin(), record.end());
  return out;
}

Bytes BuildRbuImage(const Bytes& fd, const std::string& keyPath) {
  if (fd.empty() || fd.size() % kRbuBlock != 0) {
    throw SignedImageError("an RBU image carries whole 512 KiB blocks; the FD is " + Hex(fd.size()) + " bytes");
  }
  Bytes out(kRbuHeaderSize + kRbuBisSize, 0);
  std::memcpy(out.data(), "$RBU", 4);
  out[4] = uint8_t(kRbuHeaderSize);
  Put32(out, 8, uint32_t(fd.size()));
  std::memcpy(out.data() + kRbuHeaderSize, "$BIS", 4);
  out[kRbuHeaderSize + 4] = uint8_t(kRbuBisSize);
  out[kRbuHeaderSize + 5] = uint8_t(kRbuBisSize >> 8);
  std::memcpy(out.data() + kRbuHeaderSize + 8, "VYRPACK", 7);
  out.insert(out.end(), fd.begin(), fd.end());
  // Signed: all before the trailer but the signature record itself.
  const size_t record = kRbuHeaderSize + kRbuBisSize - kSignatureRecordSize;
  const size_t window = kRbuHeaderSize + kRbuBisSize;
  const Bytes signature = SignPieces(keyPath, {{out.data(), record}, {out.data() + window, fd.size()}});
  const Bytes sig = SignatureRecord(kRbuSignatureTag, signature);
  std::memcpy(out.data() + record, sig.data(), sig.size());
  out.resize(out.size() + 8, 0);
  const size_t trailer = window + fd.size();
  Put32(out, trailer, RbuCrc32(out.data() + kRbuHeaderSize, trailer - kRbuHeaderSize));
  Put32(out, trailer + 4, RbuCrc32(out.data(), out.size() - 4));
  return out;
}

Bytes BuildPfatImage(const Bytes& fd, const std::string& keyPath, uint32_t blockSize, std::optional<uint32_t> base) {
  if (blockSize == 0 || blockSize % 0x1000 != 0 || fd.empty() || fd.size() % blockSize != 0) {
    throw SignedImageError("the FD (" + Hex(fd.size()) + " bytes) must be whole blocks of " + Hex(blockSize) +
                           " (a multiple of 4 KiB)");
  }
  if (fd.size() > 0x100000000ull) throw SignedImageError("the FD does not fit below 4 GiB");
  const uint32_t n = uint32_t(fd.size() / blockSize);
  const uint64_t first = base ? *base : 0x100000000ull - fd.size();
  if (first + fd.size() > 0x100000000ull) throw SignedImageError("--base puts the blocks past 4 GiB");
  Bytes header(32 + size_t(n) * kPfatBlockHeaderSize, 0);
  std::memcpy(header.data(), "$PFATHDR", 8);
  Put32(header, 8, 1);
  Put32(header, 12, n);
  Put32(header, 16, kPfatBlockHeaderSize);
  Put32(header, 20, blockSize);
  Bytes cer(32 + size_t(n) * kSignatureSize, 0);
  std::memcpy(cer.data(), "$PFATCER", 8);
  Put32(cer, 8, 1);
  Put32(cer, 12, n);
  Put32(cer, 16, uint32_t(kSignatureSize));
  for (uint32_t i = 0; i < n; ++i) {
    const size_t at = 32 + size_t(i) * kPfatBlockHeaderSize;
    std::memcpy(header.data() + at, "$PFATBLK", 8);
    Put32(header, at + 8, i);
    Put32(header, at + 12, uint32_t(first + uint64_t(i) * blockSize));
    Put32(header, at + 16, blockSize);
    Put32(header, at + 20, uint32_t(kSignatureSize));
    const Bytes signature =
        SignPieces(keyPath, {{header.data() + at, kPfatBlockHeaderSize}, {fd.data() + size_t(i) * blockSize, blockSize}});
    std::memcpy(cer.data() + 32 + size_t(i) * kSignatureSize, signature.data(), kSignatureSize);
  }
  Bytes out = fd;
  out.insert(out.end(), header.begin(), header.end());
  const size_t cerAt = out.size();
  out.insert(out.end(), cer.begin(), cer.end());
  uint32_t sum = 0;
  for (uint8_t b : out) sum += b;  // the checksum field is still 0
  Put32(out, cerAt + 20, sum);
  return out;
}

std::vector<std::string> DescribeSignedImage(const Bytes& file, const std::optional<std::string>& keyPath) {
  std::vector<std::string> lines;
  // Secure capsule: the capsule signature and the trailing signature record.
  if (FindBytes(file, kCapsuleSignature, sizeof kCapsuleSignature) != std::string::npos) {
    lines.push_back("secure capsule" + std::string(FindBytes(file, kDriverSignature, 10) != std::string::npos
                                                       ? ", driver signature \"Q#EFI#DRV_\""
                                                       : ", no driver signature (older signing version)"));
    const size_t end = file.size() >= kSignatureRecordSize ? file.size() - kSignatureRecordSize : 0;
    const bool signedRecord = file.size() >= kSignatureRecordSize &&
                              std::memcmp(file.data() + end, kCapsuleSignatureTag, kTagSize) == 0 &&
                              Get32(file, end + 20) == kSignatureSize;
    lines.push_back(signedRecord ? "  signature of bytes 0-" + Hex(end) + ": " +
                                       Verdict(keyPath, {{file.data(), end}}, file.data() + end + kRecordHeaderSize)
                                 : "  no trailing signature record: a signing BIOS refuses it");
    return lines;
  }
  if (file.size() >= 13 && std::memcmp(file.data(), "$RBU", 4) == 0) {
    const size_t h = file[4];
    lines.push_back("RBU image, header length " + std::to_string(h));
    if (h + 6 > file.size() || std::memcmp(file.data() + h, "$BIS", 4) != 0) {
      lines.push_back("  no \"$BIS\" block: unsigned");
      return lines;
    }
    const size_t l = size_t(file[h + 4]) | size_t(file[h + 5]) << 8;
    if (l < 6 + kSignatureRecordSize || h + l + 8 > file.size()) {
      lines.push_back("  \"$BIS\" block of " + std::to_string(l) + " bytes: no room for a signature");
      return lines;
    }
    const size_t window = h + l, raw = file.size() - h - l - 8, trailer = window + raw;
    lines.push_back("  raw FD at " + Hex(window) + ", " + Hex(raw) + " bytes" +
                    (raw % kRbuBlock != 0 ? " (not whole 512 KiB blocks)" : ""));
    const bool fdOk = Get32(file, trailer) == RbuCrc32(file.data() + h, trailer - h);
    const bool allOk = Get32(file, trailer + 4) == RbuCrc32(file.data(), file.size() - 4);
    lines.push_back(std::string("  FD checksum ") + (fdOk ? "right" : "WRONG") + ", entire checksum " +
                    (allOk ? "right" : "WRONG"));
    const size_t record = window - kSignatureRecordSize;
    if (std::memcmp(file.data() + record, kRbuSignatureTag, kTagSize) != 0) {
      lines.push_back("  no signature record");
    } else {
      lines.push_back("  signature: " + Verdict(keyPath, {{file.data(), record}, {file.data() + window, raw}},
                                                  file.data() + record + kRecordHeaderSize));
    }
    return lines;
  }
  const size_t hdr = FindBytes(file, "$PFATHDR", 8);
  if (hdr != std::string::npos) {
    lines.push_back("PFAT image, FD part " + Hex(hdr) + " bytes");
    if (hdr + 32 > file.size()) return lines;
    const uint32_t n = Get32(file, hdr + 12), h = Get32(file, hdr + 16), r = Get32(file, hdr + 20);
    lines.push_back("  " + std::to_string(n) + " blocks of " + Hex(r) + ", headers of " + std::to_string(h) + " bytes");
    const size_t cer = FindBytes(file, "$PFATCER", 8);
    if (cer == std::string::npos || cer + 32 > file.size()) {
      lines.push_back("  no \"$PFATCER\" block: unsigned");
      return lines;
    }
    const uint32_t c = Get32(file, cer + 16);
    const uint64_t end = std::min<uint64_t>(file.size(), cer + uint64_t(c) * Get32(file, cer + 12) + 32);
    uint32_t sum = 0;
    for (uint64_t i = 0; i < end; ++i) sum += (i >= cer + 20 && i < cer + 24) ? 0 : file[i];
    lines.push_back(std::string("  checksum ") + (sum == Get32(file, cer + 20) ? "right" : "WRONG"));
    const bool fits = h == kPfatBlockHeaderSize && c == kSignatureSize && uint64_t(n) * r <= hdr &&
                      hdr + 32 + uint64_t(n) * h <= file.size() && cer + 32 + uint64_t(n) * c <= file.size();
    if (!fits) {
      lines.push_back("  blocks do not fit the file or the packet layout");
      return lines;
    }
    size_t good = 0;
    for (uint32_t i = 0; i < n && keyPath; ++i) {
      const uint8_t* head = file.data() + hdr + 32 + size_t(i) * h;
      good += VerifyPieces(*keyPath, {{head, h}, {file.data() + size_t(i) * r, r}},
                           file.data() + cer + 32 + size_t(i) * c);
    }
    lines.push_back(keyPath ? "  " + std::to_string(good) + " of " + std::to_string(n) + " packets made by the key"
                            : "  packet signatures present (give --key to check them)");
  }
  return lines;
}

}  // namespace vyr::pack

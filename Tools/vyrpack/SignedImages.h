// The signed images of a signing platform: secure capsules (BIOS, EC, ME and
// device-firmware records, the driver signature, a trailing signature
// record), RBU images (a "$BIS" block carrying the signature, the raw FD,
// the two checksums) and PFAT images (the FD, then the "$PFATHDR" block of
// per-block headers and the "$PFATCER" block of per-block signatures), and
// what 'vyrpack inspect' says about them. Layouts: docs/vyrpack.md.
#ifndef VYRPACK_SIGNED_IMAGES_H_
#define VYRPACK_SIGNED_IMAGES_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vyrpack/PeImage.h"

namespace vyr::pack {

class SignedImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr uint32_t kRbuBlock = 0x80000;
constexpr uint32_t kRbuHeaderSize = 32;
constexpr uint32_t kRbuBisSize = 0x1C + 24 + 256;  // information, then the signature record
constexpr uint32_t kPfatBlockHeaderSize = 32;

struct CapsuleParts {
  Bytes bios;  // may be empty: an EC-only or ME-only capsule
  std::optional<Bytes> ec, me, deviceFirmware;
  std::optional<Bytes> ini;  // the settings the utility runs the capsule with (it needs one)
  bool driverSignature = true;  // "Q#EFI#DRV_": signed by the current signing version
};

// Throws SignedImageError or SigningError.
Bytes BuildSecureCapsule(const CapsuleParts& parts, const std::string& keyPath);
// The FD must be whole 512 KiB blocks.
Bytes BuildRbuImage(const Bytes& fd, const std::string& keyPath);
// The FD is cut into blocks of blockSize bytes; block i goes to flash address
// base + i * blockSize (default: the FD ends at 4 GiB).
Bytes BuildPfatImage(const Bytes& fd, const std::string& keyPath, uint32_t blockSize,
                     std::optional<uint32_t> base = std::nullopt);

// The RBU trailer's CRC-32: reflected, initial value all ones, no final
// inversion; 0 for no bytes.
uint32_t RbuCrc32(const uint8_t* data, size_t size);

// Lines describing a secure capsule, RBU or PFAT image (empty for anything
// else); with a key, whether each signature is its.
std::vector<std::string> DescribeSignedImage(const Bytes& file, const std::optional<std::string>& keyPath);

}  // namespace vyr::pack

#endif  // VYRPACK_SIGNED_IMAGES_H_

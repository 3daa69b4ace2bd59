// Shell packages (an application image with BIOS images, platform.ini text,
// built-in options, a command filter and resource files appended) and
// multi-SKU images (several BIOS images, one per machine model), and the
// readers that show what such a file holds.
//
// The utility finds every package header by the first occurrence of its
// signature in the whole file and takes offsets from that signature, so the
// builders check the finished file with the same reader before handing it out.
#ifndef VYRPACK_PACKAGE_H_
#define VYRPACK_PACKAGE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vyrpack/PeImage.h"

namespace vyr::pack {

class PackageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr size_t kRomPackHeaderSize = 322;
constexpr size_t kExtPackHeaderSize = 78;
constexpr size_t kRomExtHeaderSize = 81;
constexpr size_t kIniPackHeaderSize = 17;
constexpr size_t kResourceHeaderSize = 64;
constexpr size_t kRomPackOptionsField = 49;   // at ROM pack + 17
constexpr size_t kRomPackFilterField = 256;   // at ROM pack + 66
constexpr size_t kImageNameField = 64;        // at extra pack + 14, further ROM header + 17
constexpr size_t kResourceNameField = 48;     // at resource + 16
constexpr size_t kMaxPackageName = 47;
constexpr size_t kMaxPackageImages = 99;
constexpr uint16_t kResourceVerifyCode = 0x55AA;
constexpr size_t kPackageAlignment = 16;
constexpr size_t kMultiSkuHeaderSize = 16;
constexpr size_t kMultiSkuEntrySize = 8;

struct NamedFile {
  std::string name;
  Bytes data;
};

struct PackageInput {
  Bytes application;           // a PE32/PE32+ image
  std::vector<NamedFile> images;  // the first is the ROM pack's own image
  std::optional<Bytes> ini;    // plain text; stored scrambled
  std::string options;         // at most 48 characters
  std::string filter;          // at most 255 characters
  std::vector<NamedFile> resources;
};

// The "$ROM_Pnn_" signature of further image `index` (1..99).
std::string FurtherRomSignature(size_t index);

// INI bytes as stored (each rotated left by one bit) and back.
Bytes ScrambleIni(const Bytes& text);
Bytes UnscrambleIni(const Bytes& stored);

// Lays out the package and checks it with ReadPackage. Throws PackageError
// (or PeError for an application that is no PE image) with a message for the
// user.
Bytes BuildPackage(const PackageInput& input);

struct PackageImageView {
  size_t index = 0;
  uint64_t headerOffset = 0;  // of the signature that holds its offset and size
  uint64_t fileOffset = 0;    // header + offset field
  uint32_t size = 0;
  std::string name;           // empty for the first image without an extra pack header
};

struct PackageResourceView {
  uint64_t recordOffset = 0;
  uint16_t verifyCode = 0;
  uint32_t size = 0;
  std::string name;
};

// What the utility would find in a file, as far as it can be read. Every
// part that points outside the file or is unterminated is named in `errors`
// and left out of the lists; nothing is read past the file.
struct PackageView {
  bool isPackage = false;  // "$ROM_PACK" occurs
  uint64_t romPackOffset = 0;
  std::string options;
  std::string filter;
  std::optional<uint64_t> extPackOffset;
  size_t imageCount = 0;  // from the extra pack header (1 without one)
  std::vector<PackageImageView> images;
  std::optional<uint64_t> iniPackOffset;
  uint64_t iniFileOffset = 0;
  Bytes iniText;  // unscrambled
  std::vector<PackageResourceView> resources;  // in file order, bad verify codes included
  std::vector<std::string> errors;
};

PackageView ReadPackage(const Bytes& file);

struct MultiSkuEntryView {
  uint64_t fileOffset = 0;
  uint32_t size = 0;
  std::optional<std::string> model;  // the BVDT's model name, as the utility reads it
};

struct MultiSkuView {
  bool isMultiSku = false;  // "$MULTISC" occurs
  uint64_t offset = 0;
  uint32_t count = 0;
  std::vector<MultiSkuEntryView> entries;  // only those inside the file
  std::vector<std::string> errors;
};

MultiSkuView ReadMultiSku(const Bytes& file);

// Each image must carry a BVDT with a model name of its own; the names of
// the NamedFiles only label the images in messages. Throws PackageError.
Bytes BuildMultiSku(const std::vector<NamedFile>& images);

}  // namespace vyr::pack

#endif  // VYRPACK_PACKAGE_H_

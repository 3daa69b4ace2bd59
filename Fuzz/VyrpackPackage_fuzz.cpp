// A shell package or a multi-SKU image as vyrpack inspect reads it: whatever
// the headers say, every image, INI text and resource the readers list must
// lie inside the file, and the names must be the terminated texts of their
// fields.
#include <cstdint>
#include <cstring>

#include "FuzzHarness.h"
#include "vyrpack/Package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const vyr::pack::Bytes File(Data, Data + Size);
  const vyr::pack::PackageView Package = vyr::pack::ReadPackage(File);
  fuzz::Require(Package.isPackage || (Package.images.empty() && Package.errors.empty()));
  fuzz::Require(Package.options.size() < vyr::pack::kRomPackOptionsField);
  fuzz::Require(Package.filter.size() < vyr::pack::kRomPackFilterField);
  for (const vyr::pack::PackageImageView &Image : Package.images) {
    fuzz::Require(Image.fileOffset <= Size && Image.size <= Size - Image.fileOffset);
    fuzz::Require(Image.name.size() < vyr::pack::kImageNameField && std::memchr(Image.name.data(), 0, Image.name.size()) == nullptr);
  }
  fuzz::Require(Package.iniFileOffset + Package.iniText.size() <= Size);
  for (const vyr::pack::PackageResourceView &Resource : Package.resources) {
    fuzz::Require(Resource.recordOffset + vyr::pack::kResourceHeaderSize <= Size);
    fuzz::Require(Resource.verifyCode != vyr::pack::kResourceVerifyCode ||
                  Resource.size <= Size - Resource.recordOffset - vyr::pack::kResourceHeaderSize);
    fuzz::Require(!Resource.name.empty() && Resource.name.size() < vyr::pack::kResourceNameField);
  }

  const vyr::pack::MultiSkuView Multi = vyr::pack::ReadMultiSku(File);
  fuzz::Require(Multi.entries.size() <= Multi.count);
  for (const vyr::pack::MultiSkuEntryView &Entry : Multi.entries) {
    fuzz::Require(Entry.fileOffset <= Size && Entry.size <= Size - Entry.fileOffset);
    fuzz::Require(!Entry.model || Entry.model->size() <= 25);
  }
  return 0;
}

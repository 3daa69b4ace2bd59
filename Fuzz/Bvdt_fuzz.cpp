// A new image's BVDT and its version strings as arbitrary bytes: the parser
// must read only inside the image, and the version rules must handle any
// text without reading past its terminator.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Image/Bvdt.h"
#include "NamedFunction.h"
#include "DriverEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  ResetModuleState();
  // An exact-size copy, so that any read past the end is caught.
  std::vector<uint8_t> Image(Data, Data + Size);
  BVDT_INFO Info;
  std::memset(&Info, 0, sizeof(Info));
  GetBvdtInfoFromBuffer(Image.data(), Image.size(), &Info);
  SetBvdtInfo_FD(Image.data(), Image.size());

  // The input split at its first two zero bytes gives a format and two versions.
  std::string Text(reinterpret_cast<const char *>(Data), Size);
  size_t First = Text.find('\0');
  size_t Second = First == std::string::npos ? std::string::npos : Text.find('\0', First + 1);
  std::string Format = Text.substr(0, First);
  std::string New = First == std::string::npos ? "" : Text.substr(First + 1, Second - First - 1);
  std::string Current = Second == std::string::npos ? "" : Text.substr(Second + 1);
  CompareVersion(New.c_str(), Current.c_str());
  BiosVerCmp(New.c_str(), Current.c_str());
  BiosVerFmtCmp(Format.c_str(), New.c_str(), Current.c_str());
  UINT32 Index = 0;
  PlatformCmp(New.c_str(), Current.c_str(), &Index);
  ResetModuleState();
  return 0;
}

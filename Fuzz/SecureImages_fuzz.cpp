// Secure capsules, RBU images and the BIOS's 19h answer as arbitrary bytes:
// the one-pass image scan must find what a search finds, and the record
// search, the RBU window and checksums, and the reply parse must read only
// inside what they are given.
#include <cstdint>
#include <cstring>
#include <vector>

#include "Image/ImageAnalysis.h"
#include "Image/OemCustom.h"
#include "NamedFunction.h"
#include "DriverEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  ResetModuleState();
  // An exact-size copy, so that any read past the end is caught.
  std::vector<uint8_t> Image(Data, Data + Size);
  UINT32 Length = static_cast<UINT32>(Image.size());
  AnalyzeImage(Image.data(), Length);
  INTN Scanned[ImageSignatureCount];
  const UINT8 *Records[PayloadTagCount];
  UINT32 Sizes[PayloadTagCount] = {};
  for (int W = 0; W < ImageSignatureCount; W++) {
    Scanned[W] = FindImageSignature(static_cast<IMAGE_SIGNATURE>(W), Image.data(), Length);
  }
  for (int T = 0; T < PayloadTagCount; T++) {
    Records[T] = FindImageRecord(static_cast<PAYLOAD_TAG_ID>(T), Image.data(), Length, &Sizes[T]);
  }
  AnalyzeImage(nullptr, 0);
  for (int W = 0; W < ImageSignatureCount; W++) {
    if (Scanned[W] != FindImageSignature(static_cast<IMAGE_SIGNATURE>(W), Image.data(), Length)) __builtin_trap();
  }
  for (int T = 0; T < PayloadTagCount; T++) {
    UINT32 Size2 = 0;
    const UINT8 *Found = FindPayloadRecordInBuffer(static_cast<PAYLOAD_TAG_ID>(T), Image.data(), Length, &Size2);
    if (Found != Records[T] || (Found != nullptr && Size2 != Sizes[T])) __builtin_trap();
  }
  AnalyzeImage(Image.data(), Length);
  if (ParseSecureCapsule(Image.data(), Length) || mImageAnalysis.Capsule.HasDeviceFirmware) {
    // Touch every byte the records claim.
    uint32_t Sum = 0;
    const SECURE_CAPSULE_INFO &Info = mImageAnalysis.Capsule;
    for (uint32_t I = 0; I < Info.SecureSize && Info.BiosRecordData != nullptr; I++) Sum += Info.BiosRecordData[I];
    for (uint32_t I = 0; I < Info.DeviceFirmwareSize && Info.DeviceFirmwareData != nullptr; I++) {
      Sum += Info.DeviceFirmwareData[I];
    }
    if (Sum == 0xFFFFFFFFu) std::memset(Image.data(), 0, Image.size());
  }
  if (IsRbuImage(Image.data(), Length)) {
    uint32_t Sum = 0;
    for (uint32_t I = 0; I < mImageAnalysis.Rbu.RawFdSize; I++) Sum += mImageAnalysis.Rbu.RawFd[I];
    if (Sum == 0xFFFFFFFFu) std::memset(Image.data(), 0, Image.size());
    CheckRbuChecksum(Image.data(), Length);
  }
  // The 19h reply is always 256 bytes; a short input leaves the rest FFh-free.
  std::vector<uint8_t> Reply(OEM_CUSTOM_LIST_SIZE, 'R');
  std::memcpy(Reply.data(), Data, Size < Reply.size() ? Size : Reply.size());
  ParseOemCustomReply(Reply.data());
  ResetModuleState();
  return 0;
}

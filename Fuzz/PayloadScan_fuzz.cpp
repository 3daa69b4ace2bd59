// The driver's payload scan over an arbitrary loaded image: it must never
// read outside the image, whatever the PE headers and record sizes claim.
#include <cstdint>
#include <cstring>
#include <vector>

#include "Image/Payload.h"
#include "NamedFunction.h"
#include "DriverEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  ResetModuleState();
  // An exact-size copy, so that any read past the end is caught.
  std::vector<uint8_t> Image(Data, Data + Size);
  const CHAR16 *Reason = nullptr;
  if (ScanPayloadImage(Image.data(), Image.size(), &Reason)) {
    // Touch every byte a record claims: the sanitizer catches any outside the image.
    uint32_t Sum = 0;
    for (int Id = 0; Id < PayloadTagCount; Id++) {
      const uint8_t *Record = PayloadRecordData(static_cast<PAYLOAD_TAG_ID>(Id));
      for (uint32_t I = 0; I < PayloadRecordSize(static_cast<PAYLOAD_TAG_ID>(Id)); I++) Sum += Record[I];
    }
    if (Sum == 0xFFFFFFFFu) std::memset(Image.data(), 0, Image.size());
  }
  ResetModuleState();
  return 0;
}

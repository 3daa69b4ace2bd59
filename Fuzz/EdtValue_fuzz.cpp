// An -edt argument as arbitrary text: the checks that store it and the value
// parser must read only the text, and the bytes to send must be exactly what
// the format gives (2 or 4 bytes of a number, 2 per character of a string);
// sent through 41h/42h, the pieces must cover the item once.
//
// Input: a mode byte, then the argument (one character per byte; 01h takes
// the next two bytes as one wide character).
#include <cstdint>
#include <string>
#include <vector>

#include "Config/EdtArguments.h"
#include "Flash/ExtraData.h"
#include "FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  fuzz::SharedMachine();
  EdtResetState();
  fuzz::Reader In(Data, Size);
  uint8_t Mode = In.U8();
  fuzz::TraceToScreen((Mode & 7) == 1);
  std::u16string Text = u"edt";
  while (In.Left() != 0) {
    uint8_t Byte = In.U8();
    Text.push_back(Byte == 0x01 ? char16_t(In.U16()) : char16_t(Byte));
  }
  std::vector<CHAR16> Argument(Text.begin(), Text.end());
  Argument.push_back(0);
  if (!AddEdtArgument(Argument.data())) {
    fuzz::Require(GetEdtArgumentCount() == 0);
    fuzz::TraceToScreen(false);
    return 0;
  }
  const CHAR16 *Stored = GetEdtArgument(0);
  fuzz::Require(Stored != nullptr && GetEdtArgument(1) == nullptr);
  UINT8 *Value = nullptr;
  UINT32 ValueSize = 0;
  if (ParseEdtValue(Stored, &Value, &ValueSize)) {
    std::u16string Kept(reinterpret_cast<const char16_t *>(Stored));
    const size_t Colon = Kept.find(u':');
    fuzz::Require(Colon != std::u16string::npos && ValueSize != 0);
    const char16_t Format = Kept[4];
    if (Format == u'w') fuzz::Require(ValueSize == 2);
    if (Format == u'd') fuzz::Require(ValueSize == 4);
    if (Format == u's') {
      const std::u16string Chars = Kept.substr(Colon + 1);
      fuzz::Require(ValueSize == 2 * Chars.size());
      fuzz::Require(std::memcmp(Value, Chars.data(), ValueSize) == 0);
    }
    FreePool(Value);
  }
  // The whole run through the BIOS, one input in four.
  if ((Mode & 6) == 6) FuncCommand_edt();
  fuzz::TraceToScreen(false);
  return 0;
}

// platform.ini as the utility reads it: arbitrary text through LoadOption
// (cleaning, every settings loader, the read record), then look-ups and one
// value change whose names come from the input. (The settings dump only
// prints bounded fields and costs most of the time: the unit tests cover it.) Nothing may read or write
// outside a buffer, and the text must stay what the store says it is.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "Config/IniStore.h"
#include "Base/Trace.h"
#include "NamedFunction.h"
#include "Base/Settings.h"
#include "Config/IniLoad.h"

namespace {

// Input layout: the INI text, then (after a 0 byte, when present) section,
// key and value for the change, separated by 0 bytes.
struct Input {
  std::string Text;
  std::string Section = "Region";
  std::string Key = "BIOS";
  std::string Value = "1";
};

Input Split(const uint8_t *Data, size_t Size) {
  Input In;
  const char *Begin = reinterpret_cast<const char *>(Data);
  const char *End = Begin + Size;
  const char *Zero = static_cast<const char *>(std::memchr(Begin, 0, Size));
  In.Text.assign(Begin, Zero != nullptr ? Zero : End);
  if (Zero == nullptr) return In;
  std::string *Parts[] = {&In.Section, &In.Key, &In.Value};
  const char *P = Zero + 1;
  for (std::string *Part : Parts) {
    if (P > End) break;
    const char *Next = static_cast<const char *>(std::memchr(P, 0, End - P));
    Part->assign(P, Next != nullptr ? Next : End);
    P = (Next != nullptr ? Next : End) + 1;
  }
  return In;
}

void CheckCurrentText() {
  CHAR8 *Text = nullptr;
  UINT32 Length = 0;
  GetIniBuffer(&Text, &Length);
  if (Text == nullptr) return;
  // Touch every byte the store claims.
  uint32_t Sum = 0;
  for (UINT32 I = 0; I < Length; I++) Sum += (uint8_t)Text[I];
  if (Length == 0 && Sum != 0) std::abort();
  for (UINTN Which = 0; Which < 3; Which++) {
    const CHAR8 *Record = IniRecordString(Which);
    if (Record != nullptr && std::strlen(Record) >= INI_RECORD_STRING_SIZE) std::abort();
  }
}

// Only the store and the settings it fills are returned to their load state:
// a reset of every module per input would cost more than the parse.
void ResetStore() {
  IniStoreResetState();
  ZeroMem(&mIniSettings, sizeof(mIniSettings));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  ResetStore();
  Input In = Split(Data, Size);
  // An exact-size copy without terminator: any read past it is caught.
  std::vector<CHAR8> Text(In.Text.begin(), In.Text.end());
  UINT32 Length = (UINT32)Text.size();
  CHAR8 Empty[1] = {0};
  InitialIniConfig();
  if (LoadOption(Text.empty() ? Empty : Text.data(), &Length, TRUE)) {
    if (Length > Text.size()) std::abort();
    CheckCurrentText();

    const char *Section = In.Section.c_str();
    const char *Key = In.Key.c_str();
    CHAR8 Value[INI_VALUE_SIZE];
    GetProfileString(Section, Key, Value, TRUE);
    if (std::strlen(Value) >= INI_VALUE_SIZE) std::abort();
    GetProfileInt(Section, Key, 7, FALSE);
    GetProfileHex(Section, Key, 7, TRUE);
    GetProfileBool(Section, Key, 1, FALSE);
    IsSectionPresent(Section);
    const CHAR16 *Default = u"default";
    const CHAR16 *Message = GetMessageString(Key, Default);
    if (Message != Default) FreePool((VOID *)Message);

    if (SetProfileString(Section, Key, In.Value.c_str())) {
      CheckCurrentText();
      GetProfileString(Section, Key, Value, FALSE);
      if (std::strlen(Value) >= INI_VALUE_SIZE) std::abort();
    }
  }
  ResetStore();
  return 0;
}

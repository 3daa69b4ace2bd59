// The shell flow's argument check over arbitrary command lines, with the
// BIOS's command filter off and then on (fuzzer-chosen bitmap and length):
// no option word, file name or command line may overrun a buffer, and the
// launcher's strings must never be written.
//
// Input: u16 filter length, 16 bitmap bytes, then the arguments separated by
// '\n'. A byte 0x01 takes the next two bytes as one wide character, so
// characters above 0xFF (and NUL low bytes) reach the filter.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Config/CommandLine.h"
#include "Config/IniStore.h"
#include "Image/OemCustom.h"
#include "Config/EdtArguments.h"
#include "Image/PackageCommands.h"
#include "FuzzHarness.h"
#include "NamedFunction.h"
#include "Smi/PlatformQueries.h"
#include "ArgumentCheck.h"
#include "Base/RunState.h"
#include "Config/CommandFilter.h"

namespace {

// What the check and the filter touch; the settings stay the defaults.
void ResetAll() {
  ZeroMem(&mRun, sizeof(mRun));
  PlatformQueryResetState();
  IniStoreResetState();
  OemCustomResetState();
  fuzz::TraceToScreen(false);
  CommandLineResetState();
  EdtResetState();
  PackageCommandsResetState();
}

std::vector<std::u16string> SplitArguments(const uint8_t *Data, size_t Size) {
  std::vector<std::u16string> Words(1, u"VyrFFT.efi");
  Words.emplace_back();
  for (size_t I = 0; I < Size; I++) {
    if (Data[I] == '\n') {
      Words.emplace_back();
    } else if (Data[I] == 0x01 && I + 2 < Size) {
      Words.back().push_back(char16_t(Data[I + 1] | (Data[I + 2] << 8)));
      I += 2;
    } else {
      Words.back().push_back(char16_t(Data[I]));
    }
  }
  return Words;
}

// One argument check on exact-size buffers, then the filter on its option string.
void RunCheck(const std::vector<std::u16string> &Words, bool FilterOn) {
  // The launcher's strings, exactly as long as they are.
  std::vector<std::unique_ptr<CHAR16[]>> Strings;
  std::vector<CHAR16 *> Argv;
  for (const auto &Word : Words) {
    Strings.emplace_back(new CHAR16[Word.size() + 1]);
    std::memcpy(Strings.back().get(), Word.c_str(), (Word.size() + 1) * sizeof(CHAR16));
    Argv.push_back(Strings.back().get());
  }
  SetCommandLineArgument((UINT32)Argv.size(), Argv.data());

  std::unique_ptr<CHAR16[]> FileName(new CHAR16[FILE_NAME_CHARS]);
  std::unique_ptr<CHAR16[]> Options(new CHAR16[OPTION_STRING_CHARS]);
  BOOLEAN Accepted = ArgumentCheck(FileName.get(), Options.get());
  size_t OptionLength = std::char_traits<char16_t>::length(Options.get());
  fuzz::Require(OptionLength < OPTION_STRING_CHARS);
  fuzz::Require(std::char_traits<char16_t>::length(FileName.get()) < FILE_NAME_CHARS);
  for (size_t I = 0; I < Words.size(); I++) {
    // Whole strings, embedded NULs included.
    if (std::memcmp(Argv[I], Words[I].c_str(), (Words[I].size() + 1) * sizeof(CHAR16)) != 0) __builtin_trap();
  }

  const CHAR16 *Saved = nullptr;
  UINT32 SavedSize = 0;
  if (GetSavedCommandLine(&Saved, &SavedSize)) {
    if (SavedSize != std::char_traits<char16_t>::length(Saved) * 2 + 2) __builtin_trap();
    LoadOverrideCommand(Saved, SavedSize);
  }
  BOOLEAN Allowed = CommandFilterCheck(Options.get());
  if (!FilterOn && !Allowed) __builtin_trap();
  if (Accepted && FilterOn) ChkFilterTblIni();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  uint8_t Header[18] = {};
  std::memcpy(Header, Data, Size < sizeof(Header) ? Size : sizeof(Header));
  size_t Skip = Size < sizeof(Header) ? Size : sizeof(Header);
  std::vector<std::u16string> Words = SplitArguments(Data + Skip, Size - Skip);

  fuzz::SharedMachine();
  ResetAll();
  RunCheck(Words, false);

  ResetAll();
  mPlatformQuery.CommandFilterPresent = 1;
  mPlatformQuery.CommandFilter.Length = uint32_t(Header[0] | (Header[1] << 8));
  std::memcpy(mPlatformQuery.CommandFilter.Bitmap, Header + 2, COMMAND_FILTER_BITMAP_BYTES);
  RunCheck(Words, true);
  ResetAll();
  return 0;
}

// Command-line tests: a fresh module and machine, registered arguments, the
// log's option echoes.
#ifndef VYR_TESTS_COMMAND_LINE_FIXTURE_H_
#define VYR_TESTS_COMMAND_LINE_FIXTURE_H_

#include <sstream>
#include <string>
#include <vector>

#include "Config/CommandLine.h"
#include "Base/Trace.h"
#include "Config/EdtArguments.h"
#include "Image/PackageCommands.h"
#include "Smi/PlatformQueries.h"
#include "Startup.h"
#include "UtilityFixture.h"
#include "Base/Banner.h"

namespace vyr::testing {

class CommandLineTest : public UtilityTest {
 protected:
  void SetUp() override {
    UtilityTest::SetUp();
    ResetCommandLine();
    Boot();
  }
  void TearDown() override {
    ResetCommandLine();
    UtilityTest::TearDown();
  }
  static void ResetCommandLine() {
    CommandLineResetState();
    EdtResetState();
    PackageCommandsResetState();
  }

  // Argument 0 is the program.
  void SetArgs(std::vector<std::u16string> Words) {
    Words_ = std::move(Words);
    Words_.insert(Words_.begin(), u"VyrFFT.efi");
    Argv_.clear();
    for (auto &W : Words_) Argv_.push_back(W.data());
    SetCommandLineArgument((UINT32)Argv_.size(), Argv_.data());
  }
  const std::vector<std::u16string> &Registered() const { return Words_; }

  // Starts from an empty log: a step that traces nothing must not show an older one.
  void EnableLog() {
    std::error_code Ignored;
    std::filesystem::remove(VolumePath("VyrFFT-Secure.Log"), Ignored);
    mTrace.DebugFlag = 1;
    mTrace.DebugLevel = 4;
  }
  std::string Log() { return ReadVolumeFile("VyrFFT-Secure.Log"); }
  // The lines of the log that begin with Start.
  std::vector<std::string> LogLines(const std::string &Start) {
    std::vector<std::string> Lines;
    std::string Text = Log();
    size_t Pos = 0;
    while (Pos < Text.size()) {
      size_t End = Text.find("\r\n", Pos);
      if (End == std::string::npos) End = Text.size();
      std::string Line = Text.substr(Pos, End - Pos);
      if (Line.rfind(Start, 0) == 0) Lines.push_back(Line);
      Pos = End + 2;
    }
    return Lines;
  }

  // The shell flow's banner as PrintBanner prints it before an error.
  std::string Banner() {
    std::string Before = Console();
    PrintBanner(FALSE);
    return Console().substr(Before.size());
  }

  void SetFilter(UINT32 Length, std::vector<UINT8> Bytes) {
    mPlatformQuery.CommandFilterPresent = 1;
    mPlatformQuery.CommandFilter.Length = Length;
    std::fill(std::begin(mPlatformQuery.CommandFilter.Bitmap), std::end(mPlatformQuery.CommandFilter.Bitmap), 0);
    for (size_t I = 0; I < Bytes.size() && I < COMMAND_FILTER_BITMAP_BYTES; I++)
      mPlatformQuery.CommandFilter.Bitmap[I] = Bytes[I];
  }

  static std::u16string W(const std::string &Text) { return std::u16string(Text.begin(), Text.end()); }
  static std::string A(const CHAR16 *Text) {
    std::string Out;
    for (; Text != nullptr && *Text != 0; Text++) Out.push_back((char)*Text);
    return Out;
  }

 private:
  std::vector<std::u16string> Words_;
  std::vector<CHAR16 *> Argv_;
};

}  // namespace vyr::testing

#endif  // VYR_TESTS_COMMAND_LINE_FIXTURE_H_

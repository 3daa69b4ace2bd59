// The tests' emulated machine. MachineTest owns the scratch directory whose
// folders are the machine's volumes, and reads what the utility wrote there;
// UtilityTest starts a fresh utility module on a fresh emulated PC in it;
// FlashTest and CommandLineTest add the start-up steps their tests share.
// Whole runs through the launcher build on MachineTest too (UpdateScenarioFixture.h).
#ifndef VYR_TESTS_UTILITY_FIXTURE_H_
#define VYR_TESTS_UTILITY_FIXTURE_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Base/Banner.h"
#include "Base/Settings.h"
#include "Config/IniSettings.h"
#include "Flash/EcUpdate.h"
#include "Base/Trace.h"
#include "Config/EdtArguments.h"
#include "Flash/RomMap.h"
#include "Image/PackageCommands.h"
#include "Machine/Machine.h"
#include "DriverEntry.h"
#include "NamedFunction.h"
#include "Platform/Host/HostPlatform.h"
#include "Smi/FwsmiTransport.h"
#include "Smi/PlatformQueries.h"
#include "Startup.h"
#include "TempDir.h"

namespace vyr::testing {

class MachineTest : public ::testing::Test {
 protected:
  // A fresh directory for each SetUp: a test that runs TearDown and SetUp
  // between its cases starts each case from an empty machine.
  void SetUp() override { Scratch_ = std::make_unique<TempDir>(); }
  void TearDown() override { Scratch_.reset(); }

  const std::string &Dir() const { return Scratch_->Path(); }
  // The folder the machine keeps its volumes in.
  virtual std::string MachineDir() const { return Dir(); }

  std::string VolumePath(const std::string &Name, const std::string &Volume = "fs0") const {
    return MachineDir() + "/" + Volume + "/" + Name;
  }
  std::string ReadVolumeFile(const std::string &Name, const std::string &Volume = "fs0") const {
    std::ifstream In(VolumePath(Name, Volume), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  }
  void WriteVolumeFile(const std::string &Name, const std::string &Data, const std::string &Volume = "fs0") const {
    std::filesystem::create_directories(std::filesystem::path(VolumePath(Name, Volume)).parent_path());
    std::ofstream(VolumePath(Name, Volume), std::ios::binary) << Data;
  }
  bool VolumeFileExists(const std::string &Name, const std::string &Volume = "fs0") const {
    return std::filesystem::exists(VolumePath(Name, Volume));
  }

  std::string Log() const { return ReadVolumeFile("VyrFFT-Secure.Log"); }
  bool Logged(const std::string &Text) const { return Log().find(Text) != std::string::npos; }
  // The log from the first line starting with First up to and including the
  // line starting with Last.
  std::string LogBlock(const std::string &First, const std::string &Last) const {
    const std::string Text = Log();
    const size_t Begin = Text.find(First), End = Begin == std::string::npos ? Begin : Text.find(Last, Begin);
    if (End == std::string::npos) return "<" + (Begin == std::string::npos ? First : Last) + " not logged>";
    return Text.substr(Begin, Text.find("\r\n", End) + 2 - Begin);
  }
  // The lines of the log that begin with Start.
  std::vector<std::string> LogLines(const std::string &Start) const {
    std::vector<std::string> Lines;
    std::string Text = Log();
    for (size_t Pos = 0; Pos < Text.size();) {
      size_t End = std::min(Text.find("\r\n", Pos), Text.size());
      std::string Line = Text.substr(Pos, End - Pos);
      if (Line.rfind(Start, 0) == 0) Lines.push_back(Line);
      Pos = End + 2;
    }
    return Lines;
  }

 private:
  std::unique_ptr<TempDir> Scratch_;
};

class UtilityTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ResetModuleState();
  }
  void TearDown() override {
    ResetModuleState();
    HostPlatformAttach(nullptr);
    Machine_.reset();
    MachineTest::TearDown();
  }

  // Starts the emulated PC; volumes live under the test's scratch directory.
  emu::Machine &Boot(const emu::Profile &Profile = emu::Profile::Default()) {
    HostPlatformAttach(nullptr);
    Machine_ = std::make_unique<emu::Machine>(Profile, Dir());
    HostPlatformAttach(Machine_.get());
    return *Machine_;
  }
  emu::Machine &M() { return *Machine_; }
  std::string Console() const { return Machine_->Screen().Transcript(); }

 private:
  std::unique_ptr<emu::Machine> Machine_;
};

// A machine whose flash part a test shapes, with the SMI set up as start-up
// does it and the trace going to the log.
class FlashTest : public UtilityTest {
 protected:
  using Edit = std::function<void(emu::Profile &)>;

  void Start(const Edit &Change = nullptr) {
    ResetModuleState();
    emu::Profile P = emu::Profile::Default();
    if (Change) Change(P);
    Boot(P);
    InitialIniConfig();
    mIniSettings.Others.SMIErrorRetry = 0;
    mTrace.DebugFlag = 1;
    mTrace.DebugLevel = 4;
    ASSERT_TRUE(AllocateFwsmiBuffers());
    ASSERT_TRUE(InitialSmi());
  }
  // Start, then the queries start-up makes: 1Eh, 12h, 13h.
  void StartWithMaps(const Edit &Change = nullptr) {
    Start(Change);
    ASSERT_TRUE(SMI_GetWholeRomMap(nullptr, nullptr));
    ASSERT_TRUE(SMI_GetPlatformRomMap());
    ASSERT_TRUE(SMI_GetFlashPartInfo());
  }
  UINT32 CallsOf(UINT8 Function) { return M().Bios().CallCount[Function]; }

 public:
  // Protect flags of Count blocks from block First: 'R' or '.'.
  static std::string Flags(UINT32 First, UINT32 Count) {
    std::string Out;
    for (UINT32 Index = First; Index < First + Count; Index++) {
      const BLOCK_ENTRY *Block = GetBlockEntry(Index);
      Out += Block == nullptr ? '?' : (Block->Protect != 0 ? 'R' : '.');
    }
    return Out;
  }

  // A "$FWSMI" ROM map as a new image carries it: 10-byte entries, then 0xFF.
  struct BvdtEntry {
    UINT8 Type;
    UINT32 Address, Size;
    UINT8 Action;
  };
  static std::vector<UINT8> BvdtImage(const std::vector<BvdtEntry> &Entries, size_t Lead = 0x40,
                                      bool Terminated = true) {
    std::vector<UINT8> Image(Lead, 0x5A);
    Image.insert(Image.end(), {'$', 'F', 'W', 'S', 'M', 'I'});
    for (const BvdtEntry &E : Entries) {
      UINT8 Bytes[10] = {E.Type};
      WriteUnaligned32(Bytes + 1, E.Address);
      WriteUnaligned32(Bytes + 5, E.Size);
      Bytes[9] = E.Action;
      Image.insert(Image.end(), Bytes, Bytes + 10);
    }
    if (Terminated) Image.resize(Image.size() + 16, 0xFF);
    return Image;
  }

 protected:
  static std::string Banner() {
    return "\r\n\r\n                Korvath VyrFFT (Flash Firmware Tool) Version 1.4b-Beta5\r\n"
           "         Copyright (c) 2026 Korvath. All rights reserved.\r\n\r\n\r\n";
  }
};

// Command-line tests: registered arguments on a booted machine.
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
    std::copy_n(Bytes.begin(), std::min<size_t>(Bytes.size(), COMMAND_FILTER_BITMAP_BYTES),
                mPlatformQuery.CommandFilter.Bitmap);
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

#endif  // VYR_TESTS_UTILITY_FIXTURE_H_

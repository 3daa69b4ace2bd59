#include "Base/Trace.h"

#include "Config/IniSettings.h"
#include "Console/FileAccess.h"
#include "UtilityFixture.h"
#include "Base/Settings.h"
#include "DriverEntry.h"

namespace {

using vyr::testing::UtilityTest;

class TraceTest : public UtilityTest {
 protected:
  void SetArgs(std::vector<std::u16string> Words) {
    Words_ = std::move(Words);
    Argv_.clear();
    for (auto &W : Words_) Argv_.push_back(W.data());
    SetCommandLineArgument((UINT32)Argv_.size(), Argv_.data());
  }
  // One message per level, 0 to 4.
  void TraceEachLevel() {
    for (UINTN Level = 0; Level <= 4; Level++) DebugPrint(Level, u"level %d\r\n", (UINT32)Level);
  }
  std::string Log() { return ReadVolumeFile("VyrFFT-Secure.Log"); }

 private:
  std::vector<std::u16string> Words_;
  std::vector<CHAR16 *> Argv_;
};

struct LogCase {
  bool Dbg;
  UINT8 Flag, Level, OnScreen;
  const char *File;     // what reaches the log file
  const char *Screen;   // what reaches the console
};

TEST_F(TraceTest, LevelsFlagsAndScreenCopy) {
  const LogCase Cases[] = {
      {true, 0, 0, 0, "level 0\r\nlevel 1\r\nlevel 2\r\nlevel 3\r\nlevel 4\r\n", ""},
      {false, 1, 2, 0, "level 0\r\nlevel 1\r\nlevel 2\r\n", ""},
      {false, 1, 9, 0, "level 0\r\nlevel 1\r\nlevel 2\r\nlevel 3\r\nlevel 4\r\n", ""},
      {false, 0, 4, 0, "", ""},
      {false, 0, 0, 1, "", "level 0\r\nlevel 1\r\nlevel 2\r\nlevel 3\r\nlevel 4\r\n"},
      {false, 1, 0, 1, "level 0\r\n", "level 0\r\nlevel 1\r\nlevel 2\r\nlevel 3\r\nlevel 4\r\n"},
  };
  for (const LogCase &Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Dbg << int(Case.Flag) << int(Case.Level) << int(Case.OnScreen));
    ResetModuleState();
    Boot();
    SetArgs({u"VyrFFT.efi", Case.Dbg ? u"-dbg" : u"x.fd"});
    CheckDebugArgument();
    // Start the log (and choose the volume) before the settings are in force.
    DebugPrint(9, u"");
    mIniSettings.Log_file.Flag = Case.Flag;
    mIniSettings.Log_file.Level = Case.Level;
    mIniSettings.Log_file.LogOnScreen = Case.OnScreen;
    TraceEachLevel();
    EXPECT_EQ(Case.File, Log());
    EXPECT_EQ(Case.Screen, Console());
  }
}

TEST_F(TraceTest, DebugScanComparesWholeWordsInAnyCase) {
  struct {
    const char16_t *Word;
    bool On;
  } Cases[] = {{u"-dbg", true}, {u"-DBG", true}, {u"/Dbg", true}, {u"-dbgx", false}, {u"dbg", false}};
  for (const auto &Case : Cases) {
    ResetModuleState();
    Boot();
    SetArgs({u"VyrFFT.efi", Case.Word});
    CheckDebugArgument();
    EXPECT_EQ(Case.On, IsDebugOn());
    EXPECT_EQ(Case.On ? 4 : 0, mTrace.DebugLevel);
  }
  // Argument 0 is the program, never an option.
  ResetModuleState();
  Boot();
  SetArgs({u"-dbg"});
  CheckDebugArgument();
  EXPECT_FALSE(IsDebugOn());
}

TEST_F(TraceTest, EachLoadStartsAFreshLog) {
  Boot();
  WriteVolumeFile("VyrFFT-Secure.Log", "old run\r\n");
  SetArgs({u"VyrFFT.efi", u"-dbg"});
  CheckDebugArgument();
  FuncEnter(u"InitialModuleVariable");
  FuncExit(u"InitialModuleVariable", nullptr);
  FuncExit(u"Initialize", u"Initial SMI failed");
  EXPECT_EQ("===> InitialModuleVariable\r\n<=== InitialModuleVariable\r\n<=== Initialize (Initial SMI failed)\r\n", Log());
}

TEST_F(TraceTest, TheLogStartsFreshInTheDirectoryItIsWrittenIn) {
  Boot();
  WriteVolumeFile("Tools/VyrFFT-Secure.Log", "an older run\r\n");
  mIniSettings.Log_file.Flag = 1;
  // The first trace of the load comes before the launcher sets the directory.
  DebugPrint(0, u"entry\r\n");
  SetCurrentDirectory(u"fs0:\\Tools");
  DebugPrint(0, u"run\r\n");
  DebugPrint(0, u"more\r\n");
  EXPECT_EQ("run\r\nmore\r\n", ReadVolumeFile("Tools/VyrFFT-Secure.Log"));
  EXPECT_EQ("entry\r\n", ReadVolumeFile("VyrFFT-Secure.Log"));
}

TEST_F(TraceTest, TracesDuringVolumeSelectionDoNotStartAnotherSelection) {
  Boot();
  mIniSettings.Log_file.Flag = 1;
  mIniSettings.Log_file.Level = 4;
  // The first trace deletes the old log, which chooses the volume; the
  // selection's own traces find no volume and are dropped from the file.
  DebugPrint(0, u"first\r\n");
  DebugPrint(0, u"second\r\n");
  EXPECT_EQ("first\r\nsecond\r\n", Log());
  EXPECT_EQ(1u, M().OpenFileCount());  // the chosen root, nothing left open
}

TEST_F(TraceTest, LogLinesAreCutAt1024Characters) {
  Boot();
  mIniSettings.Log_file.Flag = 1;
  std::u16string Long(3000, u'x');
  DebugPrint(0, u"%s", Long.c_str());
  EXPECT_EQ(std::string(1024, 'x'), Log());
}

TEST_F(TraceTest, ConsolePrintFoldsLineEndsAndPrintsLongTexts) {
  Boot();
  ConsolePrint(u"a\r\nb\nc\r");
  EXPECT_EQ("a\r\nb\r\nc\r", Console());
  ResetModuleState();
  Boot();
  std::u16string Text(1000, u'y');
  ConsolePrint(u"%s|", Text.c_str());
  EXPECT_EQ(std::string(1000, 'y') + "|", Console());
  // The formatted text is held in 4096 bytes: 2047 characters at most.
  ResetModuleState();
  Boot();
  std::u16string Huge(5000, u'z');
  ConsolePrint(u"%s", Huge.c_str());
  EXPECT_EQ(std::string(2047, 'z'), Console());
}

TEST_F(TraceTest, EnterAndExitLines) {
  Boot();
  mIniSettings.Log_file.Flag = 1;
  mIniSettings.Log_file.Level = 2;
  FuncEnter(u"Initialize");
  FuncExit(u"Initialize", u"SMI_IsSupport fail");
  FuncExit(u"FreeResource", nullptr);
  EXPECT_EQ("===> Initialize\r\n<=== Initialize (SMI_IsSupport fail)\r\n<=== FreeResource\r\n", Log());
}

}  // namespace

#include "Base/Trace.h"

#include "Config/IniSettings.h"
#include "Console/FileAccess.h"
#include "UtilityFixture.h"
#include "Base/Settings.h"
#include "DriverEntry.h"

namespace {

using vyr::testing::CommandLineTest;

class TraceTest : public CommandLineTest {
 protected:
  // One message per level, 0 to 4.
  void TraceEachLevel() {
    for (UINTN Level = 0; Level <= 4; Level++) DebugPrint(Level, u"level %d\r\n", (UINT32)Level);
  }
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
    SetArgs({Case.Dbg ? u"-dbg" : u"x.fd"});
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
    SetArgs({Case.Word});
    CheckDebugArgument();
    EXPECT_EQ(Case.On, IsDebugOn());
    EXPECT_EQ(Case.On ? 4 : 0, mTrace.DebugLevel);
  }
  // Argument 0 is the program, never an option.
  ResetModuleState();
  Boot();
  CHAR16 Program[] = u"-dbg", *Argv[] = {Program};
  SetCommandLineArgument(1, Argv);
  CheckDebugArgument();
  EXPECT_FALSE(IsDebugOn());
}

TEST_F(TraceTest, EachLoadStartsAFreshLog) {
  Boot();
  WriteVolumeFile("VyrFFT-Secure.Log", "old run\r\n");
  SetArgs({u"-dbg"});
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

// The log cuts a line at 1024 characters; the console folds bare LFs and
// prints what its 4096-byte buffer holds, 2047 characters.
TEST_F(TraceTest, LongTextsAndLineEnds) {
  Boot();
  mIniSettings.Log_file.Flag = 1;
  DebugPrint(0, u"%s", std::u16string(3000, u'x').c_str());
  EXPECT_EQ(std::string(1024, 'x'), Log());
  ConsolePrint(u"a\r\nb\nc\r");
  EXPECT_EQ("a\r\nb\r\nc\r", Console());
  for (size_t Length : {1000, 5000}) {
    ResetModuleState();
    Boot();
    ConsolePrint(u"%s|", std::u16string(Length, u'y').c_str());
    EXPECT_EQ(Length < 2047 ? std::string(Length, 'y') + "|" : std::string(2047, 'y'), Console());
  }
}

}  // namespace

#include "Console/ConsoleUi.h"

#include "Config/IniStore.h"

#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "Base/Trace.h"
#include "Platform.h"
#include "Smi/FwsmiTransport.h"
#include "FlashFixture.h"
#include "Base/HexDump.h"
#include "Base/Settings.h"
#include "Config/IniLoad.h"

namespace {

using vyr::emu::Profile;
using vyr::testing::FlashTest;

constexpr UINT16 kScanEsc = 0x17;

class ConsoleUiTest : public FlashTest {
 protected:
  void SetUp() override {
    FlashTest::SetUp();
    ConsoleUiResetState();
  }
  void TearDown() override {
    ConsoleUiResetState();
    FlashTest::TearDown();
  }
  const vyr::emu::Console &Screen() { return M().Screen(); }
  // Cells [From, To) of Row: all Char with Attribute.
  void ExpectCells(uint32_t Row, uint32_t From, uint32_t To, char16_t Char, uint8_t Attribute) {
    for (uint32_t Column = From; Column < To; Column++) {
      ASSERT_EQ(Char, Screen().CellChar(Column, Row)) << "column " << Column;
      ASSERT_EQ(Attribute, Screen().CellAttribute(Column, Row)) << "column " << Column;
    }
  }
  std::string Text(uint32_t Column, uint32_t Row, size_t Length) {
    std::u16string Out;
    for (size_t I = 0; I < Length; I++) Out += Screen().CellChar(Column + uint32_t(I), Row);
    return vyr::emu::Utf16ToUtf8(Out);
  }
  // The FWSMI function and ECX of the SMI calls issued since From.
  std::vector<std::pair<int, UINT32>> SmiCallsSince(size_t From) {
    std::vector<std::pair<int, UINT32>> Out;
    const auto &Calls = M().SmiTranscript();
    for (size_t I = From; I < Calls.size(); I++) Out.push_back({int((Calls[I].In.Eax >> 8) & 0xFF), Calls[I].In.Ecx});
    return Out;
  }
};

// ---- Progress bar ----------------------------------------------------------------

// With Elapse the bar is 68 cells and the whole seconds since the timer
// started (or since the first bar) follow the number.
TEST_F(ConsoleUiTest, ProgressBarCellsNumberAndElapsedSeconds) {
  const struct {
    bool Elapse;
    UINTN Percent;
    uint32_t Filled;
    const char *Number;
    const char *ClockStart = nullptr;  // the timer is started 0.3 s after it, AfterNs before the bar
    uint64_t AfterNs = 0;
  } Cases[] = {
      {false, 0, 0, "  0%"},  {false, 100, 75, "100%"}, {false, 50, 37, " 50%"},
      {false, 1, 0, "  1%"},  {false, 250, 75, "100%"},  // clamped: never wider than the bar
      {true, 0, 0, "  0%, 0sec"}, {true, 100, 68, "100%, 0sec"}, {true, 33, 22, " 33%, 0sec"},
      {true, 40, 27, " 40%, 7sec", "2026-12-06 10:00:00", 7'900'000'000},
      {true, 40, 27, " 40%,107sec", "2026-12-06 10:00:00", 107'000'000'000},
      {true, 40, 27, " 40%, 5sec", "2026-12-31 23:59:58", 5'000'000'000},  // across midnight and the year
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.Elapse << " " << Case.Percent << " " << Case.AfterNs);
    ResetModuleState();
    ConsoleUiResetState();
    Profile P = Profile::Default();
    if (Case.ClockStart) P.ClockStart = Case.ClockStart;
    Boot(P);
    mIniSettings.UI.Elapse = Case.Elapse;
    if (Case.ClockStart) {
      M().AdvanceNs(300'000'000);
      ProgressBarStartTimer();
      M().AdvanceNs(Case.AfterNs);
    }
    Print(u"line 0\r\nline 1\r\nUpdating:");
    ProgressBar(Case.Percent);
    const uint32_t Width = Case.Elapse ? 68 : 75;
    ExpectCells(2, 0, Case.Filled, u' ', ATTRIBUTE_BAR_FILLED);
    ExpectCells(2, Case.Filled, Width, u' ', ATTRIBUTE_BAR_EMPTY);
    EXPECT_EQ(Case.Number, Text(Width, 2, strlen(Case.Number)));
    EXPECT_EQ("line 1", Screen().RowText(1));
    EXPECT_FALSE(Screen().CursorVisible());
    EXPECT_EQ(ATTRIBUTE_NORMAL, Screen().Attribute());
    EXPECT_EQ(2u, Screen().CursorRow());
  }
  // Without a start the seconds count from the first bar.
  ResetModuleState();
  ConsoleUiResetState();
  Boot();
  mIniSettings.UI.Elapse = 1;
  M().AdvanceNs(50'000'000'000);
  ProgressBar(0);
  M().AdvanceNs(3'000'000'000);
  ProgressBar(10);
  EXPECT_EQ(" 10%, 3sec", Text(68, 0, 10));
}

TEST_F(ConsoleUiTest, ProgressBarRedrawsCellsOnlyWhenTheirCountChanges) {
  Boot();
  ProgressBar(0);
  EXPECT_EQ("  0%\r" + std::string(75, ' '), Console());
  size_t Mark = Console().size();
  ProgressBar(1);  // still no filled cell
  EXPECT_EQ("  1%", Console().substr(Mark));
  Mark = Console().size();
  ProgressBar(2);  // one cell
  EXPECT_EQ("  2%\r " + std::string(74, ' '), Console().substr(Mark));
  ExpectCells(0, 0, 1, u' ', ATTRIBUTE_BAR_FILLED);
  ExpectCells(0, 1, 75, u' ', ATTRIBUTE_BAR_EMPTY);
  // The reset forgets the drawn bar: the next call draws it again.
  ConsoleUiResetState();
  Mark = Console().size();
  ProgressBar(2);
  EXPECT_EQ("  2%\r " + std::string(74, ' '), Console().substr(Mark));
}

// ---- Centred lines ------------------------------------------------------------------

struct CenterCase { UINTN Width; std::u16string In; std::u16string Out; };

TEST_F(ConsoleUiTest, CenterLinesSlots) {
  const CenterCase Cases[] = {
      {80, u"abc", std::u16string(38, u' ') + u"abc" + std::u16string(38, u' ') + u"\n"},
      // Runs of CR and LF are one break; leading and trailing ones vanish.
      {10, u"\r\n\r\nab\r\n\n\rcd\r\n", u"    ab   \n    cd   \n"},
      {7, u"x\ry\nzz", u"   x  \n   y  \n  zz  \n"},
      // Odd leftover: integer division puts the extra blank on the right.
      {6, u"abc", u" abc \n"},
      // A line of exactly Width gives its last character to the LF.
      {5, u"abcde", u"abcd\n"},
      // Longer lines wrap in Width - 1 pieces, each centred.
      {5, u"abcdefghij", u"abcd\nefgh\n ij \n"},
      {5, u"abcdef\nxy", u"abcd\n ef \n xy \n"},
      {1, u"ab", u"\n\n"},
      {6, u"", u""},
      {6, u"\r\n\n", u""},
  };
  for (const CenterCase &Case : Cases) {
    SCOPED_TRACE(vyr::emu::Utf16ToUtf8(Case.In));
    std::u16string In = Case.In;
    CHAR16 *Out = CenterLines(Case.Width, In.c_str());
    ASSERT_NE(nullptr, Out);
    EXPECT_EQ(Case.Out, std::u16string(Out));
    EXPECT_EQ(Case.In, In);  // the caller's text is left as it was
    FreePool(Out);
  }
  EXPECT_EQ(nullptr, CenterLines(80, nullptr));
  EXPECT_EQ(nullptr, CenterLines(0, u"abc"));
}

// ---- AC warning -------------------------------------------------------------------

TEST_F(ConsoleUiTest, AcWarningScreenAndItsMessage) {
  Boot();
  Print(u"earlier output\r\n");
  PlatformConsoleSetAttribute(0x0F);
  ShowAcWarning("messagestringA02");
  // Cleared, then three red rows of 79 cells; column 79 keeps the cleared look.
  const std::string Message = "Please do not remove the AC power!";
  const uint32_t At = (80 - uint32_t(Message.size())) / 2;
  for (uint32_t Row = 0; Row < 3; Row++) {
    SCOPED_TRACE(Row);
    EXPECT_EQ(0x0F, Screen().CellAttribute(79, Row));
    for (uint32_t Column = 0; Column < 79; Column++) ASSERT_EQ(ATTRIBUTE_WARNING, Screen().CellAttribute(Column, Row));
  }
  EXPECT_EQ("", Screen().RowText(0));
  EXPECT_EQ(std::string(At, ' ') + Message, Screen().RowText(1));
  EXPECT_EQ("", Screen().RowText(2));
  EXPECT_EQ(0x0F, Screen().CellAttribute(0, 3));
  EXPECT_EQ(0u, Screen().CursorColumn());
  EXPECT_EQ(6u, Screen().CursorRow());
  EXPECT_EQ(ATTRIBUTE_NORMAL, Screen().Attribute());

  // A text in the message table replaces the default, one row per line.
  std::string Ini = "[MessageStringTable]\r\nmessagestringA02=\"Keep the AC adapter in.\\nDo not switch off.\"\r\n";
  UINT32 Length = (UINT32)Ini.size();
  ASSERT_TRUE(LoadOption(Ini.data(), &Length, FALSE));
  ShowAcWarning("messagestringA02");
  const std::string First = "Keep the AC adapter in.", Second = "Do not switch off.";
  EXPECT_EQ(std::string((80 - First.size()) / 2, ' ') + First, Screen().RowText(1));
  EXPECT_EQ(std::string((80 - Second.size()) / 2, ' ') + Second, Screen().RowText(2));
  EXPECT_EQ("", Screen().RowText(3));
}

// ---- Frames ------------------------------------------------------------------------

const char kTop[] = "#===================================== ERROR ==================================#";
const char kBottom[] = "#==============================================================================#";

std::string Row(const std::string &Inside) { return "# " + Inside + std::string(76 - Inside.size(), ' ') + " #"; }
std::string RightRow(const std::string &Inside) { return "# " + std::string(76 - Inside.size(), ' ') + Inside + " #"; }

TEST_F(ConsoleUiTest, ErrorBoxIsSevenRowsOf80AndWaitsForAKey) {
  Boot();
  M().Keys().Queue(0, u'q');
  std::string Long;
  for (int I = 0; Long.size() < 90; I++) Long += char('a' + I % 26);
  std::u16string Long16 = vyr::emu::Utf8ToUtf16(Long);
  ShowErrorBox(u"Model name check failed!", Long16.c_str());
  const std::string Rows[] = {kTop,
                              RightRow("Model name check failed!"),
                              RightRow(Long.substr(0, 76)),  // cut: the row keeps its width
                              "#" + std::string(78, ' ') + "#",
                              Row("ROM update not performed."),
                              Row("press any key to exit."),
                              kBottom};
  std::string All;
  for (uint32_t R = 0; R < 7; R++) {
    EXPECT_EQ(Rows[R], Screen().RowText(R)) << R;
    for (uint32_t Column = 0; Column < 80; Column++) ASSERT_EQ(ATTRIBUTE_WARNING, Screen().CellAttribute(Column, R));
    All += Rows[R];
  }
  EXPECT_EQ(All + "\r\n", Console());  // one string, no line breaks, then the line end
  EXPECT_EQ(8u, Screen().CursorRow());
  EXPECT_EQ(ATTRIBUTE_NORMAL, Screen().Attribute());
  EXPECT_EQ(0u, M().Keys().Pending());
}

// The frame's text is asserted by the power-check scenarios.
TEST_F(ConsoleUiTest, PowerFrameIsSixWarningRowsAndWaitsForNoKey) {
  Boot();
  std::u16string Wide(100, u'w');
  ShowPowerErrorFrame(Wide.c_str());
  EXPECT_EQ("# " + std::string(76, 'w') + " #", Screen().RowText(1));  // a message wider than its row is cut
  EXPECT_EQ(kBottom, Screen().RowText(5));
  for (uint32_t R = 0; R < 6; R++) EXPECT_EQ(ATTRIBUTE_WARNING, Screen().CellAttribute(40, R)) << R;
  EXPECT_EQ(ATTRIBUTE_NORMAL, Screen().Attribute());
  EXPECT_EQ(0u, M().Counters().KeyReads);
}

// ---- Prompts ------------------------------------------------------------------------

TEST_F(ConsoleUiTest, ConfirmFlashKeys) {
  const std::string Prompt = "\r\n                Dangerous! Do you want to flash BIOS? (Y/N)\r\n";
  const std::string Refused = "\r\n                Exit by user.\r\n";
  struct {
    UINT16 Scan;
    char16_t Char;
    bool Yes;
  } Cases[] = {{0, u'Y', true}, {0, u'y', true}, {0, u'\r', false}, {0, u'n', false}, {kScanEsc, 0, false}};
  for (const auto &Case : Cases) {
    SCOPED_TRACE(int(Case.Char));
    ResetModuleState();
    Boot();
    M().Keys().Queue(Case.Scan, Case.Char);
    EXPECT_EQ(Case.Yes, ConfirmFlash() != FALSE);
    EXPECT_EQ(Case.Yes ? Prompt : Prompt + Refused, Console());
    EXPECT_EQ(0u, M().Keys().Pending());
  }
}

TEST_F(ConsoleUiTest, EndOfRunPause) {
  Boot();
  M().Keys().Queue(0, u' ');
  EndOfRunPause();  // Pause off: nothing shown, no key taken
  EXPECT_EQ("", Console());
  EXPECT_EQ(1u, M().Keys().Pending());
  mIniSettings.FlashComplete.Pause = 1;
  AsciiStrCpyS(mIniSettings.FlashComplete.PauseWarning, INI_TEXT_SIZE, "MessageStringPause");
  EndOfRunPause();
  EXPECT_EQ("\r\n                           Press any key to continue... ", Console());
  EXPECT_EQ(0u, M().Keys().Pending());
}

// Every key wait is framed by the before-dialog and after-dialog hook points.
TEST_F(ConsoleUiTest, KeyWaitsIssueTheDialogHookPoints) {
  struct {
    const char *Name;
    void (*Run)();
  } Waits[] = {
      {"GetKey", [] { GetKey(); }},
      {"ConfirmFlash", [] { ConfirmFlash(); }},
      {"ShowErrorBox", [] { ShowErrorBox(u"a", u"b"); }},
      {"EndOfRunPause", [] { mIniSettings.FlashComplete.Pause = 1; EndOfRunPause(); }},
  };
  for (const auto &Wait : Waits) {
    SCOPED_TRACE(Wait.Name);
    Start();
    M().Keys().Queue(0, u'n');
    size_t Before = M().SmiTranscript().size();
    Wait.Run();
    std::vector<std::pair<int, UINT32>> Expected = {{0x1F, 5}, {0x1F, 6}};
    EXPECT_EQ(Expected, SmiCallsSince(Before));
    EXPECT_EQ(0u, M().Keys().Pending());
  }
}

// ---- Hex dump ------------------------------------------------------------------------

TEST_F(ConsoleUiTest, DumpHexRowsAreALevel4Detail) {
  Boot();
  mIniSettings.Log_file.Flag = 1;
  mIniSettings.Log_file.Level = 3;
  DebugPrint(0, u"start\r\n");
  const UINT8 Data[] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0x1F, 0x20, 0x7A, 0x7B,
                        0x00, 0xFF, 'z', '~', '1', '2', '3', '4'};
  DumpHex(Data, sizeof(Data));
  EXPECT_EQ("start\r\n", ReadVolumeFile("VyrFFT-Secure.Log"));
  // Nothing is traced for no bytes.
  mIniSettings.Log_file.Level = 4;
  DumpHex(Data, sizeof(Data));
  DumpHex(Data, 0);
  EXPECT_EQ("start\r\n"
            "0000:  41 42 43 44 45 46 47 48-1F 20 7A 7B 00 FF 7A 7E     ABCDEFGH. z...z.\r\n"
            "0010:  31 32 33 34                                         1234\r\n",
            ReadVolumeFile("VyrFFT-Secure.Log"));
}

}  // namespace

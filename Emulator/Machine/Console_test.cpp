#include "Machine/Console.h"

#include <gtest/gtest.h>

#include <sstream>

#include "Machine/Machine.h"

namespace vyr::emu {
namespace {

TEST(Console, WrapsAtTheLastColumnAndScrollsAtTheBottom) {
  Console C(10, 3);
  C.OutputString(u"0123456789AB");
  EXPECT_EQ("0123456789\nAB", C.ScreenText());
  EXPECT_EQ(std::make_tuple(2u, 1u), std::make_tuple(C.CursorColumn(), C.CursorRow()));
  C.OutputString(u"\r\nline2\r\nline3");
  EXPECT_EQ("AB\nline2\nline3", C.ScreenText()) << "first row scrolled away";
  EXPECT_EQ(2u, C.CursorRow());
}

TEST(Console, LineFeedKeepsTheColumnAndCarriageReturnOverwrites) {
  Console C(20, 5);
  C.OutputString(u"abc\ndef");
  EXPECT_EQ("abc", C.RowText(0));
  EXPECT_EQ("   def", C.RowText(1));
  C.OutputString(u"\rXY");
  EXPECT_EQ("XY def", C.RowText(1));
  C.OutputString(u"\b\bQ");
  EXPECT_EQ("QY def", C.RowText(1)) << "backspace moves without erasing";
  C.SetCursorPosition(0, 2);
  C.OutputString(u"\b");
  // Backspace at column 0 goes to the previous row's end.
  EXPECT_EQ(std::make_tuple(19u, 1u), std::make_tuple(C.CursorColumn(), C.CursorRow()));
}

TEST(Console, AttributesStickToTheCellsPrintedWithThem) {
  Console C(10, 2);
  EXPECT_EQ(0x07, C.Attribute());
  C.OutputString(u"a");
  C.SetAttribute(0x1E);
  C.OutputString(u"b");
  EXPECT_EQ(std::make_tuple(0x07, 0x1E, 0x07), std::make_tuple(C.CellAttribute(0, 0), C.CellAttribute(1, 0),
                                                               C.CellAttribute(2, 0)));
  C.ClearScreen();
  EXPECT_EQ(0x1E, C.CellAttribute(9, 1)) << "clearing fills with the current attribute";
  EXPECT_EQ(u' ', C.CellChar(0, 0));
  EXPECT_EQ(0u, C.CursorColumn());
  EXPECT_EQ(EFI_UNSUPPORTED, C.SetAttribute(0x80));
}

TEST(Console, CursorPositionIsBoundedByTheMode) {
  Console C(80, 25);
  EXPECT_EQ(EFI_SUCCESS, C.SetCursorPosition(79, 24));
  EXPECT_EQ(EFI_UNSUPPORTED, C.SetCursorPosition(80, 0));
  EXPECT_EQ(EFI_UNSUPPORTED, C.SetCursorPosition(0, 25));
  EXPECT_EQ(79u, C.CursorColumn());
  C.OutputString(u"Z");
  // Wrapping on the last row scrolls.
  EXPECT_EQ(std::make_tuple(0u, 24u, u'Z'), std::make_tuple(C.CursorColumn(), C.CursorRow(), C.CellChar(79, 23)));
  C.EnableCursor(false);
  EXPECT_FALSE(C.CursorVisible());
}

TEST(Console, TranscriptKeepsEverythingInUtf8) {
  Console C(4, 2);
  C.OutputString(u"\x00C4x\r\n");
  C.OutputString(u"\u2588\u2591 long text");
  EXPECT_EQ("\xC3\x84x\r\n\xE2\x96\x88\xE2\x96\x91 long text", C.Transcript());
  EXPECT_EQ(EFI_INVALID_PARAMETER, C.OutputString(nullptr));
}

TEST(Console, ControlCharactersFromTextAreDrawnAsEscapes) {
  struct Case {
    const char16_t *Printed;
    const char *Row;         // what the screen shows
    const char *Transcript;  // what the transcript (and --no-terminal) holds
  } Cases[] = {
      {u"A\x1B[2JB", "A^[[2JB", "A^[[2JB"},
      {u"\x1B]0;t\x07", "^[]0;t^G", "^[]0;t^G"},
      {u"\t\x01\x1F", "^I^A^_", "^I^A^_"},
      {u"a\x7F\x009B" u"1m", "a^?^[[1m", "a^?^[[1m"},
      {u"\x00C4\x00A0\x2588", "\xC3\x84\xC2\xA0\xE2\x96\x88", "\xC3\x84\xC2\xA0\xE2\x96\x88"},
      // The console's own line control keeps working.
      {u"ab\rX", "Xb", "ab\rX"},
      {u"abc\b\bY", "aYc", "abc\b\bY"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Row);
    Console Screen(40, 3);
    std::ostringstream Terminal;
    Screen.SetTerminal(&Terminal);
    Screen.OutputString(C.Printed);
    EXPECT_EQ(C.Row, Screen.RowText(0));
    EXPECT_EQ(C.Transcript, Screen.Transcript());
    const std::string Sent = Terminal.str();
    for (const char *Raw : {"\x07", "\t", "\x7F", "\xC2\x9B", "\x1B]", "\x1B[2J"}) {
      EXPECT_EQ(std::string::npos, Sent.find(Raw)) << "raw " << Raw << " reached the terminal";
    }
  }
}

TEST(Console, Utf8DecodesToUtf16AndMarksWhatIsNot) {
  struct Case {
    const char *Utf8;
    std::u16string Utf16;
    bool Valid;
  } Cases[] = {
      {"\xC3\xA9.fd", u"\u00E9.fd", true},
      {"\xE2\x82\xAC\xF0\x9D\x94\xBD", u"\u20AC\U0001D53D", true},
      {"\xE9.fd", u"\uFFFD.fd", false},           // Latin-1
      {"\xC0\xAFx", u"\uFFFD\uFFFDx", false},     // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD", false},         // overlong, three bytes
      {"\xED\xA0\x80", u"\uFFFD", false},         // a surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD", false},    // past U+10FFFF
      {"\xE2\x82x", u"\uFFFDx", false},           // cut short, text goes on
      {"\xF0\x9D\x94", u"\uFFFD", false},         // cut by the end
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Utf8);
    std::u16string Out;
    EXPECT_EQ(C.Valid, DecodeUtf8(C.Utf8, &Out));
    EXPECT_EQ(C.Utf16, Out);
  }
  EXPECT_EQ("\xC3\xA9\xF0\x9D\x94\xBD", Utf16ToUtf8(u"\u00E9\U0001D53D"));
}

TEST(Console, TerminalRedrawsABarInPlace) {
  Console C(20, 5);
  std::ostringstream Out;
  C.SetTerminal(&Out);
  C.OutputString(u"head\r\n");
  C.SetCursorPosition(0, 1);
  C.OutputString(u"[#   ]");
  C.SetCursorPosition(0, 1);
  C.OutputString(u"[##  ]");
  const std::string Text = Out.str();
  EXPECT_NE(std::string::npos, Text.find("\x1b[0;37;40m"));
  // One line break only: the second bar is drawn over the first.
  EXPECT_EQ(1, std::count(Text.begin(), Text.end(), '\n'));
  EXPECT_NE(std::string::npos, Text.find("]\r[##"));
  C.SetAttribute(0x4F);
  C.OutputString(u"!");
  EXPECT_NE(std::string::npos, Out.str().find("\x1b[0;97;41m!"));
}

TEST(Keyboard, ScriptComesFirstThenEnterIsAssumedWithoutHanging) {
  Keyboard K;
  K.SetIdlePolls(2);
  K.QueueScript({"y", "Esc", "ab", "F1"});
  std::vector<std::string> Notes;
  auto Note = [&](const std::string &Text) { Notes.push_back(Text); };
  EFI_INPUT_KEY Key;
  std::vector<std::pair<uint16_t, char16_t>> Got;
  for (int I = 0; I < 5; I++) {
    ASSERT_EQ(EFI_SUCCESS, K.ReadKey(&Key, Note));
    Got.push_back({Key.ScanCode, Key.UnicodeChar});
  }
  EXPECT_EQ((std::vector<std::pair<uint16_t, char16_t>>{{0, u'y'}, {0x17, 0}, {0, u'a'}, {0, u'b'}, {0x0B, 0}}), Got);
  EXPECT_EQ(EFI_NOT_READY, K.ReadKey(&Key, Note));
  EXPECT_EQ(EFI_NOT_READY, K.ReadKey(&Key, Note));
  ASSERT_EQ(EFI_SUCCESS, K.ReadKey(&Key, Note));
  EXPECT_EQ(std::make_tuple(0, u'\r'), std::make_tuple(Key.ScanCode, Key.UnicodeChar));
  EXPECT_EQ(std::vector<std::string>{"no key scripted: Enter assumed"}, Notes);
  EXPECT_EQ(EFI_NOT_READY, K.ReadKey(&Key, Note)) << "the idle count starts again";
}

TEST(Keyboard, MachineNotesAssumedEnterAndProfileScriptIsQueued) {
  Profile P = Profile::Default();
  P.Keys = {"Enter", "n"};
  P.KeyIdlePolls = 0;
  Machine M(P);
  EFI_INPUT_KEY Key;
  std::u16string Got;
  for (int I = 0; I < 3; I++) {
    ASSERT_EQ(EFI_SUCCESS, M.ReadKey(&Key));
    Got += Key.UnicodeChar;
  }
  EXPECT_EQ(u"\rn\r", Got);
  EXPECT_EQ(std::vector<std::string>{"no key scripted: Enter assumed"}, M.Notes());
}

}  // namespace
}  // namespace vyr::emu

#include "Config/IniStore.h"

#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "Base/Trace.h"
#include "UtilityFixture.h"
#include "Base/Settings.h"
#include "Config/IniLoad.h"

namespace {

using vyr::testing::UtilityTest;

class IniStoreTest : public UtilityTest {
 protected:
  void SetUp() override {
    UtilityTest::SetUp();
    Boot();
  }
  // Loads Text through LoadOption; returns what the caller's buffer holds afterwards.
  std::string Load(const std::string &Text, bool MultiFd = true) {
    std::vector<CHAR8> Buffer(Text.begin(), Text.end());
    UINT32 Length = (UINT32)Buffer.size();
    EXPECT_TRUE(LoadOption(Buffer.data(), &Length, MultiFd));
    return std::string(Buffer.data(), Length);
  }
  // Installs Text as it is, in a pool buffer of exactly its size (no terminator).
  void Install(const std::string &Text) {
    CHAR8 *Buffer = (CHAR8 *)AllocatePool(Text.size());
    CopyMem(Buffer, Text.data(), Text.size());
    ASSERT_TRUE(SetIniBuffer(Buffer, (UINT32)Text.size()));
  }
  std::string Current() {
    CHAR8 *Text = nullptr;
    UINT32 Length = 0;
    GetIniBuffer(&Text, &Length);
    return Text == nullptr ? std::string() : std::string(Text, Length);
  }
  std::string Value(const char *Section, const char *Key, bool *Found = nullptr) {
    CHAR8 Buffer[INI_VALUE_SIZE];
    std::memset(Buffer, 'z', sizeof(Buffer));
    BOOLEAN Hit = GetProfileString(Section, Key, Buffer, FALSE);
    if (Found != nullptr) *Found = Hit;
    return Buffer;
  }
  void TraceToLog() {
    mIniSettings.Log_file.Flag = 1;
    mIniSettings.Log_file.Level = 2;
  }
};

TEST_F(IniStoreTest, CleaningRemovesCommentsAndSqueezesBlanksAroundEquals) {
  struct { const char *In, *Out; } Cases[] = {
      {"  Key  =  Value  \n", "Key=Value\n"},
      {"a = b  =  c d\n", "a=b=c d\n"},
      {"Key\t= v\n", "Key\t=v\n"},
      {"k = v  \r\n", "k=v  \r\n"},  // a CR stops the right-hand strip
      {"x=1\nfragment", "x=1\n"},
      {";c\nx=1\nfragment", "x=1\nfragment\n"},  // comment removal appends the LF
      {";c\nx=1\n", "x=1\n\n"},
      {"[S]\n ;k=1\n;gone=1\n", "[S]\n;k=1\n\n"},  // only first-column ';' lines go
      {"  \n\n", "\n\n"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.In);
    EXPECT_EQ(Case.Out, Load(Case.In));
    EXPECT_EQ(Case.Out, Current());
  }
}

// One text for the look-up rules; lines end in CR LF as most files do.
const char kLookUpIni[] =
    "[Log_file]\r\n"
    "CMOS_Flag = 7\r\n"
    "Flag=1\r\n"
    " ;Indented=5\r\n"
    ";Hidden=6\r\n"
    "[UI]\r\n"
    "Elapse=\r\n"
    "Tabbed\t=1\r\n"
    "[Next]\r\n"
    "Confirm=1\r\n"
    "[Values]\r\n"
    "Eq=a=b\r\n"
    "Eq2==b\r\n"
    "Quoted=\"x y\"\r\n"
    "Trail=5;comment\r\n"
    "Hex1=FF \r\n"
    "Hex2=0xff\r\n"
    "Hex3=0X1g\r\n"
    "Pct=25%\r\n"
    "Abc=abc\r\n"
    "Tab=\t42\r\n"
    "Two=2\r\n"
    "One=01\r\n"
    "Onex=1x\r\n"
    "Big=4294967297\r\n"
    "Case=MiXed\r\n";

TEST_F(IniStoreTest, LookUpRules) {
  Load(kLookUpIni);
  struct { const char *Section, *Key; bool Found; const char *Value; } Cases[] = {
      {"Log_file", "Flag", true, "7"},      // substring match: CMOS_Flag comes first
      {"log_FILE", "cmos_flag", true, "7"},
      {"Log_file", "Indented", true, "5"},  // an indented comment is an ordinary line
      {"Log_file", "Hidden", false, ""},
      {"UI", "Confirm", false, ""},         // not taken from the next section
      {"UI", "Elapse", false, ""},
      {"UI", "Tabbed", false, ""},
      {"Values", "Eq", true, "a"},
      {"Values", "Eq2", true, "b"},
      {"Values", "Quoted", true, "\"x y\""},
      {"Values", "Trail", true, "5;comment"},
      {"Values", "Case", true, "MiXed"},
      {"Missing", "Flag", false, ""},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(std::string(Case.Section) + "/" + Case.Key);
    bool Found = false;
    EXPECT_EQ(Case.Value, Value(Case.Section, Case.Key, &Found));
    EXPECT_EQ(Case.Found, Found);
  }
}

TEST_F(IniStoreTest, NumbersHexAndFlags) {
  Load(kLookUpIni);
  struct { const char *Key; UINT32 Int, Hex; bool Flag; } Cases[] = {
      {"Pct", 25, 0, false},     {"Abc", 0, 0xABC, false}, {"Tab", 42, 0x42, false},
      {"Hex1", 0, 0, false},     {"Hex2", 0, 0xFF, false}, {"Hex3", 0, 0, false},
      {"Two", 2, 2, false},      {"One", 1, 1, true},      {"Onex", 1, 0, true},
      {"Big", 1, 0x94967297, true}, {"Absent", 99, 99, false},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Key);
    EXPECT_EQ(Case.Int, GetProfileInt("Values", Case.Key, 99, FALSE));
    EXPECT_EQ(Case.Hex, GetProfileHex("Values", Case.Key, 99, FALSE));
    EXPECT_EQ(Case.Flag, GetProfileBool("Values", Case.Key, 99, FALSE) != 0);
  }
  // An empty value counts as absent; the default goes through the flag rule too.
  EXPECT_EQ(7u, GetProfileInt("UI", "Elapse", 7, FALSE));
  EXPECT_TRUE(GetProfileBool("UI", "Absent", 1, FALSE));
  EXPECT_FALSE(GetProfileBool("UI", "Absent", 2, FALSE));
  EXPECT_TRUE(IsSectionPresent("next"));
  EXPECT_FALSE(IsSectionPresent("Nex"));
}

TEST_F(IniStoreTest, OverlongInputIsCutOrRefusedNeverOverrun) {
  std::string LongSection(200, 's');
  std::string Text = "[A]\r\nLong=" + std::string(2000, 'x') + "\r\n[" + LongSection + "]\r\nK=1\r\n";
  Load(Text);
  EXPECT_EQ(std::string(1023 - 5, 'x'), Value("A", "Long"));  // the line, key included, holds 1023
  EXPECT_EQ("", Value(LongSection.c_str(), "K"));
  EXPECT_FALSE(IsSectionPresent(LongSection.c_str()));
  EXPECT_EQ(5u, GetProfileInt("A", std::string(100, 'k').c_str(), 5, FALSE));
  // The longest names that fit still work.
  std::string Section(125, 'S'), Key(62, 'K');
  Load("[" + Section + "]\n" + Key + "=ok\n");
  EXPECT_EQ("ok", Value(Section.c_str(), Key.c_str()));
  // A text without terminator, whose last line has no line end.
  Install("[A]\r\nK=tail");
  EXPECT_EQ("tail", Value("A", "K"));
}

TEST_F(IniStoreTest, MessagesAreUnquotedAndUnescaped) {
  Load("[MessageStringTable]\r\n"
       "MessageStringA00=\"Line one\\nLine two\"\r\n"
       "Crlf=a\\r\\nb\r\n"
       "Quotes=\"\"x\"y\"\"\r\n"
       "Empty=\r\n");
  struct {
    const char *Key;
    const char16_t *Expected;  // nullptr: the default comes back
  } Cases[] = {
      {"MessageStringA00", u"Line one\nLine two"},
      {"messagestringa00", u"Line one\nLine two"},
      {"Crlf", u"a\r\nb"},
      {"Quotes", u"x\"y"},
      {"Empty", nullptr},
      {"Absent", nullptr},
  };
  const CHAR16 *Default = u"default";
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Key);
    const CHAR16 *Got = GetMessageString(Case.Key, Default);
    if (Case.Expected == nullptr) {
      EXPECT_EQ(Default, Got);
    } else {
      ASSERT_NE(Default, Got);
      EXPECT_EQ(std::u16string(Case.Expected), std::u16string(Got));
      FreePool((VOID *)Got);
    }
  }
}

TEST_F(IniStoreTest, SetProfileStringChangesInsertsAndAppends) {
  struct { const char *Before, *Section, *Key, *NewValue, *After, *Note; } Cases[] = {
      {"[Region]\r\nBIOS=0\r\nGbE=0\r\n", "Region", "BIOS", "1", "[Region]\r\nBIOS=1\r\nGbE=0\r\n", ""},
      {"[A]\r\nK=long\r\nZ=1\r\n", "A", "K", "s", "[A]\r\nK=s\r\nZ=1\r\n", ""},
      {"[A]\r\nK=s\r\nZ=1\r\n", "a", "k", "MuchLonger", "[A]\r\nK=MuchLonger\r\nZ=1\r\n", ""},
      {"[A]\nK=old\nZ=1\n", "A", "K", "new!", "[A]\nK=new!\nZ=1\n", ""},  // bare LF line ends
      {"[A]\r\nZ=1\r\n", "A", "K", "v", "[A]\r\nK=v\r\nZ=1\r\n", " (Key not found)"},
      {"[A]\r\nZ=1\r\n", "B", "K", "v", "[A]\r\nZ=1\r\n\r\n[B]\r\nK=v", " (Section not found)"},
      {"", "B", "K", "v", "\r\n[B]\r\nK=v", " (Section not found)"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Before + std::string("|") + Case.NewValue);
    ResetModuleState();
    Boot();
    Install(Case.Before);
    TraceToLog();
    EXPECT_TRUE(SetProfileString(Case.Section, Case.Key, Case.NewValue));
    EXPECT_EQ(Case.After, Current());
    EXPECT_EQ(Case.NewValue, Value(Case.Section, Case.Key));  // the shadow follows
    EXPECT_EQ("===> SetProfileString\r\n<=== SetProfileString" + std::string(Case.Note) + "\r\n", Log());
  }
}

TEST_F(IniStoreTest, FailedAllocationsLeaveTheTextAsItWas) {
  // Growing "[A]\r\nK=1\r\n" (10 bytes) to K=22 needs 11 + 1 bytes; inserting a key needs 18 + 1.
  for (auto [NewKey, Size, Note] : {std::tuple{"K", 12u, "Allocate buffer failed"},
                                    std::tuple{"New", 19u, "Allocate memory failed"}}) {
    ResetModuleState();
    vyr::emu::Profile P = vyr::emu::Profile::Default();
    P.PoolFaults.push_back({1, 0, Size, false});
    Boot(P);
    Install("[A]\r\nK=1\r\n");
    TraceToLog();
    EXPECT_FALSE(SetProfileString("A", NewKey, "22"));
    EXPECT_EQ("[A]\r\nK=1\r\n", Current());
    EXPECT_NE(std::string::npos, Log().find(std::string("<=== SetProfileString (") + Note + ")\r\n"));
  }
}

TEST_F(IniStoreTest, LoadOptionFailuresKeepThePreviousText) {
  // The copy and the shadow are both cleaned length + 1 bytes: 121 here.
  std::string Next = "[A]\r\nK=" + std::string(112, 'n') + "\n";
  for (auto [Call, Note] : {std::pair{1u, "Allocate memory failed"}, std::pair{2u, "Set ini buffer failed"}}) {
    ResetModuleState();
    vyr::emu::Profile P = vyr::emu::Profile::Default();
    P.PoolFaults.push_back({Call, 1, Next.size() + 1, false});
    Boot(P);
    Load("[A]\nK=first\n");
    TraceToLog();
    std::vector<CHAR8> Buffer(Next.begin(), Next.end());
    UINT32 Length = (UINT32)Buffer.size();
    EXPECT_FALSE(LoadOption(Buffer.data(), &Length, TRUE));
    EXPECT_EQ("first", Value("A", "K"));
    EXPECT_EQ(std::string("===> LoadOption\r\n<=== LoadOption (") + Note + ")\r\n", Log());
  }
}

TEST_F(IniStoreTest, ReadRecordHoldsRecordedSettingsAndEndMarks) {
  Load("[UI]\nElapse=1\n");
  for (UINTN Which = 0; Which < 3; Which++) EXPECT_STREQ("[55AA]", IniRecordString(Which));

  // Names as written in the file; only the recorded settings; in load order.
  Load("[passtobios]\nclearTXE=1\n[Region]\nME=0\nBIOS=1\n[forceFlash]\nALL=1\nLogo=1\n");
  EXPECT_STREQ("[forceFlash][Region][Region][passtobios][55AA]", IniRecordString(INI_RECORD_SECTIONS));
  EXPECT_STREQ("[ALL][BIOS][ME][clearTXE][55AA]", IniRecordString(INI_RECORD_KEYS));
  EXPECT_STREQ("[1][1][0][1][55AA]", IniRecordString(INI_RECORD_VALUES));

  // Values of 1000 characters: four entries fit in 4096 bytes with the end
  // mark; the other two are left out of all three strings alike.
  std::string Text = "[Region]\n";
  for (const char *Key : {"BIOS", "GbE", "ME", "DESC", "Platform_Data", "EC"})
    Text += std::string(Key) + "=" + std::string(1000, '1') + "\n";
  Load(Text);
  std::string Values = IniRecordString(INI_RECORD_VALUES);
  EXPECT_EQ(4 * 1002 + 6u, Values.size());
  EXPECT_EQ("[55AA]", Values.substr(Values.size() - 6));
  EXPECT_STREQ("[Region][Region][Region][Region][55AA]", IniRecordString(INI_RECORD_SECTIONS));
  EXPECT_STREQ("[BIOS][GbE][ME][DESC][55AA]", IniRecordString(INI_RECORD_KEYS));
}

TEST_F(IniStoreTest, CallerKeepsItsTextAndEachLoadReplacesTheCurrentOne) {
  std::vector<CHAR8> Buffer = {'[', 'A', ']', '\n', 'K', ' ', '=', ' ', '1', '\n'};
  UINT32 Length = (UINT32)Buffer.size();
  ASSERT_TRUE(LoadOption(Buffer.data(), &Length, TRUE));
  EXPECT_EQ(8u, Length);
  CHAR8 *Text = nullptr;
  GetIniBuffer(&Text, nullptr);
  EXPECT_NE(Buffer.data(), Text);
  EXPECT_EQ(std::string("[A]\nK=1\n\0\0", 10), std::string(Buffer.data(), Buffer.size()));
  Load("[B]\nK=2\n");
  EXPECT_EQ("", Value("A", "K"));
  EXPECT_EQ("2", Value("B", "K"));
}

}  // namespace

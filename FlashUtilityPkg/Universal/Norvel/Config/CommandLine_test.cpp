#include "Config/CommandLine.h"

#include <cstring>
#include <functional>

#include "CommandLineFixture.h"
#include "ArgumentCheck.h"
#include "Base/RunState.h"
#include "Image/Package.h"

namespace {

using vyr::testing::CommandLineTest;
using State = COMMAND_LINE_STATE;

enum Kind { kFlag, kOwner, kType, kNothing };

// A word that sets one entry of the record; it echoes " Command " and the
// word in lower case unless Echo says otherwise.
struct PlainOption { const char16_t *Word; Kind What; int Index; const char *Echo = nullptr; };

// A few of each kind, plus the words handled apart: an alias, upper case,
// a slash, a prefix that echoes its short form, a value taken by the word.
const PlainOption kPlain[] = {
    {u"-h", kFlag, 1},          {u"-H", kFlag, 1, " Command -h"}, {u"-?", kFlag, 1},       {u"-acb", kFlag, 20},
    {u"-b", kType, 0x00},       {u"-bios", kOwner, OWNER_BIOS},   {u"-dbg", kNothing, 0},
    {u"-DBGxyz", kNothing, 0, " Command -dbg"},                   {u"-EC_Crisis", kOwner, OWNER_EC_CRISIS},
    {u"-edt4f:logo.jpg", kFlag, 80, " Command -edt"},             {u"-fv", kType, 0x02},
    {u"-ft:1A", kType, 0x1A, " Command -ft:"}, {u"-ft:zz", kType, 0x00, " Command -ft:"},
    {u"-FT:0xff", kType, 0xFF, " Command -ft:"}, {u"-nopause", kFlag, 242}, {u"-OemCus", kNothing, 0, " Command -OemCus"},
    {u"/PQ", kFlag, 2, " Command -pq"}, {u"-ppriv", kFlag, 3, " Command -priv"}, {u"-unvs", kOwner, OWNER_UNVS},
    {u"-vrt:", kNothing, 0},
};

// Words with values: what they leave in a zeroed record, and their echo.
struct ValueOption {
  const char16_t *Word;
  std::function<void(State &)> Expect;
  const char *Echo;
};

TEST_F(CommandLineTest, EveryOptionSetsWhatItShould) {
  const ValueOption kValues[] = {
      {u"-e:10,200,FFF00000", [](State &S) { S.EGiven = 1; std::memcpy(S.EValue, u"10,200,FFF00000", 16 * 2); },
       " Command -e:"},
      {u"-ec", [](State &S) { S.Owner[OWNER_EC] = 1; S.Flags[37] = 1; }, " Command -ec"},
      {u"-nativeme:Me.bin", [](State &S) { S.NativeMeGiven = 1; std::memcpy(S.NativeMeFile, u"Me.bin", 7 * 2); },
       " Command -nativeme:Me.bin"},
      {u"-oemid:530D4469-5683-4EAD-AF79-54D1882B8A35",
       [](State &S) {
         S.OemIdGiven = 1;
         S.OemId = {0x530D4469, 0x5683, 0x4EAD, {0xAF, 0x79, 0x54, 0xD1, 0x88, 0x2B, 0x8A, 0x35}};
       },
       " Command -oemid:530D4469-5683-4EAD-AF79-54D1882B8A35"},
      // One word as ProcessArgument sees it; blanks split only the option string.
      {u"-p=Se cret", [](State &S) { S.PasswordGiven = 1; std::memcpy(S.Password, u"Se cret", 8 * 2); },
       " Command -p=Se cret"},
      {u"-pbi:0A", [](State &S) { S.PbiGiven = 1; S.PbiType = 0x0A; }, " Command -pbi:"},
      {u"-pwd:abc", [](State &S) { S.PasswordAsciiGiven = 1; std::memcpy(S.PasswordAscii, "abc", 4); }, " Command -pwd:"},
      {u"-rt:0,10", [](State &S) { S.RetryGiven = 1; S.RetryCount = 1; S.RetryDelay = 0x10; }, " Command -rt:"},
      {u"-rt:3", [](State &S) { S.RetryGiven = 1; S.RetryCount = 3; }, " Command -rt:"},
      {u"-rt:1FF,x", [](State &S) { S.RetryGiven = 1; S.RetryCount = 0xFF; }, " Command -rt:"},
      {u"-vrt:0x20", [](State &S) { S.VerifyRetryGiven = 1; S.VerifyRetryCount = 0x20; }, " Command -vrt:"},
  };
  auto Check = [&](const char16_t *Word, const std::function<void(State &)> &Expect, const std::string &Echo) {
    SCOPED_TRACE(A(Word));
    ResetModuleState();
    ResetCommandLine();
    Boot();
    EnableLog();
    ASSERT_TRUE(ProcessArgument(Word));
    static State Expected;
    std::memset(&Expected, 0, sizeof(Expected));
    Expect(Expected);
    EXPECT_EQ(0, std::memcmp(&Expected, &mCommandLine, sizeof(State)));
    EXPECT_EQ(std::vector<std::string>{Echo}, LogLines(" Command "));
  };
  for (const ValueOption &Case : kValues) Check(Case.Word, Case.Expect, Case.Echo);
  for (const PlainOption &Case : kPlain) {
    std::string Word = A(Case.Word);
    for (char &C : Word) C = (char)std::tolower(C);
    Check(Case.Word,
          [&](State &S) {
            if (Case.What == kFlag) S.Flags[Case.Index] = 1;
            if (Case.What == kOwner) S.Owner[Case.Index] = 1;
            if (Case.What == kType) S.ForceFlashType[Case.Index] = 1;
          },
          Case.Echo ? Case.Echo : " Command " + Word);
  }
}

TEST_F(CommandLineTest, ProtectionOptionsNameWhatTheyUnprotectAndAcbClearsAc) {
  Boot();
  EnableLog();
  for (const char16_t *Word : {u"-ft:0F", u"-ft:1A", u"-unvs", u"/UFC", u"-ac", u"-acb"}) {
    ASSERT_TRUE(ProcessArgument(Word));
  }
  EXPECT_EQ((std::vector<std::string>{"Command -ft 0F Password", "Command -ft 1A Undefined", "Command -unvs",
                                      "Command -ufc"}),
            LogLines("Command "));
  EXPECT_EQ(0, IsOptionSet(OPT_AC));
  EXPECT_EQ(1, IsOptionSet(OPT_AB));
}

TEST_F(CommandLineTest, RefusedWordsChangeNothing) {
  const struct { std::u16string Word; const char *Reason; } Cases[] = {
      {u"pq", "Not a valid command"},       {u"", "Not a valid command"},
      {u"-", "No such command"},            {u"-pqx", "No such command"},
      {u"-acbx", "No such command"},        {u"-OemCusX", "No such command"},
      {u"-ft:100", "Type out of range"},    {u"-pbi:123456789", "Type out of range"},
      {u"-oemid:530D4469-5683-4EAD-AF79-54D1882B8A3", "Process GUID string failed"},
      {u"-oemid:{530D4469-5683-4EAD-AF79-54D1882B8A35}", "Process GUID string failed"},
      {u"-edtds:x", "Extra data argument refused"},
      {u"-p=" + std::u16string(256, u'x'), "Value too long"},
      {u"-nativeme:" + std::u16string(128, u'x'), "Value too long"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(A(Case.Word.c_str()));
    ResetModuleState();
    ResetCommandLine();
    Boot();
    EnableLog();
    EXPECT_FALSE(ProcessArgument(Case.Word.c_str()));
    static State Zero;
    EXPECT_EQ(0, std::memcmp(&Zero, &mCommandLine, sizeof(State)));
    EXPECT_TRUE(LogLines(" Command ").empty());
    EXPECT_EQ(std::vector<std::string>{std::string("<=== ProcessArgument (") + Case.Reason + ")"},
              LogLines("<=== ProcessArgument"));
  }
  EXPECT_FALSE(ProcessArgument(nullptr));
}

TEST_F(CommandLineTest, AccessorsBeforeAndAfterValuesAndTheLongestValuesThatFit) {
  UINT8 Count = 9;
  UINT32 Delay = 9, Verify = 9;
  EFI_GUID Guid{};
  EXPECT_EQ(0xFF, GetPbiType());
  EXPECT_FALSE(IsPbiOptionSet() || GetOemIdGuid(&Guid) || GetRetryOption(&Count, &Delay) || GetVerifyRetryOption(&Verify));
  EXPECT_EQ(nullptr, GetPasswordOption());
  EXPECT_EQ(nullptr, GetPasswordAsciiOption());
  EXPECT_EQ(nullptr, GetNativeMeFile());
  EXPECT_EQ(nullptr, GetEOptionValue());
  EXPECT_EQ(0, IsOptionSet(1000));
  EXPECT_EQ(0, GetForceFlashType(256));

  std::u16string Password(255, u'p'), MeFile(127, u'm');
  for (const std::u16string &Word : std::vector<std::u16string>{u"-pbi:0", u"-rt:5,3E8", u"-vrt:A", u"-oemid:00112233-4455-6677-8899-aabbccddeeff",
                                     u"-p=" + Password, u"-pwd:" + Password, u"-nativeme:" + MeFile}) {
    ASSERT_TRUE(ProcessArgument(Word.c_str()));
  }
  EXPECT_EQ(0, GetPbiType());
  EXPECT_TRUE(IsPbiOptionSet());
  EXPECT_TRUE(GetRetryOption(&Count, &Delay));
  EXPECT_EQ(5, Count);
  EXPECT_EQ(0x3E8u, Delay);
  EXPECT_TRUE(GetVerifyRetryOption(&Verify));
  EXPECT_EQ(10u, Verify);
  EXPECT_TRUE(GetOemIdGuid(&Guid));
  const UINT8 Bytes[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(0, std::memcmp(Bytes, &Guid, 16));
  EXPECT_EQ(Password, GetPasswordOption());
  EXPECT_EQ(std::string(255, 'p'), GetPasswordAsciiOption());
  EXPECT_EQ(MeFile, GetNativeMeFile());
}

TEST_F(CommandLineTest, HexadecimalValues) {
  const struct { const char16_t *Text; UINT32 Value; } Cases[] = {
      {u"1A", 0x1A},   {u"0x1a", 0x1A},  {u"0X1A", 0x1A}, {u" \t 0x10", 0x10}, {u"", 0},   {u"0x", 0},
      {u"zz", 0},      {u"1g", 0},       {u"12 ", 0},     {u"0x0x1", 0},       {u"-1", 0}, {u"x10", 0},
      {u"FFFFFFFF", 0xFFFFFFFF}, {u"100000000", 0xFFFFFFFF}, {u"0000000000001", 1},
  };
  for (const auto &Case : Cases) EXPECT_EQ(Case.Value, ParseOptionHex(Case.Text)) << A(Case.Text);
  EXPECT_EQ(0u, ParseOptionHex(nullptr));
}

// ---- ArgumentCheck --------------------------------------------------------------

TEST_F(CommandLineTest, FileNameAndOptionString) {
  const struct {
    std::vector<std::u16string> Args;
    bool Result;
    const char *FileName, *Options;
    std::vector<int> Flags;  // set afterwards
  } Cases[] = {
      {{u"bios.fd", u"-pq", u"/R"}, true, "bios.fd", " -pq /R", {2, 16}},
      {{u"/bios", u"-pq"}, true, "", " /bios -pq", {2}},
      {{u"bios.fd"}, true, "bios.fd", "", {}},
      {{}, true, "", "", {}},
      {{u"", u"-r"}, true, "", " -r", {16}},
      {{u"-s", u"", u"  ", u"-n"}, true, "", " -s    -n", {17, 18}},
      {{u"a.fd", u"b.fd"}, false, "a.fd", " b.fd", {}},
      // A directory after -extrFD that starts with a slash is an option.
      {{u"-extrFD", u"/pq"}, true, "", " /pq", {2}},
  };
  // Nothing is saved before the first check.
  const CHAR16 *Saved = u"x";
  UINT32 Size = 7;
  EXPECT_FALSE(GetSavedCommandLine(&Saved, &Size));
  EXPECT_EQ(nullptr, Saved);
  EXPECT_EQ(0u, Size);
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Options);
    ResetModuleState();
    ResetCommandLine();
    Boot();
    SetArgs(Case.Args);
    CHAR16 FileName[FILE_NAME_CHARS] = u"junk";
    CHAR16 Options[OPTION_STRING_CHARS] = u"junk";
    EXPECT_EQ(Case.Result, ArgumentCheck(FileName, Options));
    EXPECT_EQ(Case.FileName, A(FileName));
    EXPECT_EQ(Case.Options, A(Options));
    EXPECT_EQ(Case.FileName[0] != 0, IsFileNameGiven());
    for (int N : Case.Flags) EXPECT_EQ(1, IsOptionSet(N)) << N;
    EXPECT_TRUE(GetSavedCommandLine(&Saved, &Size));
    EXPECT_EQ(Case.Options, A(Saved));
    EXPECT_EQ(std::strlen(Case.Options) * 2 + 2, Size);
  }
  EXPECT_EQ(u"", std::u16string(GetExtrFdDirectory()));
  CHAR16 Buffer[OPTION_STRING_CHARS];
  EXPECT_FALSE(ArgumentCheck(nullptr, Buffer));
  EXPECT_FALSE(ArgumentCheck(Buffer, nullptr));
}

TEST_F(CommandLineTest, RefusedWordsAndOverlongTextsStopTheCheck) {
  const std::u16string Long = u"-p=" + std::u16string(252, u'x');  // 255 characters
  const struct {
    const char *Name;
    std::vector<std::u16string> Args;
    std::string Word;  // named in the error
    bool PqSet;        // words before the refused one count; an overlong text is refused before any
  } Cases[] = {
      {"refused word", {u"bios.fd", u"-pq", u"-pqx", u"-r"}, "-pqx", true},
      {"file name of 128 characters", {std::u16string(128, u'f'), u"-pq"}, std::string(128, 'f'), false},
      // " L L -r" would be 515 characters of the 511 the option string holds.
      {"option string past 511 characters", {Long, Long, u"-r", u"-pq"}, A(Long.c_str()), false},
      // A directory that does not fit stays behind and is refused as a word.
      {"overlong -extrFD directory", {u"-extrFD", std::u16string(128, u'd')}, std::string(128, 'd'), false},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    ResetModuleState();
    ResetCommandLine();
    Boot();
    SetArgs(Case.Args);
    CHAR16 FileName[FILE_NAME_CHARS + 8], Options[OPTION_STRING_CHARS + 8];
    std::fill(std::begin(FileName), std::end(FileName), u'#');
    std::fill(std::begin(Options), std::end(Options), u'#');
    EXPECT_FALSE(ArgumentCheck(FileName, Options));
    std::string Printed = Console();
    EXPECT_EQ(Banner() + "Error command: " + Case.Word + " (Invalid command)\r\n", Printed);
    EXPECT_EQ(u'#', FileName[FILE_NAME_CHARS]);  // nothing past the buffers
    EXPECT_EQ(u'#', Options[OPTION_STRING_CHARS]);
    EXPECT_EQ(Case.PqSet, IsOptionSet(OPT_PQ) == 1);
    EXPECT_EQ(Case.PqSet, IsFileNameGiven() != 0);
    EXPECT_EQ(0, IsOptionSet(OPT_R));
    EXPECT_EQ(nullptr, GetPasswordOption());
  }
  // The longest fitting forms: a 127-character name, 511 characters of options.
  ResetModuleState();
  ResetCommandLine();
  Boot();
  const std::u16string Fits(127, u'f'), Shorter = u"-p=" + std::u16string(251, u'y');  // 1 + 255 + 1 + 254 = 511
  SetArgs({Fits, Long, Shorter});
  CHAR16 FileName[FILE_NAME_CHARS], Options[OPTION_STRING_CHARS];
  EXPECT_TRUE(ArgumentCheck(FileName, Options));
  EXPECT_EQ(Fits, FileName);
  EXPECT_EQ(511u, std::u16string(Options).size());
  EXPECT_EQ(Shorter.substr(3), GetPasswordOption());
}

TEST_F(CommandLineTest, LauncherStringsStayUntouched) {
  SetApplication(u"VyrFFT.efi");
  SetArgs({u"bios.fd", u"-OemCus", u"CusValue1", u"-extrFD", u"outdir", u"-pq"});
  const std::vector<std::u16string> Before = Registered();
  CHAR16 FileName[FILE_NAME_CHARS], Options[OPTION_STRING_CHARS];
  ASSERT_TRUE(ArgumentCheck(FileName, Options));
  EXPECT_EQ(" -OemCus -pq", A(Options));
  EXPECT_EQ(Before, Registered());
  for (UINT32 I = 0; I < GetArgumentCount(); I++) EXPECT_EQ(Before[I], GetArgument(I));
  EXPECT_EQ(std::u16string(u"CusValue1"), GetOemCusValue());
  EXPECT_TRUE(IsExtrFdSet());
  EXPECT_EQ(std::u16string(u"outdir"), GetExtrFdDirectory());
  EXPECT_EQ(0u, GetWorkArgumentCount());  // the copy is released after the check

  // -OemCus without its value fails the check before any word.
  ResetModuleState();
  ResetCommandLine();
  Boot();
  SetArgs({u"-pq", u"-OemCus"});
  EXPECT_FALSE(ArgumentCheck(FileName, Options));
  EXPECT_EQ(0, IsOptionSet(OPT_PQ));
  EXPECT_NE(std::string::npos, Console().find("    Invalid parameter \"\".\r\n    The parameter have to with prefix "
                                              "\"CUS\".\r\n\r\n"));
}

// ---- Override options ----------------------------------------------------------

TEST_F(CommandLineTest, OverrideWords) {
  const struct {
    const char16_t *Word;
    int Flag;  // 0: ignored
    const char *Echo;
  } Cases[] = {
      {u"-forceit", OPT_FORCEIT, " Command -forceit"},      {u"/FORCEIT", OPT_FORCEIT, " Command -forceit"},
      {u"xforcetype", OPT_FORCETYPE, " Command -forcetype"}, {u"-NoPause", OPT_NOPAUSE, " Command -nopause"},
      {u"-pq", 0, nullptr}, {u"-forceitx", 0, nullptr}, {u"forceit", 0, nullptr}, {u"-", 0, nullptr}, {u"", 0, nullptr},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(A(Case.Word));
    ResetModuleState();
    ResetCommandLine();
    Boot();
    EnableLog();
    EXPECT_TRUE(ProcessOverrideArgument(Case.Word));
    static State Expected;
    std::memset(&Expected, 0, sizeof(Expected));
    if (Case.Flag != 0) Expected.Flags[Case.Flag] = 1;
    EXPECT_EQ(0, std::memcmp(&Expected, &mCommandLine, sizeof(State)));
    EXPECT_EQ(Case.Echo ? std::vector<std::string>{Case.Echo} : std::vector<std::string>{}, LogLines(" Command "));
  }
  EXPECT_FALSE(ProcessOverrideArgument(nullptr));
}

TEST_F(CommandLineTest, LoadOverrideCommandReadsByteLength) {
  EnableLog();
  const char16_t Text[] = u"  -forceit -pq  /nopause -forcetype";
  // ByteLength covers up to "/nopause": -forcetype lies beyond it.
  UINT32 Bytes = (UINT32)(std::u16string(Text).find(u" -forcetype") * 2);
  EXPECT_TRUE(LoadOverrideCommand(Text, Bytes));
  EXPECT_EQ(1, IsOptionSet(OPT_FORCEIT));
  EXPECT_EQ(1, IsOptionSet(OPT_NOPAUSE));
  EXPECT_EQ(0, IsOptionSet(OPT_FORCETYPE));
  EXPECT_EQ(0, IsOptionSet(OPT_PQ));
  EXPECT_EQ((std::vector<std::string>{" Command -forceit", " Command -nopause"}), LogLines(" Command "));
  // An odd length stops before the half character.
  EXPECT_TRUE(LoadOverrideCommand(u"-forcetype", 19));
  EXPECT_EQ(0, IsOptionSet(OPT_FORCETYPE));
  EXPECT_TRUE(LoadOverrideCommand(u"-forcetype", 20));
  EXPECT_EQ(1, IsOptionSet(OPT_FORCETYPE));
  EXPECT_TRUE(LoadOverrideCommand(u"", 0));
  // Failures.
  ResetCommandLine();
  EXPECT_FALSE(LoadOverrideCommand(nullptr, 4));
  EXPECT_FALSE(LoadOverrideCommand(u"-forceit", 0xFFFFFFFFu));
  EXPECT_EQ(0, IsOptionSet(OPT_FORCEIT));
  const std::vector<std::string> Exits = LogLines("<=== LoadOverrideCommand");
  ASSERT_GE(Exits.size(), 2u);
  EXPECT_EQ((std::vector<std::string>{"<=== LoadOverrideCommand (Input buffer is NULL)",
                                      "<=== LoadOverrideCommand (Allocate memory failed)"}),
            std::vector<std::string>(Exits.end() - 2, Exits.end()));
}

}  // namespace

#include "Config/CommandLine.h"

#include <cstring>
#include <functional>

#include "CommandLineFixture.h"
#include "ArgumentCheck.h"
#include "Base/RunState.h"

namespace {

using vyr::testing::CommandLineTest;
using State = COMMAND_LINE_STATE;

struct OptionCase {
  const char16_t *Word;
  std::function<void(State &)> Expect;  // applied to a zeroed record
  const char *Echo;                     // the level-4 log line, or nullptr
};

void Flag(State &S, int N) { S.Flags[N] = 1; }

// Every option word changes exactly what its row says, and echoes its name.
TEST_F(CommandLineTest, EveryOptionSetsWhatItShould) {
  const OptionCase Cases[] = {
      {u"-h", [](State &S) { Flag(S, 1); }, " Command -h"},
      {u"-H", [](State &S) { Flag(S, 1); }, " Command -h"},
      {u"-?", [](State &S) { Flag(S, 1); }, " Command -?"},
      {u"-ab", [](State &S) { Flag(S, 20); }, " Command -ab"},
      {u"-ac", [](State &S) { Flag(S, 19); }, " Command -ac"},
      {u"-acb", [](State &S) { Flag(S, 20); }, " Command -acb"},
      {u"-all", [](State &S) { Flag(S, 48); }, " Command -all"},
      {u"-alp", [](State &S) { Flag(S, 49); }, " Command -alp"},
      {u"-b", [](State &S) { S.ForceFlashType[0x00] = 1; }, " Command -b"},
      {u"-bios", [](State &S) { S.Owner[OWNER_BIOS] = 1; }, " Command -bios"},
      {u"-dbg", [](State &) {}, " Command -dbg"},
      {u"-DBGxyz", [](State &) {}, " Command -dbg"},
      {u"-dc", [](State &S) { S.Owner[OWNER_DC] = 1; }, " Command -dc"},
      {u"-desc", [](State &S) { Flag(S, 32); }, " Command -desc"},
      {u"-di", [](State &S) { S.Owner[OWNER_DI] = 1; }, " Command -di"},
      {u"-e:10,200,FFF00000",
       [](State &S) {
         S.EGiven = 1;
         std::memcpy(S.EValue, u"10,200,FFF00000", 16 * 2);
       },
       " Command -e:"},
      {u"-ec", [](State &S) { S.Owner[OWNER_EC] = 1; Flag(S, 37); }, " Command -ec"},
      {u"-ecp", [](State &S) { S.Owner[OWNER_ECP] = 1; }, " Command -ecp"},
      {u"-ecb", [](State &S) { S.Owner[OWNER_ECB] = 1; }, " Command -ecb"},
      {u"-ecbp", [](State &S) { S.Owner[OWNER_ECBP] = 1; }, " Command -ecbp"},
      {u"-EC_Crisis", [](State &S) { S.Owner[OWNER_EC_CRISIS] = 1; }, " Command -ec_crisis"},
      {u"-eob", [](State &S) { S.Owner[OWNER_EOB] = 1; }, " Command -eob"},
      {u"-edt4f:logo.jpg", [](State &S) { Flag(S, 80); }, " Command -edt"},
      {u"-fd", [](State &S) { S.ForceFlashType[0x03] = 1; }, " Command -fd"},
      {u"-fe", [](State &S) { S.ForceFlashType[0x04] = 1; }, " Command -fe"},
      {u"-fl", [](State &S) { S.ForceFlashType[0x05] = 1; }, " Command -fl"},
      {u"-fm", [](State &S) { S.ForceFlashType[0x01] = 1; }, " Command -fm"},
      {u"-fn", [](State &S) { S.ForceFlashType[0x10] = 1; }, " Command -fn"},
      {u"-fp", [](State &S) { S.ForceFlashType[0x0F] = 1; }, " Command -fp"},
      {u"-ft:1A", [](State &S) { S.ForceFlashType[0x1A] = 1; }, " Command -ft:"},
      {u"-ft:zz", [](State &S) { S.ForceFlashType[0x00] = 1; }, " Command -ft:"},
      {u"-FT:0xff", [](State &S) { S.ForceFlashType[0xFF] = 1; }, " Command -ft:"},
      {u"-fv", [](State &S) { S.ForceFlashType[0x02] = 1; }, " Command -fv"},
      {u"-forceit", [](State &S) { Flag(S, 241); }, " Command -forceit"},
      {u"-g", [](State &S) { Flag(S, 10); }, " Command -g"},
      {u"-gbe", [](State &S) { Flag(S, 33); }, " Command -gbe"},
      {u"-mc", [](State &S) { Flag(S, 22); }, " Command -mc"},
      {u"-me", [](State &S) { Flag(S, 34); }, " Command -me"},
      {u"-mfg", [](State &S) { S.Owner[OWNER_MFG] = 1; }, " Command -mfg"},
      {u"-n", [](State &S) { Flag(S, 18); }, " Command -n"},
      {u"-nativeme:Me.bin",
       [](State &S) {
         S.NativeMeGiven = 1;
         std::memcpy(S.NativeMeFile, u"Me.bin", 7 * 2);
       },
       " Command -nativeme:Me.bin"},
      {u"-nopause", [](State &S) { Flag(S, 242); }, " Command -nopause"},
      {u"-OemCus", [](State &) {}, " Command -OemCus"},
      {u"-oemid:530D4469-5683-4EAD-AF79-54D1882B8A35",
       [](State &S) {
         S.OemIdGiven = 1;
         S.OemId = {0x530D4469, 0x5683, 0x4EAD, {0xAF, 0x79, 0x54, 0xD1, 0x88, 0x2B, 0x8A, 0x35}};
       },
       " Command -oemid:530D4469-5683-4EAD-AF79-54D1882B8A35"},
      {u"-p=Se cret",  // one word as ProcessArgument sees it; blanks split only the option string
       [](State &S) {
         S.PasswordGiven = 1;
         std::memcpy(S.Password, u"Se cret", 8 * 2);
       },
       " Command -p=Se cret"},
      {u"-pbi:0A", [](State &S) { S.PbiGiven = 1; S.PbiType = 0x0A; }, " Command -pbi:"},
      {u"-pdr", [](State &S) { Flag(S, 36); }, " Command -pdr"},
      {u"-pi", [](State &S) { Flag(S, 5); }, " Command -pi"},
      {u"-pq", [](State &S) { Flag(S, 2); }, " Command -pq"},
      {u"/PQ", [](State &S) { Flag(S, 2); }, " Command -pq"},
      {u"-pr", [](State &S) { Flag(S, 4); }, " Command -pr"},
      {u"-ppriv", [](State &S) { Flag(S, 3); }, " Command -priv"},
      {u"-priv", [](State &S) { Flag(S, 3); }, " Command -priv"},
      {u"-pw", [](State &S) { Flag(S, 7); }, " Command -pw"},
      {u"-pwd:abc",
       [](State &S) {
         S.PasswordAsciiGiven = 1;
         std::memcpy(S.PasswordAscii, "abc", 4);
       },
       " Command -pwd:"},
      {u"-r", [](State &S) { Flag(S, 16); }, " Command -r"},
      {u"-rt:0,10", [](State &S) { S.RetryGiven = 1; S.RetryCount = 1; S.RetryDelay = 0x10; }, " Command -rt:"},
      {u"-rt:3", [](State &S) { S.RetryGiven = 1; S.RetryCount = 3; }, " Command -rt:"},
      {u"-rt:1FF,x", [](State &S) { S.RetryGiven = 1; S.RetryCount = 0xFF; }, " Command -rt:"},
      {u"-s", [](State &S) { Flag(S, 17); }, " Command -s"},
      {u"-skipsbp", [](State &S) { Flag(S, 21); }, " Command -skipsbp"},
      {u"-u", [](State &S) { Flag(S, 11); }, " Command -u"},
      {u"-ufc", [](State &S) { S.Owner[OWNER_UFC] = 1; }, " Command -ufc"},
      {u"-unvs", [](State &S) { S.Owner[OWNER_UNVS] = 1; }, " Command -unvs"},
      {u"-vrt:0x20", [](State &S) { S.VerifyRetryGiven = 1; S.VerifyRetryCount = 0x20; }, " Command -vrt:"},
      {u"-vrt:", [](State &) {}, " Command -vrt:"},
  };
  for (const OptionCase &Case : Cases) {
    SCOPED_TRACE(A(Case.Word));
    ResetModuleState();
    ResetCommandLine();
    Boot();
    EnableLog();
    ASSERT_TRUE(ProcessArgument(Case.Word));
    static State Expected;
    std::memset(&Expected, 0, sizeof(Expected));
    Case.Expect(Expected);
    EXPECT_EQ(0, std::memcmp(&Expected, &mCommandLine, sizeof(State)));
    EXPECT_EQ(std::vector<std::string>{Case.Echo}, LogLines(" Command "));
  }
}

TEST_F(CommandLineTest, ProtectionOptionsNameWhatTheyUnprotect) {
  Boot();
  EnableLog();
  ASSERT_TRUE(ProcessArgument(u"-ft:0F"));
  ASSERT_TRUE(ProcessArgument(u"-ft:1A"));
  ASSERT_TRUE(ProcessArgument(u"-unvs"));
  ASSERT_TRUE(ProcessArgument(u"/UFC"));
  EXPECT_EQ((std::vector<std::string>{"Command -ft 0F Password", "Command -ft 1A Undefined", "Command -unvs",
                                      "Command -ufc"}),
            LogLines("Command "));
}

TEST_F(CommandLineTest, AcbClearsTheAcFlag) {
  ASSERT_TRUE(ProcessArgument(u"-ac"));
  ASSERT_TRUE(ProcessArgument(u"-acb"));
  EXPECT_EQ(0, IsOptionSet(OPT_AC));
  EXPECT_EQ(1, IsOptionSet(OPT_AB));
}

struct RefusedCase {
  std::u16string Word;
  const char *Reason;
};

TEST_F(CommandLineTest, RefusedWordsChangeNothing) {
  const RefusedCase Cases[] = {
      {u"pq", "Not a valid command"},
      {u"", "Not a valid command"},
      {u"-", "No such command"},
      {u"-pqx", "No such command"},
      {u"-h2", "No such command"},
      {u"-zz", "No such command"},
      {u"-pwd", "No such command"},
      {u"-acbx", "No such command"},
      {u"-OemCusX", "No such command"},
      {u"-forcetype", "No such command"},
      {u"-extrFD", "No such command"},
      {u"-ft:100", "Type out of range"},
      {u"-pbi:123456789", "Type out of range"},
      {u"-oemid:530D4469-5683-4EAD-AF79-54D1882B8A3", "Process GUID string failed"},
      {u"-oemid:{530D4469-5683-4EAD-AF79-54D1882B8A35}", "Process GUID string failed"},
      {u"-oemid:530D4469+5683-4EAD-AF79-54D1882B8A35", "Process GUID string failed"},
      {u"-oemid:530D4469-5683-4EAD-AF79-54D1882B8A3G", "Process GUID string failed"},
      {u"-edtds:x", "Extra data argument refused"},
      {u"-p=" + std::u16string(256, u'x'), "Value too long"},
      {u"-pwd:" + std::u16string(256, u'x'), "Value too long"},
      {u"-nativeme:" + std::u16string(128, u'x'), "Value too long"},
      {u"-e:" + std::u16string(128, u'1'), "Value too long"},
  };
  for (const RefusedCase &Case : Cases) {
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

TEST_F(CommandLineTest, LongestValuesThatFitAreKept) {
  std::u16string Password(255, u'p'), MeFile(127, u'm');
  ASSERT_TRUE(ProcessArgument((u"-p=" + Password).c_str()));
  ASSERT_TRUE(ProcessArgument((u"-pwd:" + Password).c_str()));
  ASSERT_TRUE(ProcessArgument((u"-nativeme:" + MeFile).c_str()));
  EXPECT_EQ(Password, GetPasswordOption());
  EXPECT_EQ(std::string(255, 'p'), GetPasswordAsciiOption());
  EXPECT_EQ(MeFile, GetNativeMeFile());
}

TEST_F(CommandLineTest, AccessorsBeforeAndAfterValues) {
  UINT8 Count = 9;
  UINT32 Delay = 9, Verify = 9;
  EFI_GUID Guid{};
  EXPECT_EQ(0xFF, GetPbiType());
  EXPECT_FALSE(IsPbiOptionSet());
  EXPECT_EQ(nullptr, GetPasswordOption());
  EXPECT_EQ(nullptr, GetPasswordAsciiOption());
  EXPECT_EQ(nullptr, GetNativeMeFile());
  EXPECT_EQ(nullptr, GetEOptionValue());
  EXPECT_FALSE(GetOemIdGuid(&Guid));
  EXPECT_FALSE(GetRetryOption(&Count, &Delay));
  EXPECT_FALSE(GetVerifyRetryOption(&Verify));
  EXPECT_EQ(0, IsOptionSet(1000));
  EXPECT_EQ(0, GetForceFlashType(256));

  ASSERT_TRUE(ProcessArgument(u"-pbi:0"));
  ASSERT_TRUE(ProcessArgument(u"-rt:5,3E8"));
  ASSERT_TRUE(ProcessArgument(u"-vrt:A"));
  ASSERT_TRUE(ProcessArgument(u"-oemid:00112233-4455-6677-8899-aabbccddeeff"));
  EXPECT_EQ(0, GetPbiType());
  EXPECT_TRUE(IsPbiOptionSet());
  EXPECT_TRUE(GetRetryOption(&Count, &Delay));
  EXPECT_EQ(5, Count);
  EXPECT_EQ(0x3E8u, Delay);
  EXPECT_TRUE(GetVerifyRetryOption(&Verify));
  EXPECT_EQ(10u, Verify);
  EXPECT_TRUE(GetOemIdGuid(&Guid));
  const UINT8 Bytes[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                           0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(0, std::memcmp(Bytes, &Guid, 16));
}

TEST_F(CommandLineTest, HexadecimalValues) {
  struct {
    const char16_t *Text;
    UINT32 Value;
  } Cases[] = {
      {u"1A", 0x1A},        {u"0x1a", 0x1A},        {u"0X1A", 0x1A},   {u" \t 0x10", 0x10},
      {u"", 0},             {u"0x", 0},             {u"zz", 0},        {u"1g", 0},
      {u"12 ", 0},          {u"0x0x1", 0},          {u"-1", 0},        {u"x10", 0},
      {u"FFFFFFFF", 0xFFFFFFFF}, {u"100000000", 0xFFFFFFFF}, {u"0000000000001", 1},
  };
  for (const auto &Case : Cases) {
    EXPECT_EQ(Case.Value, ParseOptionHex(Case.Text)) << A(Case.Text);
  }
  EXPECT_EQ(0u, ParseOptionHex(nullptr));
}

// ---- ArgumentCheck --------------------------------------------------------------

struct CheckCase {
  std::vector<std::u16string> Args;
  bool Result;
  const char *FileName;
  const char *Options;
  std::vector<int> Flags;  // set afterwards
};

TEST_F(CommandLineTest, FileNameAndOptionString) {
  const CheckCase Cases[] = {
      {{u"bios.fd", u"-pq", u"/R"}, true, "bios.fd", " -pq /R", {2, 16}},
      {{u"/bios", u"-pq"}, true, "", " /bios -pq", {2}},
      {{u"bios.fd"}, true, "bios.fd", "", {}},
      {{}, true, "", "", {}},
      {{u"", u"-r"}, true, "", " -r", {16}},
      {{u"-s", u"", u"  ", u"-n"}, true, "", " -s    -n", {17, 18}},
      {{u"a.fd", u"b.fd"}, false, "a.fd", " b.fd", {}},
  };
  for (const CheckCase &Case : Cases) {
    ResetModuleState();
    ResetCommandLine();
    Boot();
    SetArgs(Case.Args);
    CHAR16 FileName[FILE_NAME_CHARS] = u"junk";
    CHAR16 Options[OPTION_STRING_CHARS] = u"junk";
    EXPECT_EQ(Case.Result, ArgumentCheck(FileName, Options)) << Case.Options;
    EXPECT_EQ(Case.FileName, A(FileName));
    EXPECT_EQ(Case.Options, A(Options));
    EXPECT_EQ(Case.FileName[0] != 0, IsFileNameGiven());
    for (int N : Case.Flags) EXPECT_EQ(1, IsOptionSet(N)) << N;
    const CHAR16 *Saved = nullptr;
    UINT32 Size = 0;
    EXPECT_TRUE(GetSavedCommandLine(&Saved, &Size));
    EXPECT_EQ(Case.Options, A(Saved));
    EXPECT_EQ(std::strlen(Case.Options) * 2 + 2, Size);
  }
}

TEST_F(CommandLineTest, NothingSavedBeforeTheCheck) {
  const CHAR16 *Saved = u"x";
  UINT32 Size = 7;
  EXPECT_FALSE(GetSavedCommandLine(&Saved, &Size));
  EXPECT_EQ(nullptr, Saved);
  EXPECT_EQ(0u, Size);
}

TEST_F(CommandLineTest, FirstRefusedWordStopsTheCheck) {
  SetArgs({u"bios.fd", u"-pq", u"-pqx", u"-r"});
  CHAR16 FileName[FILE_NAME_CHARS], Options[OPTION_STRING_CHARS];
  EXPECT_FALSE(ArgumentCheck(FileName, Options));
  std::string Printed = Console();
  EXPECT_EQ(Banner() + "Error command: -pqx (Invalid command)\r\n", Printed);
  EXPECT_EQ(1, IsOptionSet(OPT_PQ));
  EXPECT_EQ(0, IsOptionSet(OPT_R));
}

TEST_F(CommandLineTest, FileNamesUpTo127Characters) {
  std::u16string Fits(127, u'f'), TooLong(128, u'f');
  SetArgs({Fits, u"-pq"});
  CHAR16 FileName[FILE_NAME_CHARS + 8], Options[OPTION_STRING_CHARS];
  std::fill(std::begin(FileName), std::end(FileName), u'#');
  ASSERT_TRUE(ArgumentCheck(FileName, Options));
  EXPECT_EQ(Fits, FileName);
  EXPECT_EQ(u'#', FileName[FILE_NAME_CHARS]);  // nothing past the name buffer

  ResetModuleState();
  ResetCommandLine();
  Boot();
  SetArgs({TooLong, u"-pq"});
  std::fill(std::begin(FileName), std::end(FileName), u'#');
  EXPECT_FALSE(ArgumentCheck(FileName, Options));
  std::string Printed = Console();
  EXPECT_EQ(Banner() + "Error command: " + std::string(128, 'f') + " (Invalid command)\r\n", Printed);
  EXPECT_EQ(u'#', FileName[FILE_NAME_CHARS]);
  EXPECT_FALSE(IsFileNameGiven());
  EXPECT_EQ(0, IsOptionSet(OPT_PQ));
}

TEST_F(CommandLineTest, OptionStringHolds511Characters) {
  // 1 + 509 characters plus one blank-led "-r": 513 characters do not fit.
  std::u16string Long = u"-p=" + std::u16string(252, u'x');  // 255 characters
  SetArgs({Long, Long, u"-r"});                            // " L L" is 512 characters
  CHAR16 FileName[FILE_NAME_CHARS];
  CHAR16 Options[OPTION_STRING_CHARS + 8];
  std::fill(std::begin(Options), std::end(Options), u'#');
  EXPECT_FALSE(ArgumentCheck(FileName, Options));
  std::string Printed = Console();
  EXPECT_EQ(Banner() + "Error command: " + A(Long.c_str()) + " (Invalid command)\r\n", Printed);
  EXPECT_EQ(u'#', Options[OPTION_STRING_CHARS]);
  EXPECT_EQ(0, Options[0]);
  EXPECT_EQ(nullptr, GetPasswordOption());  // nothing processed
  EXPECT_EQ(0, IsOptionSet(OPT_R));

  // 511 characters exactly: " L -p=x..." with the second value one shorter.
  ResetModuleState();
  ResetCommandLine();
  Boot();
  std::u16string Shorter = u"-p=" + std::u16string(251, u'y');  // 254 characters
  SetArgs({Long, Shorter});                                    // 1 + 255 + 1 + 254 = 511
  std::fill(std::begin(Options), std::end(Options), u'#');
  EXPECT_TRUE(ArgumentCheck(FileName, Options));
  EXPECT_EQ(511u, std::u16string(Options).size());
  EXPECT_EQ(Shorter.substr(3), GetPasswordOption());
}

TEST_F(CommandLineTest, LauncherStringsStayUntouched) {
  SetArgs({u"bios.fd", u"-OemCus", u"Value1", u"-extrFD", u"outdir", u"-pq"});
  const std::vector<std::u16string> Before = Registered();
  CHAR16 FileName[FILE_NAME_CHARS], Options[OPTION_STRING_CHARS];
  ASSERT_TRUE(ArgumentCheck(FileName, Options));
  EXPECT_EQ(" -pq", A(Options));
  EXPECT_EQ(Before, Registered());
  for (UINT32 I = 0; I < GetArgumentCount(); I++) EXPECT_EQ(Before[I], GetArgument(I));
  EXPECT_EQ(std::u16string(u"Value1"), GetOemCusValue());
  EXPECT_TRUE(IsExtrFdSet());
  EXPECT_EQ(std::u16string(u"outdir"), GetExtrFdDirectory());
  EXPECT_EQ(0u, GetWorkArgumentCount());  // the copy is released after the check
}

TEST_F(CommandLineTest, OemCusWithoutValueFailsTheCheck) {
  SetArgs({u"-pq", u"-OemCus"});
  CHAR16 FileName[FILE_NAME_CHARS], Options[OPTION_STRING_CHARS];
  EXPECT_FALSE(ArgumentCheck(FileName, Options));
  EXPECT_EQ(0, IsOptionSet(OPT_PQ));
  EXPECT_EQ("", Console());
}

TEST_F(CommandLineTest, ExtrFdDirectoryStartingWithASlashIsAnOption) {
  SetArgs({u"-extrFD", u"/pq"});
  CHAR16 FileName[FILE_NAME_CHARS], Options[OPTION_STRING_CHARS];
  EXPECT_TRUE(ArgumentCheck(FileName, Options));
  EXPECT_EQ(" /pq", A(Options));
  EXPECT_EQ(1, IsOptionSet(OPT_PQ));
  EXPECT_EQ(std::u16string(u""), GetExtrFdDirectory());
}

TEST_F(CommandLineTest, NullBuffersAreRefused) {
  CHAR16 Buffer[OPTION_STRING_CHARS];
  EXPECT_FALSE(ArgumentCheck(nullptr, Buffer));
  EXPECT_FALSE(ArgumentCheck(Buffer, nullptr));
}

// ---- Override options ----------------------------------------------------------

TEST_F(CommandLineTest, OverrideWords) {
  struct {
    const char16_t *Word;
    int Flag;  // 0: ignored
    const char *Echo;
  } Cases[] = {
      {u"-forceit", OPT_FORCEIT, " Command -forceit"},  {u"/FORCEIT", OPT_FORCEIT, " Command -forceit"},
      {u"xforcetype", OPT_FORCETYPE, " Command -forcetype"}, {u"-NoPause", OPT_NOPAUSE, " Command -nopause"},
      {u"-pq", 0, nullptr},        {u"-forceitx", 0, nullptr}, {u"forceit", 0, nullptr},
      {u"-", 0, nullptr},          {u"", 0, nullptr},
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
    EXPECT_EQ(Case.Echo ? std::vector<std::string>{Case.Echo} : std::vector<std::string>{},
              LogLines(" Command "));
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
}

TEST_F(CommandLineTest, LoadOverrideCommandFailures) {
  EnableLog();
  EXPECT_FALSE(LoadOverrideCommand(nullptr, 4));
  EXPECT_FALSE(LoadOverrideCommand(u"-forceit", 0xFFFFFFFFu));
  EXPECT_EQ(0, IsOptionSet(OPT_FORCEIT));
  EXPECT_EQ((std::vector<std::string>{"<=== LoadOverrideCommand (Input buffer is NULL)",
                                      "<=== LoadOverrideCommand (Allocate memory failed)"}),
            LogLines("<=== LoadOverrideCommand"));
}

TEST_F(CommandLineTest, ResetForgetsEverything) {
  SetArgs({u"bios.fd", u"-pq", u"-p=x", u"-edt4f:a", u"-ft:7"});
  CHAR16 FileName[FILE_NAME_CHARS], Options[OPTION_STRING_CHARS];
  ASSERT_TRUE(ArgumentCheck(FileName, Options));
  ASSERT_TRUE(CopyArgumentList());
  CommandLineResetState();
  static State Zero;
  EXPECT_EQ(0, std::memcmp(&Zero, &mCommandLine, sizeof(State)));
}

}  // namespace

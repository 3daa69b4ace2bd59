#include <cstring>

#include "CommandLineFixture.h"
#include "Config/CommandLine.h"
#include "Config/IniSettings.h"
#include "Base/Settings.h"
#include "Config/CommandFilter.h"
#include "Console/Usage.h"
#include "DriverEntry.h"

namespace {

using vyr::testing::CommandLineTest;

struct FilterWord { const char16_t *Word; int Byte, Bit; };

// Some options of each filter byte, the first and last bits of a byte, the
// words with values and the aliases: the rest of the table works alike.
const FilterWord kFilterWords[] = {
    {u"-all", 0, 0},    {u"-fp", 0, 7},     {u"-fn", 1, 0},     {u"-ft:1A", 1, 1},   {u"-pbi:3", 1, 2},
    {u"-e:1,2,3", 1, 3}, {u"-alp", 1, 7},   {u"-bios", 2, 0},   {u"-pdr", 2, 4},     {u"-ec", 3, 1},
    {u"-eob", 3, 5},    {u"-ab", 4, 0},     {u"-skipsbp", 4, 7}, {u"-h", 6, 0},      {u"-?", 6, 0},
    {u"/H", 6, 0},      {u"/PQ", 6, 5},     {u"-dc", 6, 7},     {u"-s", 7, 2},
};

class CommandFilterTest : public CommandLineTest {
 protected:
  bool Check(const std::u16string &Options) { return CommandFilterCheck(Options.c_str()); }
  std::string NotSupported(const std::string &Word) {
    return Banner() + "Error command: " + Word + " (Not supports on current platform)\r\n\r\n";
  }
};

TEST_F(CommandFilterTest, EachOptionNeedsItsOwnBit) {
  for (const FilterWord &Case : kFilterWords) {
    SCOPED_TRACE(A(Case.Word));
    std::vector<UINT8> Only(8, 0), AllBut(8, 0xFF);
    Only[Case.Byte] = (UINT8)(1 << Case.Bit);
    AllBut[Case.Byte] &= (UINT8)~(1 << Case.Bit);
    ResetModuleState();
    Boot();
    SetFilter(8, Only);
    EXPECT_TRUE(Check(std::u16string(u" ") + Case.Word));
    SetFilter(8, AllBut);
    EXPECT_FALSE(Check(std::u16string(u" ") + Case.Word));
  }
}

TEST_F(CommandFilterTest, WordsAreCheckedWholeAndTheRefusalNamesTheFirstOneAsGiven) {
  const std::vector<UINT8> HelpOnly = {0, 0, 0, 0, 0, 0, 0x01}, All(16, 0xFF);
  const std::u16string Wide = std::u16string(u" -e:") + u'\u0100' + u" -all";  // a low byte of 0 ends no text
  const struct {
    UINT32 Length;  // 0: no filter
    std::vector<UINT8> Bits;
    std::u16string Options;
    const char *Refused;  // nullptr: allowed
  } Cases[] = {
      {0, {}, u" -dbg -zz /nonsense", nullptr},
      {16, HelpOnly, u" -h", nullptr},
      {16, HelpOnly, u"  -?  /h ", nullptr},
      {16, HelpOnly, u" -h -dbg -pq", "-dbg"},
      {8, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF}, u" -all /PQ", "/PQ"},
      {8, {0x00, 0x08}, Wide, "-all"},
      {16, All, u" -" + std::u16string(300, u'a'), ""},  // cut safely
      {16, All, u" -e:" + std::u16string(300, u'1'), nullptr},
      // Words past the 512-byte text are checked too.
      {16, All, u" " + std::u16string(600, u' ') + u"-r", nullptr},
      {16, All, u" " + std::u16string(600, u' ') + u"-dbg", ""},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(A(Case.Options.c_str()).substr(0, 40));
    ResetModuleState();
    Boot();
    if (Case.Length != 0) SetFilter(Case.Length, Case.Bits);
    EXPECT_EQ(Case.Refused == nullptr, Check(Case.Options));
    std::string Printed = Console();
    if (Case.Refused == nullptr) {
      EXPECT_EQ("", Printed);
    } else if (*Case.Refused != 0) {
      EXPECT_EQ(NotSupported(Case.Refused), Printed);
    }
  }
}

TEST_F(CommandFilterTest, OptionsOutsideTheTableAreAlwaysRefused) {
  const char16_t *Words[] = {u"-dbg", u"-di", u"-edt4f:a", u"-p=x", u"-rt:1,2", u"-ppriv", u"-nopause",
                             u"-OemCus", u"-e", u"-ft", u"-h:", u"--h"};
  for (const char16_t *Word : Words) {
    ResetModuleState();
    Boot();
    SetFilter(16, std::vector<UINT8>(16, 0xFF));
    EXPECT_FALSE(Check(std::u16string(u" ") + Word)) << A(Word);
  }
}

// A short filter refuses the later bytes; a length past the bitmap reads only its 16 bytes.
TEST_F(CommandFilterTest, FilterLengthIsBoundedByTheBitmap) {
  EnableLog();
  for (UINT32 Length : {2u, 300u}) {
    SetFilter(Length, std::vector<UINT8>(16, 0xFF));
    for (const FilterWord &Case : kFilterWords) {
      EXPECT_EQ(Length > 2 || Case.Byte < 2, Check(std::u16string(u" ") + Case.Word)) << A(Case.Word) << Length;
    }
  }
  // The dumps show the bitmap bytes, nothing after them.
  std::vector<std::string> Rows = LogLines("00");
  ASSERT_FALSE(Rows.empty());
  for (const std::string &Row : Rows) EXPECT_EQ(0u, Row.rfind("0000:", 0)) << Row;
  EXPECT_FALSE(LogLines("Argument filter enabled").empty());
  EXPECT_FALSE(LogLines("===== Filter Table =====").empty());
}

// ---- The INI side ------------------------------------------------------------

class IniFilterTest : public CommandLineTest {
 protected:
  // Every filtered setting away from the value the filter forces.
  void SetOpposites() {
    auto &F = mIniSettings.ForceFlash;
    F.ALL = F.BB_PEI = F.CPU_Microcode = F.Variable = F.DXE = F.EC = F.Logo = F.Password = F.OEM_NVS = F.ALP = 1;
    for (int T = 0; T < INI_FORCE_FLASH_TYPES; T++) F.Type[T] = 1;
    mIniSettings.SecurityFlashFactoryUpdate.UpdateNvStorage = 1;
    mIniSettings.SecurityFlashFactoryUpdate.UpdateFactoryCopy = 1;
    auto &R = mIniSettings.Region;
    R.BIOS = R.GbE = R.ME = R.DESC = R.Platform_Data = R.EC = 1;
    mIniSettings.UpdateEC.Progress_Bar = 0;
    mIniSettings.EngineeringErrorDisable.SkipSecureBootProtectionCheck = 1;
    mIniSettings.AC_Adapter.BatteryCheck = 1;
    mIniSettings.AC_Adapter.Flag = 0;
    mIniSettings.Platform_Check.Flag = 0x1234;
    mIniSettings.PlatformVersion.Flag = 0x1234;
    mIniSettings.Bios_Version_Check.Flag = 0x1234;
    mIniSettings.Bios_Version_Check.CheckByBios = 1;
    mIniSettings.BIOSVersionFormat.BIOSVFEnable = 1;
    mIniSettings.FlashComplete.Action = 0x1234;
    mIniSettings.FlashSecureBIOSOverride.EnableFlashSecureBIOSOverride = 1;
    mIniSettings.FlashSecureBIOSOverride.Action = 0;
  }
};

TEST_F(IniFilterTest, NoFilterOrAFullOneLeavesTheSettings) {
  EnableLog();
  SetOpposites();
  static INI_SETTINGS Before;
  std::memcpy(&Before, &mIniSettings, sizeof(Before));
  EXPECT_TRUE(ChkFilterTblIni());
  SetFilter(8, std::vector<UINT8>(8, 0xFF));
  EXPECT_TRUE(ChkFilterTblIni());
  EXPECT_EQ(0, std::memcmp(&Before, &mIniSettings, sizeof(Before)));
  EXPECT_TRUE(LogLines("filter ini").empty());
}

TEST_F(IniFilterTest, EmptyFilterForcesEverySetting) {
  EnableLog();
  SetOpposites();
  SetFilter(16, {});
  EXPECT_TRUE(ChkFilterTblIni());
  // One trace per forced setting, in the order of the filter table.
  const std::vector<std::string> Traces = LogLines("filter ini");
  ASSERT_EQ(31u, Traces.size());
  EXPECT_EQ("filter ini 0, 0", Traces.front());
  EXPECT_EQ("filter ini 7, 4", Traces.back());
  EXPECT_EQ(1, mIniSettings.Region.EC);  // not filtered
  EXPECT_EQ(std::vector<std::string>{"INI filter() |enable|"}, LogLines("INI filter()"));
}

TEST_F(IniFilterTest, WithoutTheFtBitOnlyNamedTypesSurvive) {
  SetOpposites();
  std::vector<UINT8> Bits(8, 0xFF);
  Bits[1] &= (UINT8)~0x02;
  SetFilter(8, Bits);
  EXPECT_TRUE(ChkFilterTblIni());
  for (int T = 0; T < INI_FORCE_FLASH_TYPES; T++) {
    bool Named = T <= 5 || T == 0x0F || T == 0x10;
    EXPECT_EQ(Named ? 1 : 0, mIniSettings.ForceFlash.Type[T]) << T;
  }
}

TEST_F(IniFilterTest, ShortFilterForcesTheLaterBytes) {
  EnableLog();
  SetOpposites();
  SetFilter(2, std::vector<UINT8>(16, 0xFF));
  EXPECT_TRUE(ChkFilterTblIni());
  EXPECT_EQ(1, mIniSettings.ForceFlash.ALL);
  EXPECT_EQ(1, mIniSettings.ForceFlash.Type[0x1A]);
  EXPECT_EQ(0, mIniSettings.Region.BIOS);
  EXPECT_EQ(2u, (UINT32)mIniSettings.FlashComplete.Action);
  EXPECT_EQ("filter ini 2, 0", LogLines("filter ini").front());
}

// ---- The usage text --------------------------------------------------------------

std::string Row(const std::string &Text) { return "\r         " + Text + "\r\n"; }

const char kPrompt[] = "\r\n Press a key to continue";

// The rows restate the code's table; what is checked is what it shows and
// the paging over the rows' lines (the -edt row is 14 lines long).
TEST_F(CommandLineTest, UsageWithoutFilter) {
  M().Keys().Queue(0, u'\r');
  M().Keys().Queue(0, u' ');
  DisplayUsage();
  const std::string Printed = Console();
  std::vector<size_t> Breaks;
  for (size_t Begin = 0, End = 0; End != std::string::npos; Begin = End + sizeof(kPrompt) - 1) {
    End = Printed.find(kPrompt, Begin);
    const std::string Page = Printed.substr(Begin, End == std::string::npos ? End : End - Begin);
    Breaks.push_back(0);
    for (size_t At = Page.find("\r\n"); At != std::string::npos; At = Page.find("\r\n", At + 2)) Breaks.back()++;
  }
  EXPECT_EQ((std::vector<size_t>{16, 23, 18}), Breaks);
  EXPECT_EQ(0u, Printed.find(Row("Usage: VyrFFT-S.exe filename [Option]\r\n") + Row("-h                This flash utility help.")));
  EXPECT_NE(std::string::npos, Printed.find(kPrompt + Row("-edt#@:VALUE      # : The type ID. Value 4 ~ C.")));
  const std::string Last = Row("-vrt:TIMES        When verify error, retry how many times.") + "\r\n";
  EXPECT_EQ(Printed.size() - Last.size(), Printed.rfind(Last));
  EXPECT_EQ(0u, M().Keys().Pending());  // one key per prompt
}

TEST_F(CommandLineTest, UsageWithHelpOnlyFilter) {
  EnableLog();
  SetFilter(16, {0, 0, 0, 0, 0, 0, 0x01});
  DisplayUsage();
  EXPECT_EQ(Row("-h                This flash utility help.") + "\r\n", Console());
  EXPECT_EQ(std::vector<std::string>{" Command filter feature enable"}, LogLines(" Command filter"));
}

TEST_F(CommandLineTest, UsageFilterPagesWhatItShows) {
  // 4, then -all and -b, the 14 -edt lines and three rows make 23: -fm starts a page.
  SetFilter(8, {0xFF, 0x13, 0, 0, 0, 0, 0, 0});
  M().Keys().Queue(0, u'\r');
  DisplayUsage();
  // The only prompt comes right before -fm.
  const std::string Printed = Console();
  EXPECT_EQ(Printed.find(kPrompt), Printed.rfind(kPrompt));
  EXPECT_NE(std::string::npos, Printed.find(kPrompt + Row("-fm               Force flash CPU Microcode region.")));
  EXPECT_EQ(0u, M().Keys().Pending());
}

}  // namespace

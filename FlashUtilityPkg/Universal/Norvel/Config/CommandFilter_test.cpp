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

TEST_F(CommandFilterTest, ShortFilterRefusesLaterBytes) {
  SetFilter(2, std::vector<UINT8>(16, 0xFF));
  for (const FilterWord &Case : kFilterWords) {
    EXPECT_EQ(Case.Byte < 2, Check(std::u16string(u" ") + Case.Word)) << A(Case.Word);
  }
}

TEST_F(CommandFilterTest, ReportedLengthBeyondTheBitmapIsBounded) {
  EnableLog();
  SetFilter(300, std::vector<UINT8>(16, 0xFF));
  for (const FilterWord &Case : kFilterWords) EXPECT_TRUE(Check(std::u16string(u" ") + Case.Word));
  // The dump shows the 16 bitmap bytes, nothing after them.
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
  auto &F = mIniSettings.ForceFlash;
  for (UINT8 V : {F.ALL, F.BB_PEI, F.CPU_Microcode, F.Variable, F.DXE, F.EC, F.Logo, F.Password, F.OEM_NVS, F.ALP})
    EXPECT_EQ(0, V);
  for (int T = 0; T < INI_FORCE_FLASH_TYPES; T++) EXPECT_EQ(0, F.Type[T]) << T;
  EXPECT_EQ(0, mIniSettings.SecurityFlashFactoryUpdate.UpdateNvStorage);
  EXPECT_EQ(0, mIniSettings.SecurityFlashFactoryUpdate.UpdateFactoryCopy);
  auto &R = mIniSettings.Region;
  EXPECT_EQ(0, R.BIOS | R.GbE | R.ME | R.DESC | R.Platform_Data);
  EXPECT_EQ(1, R.EC);  // not filtered
  EXPECT_EQ(1, mIniSettings.UpdateEC.Progress_Bar);
  EXPECT_EQ(0, mIniSettings.EngineeringErrorDisable.SkipSecureBootProtectionCheck);
  EXPECT_EQ(0, mIniSettings.AC_Adapter.BatteryCheck);
  EXPECT_EQ(1, mIniSettings.AC_Adapter.Flag);
  EXPECT_EQ(3u, (UINT32)mIniSettings.Platform_Check.Flag);
  EXPECT_EQ(0u, (UINT32)mIniSettings.PlatformVersion.Flag);
  EXPECT_EQ(2u, (UINT32)mIniSettings.Bios_Version_Check.Flag);
  EXPECT_EQ(0, mIniSettings.Bios_Version_Check.CheckByBios);
  EXPECT_EQ(0, mIniSettings.BIOSVersionFormat.BIOSVFEnable);
  EXPECT_EQ(2u, (UINT32)mIniSettings.FlashComplete.Action);
  EXPECT_EQ(0, mIniSettings.FlashSecureBIOSOverride.EnableFlashSecureBIOSOverride);
  EXPECT_EQ(1, mIniSettings.FlashSecureBIOSOverride.Action);

  // One trace per forced setting, in the order of the filter table.
  const std::vector<std::string> Traces = LogLines("filter ini");
  ASSERT_EQ(31u, Traces.size());
  EXPECT_EQ("filter ini 0, 0", Traces.front());
  EXPECT_EQ("filter ini 7, 4", Traces.back());
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

const std::string kEdtRow =
    "-edt#@:VALUE      # : The type ID. Value 4 ~ C.\r\n"
    "                           @ : The data format. Value F, S, W, DW.\r\n"
    "                           F for file,\r\n"
    "                           S for string (Unicode string),\r\n"
    "                           W for word value,\r\n"
    "                           DW for double word value.\r\n"
    "                           Example:\r\n"
    "                           Update type 4 data, the source is file.\r\n"
    "                           And update type 5 data, the source is string.\r\n"
    "                             -edt4f:logo.jpg -edt5s:\"Input string.\"\r\n"
    "                           Update a type 9 data, the source is WORD.\r\n"
    "                             -edt9w:\"0x1234\"\r\n"
    "                           Update a type C data, the source is DWORD.\r\n"
    "                             -edtcdw:\"0x12345678\"";

TEST_F(CommandLineTest, UsageWithoutFilter) {
  M().Keys().Queue(0, u'\r');
  M().Keys().Queue(0, u' ');
  DisplayUsage();
  std::string Expected =
      Row("Usage: VyrFFT-S.exe filename [Option]\r\n") +
      Row("-h                This flash utility help.") +
      Row("-ab               Check battery life percent.") +
      Row("-ac               Do not check AC plug-in.") +
      Row("-acb              Check AC plug-in & battery percentage.") +
      Row("-all              Force flash all protected region.") +
      Row("-b                Force flash PEI volume.") +
      Row("-bios             Flash BIOS region.") +
      Row("-dc               Disable comparsion in normal flash process.") +
      Row("-desc             Flash Descriptor region.") +
      Row("-di               Disable ID display.") +
      Row("-e:Offset(Hex),Size(Hex),Address(Hex)\r\n"
          "                          Update fix size from file offset to physical address.") +
      Row("-ecbp             Flash EC with BIOS with percentage.") +
      Row("-ecp              Flash EC with percentage.") + kPrompt + Row(kEdtRow) +
      Row("-eob              update BIOS only in FD file with EC") +
      Row("-fd               Force flash DXE region.") +
      Row("-fe               Force flash EC region.") +
      Row("-fl               Force flash Logo region.") +
      Row("-fm               Force flash CPU Microcode region.") +
      Row("-fn               Force flash OEM NVS region.") +
      Row("-fp               Force flash password region.") +
      Row("-ft:TYPE          Force flash OEM special type region.") +
      Row("-fv               Force flash Variable region.") + kPrompt +
      Row("-g                Save current BIOS to file.") +
      Row("-gbe              Flash GbE region.") +
      Row("-mc               Skip all platform model check.") +
      Row("-me               Flash ME region.") +
      Row("-n                Do not reboot after flash.") +
      Row("-pbi:Type(Hex)    Flash BIOS protect region.\r\n"
          "                           Type is the protected region type.") +
      Row("-pdr              Flash Platform Data region.") +
      Row("-pq               Query ROM protection MAP in current ROM.") +
      Row("-pr               Query region MAP in current ROM.") +
      Row("-pw               Query whole MAP in current ROM.") +
      Row("-r                Reboot after flash.") +
      Row("-rt:TIMES,DELAY   When SMI error, retry how many times and\r\n"
          "                           delay how many milliseconds between each retry.") +
      Row("-s                Shutdown after flash.") +
      Row("-u                Show confirm message.") +
      Row("-vrt:TIMES        When verify error, retry how many times.") + "\r\n";
  EXPECT_EQ(Expected, Console());
  EXPECT_EQ(0u, M().Keys().Pending());  // one key per prompt
  // Fourteen lines: the -edt row is 13 line breaks long.
  size_t Breaks = 0;
  for (size_t Pos = kEdtRow.find("\r\n"); Pos != std::string::npos; Pos = kEdtRow.find("\r\n", Pos + 2)) Breaks++;
  EXPECT_EQ(13u, Breaks);
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

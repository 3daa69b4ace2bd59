#include "Image/Package.h"

#include <functional>

#include "BaseLib.h"
#include "Base/Settings.h"
#include "vyrpack/Package.h"
#include "vyrpack/PeImage.h"
#include "Config/CommandLine.h"
#include "UtilityFixture.h"
#include "ArgumentCheck.h"

namespace {

using vyr::testing::CommandLineTest;

// An application file with a ROM pack header (options, filter) and an INI pack.
std::string PackageFile(const std::string &Options, const std::string &Filter, const std::string &Ini,
                        bool TruncateIni = false) {
  std::string File = std::string(100, 'x');  // the program itself
  std::string Rom = "$ROM_PACK" + std::string(8, '\0');
  std::string OptionsField = Options;
  OptionsField.resize(ROM_PACK_OPTIONS_SIZE, '\0');
  std::string FilterField = Filter;
  FilterField.resize(ROM_PACK_FILTER_SIZE, '\0');
  File += Rom + OptionsField + FilterField;
  std::string Header = "$INI_PACK";
  UINT8 Numbers[8];
  WriteUnaligned32(Numbers, INI_PACK_HEADER_SIZE);
  WriteUnaligned32(Numbers + 4, UINT32(Ini.size() + (TruncateIni ? 100 : 0)));
  File += Header + std::string(reinterpret_cast<char *>(Numbers), 8);
  for (unsigned char C : Ini) File.push_back(char((C << 1) | (C >> 7)));  // stored rotated left
  return File;
}

class PackageTest : public CommandLineTest {
 protected:
  // The running application is File.
  void Install(const std::string &File) {
    WriteVolumeFile("VyrFFT.efi", File);
    SetApplication(u"VyrFFT.efi");
    ASSERT_TRUE(SetPackageStatus());
  }
};

TEST_F(PackageTest, ApplicationNameForms) {
  struct {
    const char16_t *Path;
    const char *Name;
  } Cases[] = {{u"fs0:\\Tools\\VyrFFT.efi", "\\Tools\\VyrFFT.efi"}, {u"VyrFFT", "VyrFFT.efi"},
               {u"fs1:Flash.EFI", "Flash.EFI"}, {u"a.efi.bak", "a.efi.bak"}};
  for (const auto &Case : Cases) {
    SetApplication(Case.Path);
    EXPECT_EQ(Case.Name, A(mPackage.ApplicationName));
  }
}

TEST_F(PackageTest, DetectsThePacksAndUnscramblesTheIni) {
  Install(PackageFile("-all", "/b /ec", "[UI]\r\nElapse=1\r\n\xC3\x01"));
  EXPECT_TRUE(IsPackageMode());
  CHAR8 *Ini = nullptr;
  UINT32 Size = 0;
  GetPackageIni(&Ini, &Size);
  EXPECT_EQ("[UI]\r\nElapse=1\r\n\xC3\x01", std::string(Ini, Size));
  CHAR8 Options[ROM_PACK_OPTIONS_SIZE + 1];
  GetPackageOptions(Options);
  EXPECT_STREQ("-all", Options);
}

TEST_F(PackageTest, PlainApplicationAndBadInisAreNotPackages) {
  Install(std::string(500, 'p'));
  EXPECT_FALSE(IsPackageMode());
  SetApplication(u"Missing.efi");
  EXPECT_FALSE(SetPackageStatus());

  ResetModuleState();
  Boot();
  // An INI pack whose size runs past the file is not taken.
  Install(PackageFile("", "/b", "[UI]\r\n", true));
  UINT32 Size = 99;
  GetPackageIni(nullptr, &Size);
  EXPECT_EQ(0u, Size);
}

TEST_F(PackageTest, PackageFilterAcceptsOnlyItsOptions) {
  struct { const char *Filter; std::vector<std::u16string> Args; const char *Refused; } Cases[] = {
      {"/b /ec", {u"-B", u"/ec=file"}, nullptr},
      {"/b /ec", {u"-b", u"-all"}, "-all"},
      {"/b /ec", {u"/EC:x"}, nullptr},
      {"", {u"", u"-b"}, "-b"},  // an empty filter refuses the first argument
      // The values of -OemCus and -extrFD are not options.
      {"/oemcus /extrfd", {u"-OemCus", u"CUS_A", u"-extrFD", u"out"}, nullptr},
      {"/b", {u"-b", u"out"}, "out"},
  };
  for (auto &Case : Cases) {
    ResetModuleState();
    Boot();
    Install(PackageFile("", Case.Filter, ""));
    SetArgs(Case.Args);
    EXPECT_EQ(Case.Refused == nullptr, ChkFilterArg_pkg());
    const std::string Refusal = Case.Refused ? std::string("Error command: ") + Case.Refused : "";
    EXPECT_EQ(Case.Refused ? Refusal + " (Not supports on current package)\r\n" : "", Console());
  }
}

TEST_F(PackageTest, ArgumentCheckAppendsTheBuiltInOptions) {
  Install(PackageFile("-all -n", "/b /u", ""));
  SetArgs({u"-u"});
  CHAR16 FileName[FILE_NAME_CHARS];
  CHAR16 Options[OPTION_STRING_CHARS];
  ASSERT_TRUE(ArgumentCheck(FileName, Options));
  EXPECT_EQ(" -u -all -n", A(Options));
  EXPECT_EQ("", A(FileName));  // the package carries the images
  EXPECT_EQ(1, IsOptionSet(OPT_ALL));
  EXPECT_EQ(1, IsOptionSet(OPT_U));
}

TEST_F(PackageTest, ResourcesAreWrittenOnlyWhenWhole) {
  vyr::pack::PackageInput In;
  In.application = vyr::pack::BuildStubDriverImage(vyr::pack::Arch::Ia32);
  In.images = {{"a.fd", std::vector<uint8_t>(64, 0xA5)}};
  In.filter = "/b";
  In.resources = {{"FwUpdLcl.efi", std::vector<uint8_t>(300, 0x77)}, {"me.bin", std::vector<uint8_t>(40, 0x11)}};
  const std::vector<uint8_t> Good = vyr::pack::BuildPackage(In);
  const auto View = vyr::pack::ReadPackage(Good);
  const uint64_t Tool = View.resources.at(0).recordOffset;
  const uint64_t Me = View.resources.at(1).recordOffset;
  struct Case {
    const char *Name;
    const char *Wanted;
    std::function<void(std::vector<uint8_t> &)> Damage;
    std::string Written;  // "" when nothing may be written
    std::string Log;
  } Cases[] = {
      {"found, any case", "FWUPDLCL.EFI", nullptr, std::string(300, '\x77'), "resource file saved. (FWUPDLCL.EFI)"},
      {"the second record", "me.bin", nullptr, std::string(40, '\x11'), "not matched. (1)(FwUpdLcl.efi/me.bin)"},
      {"missing", "other.bin", nullptr, "", "resource not found. (other.bin)"},
      {"wrong verify code", "me.bin", [&](auto &F) { F[Me + 10] = 0; }, "", "Verify code fail. (0x5500)"},
      {"unterminated name", "me.bin", [&](auto &F) { std::fill_n(F.begin() + Me + 16, 48, 'x'); }, "",
       "resource name not terminated. (2)"},
      {"data past the end", "me.bin", [&](auto &F) { F[Me + 14] = 0x10; }, "", "resource data runs past the file. (me.bin)"},
      {"a record cut by the end", "FwUpdLcl.efi", [&](auto &F) { F.resize(Tool + 40); }, "",
       "resource header runs past the file. (1)"},
  };
  for (auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    ResetModuleState();
    Boot();
    mIniSettings.Log_file.LogOnScreen = 1;
    std::vector<uint8_t> File = Good;
    if (C.Damage) C.Damage(File);
    Install(std::string(File.begin(), File.end()));
    std::filesystem::remove(VolumePath(C.Wanted));
    EXPECT_EQ(!C.Written.empty(), GetResourceFile(C.Wanted));
    EXPECT_EQ(C.Written, ReadVolumeFile(C.Wanted));
    EXPECT_NE(std::string::npos, Console().find(C.Log)) << Console();
  }
}

}  // namespace

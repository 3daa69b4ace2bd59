#include "Image/Package.h"

#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "UtilityFixture.h"
#include "ArgumentCheck.h"

namespace {

using vyr::testing::UtilityTest;

std::string Narrow(const CHAR16 *Text) {
  std::string Out;
  for (; *Text; Text++) Out.push_back(char(*Text));
  return Out;
}

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

class PackageTest : public UtilityTest {
 protected:
  void SetArgs(std::vector<std::u16string> Words) {
    Words_ = std::move(Words);
    Argv_.clear();
    for (auto &W : Words_) Argv_.push_back(W.data());
    SetCommandLineArgument((UINT32)Argv_.size(), Argv_.data());
  }

 private:
  std::vector<std::u16string> Words_;
  std::vector<CHAR16 *> Argv_;
};

TEST_F(PackageTest, ApplicationNameForms) {
  Boot();
  struct {
    const char16_t *Path;
    const char *Name;
  } Cases[] = {{u"fs0:\\Tools\\VyrFFT.efi", "\\Tools\\VyrFFT.efi"}, {u"VyrFFT", "VyrFFT.efi"},
               {u"fs1:Flash.EFI", "Flash.EFI"}, {u"a.efi.bak", "a.efi.bak"}};
  for (const auto &Case : Cases) {
    SetApplication(Case.Path);
    EXPECT_EQ(Case.Name, Narrow(mPackage.ApplicationName));
  }
}

TEST_F(PackageTest, DetectsThePacksAndUnscramblesTheIni) {
  Boot();
  WriteVolumeFile("VyrFFT.efi", PackageFile("-all", "/b /ec", "[UI]\r\nElapse=1\r\n\xC3\x01"));
  SetApplication(u"VyrFFT.efi");
  ASSERT_TRUE(SetPackageStatus());
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
  Boot();
  WriteVolumeFile("VyrFFT.efi", std::string(500, 'p'));
  SetApplication(u"VyrFFT.efi");
  EXPECT_TRUE(SetPackageStatus());
  EXPECT_FALSE(IsPackageMode());
  SetApplication(u"Missing.efi");
  EXPECT_FALSE(SetPackageStatus());

  ResetModuleState();
  Boot();
  // An INI pack whose size runs past the file is not taken.
  WriteVolumeFile("VyrFFT.efi", PackageFile("", "/b", "[UI]\r\n", true));
  SetApplication(u"VyrFFT.efi");
  ASSERT_TRUE(SetPackageStatus());
  UINT32 Size = 99;
  GetPackageIni(nullptr, &Size);
  EXPECT_EQ(0u, Size);
}

TEST_F(PackageTest, PackageFilterAcceptsOnlyItsOptions) {
  struct { std::vector<std::u16string> Args; bool Accepted; const char *Console; } Cases[] = {
      {{u"VyrFFT.efi", u"-B", u"/ec=file"}, true, ""},
      {{u"VyrFFT.efi", u"-b", u"-all"}, false, "Error command: -all (Not supports on current package)\r\n"},
      {{u"VyrFFT.efi", u"/EC:x"}, true, ""},
  };
  for (auto &Case : Cases) {
    ResetModuleState();
    Boot();
    WriteVolumeFile("VyrFFT.efi", PackageFile("", "/b /ec", ""));
    SetApplication(u"VyrFFT.efi");
    ASSERT_TRUE(SetPackageStatus());
    SetArgs(Case.Args);
    EXPECT_EQ(Case.Accepted, ChkFilterArg_pkg());
    EXPECT_EQ(Case.Console, Console());
  }
  // An empty filter refuses the first argument.
  ResetModuleState();
  Boot();
  WriteVolumeFile("VyrFFT.efi", PackageFile("", "", ""));
  SetApplication(u"VyrFFT.efi");
  ASSERT_TRUE(SetPackageStatus());
  SetArgs({u"VyrFFT.efi", u"", u"-b"});
  EXPECT_FALSE(ChkFilterArg_pkg());
  EXPECT_EQ("Error command: -b (Not supports on current package)\r\n", Console());
}

TEST_F(PackageTest, ArgumentCheckAppendsTheBuiltInOptions) {
  Boot();
  WriteVolumeFile("VyrFFT.efi", PackageFile("-all -n", "/b /u", ""));
  SetApplication(u"VyrFFT.efi");
  ASSERT_TRUE(SetPackageStatus());
  SetArgs({u"VyrFFT.efi", u"-u"});
  CHAR16 FileName[FILE_NAME_CHARS];
  CHAR16 Options[OPTION_STRING_CHARS];
  ASSERT_TRUE(ArgumentCheck(FileName, Options));
  EXPECT_EQ(" -u -all -n", Narrow(Options));
  EXPECT_EQ("", Narrow(FileName));  // the package carries the images
  EXPECT_EQ(1, IsOptionSet(OPT_ALL));
  EXPECT_EQ(1, IsOptionSet(OPT_U));
}

}  // namespace

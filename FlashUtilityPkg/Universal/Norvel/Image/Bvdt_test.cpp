#include "Image/Bvdt.h"

#include <cstring>
#include <string>
#include <vector>

#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Config/IniSettings.h"
#include "Smi/PlatformQueries.h"
#include "UtilityFixture.h"
#include "Base/Settings.h"

namespace {

using vyr::testing::UtilityTest;

// A BVDT as a BIOS build lays it out: signature, '$'-marked BCD build date
// and time, '$' + version, '$' + model name (NUL padded).
std::string BvdtRecord(const std::string &Version, const std::string &Model) {
  std::string R = "$BVDT";
  R += std::string("$\x24\x05\x17", 4);   // 2024-05-17
  R += std::string("$\x13\x45\x09", 4);   // 13:45:09
  R += "$" + Version + std::string(24 - Version.size(), '\0');
  R += "$" + Model + std::string(25 - Model.size(), '\0');
  return R;
}

std::vector<UINT8> Image(const std::string &Body, size_t Lead = 64) {
  std::vector<UINT8> V(Lead, 0xFF);
  V.insert(V.end(), Body.begin(), Body.end());
  return V;
}

class BvdtTest : public UtilityTest {
 protected:
  void SetUp() override {
    UtilityTest::SetUp();
    BvdtResetState();
    Boot();
    InitialIniConfig();
    SetCurrent("VyrPC", "V1.00");
  }
  void TearDown() override {
    BvdtResetState();
    UtilityTest::TearDown();
  }
  void SetCurrent(const std::string &Model, const std::string &Version) {
    ZeroMem(&mPlatformQuery.PlatformInfo, sizeof(mPlatformQuery.PlatformInfo));
    for (size_t I = 0; I < Model.size(); I++) mPlatformQuery.PlatformInfo.ModelName[I] = Model[I];
    for (size_t I = 0; I < Version.size(); I++) mPlatformQuery.PlatformInfo.Version[I] = Version[I];
  }
  void SetName(int Number, const char *Name) {
    std::strcpy(mIniSettings.Platform_Check.PlatformName[Number - 1], Name);
  }
  void SetVersion(int Number, const char *Version) {
    std::strcpy(mIniSettings.PlatformVersion.Version[Number - 1], Version);
  }
  // The new image's model name and version, as "model version".
  std::string NewIdentity() {
    CHAR16 M[BVDT_IDENTITY_CHARS], V[BVDT_IDENTITY_CHARS];
    GetBvdtInfo_FD(M, V);
    return vyr::emu::Utf16ToUtf8(M) + " " + vyr::emu::Utf16ToUtf8(V);
  }
  BVDT_INFO Info;
};

std::string Dates(const BVDT_INFO &I) {
  char Text[64];
  std::snprintf(Text, sizeof(Text), "%u-%u-%u %u:%u:%u %u-%u-%u", I.BuildYear, I.BuildMonth, I.BuildDay, I.BuildHour,
                I.BuildMinute, I.BuildSecond, I.ReleaseYear, I.ReleaseMonth, I.ReleaseDay);
  return Text;
}

TEST_F(BvdtTest, ParsesAllFields) {
  auto Img = Image(BvdtRecord("1.05A", "VyrPC") + std::string("xx$RDATE\x24\x12\x31", 11));
  ASSERT_TRUE(GetBvdtInfoFromBuffer(Img.data(), Img.size(), &Info));
  EXPECT_EQ(Info.Valid, 1);
  EXPECT_EQ("24-5-17 13:45:9 24-12-31", Dates(Info));
  EXPECT_STREQ(Info.DefaultModelName, "VyrPC");
  EXPECT_STREQ(Info.DefaultVersion, "1.05A");
  EXPECT_STREQ(Info.ModelName[0], "VyrPC");
  EXPECT_STREQ(Info.Version[0], "1.05A");
  EXPECT_STREQ(Info.ModelName[1], "");
  // A date without its '$' is absent; the time after it is still read.
  std::string R = BvdtRecord("1.0", "M");
  R[5] = 'x';
  Img = Image(R);
  ASSERT_TRUE(GetBvdtInfoFromBuffer(Img.data(), Img.size(), &Info));
  EXPECT_EQ("0-0-0 13:45:9 0-0-0", Dates(Info));
}

// The stored forms of the signatures start with 'S'; only the '$' form is searched.
TEST_F(BvdtTest, AbsentSignatureFails) {
  for (const std::string &Body : {std::string("BVDT$BVD SBVDT"), "SBVDT" + BvdtRecord("2.0", "M").substr(5)}) {
    auto Img = Image(Body);
    std::memset(&Info, 0xAA, sizeof(Info));
    EXPECT_FALSE(GetBvdtInfoFromBuffer(Img.data(), Img.size(), &Info));
    EXPECT_EQ(Info.Valid, 0);
    EXPECT_FALSE(SetBvdtInfo_FD(Img.data(), Img.size()));
    EXPECT_EQ(NewIdentity(), "N/A N/A");
  }
}

// The record cut at every length: whatever lies past the image's end is
// absent, and nothing the image holds is lost.
TEST_F(BvdtTest, TruncatedRecordsReadOnlyTheImage) {
  std::string Full = BvdtRecord("1.23", "ModelX");
  for (size_t Cut = 5; Cut <= Full.size(); Cut++) {
    SCOPED_TRACE(Cut);
    std::vector<UINT8> Img(Full.begin(), Full.begin() + Cut);
    ASSERT_TRUE(GetBvdtInfoFromBuffer(Img.data(), Img.size(), &Info));
    EXPECT_EQ(Info.BuildDay, Cut >= 9 ? 17 : 0);
    EXPECT_EQ(Info.BuildSecond, Cut >= 13 ? 9 : 0);
    std::string V = Cut > 14 ? std::string("1.23").substr(0, Cut - 14) : "";
    EXPECT_EQ(std::string(Info.DefaultVersion), V);
    std::string Mo = Cut > 39 ? std::string("ModelX").substr(0, Cut - 39) : "";
    EXPECT_EQ(std::string(Info.ModelName[0]), Mo);
  }
}

TEST_F(BvdtTest, FieldsFilledToTheLastByteStayApart) {
  std::string Model(25, 'M');
  std::string R = "$BVDT" + std::string(8, '\0') + "$" + std::string(24, 'V') + "$" + Model;
  auto Img = Image(R, 0);
  ASSERT_TRUE(GetBvdtInfoFromBuffer(Img.data(), Img.size(), &Info));
  EXPECT_EQ(std::string(Info.DefaultVersion), std::string(24, 'V'));
  EXPECT_EQ(std::string(Info.DefaultModelName), Model);
}

TEST_F(BvdtTest, ListsReplaceSlotZeroAndStopAtImageEnd) {
  std::string Lists = std::string("$PRODEX") + "AlphaPC,BetaPC,GammaPC" + '\0' + "$VEREX" + "1.1,2.2";
  auto Img = Image(BvdtRecord("9.9", "OwnModel") + Lists);
  ASSERT_TRUE(GetBvdtInfoFromBuffer(Img.data(), Img.size(), &Info));
  const std::vector<std::string> Models(Info.ModelName, Info.ModelName + 4), Versions(Info.Version, Info.Version + 3);
  EXPECT_EQ((std::vector<std::string>{"AlphaPC", "BetaPC", "GammaPC", ""}), Models);
  EXPECT_EQ((std::vector<std::string>{"1.1", "2.2", ""}), Versions);
  EXPECT_STREQ(Info.DefaultModelName, "OwnModel");
  // At most 32 entries, each cut to 254 characters.
  std::string List;
  for (int I = 0; I < 40; I++) List += (I ? "," : "") + std::string(I == 0 ? 300 : 3, 'a' + I % 26);
  Img = Image(BvdtRecord("1", "M") + "$PRODEX" + List + '\0');
  ASSERT_TRUE(GetBvdtInfoFromBuffer(Img.data(), Img.size(), &Info));
  EXPECT_EQ(std::string(Info.ModelName[0]), std::string(254, 'a'));
  EXPECT_STREQ(Info.ModelName[31], "fff");
}

struct IdentityCase {
  const char *Name;
  const char *Current;
  UINT32 PlatformFlag;
  UINT32 VersionFlag;
  const char *ExpectModel;
  const char *ExpectVersion;
};

TEST_F(BvdtTest, SetBvdtInfoChoosesIdentity) {
  const IdentityCase Cases[] = {
      {"no match takes slot 0", "Other", 1, 0, "AlphaPC", "1.1"},
      {"current model picks its slot", "BetaPC", 1, 0, "BetaPC", "2.2"},
      {"multi platform, match at 2", "Zed", 2, 1, "Zed", "Z2"},
      {"multi platform, no match keeps last", "Nope", 2, 1, "Last", "Z5"},
      {"multi platform, versions unused", "Zed", 2, 0, "Zed", "1.1"},
      {"empty version becomes N/A", "GammaPC", 1, 0, "GammaPC", "N/A"},
  };
  std::string Lists = std::string("$PRODEX") + "AlphaPC,BetaPC,GammaPC" + '\0' + "$VEREX" + "1.1,2.2" + '\0';
  auto Img = Image(BvdtRecord("9.9", "OwnModel") + Lists);
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    InitialIniConfig();
    SetCurrent(C.Current, "V1");
    mIniSettings.Platform_Check.Flag = C.PlatformFlag;
    mIniSettings.PlatformVersion.Flag = C.VersionFlag;
    SetName(2, "Zed");
    SetVersion(2, "Z2");
    SetName(5, "Last");
    SetVersion(5, "Z5");
    ASSERT_TRUE(SetBvdtInfo_FD(Img.data(), Img.size()));
    EXPECT_EQ(NewIdentity(), std::string(C.ExpectModel) + " " + C.ExpectVersion);
  }
}

// Format nullptr: the default rule.
struct FormatCase { const char *Format; const char *New; const char *Current; INTN Expect; };

TEST(BiosVerCmp, DefaultAndFormatRules) {
  const FormatCase Cases[] = {
      {nullptr, "A03", "A04", -1},    {nullptr, "1.05A", "1.05", 0},  {nullptr, "1.10", "1.9", 1},
      {nullptr, "10000", "9999", -1}, {nullptr, "1.5", "1.05", 0},    {nullptr, "1.2.1", "1.2", 1},
      {nullptr, "1.2", "1.2.1", -1},  {nullptr, "V1.00", "v1.0", 0},  {nullptr, "1..2", "1.2", 0},
      {nullptr, " 2 . 1", "2.1", 0},  {nullptr, "1.2b3", "1.2", 0},   {nullptr, "ABC", "", 0},
      {nullptr, "12345678901234567890", "12345678901234567891", -1},
      {"N.NND", "1.22", "1.21B", 1},
      {"N.NND", "1.21", "1.21B", 0},
      {"DN.NN", "X1.22", "1.21", 1},
      {"N.DN", "1.2", "1.2", -8},
      {"N.NN", "1.2", "1.21", -8},     // new too short
      {"N.NN", "1.21", "1.210", -8},   // current too long
      {"TNN", "a10", "A10", 0},
      {"NNN", "a10", "A10", 1},
      {"NXN", "1a2", "1b2", 0},
      {"N.N", "1x2", "1y2", 0},
      {"NQN", "111", "111", -8},
      {"DDNN", "1234", "0034", 0},
      {"NN", "19", "21", -1},  // the first difference decides
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(std::string(C.Format ? C.Format : "default") + ": " + C.New + " vs " + C.Current);
    EXPECT_EQ(C.Format ? BiosVerFmtCmp(C.Format, C.New, C.Current) : BiosVerCmp(C.New, C.Current), C.Expect);
  }
}

TEST_F(BvdtTest, CompareVersionRules) {
  struct Case {
    const char *New, *Current;
    UINT8 AllowSame, Disabled, FormatOn;
    const char *Format;
    INTN Expect;
  } Cases[] = {
      {"1.1", "1.0", 0, 0, 0, "", 1},
      {"1.0", "1.0", 0, 0, 0, "", -7},
      {"1.0", "1.0", 1, 0, 0, "", 0},
      {"1.0", "1.0", 0, 1, 0, "", 0},
      {"", "1.0", 0, 0, 0, "", -5},
      {"1.0", "n/a", 0, 0, 0, "", -5},
      {"1.22", "1.21B", 0, 0, 1, "N.NND", 1},
      {"1.2", "1.2", 0, 0, 1, "N.DN", -8},
      {"1.2", "1.2", 0, 0, 1, "N.N", -7},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(std::string(C.New) + " vs " + C.Current);
    InitialIniConfig();
    mPlatformQuery.Switches.AllowSameVersionUpdate = C.AllowSame;
    SetChecksDisabled(C.Disabled);
    mIniSettings.BIOSVersionFormat.BIOSVFEnable = C.FormatOn;
    std::strcpy(mIniSettings.BIOSVersionFormat.VersionFormat, C.Format);
    EXPECT_EQ(CompareVersion(C.New, C.Current), C.Expect);
  }
}

TEST_F(BvdtTest, CheckDecisions) {
  struct Case {
    const char *Name;
    UINT32 PlatformFlag, VersionFlag;
    UINT8 Mc, Disabled, CheckName, CheckVersion;
    UINT16 Vendor;
    bool Model, Version;
  } Cases[] = {
      {"flags 1", 1, 1, 0, 0, 0, 0, 0, true, true},
      {"flags 0", 0, 0, 0, 0, 1, 1, 0, false, false},
      {"-mc", 1, 1, 1, 0, 0, 0, 0, false, false},
      {"disabled", 1, 1, 0, 1, 0, 0, VENDOR_ID_DELL, false, false},
      {"switches on", 3, 2, 0, 0, 1, 1, 0, true, true},
      {"switches off", 3, 2, 0, 0, 0, 0, 0, false, false},
      {"flag 2 model, 3 version", 2, 3, 0, 0, 0, 0, 0, true, true},
      {"dell ignores -mc for version", 1, 0, 1, 0, 0, 0, VENDOR_ID_DELL, false, true},
      {"flag 4", 4, 7, 0, 0, 0, 0, 0, true, true},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    mIniSettings.Platform_Check.Flag = C.PlatformFlag;
    mIniSettings.Bios_Version_Check.Flag = C.VersionFlag;
    mCommandLine.Flags[OPT_MC] = C.Mc;
    SetChecksDisabled(C.Disabled);
    mPlatformQuery.Switches.CheckModelName = C.CheckName;
    mPlatformQuery.Switches.CheckModelVersion = C.CheckVersion;
    mPlatformQuery.VendorId = C.Vendor;
    EXPECT_EQ(IsModelCheckNeeded(), C.Model);
    EXPECT_EQ(IsVersionCheckNeeded(), C.Version);
  }
}

TEST_F(BvdtTest, PlatformCmpAndStatus) {
  UINT32 Index = 0;
  mIniSettings.Platform_Check.Flag = 1;
  EXPECT_EQ(PlatformCmp("VyrPC", "VyrPC", &Index), 0u);
  EXPECT_EQ(Index, PLATFORM_CMP_NO_INDEX);
  EXPECT_EQ(PlatformCmp("vyrpc", "VyrPC", &Index), PLATFORM_CMP_NAME_DIFFERS);

  mIniSettings.Platform_Check.Flag = 2;
  EXPECT_EQ(PlatformCmp("x", "VyrPC", &Index), PLATFORM_CMP_NO_ID_MATCH);
  EXPECT_EQ(Index, PLATFORM_CMP_NO_INDEX);
  SetName(2, "VyrPC");
  SetName(4, "Other");
  EXPECT_EQ(PlatformCmp("x", "VyrPC", &Index), 0u);
  EXPECT_EQ(Index, 1u);

  // Status: a match at PlatformName2 takes Version2 as the new version.
  mIniSettings.PlatformVersion.Flag = 1;
  SetVersion(2, "V2.00");
  EXPECT_TRUE(GetPlatformChkStatus());
  EXPECT_EQ(NewIdentity(), "N/A V2.00");

  SetCurrent("Stranger", "V1");
  EXPECT_FALSE(GetPlatformChkStatus());
  EXPECT_NE(Console().find("No matched ID in [Platform_Check].\r\n"), std::string::npos);
  mIniSettings.Platform_Check.Flag = 1;
  EXPECT_FALSE(GetPlatformChkStatus());
  EXPECT_NE(Console().find("Model name not match.\r\n"), std::string::npos);
}

}  // namespace

#include "vyrpack/Bvdt.h"

#include <gtest/gtest.h>

#include <sstream>

#include "Bios/FlashFunctions.h"
#include "Flash/RomMap.h"
#include "Image/Bvdt.h"
#include "UtilityFixture.h"
#include "vyrpack/Cli.h"

namespace vyr::pack {
namespace {

class VyrpackBvdt : public vyr::testing::UtilityTest {
 protected:
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return VyrpackMain(args, out_, err_);
  }
  std::string P(const std::string& name) const { return Dir() + "/" + name; }
  std::ostringstream out_, err_;
};

// What vyrpack stamps, the utility's parser and ROM map reader read back,
// and the emulated BIOS names the same identity.
TEST_F(VyrpackBvdt, UtilityReadsBackTheStamp) {
  ASSERT_EQ(Run({"bvdt", "--blank", "0x10000", "--out", P("bios.fd"), "--offset", "0x8000", "--model", "VyrPC-X1",
                 "--version", std::string(24, '7'), "--build-date", "2024-05-17", "--build-time", "23:59:08",
                 "--prodex", "AlphaPC,BetaPC", "--verex", "1.10,2.20", "--release-date", "2025-01-02",
                 "--rom-map", "1:0xFFFF0000:0x1000:2,0x10:0xFFFE0000:0x2000"}),
            0)
      << err_.str();
  Bytes fd = ReadFileBytes(P("bios.fd"));
  ASSERT_EQ(fd.size(), 0x10000u);
  EXPECT_EQ(FindBvdt(fd), std::optional<size_t>(0x8000));

  static BVDT_INFO Info;
  ASSERT_TRUE(GetBvdtInfoFromBuffer(fd.data(), fd.size(), &Info));
  EXPECT_EQ((std::vector<int>{24, 5, 17, 23, 59, 8, 25, 1, 2}),
            (std::vector<int>{Info.BuildYear, Info.BuildMonth, Info.BuildDay, Info.BuildHour, Info.BuildMinute,
                              Info.BuildSecond, Info.ReleaseYear, Info.ReleaseMonth, Info.ReleaseDay}));
  EXPECT_STREQ(Info.DefaultModelName, "VyrPC-X1");
  EXPECT_EQ(std::string(Info.DefaultVersion), std::string(24, '7'));
  EXPECT_STREQ(Info.ModelName[0], "AlphaPC");
  EXPECT_STREQ(Info.ModelName[1], "BetaPC");
  EXPECT_STREQ(Info.Version[1], "2.20");

  ASSERT_TRUE(ReadBvdtRomMap(fd.data(), (UINT32)fd.size()));
  ASSERT_EQ(mRomMap.BvdtCount, 2u);
  EXPECT_EQ(std::make_tuple(1, 0xFFFF0000u, 0xFFFF0FFFu, 2, 0x10, 0xFFFE1FFFu),
            std::make_tuple(mRomMap.BvdtType[0], mRomMap.BvdtStart[0], mRomMap.BvdtEnd[0], mRomMap.BvdtAction[0],
                            mRomMap.BvdtType[1], mRomMap.BvdtEnd[1]));

  EMU_FLASH Flash{};
  EmuFlashSetContents(&Flash, fd.data(), (UINT32)fd.size());
  CHAR8 Model[64], Version[64];
  ASSERT_TRUE(EmuFlashBvdtIdentity(&Flash, Model, sizeof(Model), Version, sizeof(Version)));
  EXPECT_STREQ(Model, "VyrPC-X1");
  EXPECT_EQ(std::string(Version), std::string(24, '7'));
}

TEST_F(VyrpackBvdt, RestampsInPlaceAndRefusesWhatTheUtilityWouldNotSee) {
  ASSERT_EQ(Run({"bvdt", "--blank", "4096", "--out", P("a.fd"), "--offset", "100", "--model", "M", "--version",
                 "1.0"}),
            0);
  // Without --offset the existing table is rewritten where it is.
  ASSERT_EQ(Run({"bvdt", "--image", P("a.fd"), "--out", P("b.fd"), "--model", "N", "--version", "2.0"}), 0);
  EXPECT_EQ(FindBvdt(ReadFileBytes(P("b.fd"))), std::optional<size_t>(100));

  struct Case {
    std::vector<std::string> args;
    int code;
    const char* message;
  } cases[] = {
      {{"--image", P("b.fd"), "--offset", "200"}, 1, "would hide the stamped one"},
      {{"--blank", "50"}, 1, "does not fit"},
      {{"--blank", "4096", "--version", std::string(25, 'v')}, 1, "version longer than 24 bytes"},
      {{"--blank", "4096", "--build-date", "2024-13-01"}, 2, "bad month"},
      {{"--blank", "4096", "--rom-map", "1:2"}, 2, "bad ROM map entry"},
      {{"--blank", "4096", "--image", P("b.fd")}, 2, "exactly one of"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"bvdt", "--out", P("c.fd"), "--model", "M"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    bool hasVersion = false;
    for (const auto& a : c.args) hasVersion |= a == "--version";
    if (!hasVersion) args.insert(args.end(), {"--version", "1"});
    SCOPED_TRACE(c.message);
    EXPECT_EQ(Run(args), c.code);
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
  }
  EXPECT_FALSE(VolumeFileExists("../c.fd"));
}

}  // namespace
}  // namespace vyr::pack

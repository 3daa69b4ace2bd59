// The profile's flash object, the flash contents of a machine and their
// persistence in the machine directory, and the shipped example profiles.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Machine/Machine.h"
#include "Machine/Profile.h"
#include "Machine/TestTempDir.h"

namespace vyr::emu {
namespace {

using nlohmann::json;

std::string ErrorOf(const std::string &Text) {
  try {
    Profile::FromJson(json::parse(Text), "m/profile.json");
  } catch (const ProfileError &Error) {
    return Error.what();
  }
  return "";
}

TEST(FlashProfile, MistakesAreErrorsThatNameTheField) {
  struct {
    const char *Json;
    const char *Message;
  } Cases[] = {
      {R"({"flash": {"sise": 1}})", "unknown key \"sise\" in profile.flash"},
      {R"({"flash": {"blockMap": [{"size": 4096, "times": 2}]}})", "unknown key \"times\" in profile.flash.blockMap[0]"},
      {R"({"flash": {"size": 0}})", "profile.flash.size must not be 0"},
      {R"({"flash": {"size": "0x10000001"}})", "profile.flash.size is out of range"},
      {R"({"flash": {"blockMap": [{"size": 300, "count": 1}]}})", "blockMap[0].size must be a non-zero multiple of 256"},
      {R"({"flash": {"blockMap": [{"size": "0x1000000", "count": 1}]}})", "blockMap[0].size is out of range"},
      {R"({"flash": {"blockMap": [{"size": 4096, "count": 65536}]}})", "blockMap[0].count is out of range"},
      {R"({"flash": {"vendor": "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456"}})", "profile.flash.vendor must be at most 31 bytes"},
      {R"({"flash": {"lockedRanges": [{}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}]}})",
       "profile.flash.lockedRanges has more than 16 entries"},
      {R"({"flash": {"externalRegions": [{"type": 1, "access": 256}]}})", "externalRegions[0].access is out of range"},
      {R"({"flash": {"protectMap": [{"type": 1, "attribute": 1}]}})", "unknown key \"attribute\" in profile.flash.protectMap[0]"},
  };
  for (const auto &Case : Cases) {
    const std::string Error = ErrorOf(Case.Json);
    EXPECT_NE(std::string::npos, Error.find(Case.Message)) << Case.Json << " gave: " << Error;
  }
}

TEST(FlashProfile, FieldsAreReadAndRoundTrip) {
  const Profile P = Profile::FromJson(json::parse(R"({"flash": {
      "size": "0x1000000", "sizeIndex": "0xFF", "vendor": "Acme", "type": "AC25", "deviceId": "0x1234",
      "blockMap": [{"size": "0x1000", "count": 16}, {"size": "0x10000", "count": "0xFF"}],
      "protectMap": [{"type": 6, "address": "0xFF100000", "size": "0x10000"}],
      "privateMap": [{"address": "0xFF200000", "size": "0x1000"}],
      "wholeMap": [{"type": 22, "address": "0xFF300000", "size": "0x2000", "attribute": 3}],
      "externalRegions": [{"type": 2, "offset": "0x1000", "size": "0x2000", "access": 13}],
      "newRegionsFromImage": false,
      "lockedRanges": [{"address": "0xFF001000", "size": "0x2000"}],
      "skipRanges": [{"address": "0xFF004000", "size": "0x1000"}],
      "image": "bios.bin", "fill": 0}})"));
  const FlashConfig &F = P.Flash;
  EXPECT_EQ(0x1000000u, F.Size);
  EXPECT_EQ(0xFF, F.ResolvedSizeIndex());
  EXPECT_EQ(0x1000000u, F.ResolvedSizeSpecified());
  ASSERT_EQ(2u, F.BlockMap.size());
  EXPECT_EQ(0xFFu, F.BlockMap[1].Count);
  EXPECT_EQ(0xFF100000u, F.ProtectMap.at(0).Address);
  EXPECT_EQ(3u, F.WholeMap.at(0).Attribute);
  EXPECT_EQ(13, F.ExternalRegions.at(0).Access);
  EXPECT_FALSE(F.NewRegionsFromImage);
  EXPECT_EQ("bios.bin", F.Image);
  EXPECT_EQ(0xFF004000u, F.SkipRanges.at(0).Address);
  const Profile Again = Profile::FromJson(P.ToJson());
  EXPECT_EQ(P.ToJson(), Again.ToJson());
}

TEST(FlashProfile, SizeIndexAndBlockMapDefaults) {
  const struct {
    uint32_t Size;
    uint8_t Index;
    uint32_t Specified;
  } Cases[] = {{0x20000, 1, 0}, {0x800000, 7, 0}, {0x8000000, 11, 0}, {0x300000, 0xFF, 0x300000}, {0x10000, 0xFF, 0x10000}};
  for (const auto &Case : Cases) {
    FlashConfig F;
    F.Size = Case.Size;
    EXPECT_EQ(Case.Index, F.ResolvedSizeIndex()) << Case.Size;
    EXPECT_EQ(Case.Specified, F.ResolvedSizeSpecified()) << Case.Size;
    ASSERT_EQ(1u, F.ResolvedBlockMap().size());
    EXPECT_EQ(Case.Size / 0x10000, F.ResolvedBlockMap()[0].Count);
  }
  // The default machine shows something in every listing.
  const FlashConfig &D = Profile::Default().Flash;
  EXPECT_EQ(0x800000u, D.Size);
  EXPECT_FALSE(D.ProtectMap.empty());
  EXPECT_FALSE(D.PrivateMap.empty());
  EXPECT_FALSE(D.WholeMap.empty());
  EXPECT_FALSE(D.ExternalRegions.empty());
}

TEST(FlashProfile, ContentsPersistInTheMachineDirectory) {
  testing::TempDir Dir;
  {
    auto M = Machine::OpenDirectory(Dir.Path());
    ASSERT_EQ(0x800000u, M->FlashContents().size());
    EXPECT_EQ(0xFF800000u, M->FlashBase());
    EXPECT_EQ(0xFF, M->FlashContents()[0]);
    ASSERT_TRUE(std::filesystem::exists(Dir / "flash.bin"));
    EXPECT_EQ(0x800000u, std::filesystem::file_size(Dir / "flash.bin"));
    // What the BIOS writes is kept when the machine goes away.
    M->FlashContents()[0x10] = 0x42;
    M->Bios().Flash.ContentsChanged = TRUE;
  }
  {
    auto M = Machine::OpenDirectory(Dir.Path());
    EXPECT_EQ(0x42, M->FlashContents()[0x10]);
    EXPECT_EQ(M->FlashContents().data(), M->Bios().Flash.Contents);
    // Unchanged contents are not written back.
    M->FlashContents()[0x11] = 0x43;
  }
  {
    auto M = Machine::OpenDirectory(Dir.Path());
    EXPECT_EQ(0xFF, M->FlashContents()[0x11]);
    M->FlashContents()[0x11] = 0x44;
    EXPECT_TRUE(M->SaveFlash());
  }
  EXPECT_EQ(0x44, Machine::OpenDirectory(Dir.Path())->FlashContents()[0x11]);

  // A profile whose flash no longer matches the stored contents.
  json Changed = Profile::Load(Dir / "profile.json").ToJson();
  Changed["flash"]["size"] = "0x400000";
  std::ofstream(Dir / "profile.json") << Changed.dump();
  try {
    Machine::OpenDirectory(Dir.Path());
    ADD_FAILURE() << "opened";
  } catch (const ProfileError &Error) {
    EXPECT_NE(std::string::npos, std::string(Error.what()).find("flash.bin is 8388608 bytes but the profile's flash is 4194304"));
  }
}

TEST(FlashProfile, FirstContentsFromAnImageFile) {
  testing::TempDir Dir;
  std::string Image(0x20000, '\0');
  Image[0x1FFFF] = 'Z';
  std::ofstream(Dir / "bios.bin", std::ios::binary) << Image;
  Profile P = Profile::Default();
  P.Flash.Size = 0x20000;
  P.Flash.Image = "bios.bin";
  Machine M(P, Dir.Path());
  EXPECT_EQ('Z', M.FlashContents()[0x1FFFF]);
  EXPECT_EQ(0, M.FlashContents()[0]);
  EXPECT_FALSE(M.SaveFlash());  // a machine in memory keeps nothing

  P.Flash.Size = 0x40000;
  EXPECT_THROW(Machine(P, Dir.Path()), ProfileError);
  P.Flash.Image = "missing.bin";
  EXPECT_THROW(Machine(P, Dir.Path()), ProfileError);
}

TEST(FlashProfile, ShippedProfilesLoad) {
  const std::filesystem::path Profiles = std::filesystem::path(VYR_SOURCE_DIR) / "Emulator" / "Profiles";
  size_t Count = 0;
  for (const auto &Entry : std::filesystem::directory_iterator(Profiles)) {
    if (Entry.path().extension() != ".json") continue;
    SCOPED_TRACE(Entry.path().string());
    const Profile P = Profile::Load(Entry.path().string());
    EXPECT_NO_THROW(Machine(P, ""));
    Count++;
  }
  EXPECT_GE(Count, 3u);
}

}  // namespace
}  // namespace vyr::emu

// The profile's flash object, the flash contents of a machine and their
// persistence in the machine directory, and the shipped example profiles.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Machine/Machine.h"
#include "Machine/Profile.h"
#include "TempDir.h"

namespace vyr::emu {
namespace {

using nlohmann::json;

TEST(FlashProfile, FieldsAreReadAndRoundTrip) {
  const Profile P = Profile::FromJson(json::parse(R"({"flash": {
      "size": "0x1000000", "sizeIndex": "0xFF", "vendor": "Acme", "type": "AC25", "deviceId": "0x1234",
      "blockMap": [{"size": "0x1000", "count": 16}, {"size": "0x10000", "count": "0xFF"}],
      "protectMap": [{"type": 6, "address": "0xFF100000", "size": "0x10000"}],
      "privateMap": [{"address": "0xFF200000", "size": "0x1000"}],
      "wholeMap": [{"type": 22, "address": "0xFF300000", "size": "0x2000", "attribute": 3}],
      "externalRegions": [{"type": 2, "offset": "0x1000", "size": "0x2000", "access": 13}],
      "newRegionsFromImage": false, "programClearsBitsOnly": true,
      "lockedRanges": [{"address": "0xFF001000", "size": "0x2000"}],
      "skipRanges": [{"address": "0xFF004000", "size": "0x1000"}],
      "image": "bios.bin", "fill": 0}})"));
  const FlashConfig &F = P.Flash;
  EXPECT_EQ(std::make_tuple(0x1000000u, 0xFF, 0x1000000u, std::string("Acme"), std::string("AC25"), 0x1234u),
            std::make_tuple(F.Size, F.ResolvedSizeIndex(), F.ResolvedSizeSpecified(), F.Vendor, F.Type, F.DeviceId));
  ASSERT_EQ(2u, F.BlockMap.size());
  EXPECT_EQ(0xFFu, F.BlockMap[1].Count);
  EXPECT_EQ(0xFF100000u, F.ProtectMap.at(0).Address);
  EXPECT_EQ(0x1000u, F.PrivateMap.at(0).Size);
  EXPECT_EQ(3u, F.WholeMap.at(0).Attribute);
  EXPECT_EQ(13, F.ExternalRegions.at(0).Access);
  EXPECT_EQ(std::make_tuple(false, true, std::string("bios.bin"), 0),
            std::make_tuple(F.NewRegionsFromImage, F.ProgramClearsBitsOnly, F.Image, F.Fill));
  EXPECT_EQ(0xFF001000u, F.LockedRanges.at(0).Address);
  EXPECT_EQ(0xFF004000u, F.SkipRanges.at(0).Address);
  EXPECT_EQ(P.ToJson(), Profile::FromJson(P.ToJson()).ToJson());
  Profile NoImage = P;
  NoImage.Flash.Image.clear();
  EXPECT_TRUE(Machine(NoImage).Bios().Flash.ProgramClearsBitsOnly);
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


TEST(FlashProfile, PowerCutKeepsTheWrittenBlocksAndTheReportTellsEachOutcome) {
  testing::TempDir Dir;
  Profile P = Profile::Default();
  P.PowerCutAfterWrites = 2;
  P.Flash.BlockMap = {{0x1000, 0x800}};  // 4 KiB blocks: the writes below are whole blocks
  P.Flash.SkipRanges = {{0xFFA81000, 0x1000}};
  P.Flash.LockedRanges = {{0xFFA82000, 0x1000}};
  P.BiosFaults.push_back(BiosFaultConfig{0x15, 0x25, 4, 1, {}, {}, {}, {}, {}});
  P.Save(Dir / "profile.json");
  {
    auto M = Machine::OpenDirectory(Dir.Path());
    uint64_t Buffer = 0;
    ASSERT_EQ(EFI_SUCCESS, M->AllocatePages(0x0FFFFFFF, 1, &Buffer));
    const std::vector<uint8_t> Data(0x1000, 0x3C);
    ASSERT_TRUE(M->WritePhysical(Buffer, Data.data(), Data.size()));
    const auto Smi = [&](SMI_REGISTERS R) {
      M->TriggerSmi(R, 1);
      return uint8_t(R.Eax);
    };
    const auto Write = [&](uint32_t Address) {
      return Smi({0x15EF, EMU_BIOS_CALL_SIGNATURE, 0x1000, 0xB2, uint32_t(Buffer), Address});
    };
    Smi({0x1AEF, EMU_BIOS_CALL_SIGNATURE, 0x0001, 0xB2, 0, 0});
    // The requests of 19h and 44h as the report shows them.
    uint64_t Lists = 0;
    ASSERT_EQ(EFI_SUCCESS, M->AllocatePages(0x0FFFFFFF, 1, &Lists));
    const std::string Strings("CUS_A\0ECCMD\0\xFF", 13), Items("\x01\x01\xFF\x04V1\xFF\0", 7), Words("A\0B\0\xFF", 5);
    M->WritePhysical(Lists, Strings.data(), Strings.size());
    Smi({0x19EF, EMU_BIOS_CALL_SIGNATURE, 1, 0xB2, 0, uint32_t(Lists)});
    M->WritePhysical(Lists, Items.data(), Items.size());
    M->WritePhysical(Lists + 0x800, Words.data(), Words.size());
    EXPECT_EQ(0xEF, Smi({0x44EF, EMU_BIOS_CALL_SIGNATURE, 0, 0xB2, uint32_t(Lists + 0x800), uint32_t(Lists)}));
    EXPECT_EQ(0, Write(0xFFA80000));     // written
    EXPECT_EQ(0x29, Write(0xFFA81000));  // skip range
    EXPECT_EQ(0x2A, Write(0xFFA82000));  // locked
    EXPECT_EQ(0x25, Write(0xFFA83000));  // the fault on the 4th call
    EXPECT_FALSE(M->PoweredOff());
    EXPECT_EQ(0, Write(0xFFA80000));     // again: the second write that changed the flash
    EXPECT_TRUE(M->PoweredOff());
    EXPECT_EQ(0xEF, Write(0xFFA84000));  // nothing answers any more
    EXPECT_EQ(0xEF, Write(0xFFA84000));

    std::vector<std::tuple<uint32_t, std::string, uint32_t>> Blocks;
    for (const BlockWrite &B : M->BlockWrites()) {
      Blocks.emplace_back(B.Address, BlockWriteOutcome(B.Status), B.Attempts);
    }
    EXPECT_EQ((decltype(Blocks){{0xFFA80000, "written", 2}, {0xFFA81000, "skipped", 1}, {0xFFA82000, "locked", 1},
                                {0xFFA83000, "failed", 1}}),
              Blocks);
    const json Report = M->Report();
    EXPECT_EQ((json{{"failed", 1}, {"locked", 1}, {"skipped", 1}, {"written", 1}}),
              Report["bios"]["blockWrites"]["counts"]);
    EXPECT_EQ("0xFFA83000", Report["bios"]["blockWrites"]["blocks"][3]["address"]);
    EXPECT_EQ((json{{"afterWrites", 2}, {"address", "0xFFA80000"}, {"callsAfter", 2}, {"consoleLength", 0},
                    {"droppedVariableWrites", json::array()}, {"droppedFileWrites", json::array()}}),
              Report["bios"]["powerCut"]);
    EXPECT_EQ((json::array({{{"action", 1}, {"status", 0}}})),
              Report["bios"]["checks"]["oemNotifications"]["recent"]);
    EXPECT_EQ("power cut after block write 2 at 0xFFA80000", Report["notes"].back());
    EXPECT_EQ((json::array({"CUS_A", "ECCMD"})), Report["bios"]["checks"]["oemStrings"]["sent"]);
    EXPECT_EQ((json{{"requests", 1}, {"switches", json::array({"A", "B"})},
                    {"items", json::array({{{"type", 1}, {"value", 1}}, {{"type", 4}, {"text", "V1"}}})}}),
              Report["bios"]["checks"]["commonFlash"]);
    EXPECT_TRUE(Report["bios"]["checks"]["password"].is_null());

    // flash.bin holds the written block already, before the machine goes away.
    std::ifstream In(Dir / "flash.bin", std::ios::binary);
    std::vector<char> Stored((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    ASSERT_EQ(0x800000u, Stored.size());
    EXPECT_EQ(0x3C, Stored[0x280000]);
    EXPECT_EQ(char(0xFF), Stored[0x281000]);  // skipped
    EXPECT_EQ(char(0xFF), Stored[0x283000]);  // failed
  }
  EXPECT_EQ(0x3C, Machine::OpenDirectory(Dir.Path())->FlashContents()[0x280FFF]);
}

}  // namespace
}  // namespace vyr::emu

// The listings of -pq, -priv, -pw, -pr and -pi on the default machine, the
// block protect table trace, and region movement.
#include <cstring>

#include "Flash/ReadRom.h"
#include "FlashFixture.h"
#include "Flash/RomMapListings.h"

namespace {

using vyr::emu::Profile;
using vyr::testing::FlashTest;

class RomMapListingTest : public FlashTest {};

// The protection and private maps share their columns.
const char kMapHeader[] =
    " Type | Start Addr |  End Addr  |    Size    | Description \r\n"
    "------+------------+------------+------------+-------------\r\n";

TEST_F(RomMapListingTest, RegionMapsOfTheDefaultMachineWithOneRegionAdded) {
  const struct {
    const char *Name;
    Edit Change;
    BOOLEAN (*Show)(VOID);
    std::string Listing;  // after the banner
  } Cases[] = {
      {"protection", [](Profile &P) { P.Flash.ProtectMap.push_back({0x30, 0xFFFFF000, 0x2000, 0}); },
       ShowProtectRegionMap,
       std::string("                Protection Region MAP\r\n") + kMapHeader +
           "  06h | 0xFFA00000 | 0xFFA2FFFF | 0x00030000 |   NV Storage\r\n"
           "  07h | 0xFFA30000 | 0xFFA3FFFF | 0x00010000 |   FTW Backup\r\n"
           "  08h | 0xFFA40000 | 0xFFA4FFFF | 0x00010000 |    FTW State\r\n"
           "  0Ah | 0xFFA50000 | 0xFFA5FFFF | 0x00010000 |     OEM Data\r\n"
           "  00h | 0xFFFC0000 | 0xFFFFFFFF | 0x00040000 |          PEI\r\n"
           // A region running past 4 GiB ends there.
           "  30h | 0xFFFFF000 | 0xFFFFFFFF | 0x00002000 |    Undefined\r\n"
           "\r\n"},
      {"private", [](Profile &P) { P.Flash.PrivateMap.push_back({0xFFB00000, 0x800}); }, ShowPrivateRegionMap,
       std::string("                Private Region MAP\r\n") + kMapHeader +
           "  FEh | 0xFFA60000 | 0xFFA6FFFF | 0x00010000 |  Private Map\r\n"
           "  FEh | 0xFFB00000 | 0xFFB007FF | 0x00000800 |  Private Map\r\n"
           "\r\n"},
      {"whole",
       [](Profile &P) {
         P.Flash.WholeMap.push_back({0x18, 0xFF800000, 0x1000, 0xA});
         P.Flash.WholeMap.push_back({0x11, 0xFF801000, 0x1000, 0});
       },
       ShowWholeRegionMap,
       "                Whole Region MAP\r\n"
       " Type | Start Addr |  End Addr  |    Size    |   Offset   |Attrib| Description \r\n"
       "------+------------+------------+------------+------------+------+-------------\r\n"
       "  06h | 0xFFA00000 | 0xFFA2FFFF | 0x00030000 | 0x00200000 |   1  |   NV Storage\r\n"
       "  07h | 0xFFA30000 | 0xFFA3FFFF | 0x00010000 | 0x00230000 |   1  |   FTW Backup\r\n"
       "  08h | 0xFFA40000 | 0xFFA4FFFF | 0x00010000 | 0x00240000 |   1  |    FTW State\r\n"
       "  0Ah | 0xFFA50000 | 0xFFA5FFFF | 0x00010000 | 0x00250000 |   1  |     OEM Data\r\n"
       "  FEh | 0xFFA60000 | 0xFFA6FFFF | 0x00010000 | 0x00260000 |   1  |  Private Map\r\n"
       "  16h | 0xFFA70000 | 0xFFA7FFFF | 0x00010000 | 0x00270000 |   1  | Factory Copy\r\n"
       "  03h | 0xFFA80000 | 0xFFFBFFFF | 0x00540000 | 0x00280000 |   0  |          DXE\r\n"
       "  00h | 0xFFFC0000 | 0xFFFFFFFF | 0x00040000 | 0x007C0000 |   0  |          PEI\r\n"
       "  18h | 0xFF800000 | 0xFF800FFF | 0x00001000 | 0x00000000 |   A  |AMD Boot Block\r\n"
       "  11h | 0xFF801000 | 0xFF801FFF | 0x00001000 | 0x00001000 |   0  |             \r\n"
       "\r\n"},
      {"external", [](Profile &P) { P.Flash.ExternalRegions.push_back({0x07, 0x7FF000, 0x1000, 0}); },
       ShowExternalRegionMap,
       "                External Region MAP\r\n"
       " Type | Start Addr |  End Addr  |    Size    |   Offset   |Access| Description \r\n"
       "------+------------+------------+------------+------------+------+-------------\r\n"
       "  00h | 0xFF800000 | 0xFF800FFF | 0x00001000 | 0x00000000 |   B  |   Descriptor\r\n"
       "  02h | 0xFF801000 | 0xFF9FFFFF | 0x001FF000 | 0x00001000 |   D  |           ME\r\n"
       "  01h | 0xFFA00000 | 0xFFFFFFFF | 0x00600000 | 0x00200000 |   F  |         BIOS\r\n"
       "  07h | 0xFFFFF000 | 0xFFFFFFFF | 0x00001000 | 0x007FF000 |   0  |             \r\n"
       "\r\n"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartWithMaps(Case.Change);
    ASSERT_TRUE(Case.Show());
    EXPECT_EQ(Banner() + Case.Listing, Console());
  }
  EXPECT_EQ(1u, CallsOf(0x17));  // the external map, asked by its listing alone

  StartWithMaps([](Profile &P) { P.BiosFaults = {{0x17, 0xEF, 1, 0}}; });
  EXPECT_FALSE(ShowExternalRegionMap());
  EXPECT_EQ(Banner(), Console());
  EXPECT_TRUE(Logged("<=== ShowExternalRegionMap (Get Intel region map failed)\r\n"));
}

const char kBvdtHeader[] =
    "                BVDT Protect/Private Region MAP\r\n"
    " Type | Start Addr |  End Addr  |    Size    | Action | Description \r\n"
    "------+------------+------------+------------+--------+-------------\r\n";

TEST_F(RomMapListingTest, BvdtRegionMapOfAnImageFile) {
  StartWithMaps();
  std::vector<UINT8> Image = BvdtImage({{0x06, 0xFFB00000, 0x30000, 1}, {0xFE, 0xFFB30000, 0x10000, 0},
                                        {0x20, 0xFFB40000, 0x1000, 2}});
  WriteVolumeFile("new.fd", std::string(Image.begin(), Image.end()));
  ASSERT_TRUE(ShowBvdtRegionMap(u"new.fd"));
  const std::string Table = std::string(kBvdtHeader) +
                            "  06h | 0xFFB00000 | 0xFFB2FFFF | 0x00030000 |    1   |   NV Storage\r\n"
                            "  FEh | 0xFFB30000 | 0xFFB3FFFF | 0x00010000 |    0   |  Private Map\r\n"
                            "  20h | 0xFFB40000 | 0xFFB40FFF | 0x00001000 |    2   |    Undefined\r\n"
                            "\r\n";
  EXPECT_EQ(Banner() + Table, Console());
  EXPECT_TRUE(Logged(Table));  // the same table in the trace

  StartWithMaps();
  EXPECT_FALSE(ShowBvdtRegionMap(u"missing.fd"));
  EXPECT_EQ(Banner() + "Error: Load file failed!\r\n", Console());

  StartWithMaps();
  WriteVolumeFile("plain.fd", std::string(0x1000, '\xFF'));
  EXPECT_FALSE(ShowBvdtRegionMap(u"plain.fd"));
  EXPECT_EQ(Banner() + "Error: The region map is NOT found!\r\n", Console());
}

TEST_F(RomMapListingTest, BlockProtectTable) {
  StartWithMaps([](Profile &P) {
    P.Flash.Size = 0x40000;
    P.Flash.BlockMap = {{0x1000, 0x32}, {0x2000, 0x7}};  // 57 blocks
  });
  ProtectAllBlocks();
  SetBlockProtectRange(0xFFFC1000, 0xFFFC7FFF, 0);
  TraceRomBlockProtectTable();
  EXPECT_TRUE(Logged(
      "[     0] FFFC0000:  ( 4K)    R....... - RRRRRRRR\r\n"
      "[    16] FFFD0000:  ( 4K)    RRRRRRRR - RRRRRRRR\r\n"
      "[    32] FFFE0000:  ( 4K)    RRRRRRRR - RRRRRRRR\r\n"
      "[    48] FFFF0000:  ( 4K)    RRRRRRRR - R\r\n"
      "\r\n"));

  // Sixteen lines (256 blocks) go to the trace together.
  StartWithMaps([](Profile &P) { P.Flash.BlockMap = {{0x1000, 0x800}}; });
  TraceRomBlockProtectTable();
  EXPECT_TRUE(Logged("[   240] FF8F0000:  ( 4K)    ........ - ........\r\n\r\n"
                     "[   256] FF900000:  ( 4K)    ........ - ........\r\n"));
  EXPECT_TRUE(Logged("[  2032] FFFF0000:  ( 4K)    ........ - ........\r\n\r\n"));
}

// ---- Region movement ------------------------------------------------------------

class RegionMovementTest : public FlashTest {
 protected:
  std::vector<UINT8> Work;
  void Prepare(const std::vector<BvdtEntry> &Map, bool Protection, bool Private,
               const Edit &Change = nullptr) {
    StartWithMaps(Change);
    std::vector<uint8_t> &Flash = M().FlashContents();
    for (size_t Index = 0; Index < Flash.size(); Index++) Flash[Index] = uint8_t((Index >> 8) ^ Index) & 0x7F;  // never the 0xAA of an untouched byte
    mIniSettings.Others.EnableProtectionRegionMovement = Protection ? 1 : 0;
    mIniSettings.Others.EnablePrivateRegionMovement = Private ? 1 : 0;
    std::vector<UINT8> Image = BvdtImage(Map);
    ASSERT_TRUE(ReadBvdtRomMap(Image.data(), UINT32(Image.size())));
    Work.assign(GetRomSize() + 4096, 0xAA);
  }
  std::string FlashAt(UINT32 Address, UINT32 Size) {
    const std::vector<uint8_t> &Flash = M().FlashContents();
    return std::string(Flash.begin() + (Address - M().FlashBase()), Flash.begin() + (Address - M().FlashBase()) + Size);
  }
  std::string WorkAt(UINT32 Address, UINT32 Size) {
    return std::string(Work.begin() + (Address - GetRomBase()), Work.begin() + (Address - GetRomBase()) + Size);
  }
  size_t Untouched() { return size_t(std::count(Work.begin(), Work.end(), 0xAA)); }
};

TEST_F(RegionMovementTest, EqualSizesCopyEveryByte) {
  Prepare({{0x0A, 0xFFB00000, 0x10000, 0}}, true, false);
  ASSERT_TRUE(DoRegionMovement(Work.data(), UINT32(Work.size())));
  EXPECT_EQ(FlashAt(0xFFA50000, 0x10000), WorkAt(0xFFB00000, 0x10000));
  EXPECT_EQ(Work.size() - 0x10000, Untouched());
  EXPECT_EQ("Type |Platfrom size|  BVDT size  |\r\n0x0A |0x00010000   |0x00010000   |\r\n",
            LogBlock("Type |Platfrom", "0x0A |"));
  UINT32 Hook = 0;
  ASSERT_TRUE(EmuBiosRecentHookCode(&M().Bios(), 0, &Hook));
  EXPECT_EQ(HOOK_BEFORE_READ_ROM, Hook);
  EXPECT_EQ("", Console());
}

TEST_F(RegionMovementTest, LargerBvdtRegionsKeepTheirTail) {
  // Two platform ranges of type 0Ah (64 KiB and 32 KiB) into 64 + 64 KiB.
  Prepare({{0x0A, 0xFFB00000, 0x10000, 0}, {0x0A, 0xFFC00000, 0x10000, 0}}, true, false,
          [](Profile &P) { P.Flash.ProtectMap.push_back({0x0A, 0xFFE00000, 0x8000, 0}); });
  ASSERT_TRUE(DoRegionMovement(Work.data(), UINT32(Work.size())));
  EXPECT_EQ(FlashAt(0xFFA50000, 0x10000), WorkAt(0xFFB00000, 0x10000));
  EXPECT_EQ(FlashAt(0xFFE00000, 0x8000), WorkAt(0xFFC00000, 0x8000));
  EXPECT_EQ(std::string(0x8000, '\xAA'), WorkAt(0xFFC08000, 0x8000));
  EXPECT_TRUE(Logged("0x0A |0x00018000   |0x00020000   |\r\n"));
}

TEST_F(RegionMovementTest, PiecesFollowBothStreams) {
  // Platform 64 KiB; BVDT 16 KiB + 48 KiB + 16 KiB.
  Prepare({{0xFE, 0xFFB00000, 0x4000, 0}, {0xFE, 0xFFC00000, 0xC000, 0}, {0xFE, 0xFFD00000, 0x4000, 0}}, false, true);
  ASSERT_TRUE(DoRegionMovement(Work.data(), UINT32(Work.size())));
  EXPECT_EQ(FlashAt(0xFFA60000, 0x4000), WorkAt(0xFFB00000, 0x4000));
  EXPECT_EQ(FlashAt(0xFFA64000, 0xC000), WorkAt(0xFFC00000, 0xC000));
  EXPECT_EQ(std::string(0x4000, '\xAA'), WorkAt(0xFFD00000, 0x4000));
  // Processed once per BVDT entry: three times the same copy of 64 KiB.
  EXPECT_EQ(3 * 2u, CallsOf(0x14));
}

TEST_F(RegionMovementTest, SmallerBvdtRegionsRefuse) {
  Prepare({{0x0A, 0xFFB00000, 0x8000, 0}}, true, false);
  EXPECT_FALSE(DoRegionMovement(Work.data(), UINT32(Work.size())));
  EXPECT_EQ("Platform type 0x0A protect region size = 0x00010000\r\n BVDT type 0x0A protect region\r\n", Console());
  EXPECT_EQ(0u, CallsOf(0x14));
  EXPECT_EQ(Work.size(), Untouched());
  EXPECT_TRUE(Logged("<=== DoRegionMovement (Size not enough)\r\n"));
  UINT32 Hook = 0;
  ASSERT_TRUE(EmuBiosRecentHookCode(&M().Bios(), 0, &Hook));
  EXPECT_EQ(HOOK_AFTER_DIALOG, Hook);
  ASSERT_TRUE(EmuBiosRecentHookCode(&M().Bios(), 1, &Hook));
  EXPECT_EQ(HOOK_BEFORE_DIALOG, Hook);

  Prepare({{0xFE, 0xFFB00000, 0x8000, 0}}, false, true);
  EXPECT_FALSE(DoRegionMovement(Work.data(), UINT32(Work.size())));
  EXPECT_EQ("Platform private region size = 0x00010000\r\nBVDT private region size = 0x00008000\r\nSize not enough\r\n",
            Console());
}

TEST_F(RegionMovementTest, WhatIsNotMoved) {
  // Movement off for the type: nothing read.
  Prepare({{0x0A, 0xFFB00000, 0x10000, 0}, {0xFE, 0xFFC00000, 0x10000, 0}}, false, true);
  ASSERT_TRUE(DoRegionMovement(Work.data(), UINT32(Work.size())));
  EXPECT_EQ(Work.size() - 0x10000, Untouched());
  EXPECT_FALSE(Logged("0x0A |"));

  // A BVDT region outside the ROM is refused before any byte lands outside the image.
  Prepare({{0x0A, 0xFF700000, 0x10000, 0}}, true, false);
  EXPECT_FALSE(DoRegionMovement(Work.data(), UINT32(Work.size())));
  EXPECT_EQ(Work.size(), Untouched());
  EXPECT_TRUE(Logged(" BVDT region 0xFF700000 is outside the ROM\r\n"));

  // No BVDT map at all.
  Prepare({}, true, true);
  EXPECT_FALSE(DoRegionMovement(Work.data(), UINT32(Work.size())));
  EXPECT_TRUE(Logged("<=== DoRegionMovement (BVDT is empty)\r\n"));
}

}  // namespace

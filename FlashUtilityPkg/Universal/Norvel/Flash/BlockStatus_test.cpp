#include "Flash/BlockStatus.h"

#include "FlashFixture.h"

namespace {

using vyr::testing::FlashTest;

class BlockStatusTest : public FlashTest {
 protected:
  // Every block of the default 8 MiB part (128 blocks of 64 KiB), block 38
  // skipped ('S') and the boot block compared equal ('='), the rest written.
  void LogAllBlocks() {
    for (UINT32 Index = 0; Index < GetBlockCount(); Index++) {
      CHAR16 Outcome = Index == 38 ? u'S' : Index >= 124 ? u'=' : u'W';
      LogBlockStatus(GetBlockEntry(Index)->Address, Outcome);
    }
  }
};

const char kLegend[] =
    " Hex |base32\r\n-----+------\r\n"
    "  Fh |  f\r\n 10h |  g\r\n 11h |  h\r\n 12h |  i\r\n 13h |  j\r\n 14h |  k\r\n 15h |  l\r\n 16h |  m\r\n"
    " 17h |  n\r\n 18h |  o\r\n 19h |  p\r\n 1Ah |  q\r\n 1Bh |  r\r\n 1Ch |  s\r\n 1Dh |  t\r\n 1Eh |  u\r\n"
    " 1Fh |  v\r\n";

TEST_F(BlockStatusTest, RowsWithRegionsOfTheExternalMap) {
  StartWithMaps([](vyr::emu::Profile &P) { P.Flash.ProtectMap.push_back({0x1F, 0xFFFB0000, 0x10000, 0}); });
  ASSERT_TRUE(GetExternalRegionMap(nullptr, 0));
  ASSERT_TRUE(SetRsvd_13h());
  LogAllBlocks();
  EXPECT_TRUE(Logged(kLegend));
  EXPECT_EQ(
      "[00000000] FF800000:  ........ - ........    WWWWWWWW - WWWWWWWW    ........ - ........    DMMMMMMM - MMMMMMMM\r\n"
      "[00100000] FF900000:  ........ - ........    WWWWWWWW - WWWWWWWW    ........ - ........    [ ME              ]\r\n"
      "[00200000] FFA00000:  RRRRRRR. - ........    WWWWWWSW - WWWWWWWW    66678an. - ........    [ BIOS            ]\r\n",
      LogBlock("[00000000]", "[00200000]"));
  EXPECT_TRUE(Logged("[00700000] FFF00000:  ........ - ...RRRRR    WWWWWWWW - WWWW====    ........ - ...v0000    "
                     "[ BIOS            ]\r\n"));
}

TEST_F(BlockStatusTest, RowsWithoutTheExternalMapAndGroupsOf128) {
  StartWithMaps([](vyr::emu::Profile &P) { P.Flash.PrivateMap = {{0xFFA60000, 0x8000}}; });
  for (UINT32 Index = 0; Index < 127; Index++) {
    LogBlockStatus(GetBlockEntry(Index)->Address, u'W');
  }
  EXPECT_FALSE(Logged("[00000000]"));  // traced only once 128 entries are in
  LogBlockStatus(GetBlockEntry(127)->Address, u'W');
  EXPECT_TRUE(Logged("[00200000] FFA00000:  ........ - ........    WWWWWWWW - WWWWWWWW    66678an. - ........    \r\n"));
  // More entries than the part has blocks are not logged.
  LogBlockStatus(0xFF800000, u'W');
  EXPECT_EQ(129u, mBlockStatus.Capacity);
  EXPECT_EQ(129u, mBlockStatus.Count);
  LogBlockStatus(0xFF800000, u'W');
  EXPECT_EQ(129u, mBlockStatus.Count);
}

TEST_F(BlockStatusTest, NothingWithoutTracing) {
  StartWithMaps();
  mTrace.DebugFlag = 0;
  mTrace.DebugLevel = 0;
  LogBlockStatus(0xFF800000, u'W');
  EXPECT_FALSE(mBlockStatus.Started);
  EXPECT_EQ(nullptr, mBlockStatus.Entries);
}

}  // namespace

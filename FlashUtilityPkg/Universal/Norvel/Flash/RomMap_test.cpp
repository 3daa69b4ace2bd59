#include "Flash/RomMap.h"

#include <cstring>

#include "FlashFixture.h"
#include "Guids.h"
#include "Base/RegionNames.h"

namespace {

using vyr::emu::FlashBlocksConfig;
using vyr::emu::Profile;
using vyr::testing::FlashTest;

class RomMapTest : public FlashTest {
 protected:
  void SecureBoot(UINT8 SetupMode) {
    ASSERT_EQ(EFI_SUCCESS, M().Variables().Set(u"SetupMode", &gEfiGlobalVariableGuid, EFI_VARIABLE_BOOTSERVICE_ACCESS,
                                                1, &SetupMode));
  }
};

// ---- 13h: flash part and block table --------------------------------------------
// The records are byte-packed: their 32-bit fields are compared by value.

TEST_F(RomMapTest, FlashPartGeometryAndItsTrace) {
  Start([](Profile &P) {
    P.Flash.Size = 0x1000000;
    P.Flash.SizeIndex = 0xFF;  // the size is the one specified
    P.Flash.BlockMap = {{0x10000, 0x100}};
  });
  ASSERT_TRUE(SMI_GetFlashPartInfo());
  EXPECT_EQ(0x10000u, GetBlockUnit());  // the size, base and count are in the trace below
  EXPECT_EQ(0xFF000000u, UINT32(GetBlockEntry(0)->Address));
  EXPECT_EQ(0x10000u, UINT32(GetBlockEntry(0)->Size));
  EXPECT_EQ(0xFFFF0000u, UINT32(GetBlockEntry(0xFF)->Address));
  EXPECT_EQ(nullptr, GetBlockEntry(0x100));
  EXPECT_EQ(0u, M().Bios().Flash.Last13hSelector);
  EXPECT_EQ(
      "Flash part information (13h)\r\n"
      "----------------+---------------\r\n"
      "     Size Index | 0xFF\r\n"
      "         Vendor | Vyr\r\n"
      "           Type | VF25Q64\r\n"
      "      Device ID | 0xEF4017\r\n"
      " Size Specified | 0x1000000\r\n"
      "     Block size | 100\r\n"
      "    Block times | 100\r\n"
      "       ROM Size | 0x1000000\r\n"
      "      Base Addr | 0xFF000000\r\n"
      "    Block Count | 0x100\r\n",
      LogBlock("Flash part information (13h)", "    Block Count"));
  EXPECT_TRUE(Logged("===== Flash Part Information =====\r\n"));
  EXPECT_TRUE(Logged("===== Flash Part Block Map =====\r\n0000:  00 01 00 01 00 00 00 00"));
  BLOCK_ENTRY *Copy = nullptr;
  ASSERT_TRUE(GetBlockTableCopy(&Copy));
  EXPECT_EQ(0, std::memcmp(Copy, mRomMap.BlockTable, BLOCK_TABLE_BYTES));
  FreePool(Copy);
}

TEST_F(RomMapTest, SizeIndexGivesTheRomSize) {
  const struct {
    UINT8 Index;
    UINT32 Specified, RomSize;
  } Cases[] = {{1, 0, 0x20000},  {2, 0, 0x40000},       {7, 0x1234, 0x800000},     {11, 0, 0x8000000},
               {12, 0x800000, 0}, {0, 0x800000, 0}, {0xFF, 0x300000, 0x300000}};
  for (const auto &Case : Cases) {
    SCOPED_TRACE(int(Case.Index));
    Start([&](Profile &P) {
      P.Flash.Size = 0x20000;
      P.Flash.SizeIndex = Case.Index;
      P.Flash.SizeSpecified = Case.Specified;
      P.Flash.BlockMap = {{0x1000, 0}};  // no blocks: only the size matters
    });
    ASSERT_TRUE(SMI_GetFlashPartInfo());
    EXPECT_EQ(Case.RomSize, GetRomSize());
    EXPECT_EQ(UINT32(0x100000000ull - Case.RomSize), GetRomBase());
  }
}

TEST_F(RomMapTest, BlockMapsThatCannotOverrunTheTable) {
  const char kTooMany[] = "\r\nError: The flash part has 0x8001 blocks, more than the 0x8000 the block table holds.\r\n";
  auto TooLarge = [](const char *Bytes) {
    return std::string("\r\nError: The flash part blocks (") + Bytes + " bytes) do not fit in the ROM size 0x800000.\r\n";
  };
  const struct {
    const char *Name;
    std::vector<FlashBlocksConfig> Map;
    UINT32 Blocks;          // 0: refused
    std::string Console;
    const char *Reason;     // SMI_GetFlashPartInfo's exit line when refused
  } Cases[] = {
      {"0x8000 in one entry", {{0x100, 0x8000}}, 0x8000, "", nullptr},
      {"0x8001 in one entry", {{0x100, 0x8001}}, 0, "", "Block count > 0x8000"},
      {"0x8000 over two entries", {{0x100, 0x4000}, {0x100, 0x4000}}, 0x8000, "", nullptr},
      {"0x8001 over two entries", {{0x100, 0x4000}, {0x100, 0x4001}}, 0, kTooMany, "Total block count > 0x8000"},
      {"one block past the ROM", {{0x10000, 0x81}}, 0, TooLarge("0x810000"), "Block map larger than ROM"},
      // 0x200 blocks of 8 MiB are 4 GiB: 0 in 32 bits.
      {"4 GiB of blocks", {{0x800000, 0x200}}, 0, TooLarge("0x100000000"), "Block map larger than ROM"},
      {"less than the ROM", {{0x10000, 0x40}}, 0x40, "", nullptr},
      {"0x800 blocks of 64 KiB in 8 MiB", {{0x10000, 0x800}}, 0, TooLarge("0x8000000"), "Block map larger than ROM"},
      {"ends at a size of 0xFFFF", {{0x10000, 0x10}, {0xFFFF00, 1}, {0x10000, 0x10}}, 0x10, "", nullptr},
      {"ends at an entry of size 0", {{0x1000, 0x10}}, 0x10, "", nullptr},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Start([&](Profile &P) { P.Flash.BlockMap = Case.Map; });
    EXPECT_EQ(Case.Blocks != 0, SMI_GetFlashPartInfo() != 0);
    EXPECT_EQ(Case.Blocks, GetBlockCount());
    EXPECT_EQ(Case.Console, Console());
    if (Case.Reason != nullptr) {
      EXPECT_TRUE(Logged(std::string("<=== SMI_GetFlashPartInfo (") + Case.Reason + ")\r\n"));
      EXPECT_EQ(0u, GetRomSize() | GetBlockUnit());
    } else {
      EXPECT_EQ(Case.Map[0].Size, GetBlockUnit());
    }
  }
  // At most 255 entries are read.
  Start([](Profile &P) { P.Flash.BlockMap.assign(256, FlashBlocksConfig{0x100, 1}); });
  ASSERT_TRUE(SMI_GetFlashPartInfo());
  EXPECT_EQ(255u, GetBlockCount());
  EXPECT_EQ(0xFF800000u + 254 * 0x100, UINT32(GetBlockEntry(254)->Address));
  // A later failed 13h leaves no geometry behind.
  M().Bios().Flash.BlockMap[0].Count = 0x8001;
  EXPECT_FALSE(SMI_GetFlashPartInfo());
  EXPECT_EQ(0u, GetBlockCount() | GetRomBase());
  EXPECT_EQ(0, GetBlockProtectFlagAt(0xFF800000));
}

// ---- 12h ------------------------------------------------------------------------

TEST_F(RomMapTest, PlatformMapsAreReadWithinTheirLimits) {
  Start([](Profile &P) {
    P.Flash.ProtectMap.clear();
    for (UINT32 Index = 0; Index < 227; Index++) P.Flash.ProtectMap.push_back({UINT8(Index % 3), 0xFF800000 + Index * 0x1000, 0x1000, 0});
    P.Flash.PrivateMap.clear();
    for (UINT32 Index = 0; Index < 256; Index++) P.Flash.PrivateMap.push_back({0xFF900000 + Index * 0x1000, 0x800});
  });
  ASSERT_TRUE(SMI_GetPlatformRomMap());
  EXPECT_EQ(200u, mRomMap.ProtectCount);
  EXPECT_EQ(200u, mRomMap.PrivateCount);
  EXPECT_EQ(0xFF800000u + 199 * 0x1000, UINT32(mRomMap.ProtectMap[199].Address));
  EXPECT_EQ(0xFF900000u + 199 * 0x1000, UINT32(mRomMap.PrivateMap[199].Address));

  // Empty regions are skipped; type FFh and address FFh end the maps.
  Start([](Profile &P) {
    P.Flash.ProtectMap = {{0x06, 0xFFA00000, 0, 0}, {0x07, 0xFFA30000, 0x10000, 0}, {0xFF, 0xFFA40000, 0x10000, 0},
                          {0x08, 0xFFA50000, 0x10000, 0}};
    P.Flash.PrivateMap = {{0xFFA60000, 0}, {0xFFA70000, 0x1000}, {0x000000FF, 0x1000}, {0xFFA80000, 0x1000}};
  });
  ASSERT_TRUE(SMI_GetPlatformRomMap());
  ASSERT_EQ(1u, mRomMap.ProtectCount);
  EXPECT_EQ(0x07, mRomMap.ProtectMap[0].Type);
  ASSERT_EQ(1u, mRomMap.PrivateCount);
  EXPECT_EQ(0xFFA70000u, UINT32(mRomMap.PrivateMap[0].Address));
  EXPECT_EQ(
      "Get Platform ROM map protection. (12h)\r\n"
      "                Protection Region MAP\r\n"
      " Type | Start Addr |  End Addr  |    Size    | Description \r\n"
      "------+------------+------------+------------+-------------\r\n"
      "  07h | 0xFFA30000 | 0xFFA3FFFF | 0x00010000 |   FTW Backup\r\n"
      "\r\n"
      "                Private Region MAP\r\n"
      " Type | Start Addr |  End Addr  |    Size    | Description \r\n"
      "------+------------+------------+------------+-------------\r\n"
      "  FEh | 0xFFA70000 | 0xFFA70FFF | 0x00001000 |  Private Map\r\n",
      LogBlock("Get Platform ROM map protection. (12h)", "  FEh"));

  Start([](Profile &P) { P.BiosFaults = {{0x12, 0x22, 1, 0}}; });
  EXPECT_FALSE(SMI_GetPlatformRomMap());
  EXPECT_EQ("\r\n\r\nError: FWSMI 12h failed.\r\nInternal Error Code 0x22.\r\nFBTS: Unknown platform rom map.\r\n",
            Console());
  EXPECT_TRUE(Logged("<=== SMI_GetPlatformRomMap (FWSMI failed)\r\n"));
}

// ---- 1Eh --------------------------------------------------------------------------

TEST_F(RomMapTest, WholeMapIsAskedOnceAndRebasedWhenTheBaseIsKnown) {
  Start();
  WHOLE_ROM_RECORD Records[WHOLE_MAP_MAX_RECORDS];
  UINT32 Count = 0;
  // Start-up asks 1Eh before 13h: the base is not known yet.
  ASSERT_TRUE(SMI_GetWholeRomMap(Records, &Count));
  ASSERT_EQ(8u, Count);
  EXPECT_EQ(0xFFA00000u, UINT32(Records[0].Offset));
  EXPECT_EQ("  06h | 0xFFA00000 | 0xFFA2FFFF | 0x00030000 | 0xFFA00000 |   1  |   NV Storage\r\n",
            LogBlock("  06h | 0xFFA00000", "  06h"));
  ASSERT_TRUE(SMI_GetFlashPartInfo());
  ASSERT_TRUE(SMI_GetWholeRomMap(Records, &Count));
  EXPECT_EQ(1u, CallsOf(0x1E));
  EXPECT_EQ(0x200000u, UINT32(Records[0].Offset));
  EXPECT_EQ(0xFFA2FFFFu, UINT32(Records[0].End));
  EXPECT_EQ(0x7C0000u, UINT32(Records[7].Offset));
  EXPECT_EQ(0x16, Records[5].Type);

  // At most 201 entries; empty ones are skipped.
  Start([](Profile &P) {
    P.Flash.WholeMap = {{0x03, 0xFF900000, 0, 0}};
    for (UINT32 Index = 0; Index < 314; Index++) P.Flash.WholeMap.push_back({0x03, 0xFF800000 + Index * 0x100, 0x100, Index});
  });
  ASSERT_TRUE(SMI_GetWholeRomMap(Records, &Count));
  EXPECT_EQ(201u, Count);
  EXPECT_EQ(0xFF800000u, UINT32(Records[0].Start));
  EXPECT_EQ(200u, UINT32(Records[200].Attribute));
  EXPECT_EQ(0xFF800000u + 200 * 0x100, UINT32(mRomMap.WholeRaw[200].Address));
}

TEST_F(RomMapTest, FailedWholeMapIsNotAskedAgain) {
  Start([](Profile &P) { P.BiosFaults = {{0x1E, 0xEF, 1, 0}}; });
  UINT32 Count = 99;
  EXPECT_FALSE(SMI_GetWholeRomMap(nullptr, &Count));
  EXPECT_FALSE(SMI_GetWholeRomMap(nullptr, &Count));
  EXPECT_EQ(0u, Count);
  EXPECT_EQ(1u, CallsOf(0x1E));
  EXPECT_EQ("", Console());
  EXPECT_TRUE(Logged("<=== FuncGetWholeRomMap (FWSMI fail)\r\n"));
  EXPECT_FALSE(SetTypeReserve_1Eh(ROM_TYPE_NV_STORAGE, 1));
  EXPECT_TRUE(Logged("<=== SetTypeReserve_1Eh (Count is 0)\r\n"));
}

// ---- 17h --------------------------------------------------------------------------

TEST_F(RomMapTest, ExternalMapsOfTheCurrentFlashAndTheNewImage) {
  Start([](Profile &P) {
    P.Flash.ExternalRegions = {{0x00, 0x0, 0x1000, 0x0B}, {0x03, 0x1000, 0, 0x0F}, {0x20, 0x2000, 0x1000, 0x01},
                               {0x01, 0x400000, 0x400000, 0x0F}};
  });
  // A descriptor: FLMAP0 points the regions at 40h; BIOS 400000h-7FFFFFh, ME 1000h-3FFFFFh.
  std::vector<UINT8> Image(0x5000, 0xFF);
  const UINT8 Signature[] = {0x5A, 0xA5, 0xF0, 0x0F};
  std::memcpy(&Image[0x10], Signature, 4);
  const UINT32 Words[][2] = {{0x14, 0x00040000}, {0x40, 0x00000000}, {0x44, 0x07FF0400}, {0x48, 0x03FF0001},
                             {0x4C, 0x00007FFF}, {0x50, 0x00007FFF}, {0x60, 0x00007FFF}};  // no GbE, no EC
  for (const auto &W : Words) WriteUnaligned32(&Image[W[0]], W[1]);
  ASSERT_TRUE(GetExternalRegionMap(Image.data(), UINT32(Image.size())));
  EXPECT_EQ(0, std::memcmp(M().Bios().Flash.Last17hImage, Image.data(), 16));
  EXPECT_EQ(4096u, M().SmiTranscript().back().In.Ecx);

  REGION_RECORD Current, New;
  ASSERT_TRUE(GetCurrentRegionRecord(&Current));
  ASSERT_TRUE(GetNewRegionRecord(&New));
  EXPECT_EQ(3u, mRomMap.CurrentCount);  // the empty GbE region is dropped
  EXPECT_EQ(0x400000u, UINT32(Current.Slot[REGION_SLOT_BIOS].Offset));
  EXPECT_EQ(0u, UINT32(Current.Slot[REGION_SLOT_GBE].Size));
  EXPECT_EQ(0x2000u, UINT32(Current.Slot[REGION_SLOT_IGNITION_ME].Offset));
  EXPECT_EQ(0x01, Current.Slot[REGION_SLOT_IGNITION_ME].Access);
  EXPECT_EQ(0x1000u, UINT32(New.Slot[REGION_SLOT_ME].Offset));
  EXPECT_EQ(0x3FF000u, UINT32(New.Slot[REGION_SLOT_ME].Size));
  EXPECT_EQ(0x400000u, UINT32(New.Slot[REGION_SLOT_BIOS].Size));
  EXPECT_TRUE(Logged("===== 17h Info =====\r\n"));
  EXPECT_TRUE(Logged("(Current)\r\n 00h Descriptor    Offset 0x00000000 Size 0x00001000 Access 0x0B\r\n"));

  // Without an image the new map is the current one; a missing type keeps its slot.
  M().Bios().Flash.ExternalCount = 1;
  ASSERT_TRUE(GetExternalRegionMap(nullptr, 0));
  ASSERT_TRUE(GetCurrentRegionRecord(&Current));
  EXPECT_EQ(1u, mRomMap.CurrentCount);
  EXPECT_EQ(0x400000u, UINT32(Current.Slot[REGION_SLOT_BIOS].Offset));
  EXPECT_EQ(0, M().Bios().Flash.Last17hImage[0]);
}

// The external map's types by address use the ROM base; the protect map's
// prefer a private region: the block at 0xFFA50000 holds the OEM data region
// and, from its middle, the private region.
TEST_F(RomMapTest, TypeLookUpsByAddress) {
  StartWithMaps([](Profile &P) { P.Flash.PrivateMap = {{0xFFA58000, 0x8000}}; });
  ASSERT_TRUE(GetExternalRegionMap(nullptr, 0));
  const struct {
    BOOLEAN (*LookUp)(UINT32, UINT8 *);
    UINT32 Address;
    UINT8 Type;  // 0xEE: none
  } Cases[] = {{GetExternalTypeAt, 0xFF800000, 0x00}, {GetExternalTypeAt, 0xFF800FFF, 0x00},
               {GetExternalTypeAt, 0xFF801000, 0x02}, {GetExternalTypeAt, 0xFF9FFFFF, 0x02},
               {GetExternalTypeAt, 0xFFA00000, 0x01}, {GetExternalTypeAt, 0xFFFFFFFF, 0x01},
               {GetExternalTypeAt, 0xFF7FFFFF, 0xEE}, {GetProtectTypeAt, 0xFFA50000, ROM_TYPE_PRIVATE_HIT},
               {GetProtectTypeAt, 0xFFA40000, 0x08},  {GetProtectTypeAt, 0xFFFFFFFF, 0x00},
               {GetProtectTypeAt, 0xFFA60000, 0xEE}};
  for (const auto &Case : Cases) {
    SCOPED_TRACE(testing::Message() << (Case.LookUp == GetProtectTypeAt ? "protect " : "external ") << std::hex
                                    << Case.Address);
    UINT8 Type = 0xEE;
    EXPECT_EQ(Case.Type != 0xEE, Case.LookUp(Case.Address, &Type) != 0);
    EXPECT_EQ(Case.Type, Type);
  }
}

// ---- BVDT ROM map ---------------------------------------------------------------------

TEST_F(RomMapTest, BvdtMapIsReadInsideTheImage) {
  Start();
  std::vector<UINT8> Image = BvdtImage({{0x06, 0xFFB00000, 0x10000, 1}, {0x07, 0, 0, 0}, {0xFE, 0xFFB10000, 0x8000, 2},
                                        {0x0A, 0xFFB20000, 0, 0}});
  ASSERT_TRUE(ReadBvdtRomMap(Image.data(), UINT32(Image.size())));
  ASSERT_EQ(2u, mRomMap.BvdtCount);
  EXPECT_EQ(0xFFB0FFFFu, mRomMap.BvdtEnd[0]);
  EXPECT_EQ(0xFE, mRomMap.BvdtType[1]);
  EXPECT_EQ(2, mRomMap.BvdtAction[1]);

  // Cut inside the second entry: only whole entries count.
  Image = BvdtImage({{0x06, 0xFFB00000, 0x10000, 1}, {0x07, 0xFFB10000, 0x10000, 0}}, 8, false);
  ASSERT_TRUE(ReadBvdtRomMap(Image.data(), UINT32(Image.size() - 1)));
  EXPECT_EQ(1u, mRomMap.BvdtCount);

  // 201 entries without an end mark: 200 are read.
  Image = BvdtImage(std::vector<BvdtEntry>(201, BvdtEntry{0x06, 0xFFB00000, 0x1000, 0}), 0, false);
  ASSERT_TRUE(ReadBvdtRomMap(Image.data(), UINT32(Image.size())));
  EXPECT_EQ(200u, mRomMap.BvdtCount);

  Image.assign(64, 0);
  EXPECT_FALSE(ReadBvdtRomMap(Image.data(), UINT32(Image.size())));
  EXPECT_EQ(0, mRomMap.BvdtFound);
}

// ---- Protection ------------------------------------------------------------------------

TEST_F(RomMapTest, ProtectFlagsFromMapsOptionsAndSettings) {
  // Default flash: NV 32-34, FTW 35-36, OEM data 37, private 38, factory copy 39
  // (whole map only), boot block 124-127. Expected: blocks 32-39, 40-47, 48-51 | 124-127.
  const auto BvdtMap = [] {
    std::vector<UINT8> Image = BvdtImage({{0x06, 0xFFB00000, 0x10000, 0}, {0xFE, 0xFFB10000, 0x10000, 0}});
    ASSERT_TRUE(ReadBvdtRomMap(Image.data(), UINT32(Image.size())));
  };
  const auto AllowAlp = [] { mPlatformQuery.Switches.AllowAlpCommand = 1; };
  const auto WithFactoryCopy = [](Profile &P) { P.Flash.ProtectMap.push_back({0x16, 0xFFA70000, 0x10000, 0}); };
  const auto WithoutNv = [](Profile &P) { P.Flash.ProtectMap.erase(P.Flash.ProtectMap.begin()); };
  auto &Opt = mCommandLine.Flags;
  auto &Force = mIniSettings.ForceFlash;
  const struct {
    const char *Name;
    std::function<void(Profile &)> Machine;
    std::function<void()> Options;  // after the maps are read
    const char *Expected;
  } Cases[] = {
      {"maps as given", nullptr, nullptr, "RRRRRRR. ........ .... | RRRR"},
      {"-all", nullptr, [&] { Opt[OPT_ALL] = 1; }, "......R. ........ .... | ...."},
      {"[ForceFlash] ALL", nullptr, [&] { Force.ALL = 1; }, "......R. ........ .... | ...."},
      {"-alp allowed", nullptr, [&] { AllowAlp(); Opt[OPT_ALP] = 1; }, "........ ........ .... | ...."},
      {"[ForceFlash] ALP allowed", nullptr, [&] { AllowAlp(); Force.ALP = 1; }, "........ ........ .... | ...."},
      {"-alp not allowed", nullptr, [&] { Opt[OPT_ALP] = 1; }, "RRRRRRR. ........ .... | RRRR"},
      {"protection movement", nullptr, [] { mIniSettings.Others.EnableProtectionRegionMovement = 1; },
       "......R. ........ .... | ...."},
      {"private movement", nullptr, [] { mIniSettings.Others.EnablePrivateRegionMovement = 1; },
       "RRRRRR.. ........ .... | RRRR"},
      {"-ft 06", nullptr, [] { mCommandLine.ForceFlashType[0x06] = 1; }, "...RRRR. ........ .... | RRRR"},
      {"[ForceFlash] BB_PEI", nullptr, [&] { Force.Type[0x00] = 1; }, "RRRRRRR. ........ .... | ...."},
      {"secure boot, NV not in the 12h map", WithoutNv, [] {}, "RRRRRRR. ........ .... | RRRR"},
      {"secure boot, -all", nullptr, [&] { Opt[OPT_ALL] = 1; }, "RRR...R. ........ .... | ...."},
      {"secure boot, -all -unvs", nullptr, [&] { Opt[OPT_ALL] = 1; mCommandLine.Owner[OWNER_UNVS] = 1; },
       "......R. ........ .... | ...."},
      {"secure boot, UpdateNvStorage", nullptr, [] { mIniSettings.SecurityFlashFactoryUpdate.UpdateNvStorage = 1; },
       "...RRRR. ........ .... | RRRR"},
      {"factory copy protected", WithFactoryCopy, nullptr, "RRRRRRRR ........ .... | RRRR"},
      {"factory copy, -ufc", WithFactoryCopy, [] { mCommandLine.Owner[OWNER_UFC] = 1; }, "RRRRRRR. ........ .... | RRRR"},
      {"factory copy, UpdateFactoryCopy", WithFactoryCopy,
       [] { mIniSettings.SecurityFlashFactoryUpdate.UpdateFactoryCopy = 1; }, "RRRRRRR. ........ .... | RRRR"},
      {"UseBvdtRomMap 0 with a BVDT map, -all", nullptr, [&] { BvdtMap(); Opt[OPT_ALL] = 1; },
       "......R. ........ .... | ...."},
      {"UseBvdtRomMap 1", nullptr, [&] { BvdtMap(); Force.UseBvdtRomMap = 1; }, "........ ........ RR.. | ...."},
      {"UseBvdtRomMap 1, -all", nullptr, [&] { BvdtMap(); Force.UseBvdtRomMap = 1; Opt[OPT_ALL] = 1; },
       "........ ........ .R.. | ...."},
      {"UseBvdtRomMap 1 without a BVDT map", nullptr, [&] { Force.UseBvdtRomMap = 1; }, "RRRRRRR. ........ .... | RRRR"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartWithMaps(Case.Machine);
    if (std::string(Case.Name).rfind("secure boot", 0) == 0) SecureBoot(0);
    if (Case.Options) Case.Options();
    ASSERT_TRUE(SetRsvd_13h());
    EXPECT_EQ(Case.Expected, Flags(32, 8) + " " + Flags(40, 8) + " " + Flags(48, 4) + " | " + Flags(124, 4));
  }
}

TEST_F(RomMapTest, ProtectionTraces) {
  StartWithMaps();
  SecureBoot(1);
  mCommandLine.ForceFlashType[0x07] = 1;
  ASSERT_TRUE(SetRsvd_13h());
  EXPECT_TRUE(Logged("<=== IsSecureBootSupport (Support)\r\n"));
  EXPECT_EQ(
      "Protect private region (FFA60000 ~ FFA6FFFF)\r\n"
      " Protection Region Map\r\n"
      "----------+-----+----------\r\n"
      " Reserved | 06h | NV Storage\r\n"
      "   Skip   | 07h | FTW Backup\r\n"
      " Reserved | 08h | FTW State\r\n"
      " Reserved | 0Ah | OEM Data\r\n"
      " Reserved | 00h | PEI\r\n"
      "===> SetTypeReserve_1Eh\r\n"
      " Protect [06h] 0xFFA00000 size 0x00030000\r\n",
      LogBlock("Protect private region", " Protect [06h]"));

  StartWithMaps();
  mCommandLine.Owner[OWNER_UNVS] = 1;
  mCommandLine.Owner[OWNER_UFC] = 1;
  mIniSettings.Others.EnablePrivateRegionMovement = 1;
  ASSERT_TRUE(SetRsvd_13h());
  EXPECT_TRUE(Logged("<=== IsSecureBootSupport (Not support)\r\n"));
  EXPECT_TRUE(Logged(" EnablePrivateRegionMovement = 1\r\n"));
  EXPECT_TRUE(Logged("update region NV |enable|\r\n===> SetTypeReserve_1Eh\r\n Unprotect [06h] 0xFFA00000 size 0x00030000\r\n"));
  EXPECT_TRUE(Logged(" Unprotect [16h] 0xFFA70000 size 0x00010000\r\n"));
}

TEST_F(RomMapTest, RegionsKeepEveryBlockTheyShareAByteWith) {
  // 4 KiB blocks; the private region runs from the middle of block 0 to the
  // middle of block 1, and both blocks are erased whole when written.
  StartWithMaps([](Profile &P) {
    P.Flash.BlockMap = {{0x1000, 0x800}};
    P.Flash.ProtectMap.clear();
    P.Flash.PrivateMap = {{0xFF800800, 0x1000}};
  });
  ASSERT_TRUE(SetRsvd_13h());
  EXPECT_EQ("RR..", Flags(0, 4));
  EXPECT_EQ(1, GetBlockProtectFlagAt(0xFF800000));
  EXPECT_EQ(0, GetBlockProtectFlagAt(0x1000));  // no block there
  EXPECT_TRUE(Logged(" Keep block 0xFF800000 size 0x1000: bytes 0xFF800800 ~ 0xFF800FFF in it are kept\r\n"));
  EXPECT_TRUE(Logged(" Keep block 0xFF801000 size 0x1000: bytes 0xFF801000 ~ 0xFF8017FF in it are kept\r\n"));
}

TEST_F(RomMapTest, BlockFlagOperations) {
  StartWithMaps();
  ProtectAllBlocks();
  EXPECT_EQ(std::string(128, 'R'), Flags(0, 128));
  // Releasing only the first byte of block 3 leaves the rest of it kept.
  SetBlockProtectRange(0xFF810000, 0xFF830000, 0);
  EXPECT_EQ("R..RR", Flags(0, 5));
  SetBlockProtectRange(0xFF830001, 0xFF83FFFF, 0);
  EXPECT_EQ("R...R", Flags(0, 5));
  // A release never opens a block that still holds another kept range.
  SetBlockProtectRange(0xFF808000, 0xFF80FFFF, 0);
  EXPECT_EQ("R...R", Flags(0, 5));
  UnprotectAllBlocks();
  EXPECT_EQ(std::string(128, '.'), Flags(0, 128));
  SetBlockProtectRange(0xFF81F000, 0xFF820FFF, 1);
  EXPECT_EQ(".RR..", Flags(0, 5));
  EXPECT_TRUE(Logged(" Protect All Block\r\n"));
  EXPECT_TRUE(Logged(" Unprotect All Block\r\n"));
}

TEST_F(RomMapTest, SpecifiedProtectAreaByTypeAndIndex) {
  StartWithMaps([](Profile &P) { P.Flash.ProtectMap.push_back({0x0A, 0xFFB00000, 0x2000, 0}); });
  EXPECT_EQ(2u, GetSpecifyProtectAreaCount(0x0A));
  EXPECT_EQ(0u, GetSpecifyProtectAreaCount(0x0B));
  UINT32 Address = 0, Size = 0;
  ASSERT_TRUE(GetSpecifyProtectArea(0x0A, 1, &Address, &Size));
  EXPECT_EQ(0xFFB00000u, Address);
  EXPECT_EQ(0x2000u, Size);
  EXPECT_TRUE(Logged("[Ah]  Address: FFB00000h  Size: 2000h\r\n"));
  EXPECT_FALSE(GetSpecifyProtectArea(0x0A, 2, &Address, &Size));

  // From the BVDT map when UseBvdtRomMap selects it.
  std::vector<UINT8> Image = BvdtImage({{0x0A, 0xFFC00000, 0x1000, 0}});
  ASSERT_TRUE(ReadBvdtRomMap(Image.data(), UINT32(Image.size())));
  mIniSettings.ForceFlash.UseBvdtRomMap = 1;
  ASSERT_TRUE(GetSpecifyProtectArea(0x0A, 0, &Address, &Size));
  EXPECT_EQ(0xFFC00000u, Address);
  EXPECT_EQ(1u, GetSpecifyProtectAreaCount(0x0A));
  EXPECT_TRUE(Logged(" Protect region #0 [FFC00000] (00001000)\r\n===== BVDT Private MAP =====\r\n"));
}

// ---- 17h region selection ---------------------------------------------------------------

TEST_F(RomMapTest, RegionReserveUnprotectsTheSelectedRegions) {
  // The descriptor (4 KiB) and the ME region share the first 64 KiB block; a
  // selected region sharing a block with kept bytes is refused.
  const struct {
    const char *Name;
    UINT8 Selection;
    bool MeSkipped, Ignition;  // Ignition: the current map has Ignition ME in place of ME
    const char *Expected;      // blocks 0-3 | 30-33 | 124-127
    const char *Refused;
  } Cases[] = {
      {"nothing selected", 0, false, false, ".... | .... | ....", nullptr},
      {"BIOS", REGION_SELECT_BIOS, false, false, "RRRR | RR.. | ....", nullptr},
      {"descriptor", REGION_SELECT_DESCRIPTOR, false, false, "RRRR | RRRR | RRRR", "Descriptor"},
      {"ME", REGION_SELECT_ME, false, false, "R... | ..RR | RRRR", "ME"},
      {"descriptor and ME", REGION_SELECT_DESCRIPTOR | REGION_SELECT_ME, false, false, ".... | ..RR | RRRR", nullptr},
      {"ME skipped", REGION_SELECT_ME, true, false, "RRRR | RRRR | RRRR", nullptr},
      {"Ignition ME", REGION_SELECT_ME, false, true, "R... | ..RR | RRRR", "Ignition ME"},
      {"EC and GbE absent", REGION_SELECT_EC | REGION_SELECT_GBE, false, false, "RRRR | RRRR | RRRR", nullptr},
      {"all", 0x3F, false, false, ".... | .... | ....", nullptr},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartWithMaps([&](Profile &P) {
      if (Case.Ignition) P.Flash.ExternalRegions[1].Type = 0x20;
    });
    ASSERT_TRUE(GetExternalRegionMap(nullptr, 0));
    SetMeSkipped(Case.MeSkipped);
    EXPECT_EQ(Case.Refused == nullptr, SetRegionReserve(Case.Selection));
    EXPECT_EQ(Case.Expected, Flags(0, 4) + " | " + Flags(30, 4) + " | " + Flags(124, 4));
    char Line[160];
    std::snprintf(Line, sizeof(Line), "Set Rsvd 17h |enable| (0x%X)\r\n", Case.Selection);
    EXPECT_TRUE(Logged(Line));
    if (Case.Refused != nullptr) {
      std::snprintf(Line, sizeof(Line), "\r\nError: The %s region cannot be updated alone: flash block 0xFF800000 also "
                    "holds bytes that must be kept.\r\n", Case.Refused);
      EXPECT_EQ(Line, Console());
    }
  }
}

}  // namespace

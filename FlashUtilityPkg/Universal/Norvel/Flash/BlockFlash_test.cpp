#include "Flash/BlockFlash.h"

#include <tuple>

#include "Flash/Completion.h"
#include "Flash/BlockStatus.h"
#include "FlashFixture.h"
#include "Flash/ReadRom.h"
#include "Flash/RomAccess.h"

namespace {

using vyr::emu::Profile;
using vyr::testing::FlashTest;

constexpr UINT32 kRom = 0x40000;  // four 64 KiB blocks
constexpr UINT32 kBase = 0xFFFC0000;
constexpr UINT32 kBlock = 0x10000;

class BlockFlashTest : public FlashTest {
 protected:
  void StartPart(const Edit &Change = nullptr) {
    StartWithMaps([&](Profile &P) {
      P.Flash.Size = kRom;
      P.Flash.BlockMap = {{kBlock, 4}};
      P.Flash.WholeMap.clear();
      P.Flash.ProtectMap.clear();
      P.Flash.PrivateMap.clear();
      if (Change) Change(P);
    });
    UnprotectAllBlocks();
    mPlatformQuery.Switches.CompareBeforeWrite = 1;
    mIniSettings.Others.VerifyErrorRetry = 3;
  }
  // Block B of the image filled with Value + B, block 0 as the erased flash.
  static std::vector<UINT8> Image(UINT8 Value = 0x10) {
    std::vector<UINT8> Out(kRom + 4096, 0);
    for (UINT32 Index = 0; Index < kRom; Index++) Out[Index] = UINT8(Value + Index / kBlock);
    std::fill(Out.begin(), Out.begin() + kBlock, 0xFF);
    return Out;
  }
  bool Shown(const std::string &Text) { return Console().find(Text) != std::string::npos; }
  std::vector<UINT32> Writes() {
    std::vector<UINT32> Out;
    for (const auto &Record : M().SmiTranscript()) {
      if (((Record.In.Eax >> 8) & 0xFF) == 0x15) Out.push_back(Record.In.Edi);
    }
    return Out;
  }
  static std::string Outcomes() {
    std::string Out;
    for (UINT32 Index = 0; Index < mBlockStatus.Count; Index++) Out += char(mBlockStatus.Entries[Index].Outcome);
    return Out;
  }
  bool FlashEquals(const std::vector<UINT8> &Expected) {
    const std::vector<uint8_t> &Flash = M().FlashContents();
    return std::equal(Flash.begin(), Flash.end(), Expected.begin());
  }
};

TEST_F(BlockFlashTest, CompareAndVerifyDecideWhatReachesTheBios) {
  const struct {
    const char *Name;
    UINT8 DisableCompare, Switch, DisableVerify;
    const char *Outcomes;
    UINT32 Reads;  // 14h calls: compare and verify reads
  } Cases[] = {
      {"compare and verify", 0, 1, 0, "SVVV", 7}, {"DisableCompare", 1, 1, 0, "VVVV", 4},
      {"BIOS switch off", 0, 0, 0, "VVVV", 4},    {"no verify", 0, 1, 1, "SWWW", 4},
      {"neither", 1, 1, 1, "WWWW", 0},            {"-dc", 0, 1, 0, "VVVV", 4},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartPart();
    if (Case.Name[0] == '-') {
      ASSERT_TRUE(ProcessArgument(u"-dc"));
    }
    mIniSettings.Others.DisableCompare = Case.DisableCompare;
    mIniSettings.Others.DisableVerify = Case.DisableVerify;
    mPlatformQuery.Switches.CompareBeforeWrite = Case.Switch;
    EXPECT_EQ(Case.Outcomes[0] == 'S', IsBlockCompareOn() != 0);
    const std::vector<UINT8> New = Image();
    ASSERT_TRUE(UpdateProcEntire(New.data()));
    EXPECT_TRUE(FlashEquals(New));
    EXPECT_EQ(Case.Outcomes, Outcomes());
    EXPECT_EQ(Case.Reads, CallsOf(0x14));
    EXPECT_TRUE(Shown("\r\n                           Start BIOS Update\r\n"));
  }
}

TEST_F(BlockFlashTest, VerifyRetries) {
  // A BIOS that answers success twice without writing anything; -vrt: wins over VerifyErrorRetry.
  const struct {
    UINT32 Retry;
    const char16_t *Option;
    UINT32 Attempts, Calls;
    bool Ok;
  } Cases[] = {{3, nullptr, 3, 3, true}, {2, nullptr, 2, 2, false},    {0, nullptr, 1, 1, false},
               {1, nullptr, 1, 1, false}, {2, u"-vrt:A", 10, 3, true}, {7, u"-vrt:0", 1, 1, false}};
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Retry);
    StartPart([](Profile &P) { P.BiosFaults = {{0x15, 0, 1, 2}}; });
    mIniSettings.Others.VerifyErrorRetry = Case.Retry;
    if (Case.Option) {
      ASSERT_TRUE(ProcessArgument(Case.Option));
    }
    EXPECT_EQ(Case.Attempts, GetVerifyAttempts());
    std::vector<UINT8> Data(kBlock, 0x42);
    EXPECT_EQ(Case.Ok, SMI_WriteRom(kBase, kBlock, Data.data()) == TRUE);
    EXPECT_EQ(Case.Calls, CallsOf(0x15));
    EXPECT_EQ(Case.Ok ? u'V' : BLOCK_OUTCOME_NONE, GetLastWriteOutcome());
    EXPECT_TRUE(Logged("Verify failed (0)\r\n"));
    EXPECT_EQ(Case.Ok, M().FlashContents()[0] == 0x42);
    EXPECT_EQ(!Case.Ok, Logged("<=== SMI_WriteRom (Verify failed)\r\n"));
  }
}

TEST_F(BlockFlashTest, BvdtBlocksAreWrittenLast) {
  // The BVDT region starts at the last byte of block 0: blocks 0 and 1 wait.
  StartPart([](Profile &P) { P.Flash.WholeMap = {{0x0A, kBase + kBlock - 1, 0x20, 0}}; });
  std::vector<uint8_t> &Flash = M().FlashContents();
  std::memcpy(Flash.data() + kBlock + 4, "$BVDT", 5);
  std::vector<UINT8> New = Image();
  New[0] = 0x00;  // block 0 differs too
  ASSERT_TRUE(UpdateProcEntire(New.data()));
  EXPECT_EQ((std::vector<UINT32>{kBase + 2 * kBlock, kBase + 3 * kBlock, kBase, kBase + kBlock}), Writes());
  EXPECT_EQ("XXVV", Outcomes());
  EXPECT_TRUE(Logged(" BVDT found in block Address = 0xFFFCFFFF Size = 0x20\r\n"));
  EXPECT_TRUE(Logged("Write BVDT block 0xFFFD0000 size 0x10000\r\n"));
  EXPECT_TRUE(FlashEquals(New));
}

TEST_F(BlockFlashTest, FindBvdtBlockTakesTheFirstRegionHoldingTheSignature) {
  StartPart([](Profile &P) {
    P.Flash.WholeMap = {{0x0A, kBase, 0x100, 0}, {0x01, kBase + kBlock, 0x100, 0}, {0x0A, kBase + 2 * kBlock, 0x100, 0},
                        {0x0A, kBase + 3 * kBlock, 0x100, 0}};
  });
  std::vector<uint8_t> &Flash = M().FlashContents();
  std::memcpy(Flash.data() + kBlock, "$BVDT", 5);  // not a BVDT region
  std::memcpy(Flash.data() + 2 * kBlock + 0xFB, "$BVDT", 5);  // ends on the region's last byte
  std::memcpy(Flash.data() + 3 * kBlock, "$BVDT", 5);
  UINT32 Address = 0, Size = 0;
  ASSERT_TRUE(FindBvdtBlock(&Address, &Size));
  EXPECT_EQ(kBase + 2 * kBlock, Address);
  EXPECT_EQ(0x100u, Size);
}

TEST_F(BlockFlashTest, ProtectedBlocksAndASingleBlockPart) {
  StartPart([](Profile &P) {
    P.Flash.Size = kBlock;
    P.Flash.BlockMap = {{kBlock, 1}};
  });
  std::vector<UINT8> New(kBlock + 4096, 0x77);
  ASSERT_TRUE(UpdateProcEntire(New.data()));
  EXPECT_EQ("V", Outcomes());
  ProtectAllBlocks();
  ASSERT_TRUE(UpdateProcEntire(New.data()));
  EXPECT_EQ("V.", Outcomes());
  EXPECT_EQ(1u, CallsOf(0x15));
}

TEST_F(BlockFlashTest, RegionSelectionFromRegionKeysAndOptions) {
  const struct {
    UINT8 Bios, GbE, Me, Desc, Pdr, Ec;
    std::vector<const char16_t *> Options;
    bool OemMe;
    UINT8 Selection;
  } Cases[] = {
      {0, 0, 0, 0, 0, 0, {}, false, 0x00},
      {1, 0, 1, 0, 1, 0, {}, false, REGION_SELECT_BIOS | REGION_SELECT_ME | REGION_SELECT_PLATFORM_DATA},
      {0, 1, 0, 1, 0, 1, {}, false, REGION_SELECT_GBE | REGION_SELECT_DESCRIPTOR | REGION_SELECT_EC},
      {2, 2, 2, 2, 2, 2, {}, false, 0x00},  // only 1 selects
      {0, 0, 0, 0, 0, 0, {u"-bios", u"-me", u"-pdr"}, false, 0x15},
      {0, 0, 0, 0, 0, 0, {u"-gbe", u"-desc", u"-ec"}, false, 0x2A},
      {1, 1, 1, 1, 1, 1, {}, true, 0x3F & ~REGION_SELECT_ME},  // the OEM ME update writes the ME region itself
  };
  for (const auto &Case : Cases) {
    StartPart();
    mIniSettings.Region = {Case.Bios, Case.GbE, Case.Me, Case.Desc, Case.Pdr, Case.Ec};
    for (const char16_t *Word : Case.Options) ASSERT_TRUE(ProcessArgument(Word));
    mIniSettings.UpdateOEMME.MEFileName[0] = Case.OemMe ? 'm' : 0;
    EXPECT_EQ(Case.Selection, BuildRegionSelection()) << int(Case.Selection);
    EXPECT_EQ(Case.Selection, GetRegionSelection());
  }
  EXPECT_TRUE(Logged(" [Region] Setting (0x3B)\r\n          BIOS: 1\r\n           GbE: 1\r\n            ME: 0\r\n"
                     "            EC: 1\r\n    Descriptor: 1\r\n Platform Data: 1\r\n"));
}

using vyr::emu::ExternalRegionConfig;

// The same part cut into regions: descriptor in block 0, ME in block 1, BIOS
// in blocks 2 and 3.
class RegionFlashTest : public BlockFlashTest {
 protected:
  void StartRegions(const std::vector<ExternalRegionConfig> &Extra = {}, const Edit &Change = nullptr) {
    StartPart([&](Profile &P) {
      P.Flash.ExternalRegions = {{0x00, 0, kBlock, 0}, {0x02, kBlock, kBlock, 0}, {0x01, 2 * kBlock, 2 * kBlock, 0}};
      P.Flash.ExternalRegions.insert(P.Flash.ExternalRegions.end(), Extra.begin(), Extra.end());
      if (Change) Change(P);
    });
    mIniSettings.UpdateEC.Ignore_21h = 1;  // the part size is the EC image's own
    if (mEcUpdate.ImageBuffer == nullptr) mEcUpdate.ImageBuffer = (UINT8 *)AllocateZeroPool(EC_IMAGE_BUFFER_SIZE);
    Old_ = M().FlashContents();
  }
  // The 1Ah notifications the BIOS received, oldest first.
  std::vector<std::pair<int, int>> Notifications() {
    std::vector<std::pair<int, int>> All;
    EMU_CHECKS_NOTIFICATION N;
    for (UINT32 I = 0; EmuChecksRecentNotification(&M().Bios().Checks, I, &N); I++) {
      All.insert(All.begin(), {N.Action, N.Status});
    }
    return All;
  }
  // The flash holds Piece at Offset and the old contents everywhere else.
  bool FlashHolds(UINT32 Offset, const std::vector<UINT8> &Piece) {
    std::vector<UINT8> Expected = Old_;
    std::copy(Piece.begin(), Piece.end(), Expected.begin() + Offset);
    return M().FlashContents() == Expected;
  }
  static std::vector<UINT8> Pattern(UINT32 Size, UINT8 Seed) {
    std::vector<UINT8> Out(Size);
    for (UINT32 I = 0; I < Size; I++) Out[I] = UINT8(Seed + I * 7 + (I >> 12));
    return Out;
  }
  std::vector<UINT8> Old_;
};

// A region image goes to its region only; one whose size does not match the
// region writes nothing.
TEST_F(RegionFlashTest, RegionImagesGoToTheirRegionOrNowhere) {
  const struct {
    const char *Name;
    UINT8 Selection;
    UINT32 Size, Offset;
    bool Ignition;
    const char *Trace;  // on success; the console warning otherwise
  } Cases[] = {
      {"BIOS", REGION_SELECT_BIOS, 2 * kBlock, 2 * kBlock, false, " BIOS Region: Offset (0x20000) Size (0x20000)\r\n"},
      {"Descriptor", REGION_SELECT_DESCRIPTOR, kBlock, 0, false, " Desc Region: Offset (0x0) Size (0x10000)\r\n"},
      {"ME", REGION_SELECT_ME, kBlock, kBlock, false, " ME Region: Offset (0x10000) Size (0x10000)\r\n"},
      {"ME smaller than its region", REGION_SELECT_ME, kBlock / 2, kBlock, false, "region size |match| ME\r\n"},
      {"ME with Ignition ME", REGION_SELECT_ME, kBlock, kBlock, true, "region size |match| ME\r\n"},
      {"BIOS and ME, ME-sized image", REGION_SELECT_BIOS | REGION_SELECT_ME, kBlock, 0, false,
       "Warning:\r\nNew BIOS region (00010000h) does not match with current (00020000h)\r\n\r\n"},
      {"BIOS and ME, BIOS-sized image", REGION_SELECT_BIOS | REGION_SELECT_ME, 2 * kBlock, 0, false,
       "Warning:\r\nNew ME region (00020000h) does not match with current (00010000h)\r\n\r\n"},
      {"ME smaller, Ignition ME present", REGION_SELECT_ME, kBlock / 2, 0, true,
       "Warning:\r\nNew ME region (00008000h) does not match with current (00010000h)\r\n\r\n"},
      {"Descriptor one byte long", REGION_SELECT_DESCRIPTOR, kBlock + 1, 0, false,
       "Warning:\r\nNew Descriptor region (00010001h) does not match with current (00010000h)\r\n\r\n"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartRegions(Case.Ignition ? std::vector<ExternalRegionConfig>{{0x20, kBlock, kBlock, 0}}
                               : std::vector<ExternalRegionConfig>{});
    SetRegionSelection(Case.Selection);
    const std::vector<UINT8> File = Pattern(Case.Size, 0x21);
    const bool Fits = std::string(Case.Trace).rfind("Warning", 0) != 0;
    EXPECT_EQ(Fits, FuncUpdate_via15h(File.data(), UINT32(File.size())) == TRUE);
    if (!Fits) {
      EXPECT_TRUE(Shown(Case.Trace)) << Console();
      EXPECT_TRUE(Logged("<=== FuncUpdate_via15h (FuncSize_region failed)\r\n"));
      EXPECT_EQ(0u, CallsOf(0x15));
      EXPECT_EQ(Old_, M().FlashContents());
      continue;
    }
    EXPECT_TRUE(Logged(Case.Trace));
    // Only the region's blocks were open; the rest of the region keeps the flash's own bytes.
    UINT32 RegionSize = Case.Selection == REGION_SELECT_BIOS ? 2 * kBlock : kBlock;
    std::vector<UINT8> Region(Old_.begin() + Case.Offset, Old_.begin() + Case.Offset + RegionSize);
    std::copy(File.begin(), File.end(), Region.begin());
    EXPECT_TRUE(FlashHolds(Case.Offset, Region));
    EXPECT_EQ(COMPLETE_STATUS_FLASH_ENTIRE, mCompletion.Status);
  }
}

// The EC part is kept for the EC update; the rest goes to the ROM or, for a
// region image, to the BIOS region's offset. Without an EC option the same
// file is a size mismatch (a scenario).
TEST_F(RegionFlashTest, EcImageInFrontIsTakenOff) {
  const struct {
    const char16_t *Option;
    UINT8 Selection;  // 0: whole ROM
    UINT32 EcSize, BiosSize, At;
    const char *Trace;
  } Cases[] = {
      {u"-ecb", 0, 0x20000, kRom, 0, " entire Legacy\r\n-----+------\r\n  13h  0x40000\r\n   FD  0x60000\r\n   EC  128K"},
      {u"-ecbp", REGION_SELECT_BIOS, 0x10000, 2 * kBlock, 2 * kBlock,
       " BIOS region (FWSMI) = 0x20000\r\n Input image size    = 0x30000\r\n EC size             = 64K\r\n"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(int(Case.Selection));
    StartRegions();
    ASSERT_TRUE(ProcessArgument(Case.Option));
    if (Case.Selection != 0) SetRegionSelection(Case.Selection);
    const std::vector<UINT8> Ec = Pattern(Case.EcSize, 0xEC), Bios = Pattern(Case.BiosSize, 0x77);
    std::vector<UINT8> File = Ec;
    File.insert(File.end(), Bios.begin(), Bios.end());
    ASSERT_TRUE(FuncUpdate_via15h(File.data(), UINT32(File.size())));
    EXPECT_TRUE(Logged(Case.Trace));
    EXPECT_TRUE(FlashHolds(Case.At, Bios));
    ASSERT_EQ(Case.EcSize, GetEcImageSize());
    EXPECT_EQ(0, std::memcmp(GetEcImageBuffer(), Ec.data(), Ec.size()));
  }
}

TEST_F(RegionFlashTest, ShellPathWaivesTheModelCheckAndNeedsTheOemMeUpdate) {
  StartRegions();
  const std::vector<UINT8> Bios = Image(0x40);
  mIniSettings.Platform_Check.Flag = 1;
  ASSERT_TRUE(FuncUpdate_via15h(Bios.data(), kRom));
  EXPECT_FALSE(Logged("===> SMI_SkipModelCheckVerify"));
  using Sent = std::vector<std::pair<int, int>>;
  EXPECT_EQ(Sent({{2, 1}}), Notifications());

  StartRegions();
  mIniSettings.Platform_Check.Flag = 0;
  ASSERT_TRUE(FuncUpdate_via15h(Bios.data(), kRom));
  EXPECT_TRUE(Logged("===> SMI_SkipModelCheckVerify"));
  EXPECT_EQ(1u, CallsOf(0x1B));

  StartRegions();
  mIniSettings.UpdateOEMME.MEFileName[0] = 'm';
  EXPECT_FALSE(FuncUpdate_via15h(Bios.data(), kRom));
  EXPECT_TRUE(Logged("<=== UpdateOemMe (OEM ME update not built)\r\n"));
  EXPECT_TRUE(Logged("<=== FuncUpdate_via15h (Update OEM ME failed)\r\n"));
  EXPECT_EQ(0u, CallsOf(0x15));
}

TEST_F(RegionFlashTest, FirmwarePathLeavesALockedMeAlone) {
  using Sent = std::vector<std::pair<int, int>>;
  for (bool Locked : {true, false}) {
    SCOPED_TRACE(Locked);
    StartRegions({}, [&](Profile &P) {
      if (Locked) P.Flash.LockedRanges = {{kBase + kBlock + 0x800, 0x10}};
    });
    SetRegionSelection(REGION_SELECT_BIOS | REGION_SELECT_ME);
    mIniSettings.Others.DisableCompare = 1;  // every open block reaches 15h
    const std::vector<UINT8> New = Image(0x50);
    ASSERT_TRUE(EfiUpdate_via15h(New.data(), kRom));
    EXPECT_TRUE(Logged(" Verify status (ME) 0xFFFD0000\r\n"));
    EXPECT_EQ(Locked, IsMeSkipped());
    EXPECT_EQ(Locked, Shown("\r                           *** Warning ***\r\n                           ME locked, "
                            "skip update region ME\r\n"));
    std::vector<UINT32> Expected = {kBase + 2 * kBlock, kBase + 3 * kBlock};
    if (!Locked) Expected.insert(Expected.begin(), kBase + kBlock);
    EXPECT_EQ(Expected, Writes());
    EXPECT_EQ(Locked ? "..VV" : ".VVV", Outcomes());
    EXPECT_EQ(Sent({{1, 0}, {2, 1}}), Notifications());
    EXPECT_FALSE(Logged("SMI_SkipModelCheckVerify"));
    EXPECT_EQ(COMPLETE_STATUS_FLASH_ENTIRE, mCompletion.Status);
  }
  // A region-only image is not probed.
  StartRegions({}, [](Profile &P) { P.Flash.LockedRanges = {{kBase + kBlock, 0x10}}; });
  SetRegionSelection(REGION_SELECT_ME);
  const std::vector<UINT8> Me = Pattern(kBlock, 1);
  EfiUpdate_via15h(Me.data(), kBlock);
  EXPECT_FALSE(Logged(" Verify status (ME)"));
  EXPECT_FALSE(IsMeSkipped());
}

// The whole EC region is a scenario (FirmwareRunWithoutBiosUpdatesTheEcRegion);
// here an image that ends inside a block.
TEST_F(RegionFlashTest, ExternalEcRegion) {
  // EC in blocks 2 and 3 of a part without BIOS region.
  StartPart([](Profile &P) { P.Flash.ExternalRegions = {{0x05, 2 * kBlock, 2 * kBlock, 0}}; });
  Old_ = M().FlashContents();
  SetRegionSelection(REGION_SELECT_BIOS);
  const std::vector<UINT8> Short = Pattern(kBlock + 0x8000, 0x0E);
  ASSERT_TRUE(UpdateExternalEc(Short.data(), UINT32(Short.size()), TRUE));
  EXPECT_EQ(REGION_SELECT_EC, GetRegionSelection());
  EXPECT_TRUE(FlashHolds(2 * kBlock, Short));  // the flash keeps its bytes after the image
  EXPECT_EQ((std::vector<UINT32>{kBase + 2 * kBlock, kBase + 3 * kBlock}), Writes());
  EXPECT_TRUE(Shown("\r\n                           Start EC Update\r\n\r                           Updating EC  "));
  EXPECT_TRUE(Shown("\r                           Updating EC 100%\r                           Update EC completed.\r\n"
                    "\r\n"));
  EXPECT_EQ(COMPLETE_STATUS_FLASH_PARTIAL, mCompletion.Status);
  // A failed block: the failure message and the key wait.
  StartPart([](Profile &P) {
    P.Flash.ExternalRegions = {{0x05, 2 * kBlock, 2 * kBlock, 0}};
    P.Keys = {"a"};
    P.BiosFaults = {{0x15, 0x25, 1, 0}};
  });
  const std::vector<UINT8> Ec = Pattern(2 * kBlock, 0x0E);
  EXPECT_FALSE(UpdateExternalEc(Ec.data(), UINT32(Ec.size()), TRUE));
  EXPECT_TRUE(Shown("\r                           Update EC failed!\r\nPress any key to continue...\r\n"));
  EXPECT_TRUE(Logged("<=== UpdateExternalEc (Update filed)\r\n"));
}

TEST_F(RegionFlashTest, BiosRegionOnlyImage) {
  // The new image's map is the current one (no descriptor in these images): BIOS 0x20000.
  const struct { const char *Name; std::vector<UINT8> Image; bool Result; const char *Reason; } Cases[] = {
      {"BIOS-region sized", std::vector<UINT8>(2 * kBlock, 0x11), true, nullptr},
      {"ROM sized", std::vector<UINT8>(kRom, 0x11), false, "Image size = ROM size"},
      {"other size", std::vector<UINT8>(kBlock, 0x11), false, "Size not match"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartRegions();
    EXPECT_EQ(Case.Result, IsBiosRegionOnlyImg(Case.Image.data(), UINT32(Case.Image.size())) == TRUE);
    if (Case.Reason) {
      EXPECT_TRUE(Logged(std::string("<=== IsBiosRegionOnlyImg (") + Case.Reason + ")\r\n"));
    }
  }
  // A package record names the BIOS size, whatever the file's size.
  auto Record = [](UINT32 DataSize) {
    std::vector<UINT8> Out(kBlock, 0);
    std::memcpy(Out.data() + 0x100, "$_NORVEL_BIOSIMG", 16);
    WriteUnaligned32(Out.data() + 0x100 + 20, DataSize);
    return Out;
  };
  StartRegions();
  EXPECT_TRUE(IsBiosRegionOnlyImg(Record(2 * kBlock).data(), kBlock));
  EXPECT_FALSE(IsBiosRegionOnlyImg(Record(kRom).data(), kBlock));
  // PFAT: ROM block size x block count.
  std::vector<UINT8> Pfat(kBlock, 0);
  std::memcpy(Pfat.data() + 0x200, "$PFATHDR", 8);
  WriteUnaligned32(Pfat.data() + 0x200 + 12, 2);
  WriteUnaligned32(Pfat.data() + 0x200 + 20, kBlock);
  EXPECT_TRUE(IsBiosRegionOnlyImg(Pfat.data(), UINT32(Pfat.size())));
  // A 17h failure.
  StartRegions({}, [](Profile &P) { P.BiosFaults = {{0x17, 0x25}}; });
  EXPECT_FALSE(IsBiosRegionOnlyImg(Pfat.data(), UINT32(Pfat.size())));
  EXPECT_TRUE(Logged("<=== IsBiosRegionOnlyImg (FWSMI 17 faild)\r\n"));
}

constexpr UINT32 kUnit = 0x1000;

// -e on a part of 4 KiB blocks.
class CommandETest : public RegionFlashTest {
 protected:
  void StartE() {
    StartPart([](Profile &P) { P.Flash.BlockMap = {{kUnit, kRom / kUnit}}; });
    Old_ = M().FlashContents();
  }
  static std::vector<UINT8> File(UINT32 Size) { return Pattern(Size, 1); }
};

TEST_F(CommandETest, ParsesThreeFields) {
  const struct { const char16_t *Text; bool Given; UINT32 Offset, Size, Address; } Cases[] = {
      {u"10,200,FFF00000", true, 0x10, 0x200, 0xFFF00000},
      {u" 0x10,  0X2000 ,0xfffc0000", true, 0x10, 0, 0xFFFC0000},  // a blank after a number spoils it
      {u"8,,FFFC1000", true, 8, 0, 0xFFFC1000},
      {u",,", true, 0, 0, 0},
      {u"10,200", false, 0, 0, 0},
      {u"", false, 0, 0, 0},
  };
  StartE();
  for (const auto &Case : Cases) {
    EXPECT_EQ(Case.Given, ParseCommand_e(Case.Text) == TRUE);
    const auto &E = mBlockFlash.CommandE;
    EXPECT_EQ(std::make_tuple(Case.Given ? 1 : 0, Case.Offset, Case.Size, Case.Address),
              std::make_tuple(int(E.Given), UINT32(E.Offset), UINT32(E.Size), UINT32(E.Address)));
  }
  EXPECT_TRUE(Logged("Command -e invalid 10,200\r\n"));
  EXPECT_TRUE(Logged(" command -e\r\n--------+-----------\r\n Offset  10\r\n   Size  200\r\n   Addr  FFF00000\r\n"));
}

TEST_F(CommandETest, Refusals) {
  const struct { const char16_t *Text; UINT32 FileSize; const char *Shown; } Cases[] = {
      {u"0,0,0", 0x10000, "Error: Bad argument. Update Address is 0.\r\n"},
      {u"0,0,FFFBFFFF", 0x10000, "Error: Bad argument. Update Address must higher than 0xfffc0000.\r\n"},
      {u"10001,0,FFFC0000", 0x10000, "Error: File offest 0x10001 is bigger than file size 0x10000.\r\n"},
      {u"8000,8001,FFFC0000", 0x10000, "Error: File offest + size 0x10001 is bigger than file size 0x10000.\r\n"},
      {u"0,1000,FFFC0000", 0x10800, "Error: File size msut be sector size alignment.\r\n"},
      {u"0,20000,FFFF0000", 0x20000, nullptr},  // would run past 4 GiB
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(std::string(Case.Shown ? Case.Shown : "past 4 GiB"));
    StartE();
    ASSERT_TRUE(ParseCommand_e(Case.Text));
    EXPECT_FALSE(IsValidCommand_e(Case.FileSize));
    if (Case.Shown) {
      EXPECT_EQ(Case.Shown, Console());
    }
    EXPECT_TRUE(Logged("IsValidCommand_e() |fail|\r\n"));
  }
  StartE();
  EXPECT_FALSE(IsValidCommand_e(0x10000));  // never parsed
}

TEST_F(CommandETest, WritesThePieceWithProgressAndTheCompletionAction) {
  const std::string Progress = "\r         0....10....20....30....40....50....60....70....80....90....100\r\n";
  const struct {
    const char *Name;
    const char16_t *Text, *Option;
    UINT32 Offset, Size, Address;  // of the file piece written
    UINT8 Action;
    std::string Console;  // "": the progress line only
  } Cases[] = {
      {"16 blocks", u"0,10000,FFFD0000", nullptr, 0, 0x10000, 0xFFFD0000, COMPLETE_ACTION_RETURN_TO_OS, ""},
      {"size 0: to the end of the file", u"8000,0,FFFD0000", nullptr, 0x8000, 0x8000, 0xFFFD0000,
       COMPLETE_ACTION_RETURN_TO_OS, ""},
      {"offset at the end of the file", u"10000,0,FFFD0000", nullptr, 0x10000, 0, 0xFFFD0000,
       COMPLETE_ACTION_RETURN_TO_OS, "\r         Command -e updating\r\n\r\n"},
      {"last block partial, at the file's end", u"E800,1800,FFFD0000", nullptr, 0xE800, 0x1800, 0xFFFD0000,
       COMPLETE_ACTION_RETURN_TO_OS, ""},
      {"-r, four blocks", u"0,4000,FFFC0000", u"-r", 0, 0x4000, 0xFFFC0000, COMPLETE_ACTION_REBOOT,
       "\r         Command -e updating\r\n\r         0....10....20..\r         0....10....20....30....40....50"
       "\r         0....10....20....30....40....50....60....70.." + Progress},
      {"-s", u"0,1000,FFFC0000", u"-s", 0, 0x1000, 0xFFFC0000, COMPLETE_ACTION_SHUTDOWN, ""},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartE();
    if (Case.Option) {
      ASSERT_TRUE(ProcessArgument(Case.Option));
    }
    // Exactly the file size: a read past it would be a read past the buffer.
    const std::vector<UINT8> Data = File(0x10000);
    ASSERT_TRUE(ParseCommand_e(Case.Text));
    ASSERT_TRUE(IsValidCommand_e(0x10000));
    EXPECT_EQ(Case.Size, mBlockFlash.CommandE.Size);
    ASSERT_TRUE(WriteCommand_e(Data.data(), 0x10000));
    std::vector<UINT32> Expected;
    for (UINT32 At = 0; At < Case.Size; At += kUnit) Expected.push_back(Case.Address + At);
    EXPECT_EQ(Expected, Writes());
    std::vector<UINT8> Flash = Old_;
    std::copy(Data.begin() + Case.Offset, Data.begin() + Case.Offset + Case.Size, Flash.begin() + (Case.Address - kBase));
    EXPECT_EQ(Flash, M().FlashContents());  // a partial last block keeps the flash's bytes after the piece
    EXPECT_TRUE(Shown("\r         Command -e updating\r\n"));
    if (Case.Console.empty()) {
      EXPECT_TRUE(Shown(Progress));
    } else {
      EXPECT_EQ(Case.Console, Console());
    }
    EXPECT_EQ(COMPLETE_STATUS_FLASH_PARTIAL, mCompletion.Status);
    EXPECT_EQ(Case.Action, mCompletion.Action);
  }
  EXPECT_TRUE(Logged(" Start Address 0xFFFC0000\r\n"));
  EXPECT_TRUE(Logged(" End Address 0xFFFC0FFF\r\n"));

  // A failed block fails the command and leaves the completion alone.
  StartPart([](Profile &P) {
    P.Flash.BlockMap = {{kUnit, kRom / kUnit}};
    P.BiosFaults = {{0x15, 0x25, 2, 0}};
  });
  const std::vector<UINT8> Data = File(0x10000);
  ASSERT_TRUE(ParseCommand_e(u"0,4000,FFFC0000"));
  ASSERT_TRUE(IsValidCommand_e(0x10000));
  EXPECT_FALSE(WriteCommand_e(Data.data(), 0x10000));
  EXPECT_EQ(2u, CallsOf(0x15));
  EXPECT_NE(COMPLETE_STATUS_FLASH_PARTIAL, mCompletion.Status);
}

}  // namespace

#include "Flash/BlockFlash.h"

#include <string>
#include <vector>

#include "Completion.h"
#include "Config/CommandLine.h"
#include "Console/BlockStatus.h"
#include "FlashFixture.h"
#include "Flash/ReadRom.h"
#include "Smi/PlatformQueries.h"

namespace {

using vyr::emu::BiosFaultConfig;
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
    BlockFlashResetState();
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
  static void Fault(Profile &P, UINT8 Status, UINT32 Call, UINT32 Count) {
    BiosFaultConfig F;
    F.Function = 0x15;
    F.Status = Status;
    F.Call = Call;
    F.Count = Count;
    P.BiosFaults.push_back(F);
  }
};

TEST_F(BlockFlashTest, WritesDifferingBlocksAndVerifiesThem) {
  StartPart();
  const std::vector<UINT8> New = Image();
  ASSERT_TRUE(UpdateProcEntire(New.data()));
  EXPECT_TRUE(FlashEquals(New));
  // Block 0 already holds the erased contents: compared, not written.
  EXPECT_EQ((std::vector<UINT32>{kBase + kBlock, kBase + 2 * kBlock, kBase + 3 * kBlock}), Writes());
  EXPECT_EQ("SVVV", Outcomes());
  EXPECT_TRUE(M().Bios().Flash.ContentsChanged);
  EXPECT_TRUE(Logged(" Write Address: FFFD0000  Size: 10000\r\n"));
  EXPECT_TRUE(Shown("\r\n                           Start BIOS Update\r\n"));
  EXPECT_TRUE(Shown("\r                           Update BIOS completed.\r\n"));
  // Written again: everything is the same, nothing goes to the BIOS.
  ASSERT_TRUE(UpdateProcEntire(New.data()));
  EXPECT_EQ(3u, CallsOf(0x15));
}

TEST_F(BlockFlashTest, CompareOffWritesEveryBlock) {
  const struct {
    const char *Name;
    UINT8 DisableCompare, Switch, DisableVerify;
    const char *Outcomes;
    UINT32 Reads;  // 14h calls: compare and verify reads
  } Cases[] = {
      {"compare and verify", 0, 1, 0, "SVVV", 7},
      {"DisableCompare", 1, 1, 0, "VVVV", 4},
      {"BIOS switch off", 0, 0, 0, "VVVV", 4},
      {"no verify", 0, 1, 1, "SWWW", 4},
      {"neither", 1, 1, 1, "WWWW", 0},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartPart();
    mIniSettings.Others.DisableCompare = Case.DisableCompare;
    mIniSettings.Others.DisableVerify = Case.DisableVerify;
    mPlatformQuery.Switches.CompareBeforeWrite = Case.Switch;
    const UINT32 ReadsBefore = CallsOf(0x14);
    const std::vector<UINT8> New = Image();
    ASSERT_TRUE(UpdateProcEntire(New.data()));
    EXPECT_TRUE(FlashEquals(New));
    EXPECT_EQ(Case.Outcomes, Outcomes());
    EXPECT_EQ(Case.Reads, CallsOf(0x14) - ReadsBefore);
  }
}

TEST_F(BlockFlashTest, SkippedAndLockedBlocksAreLeftAlone) {
  StartPart([](Profile &P) {
    P.Flash.SkipRanges = {{kBase + 2 * kBlock + 0x100, 0x10}};
    P.Flash.LockedRanges = {{kBase + 3 * kBlock, 0x10}};
  });
  const std::vector<UINT8> Old = M().FlashContents();
  const std::vector<UINT8> New = Image();
  ASSERT_TRUE(UpdateProcEntire(New.data()));
  // 0x29: written as far as the utility knows, not read back; locked: not written.
  EXPECT_EQ("SVWL", Outcomes());
  EXPECT_EQ((std::vector<UINT32>{kBase + kBlock, kBase + 2 * kBlock}), Writes());
  EXPECT_TRUE(Logged(" Skip this write block\r\n"));
  const std::vector<uint8_t> &Flash = M().FlashContents();
  EXPECT_TRUE(std::equal(Flash.begin() + 2 * kBlock, Flash.end(), Old.begin() + 2 * kBlock));

  // Without compare the locked block reaches 15h, whose refusal stops the update.
  mIniSettings.Others.DisableCompare = 1;
  EXPECT_FALSE(UpdateProcEntire(New.data()));
  EXPECT_EQ(kBase + 3 * kBlock, Writes().back());
  EXPECT_TRUE(Shown("Error: FWSMI 15h failed.\r\nInternal Error Code 0x2A.\r\n"));
  EXPECT_NE(std::string::npos, Console().find("\r\n                           Update BIOS failed!\r\n"));
}

TEST_F(BlockFlashTest, VerifyRetries) {
  // A BIOS that answers success twice without writing anything.
  const struct {
    UINT32 Retry;
    bool Ok;
    UINT32 Calls;
  } Cases[] = {{3, true, 3}, {2, false, 2}, {0, false, 1}, {1, false, 1}};
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Retry);
    StartPart([](Profile &P) { Fault(P, 0, 1, 2); });
    mIniSettings.Others.VerifyErrorRetry = Case.Retry;
    std::vector<UINT8> Data(kBlock, 0x42);
    EXPECT_EQ(Case.Ok, SMI_WriteRom(kBase, kBlock, Data.data()) == TRUE);
    EXPECT_EQ(Case.Calls, CallsOf(0x15));
    EXPECT_EQ(Case.Ok ? u'V' : BLOCK_OUTCOME_NONE, GetLastWriteOutcome());
    EXPECT_TRUE(Logged("Verify failed (0)\r\n"));
    EXPECT_EQ(Case.Ok, M().FlashContents()[0] == 0x42);
    if (!Case.Ok) {
      EXPECT_TRUE(Logged("<=== SMI_WriteRom (Verify failed)\r\n"));
    }
  }
}

TEST_F(BlockFlashTest, AFailedWriteStopsTheUpdateAtThatBlock) {
  StartPart([](Profile &P) { Fault(P, 0x25, 2, 0); });
  const std::vector<UINT8> New = Image();
  EXPECT_FALSE(UpdateProcEntire(New.data()));
  EXPECT_EQ((std::vector<UINT32>{kBase + kBlock, kBase + 2 * kBlock}), Writes());
  EXPECT_EQ(0xFF, M().FlashContents()[3 * kBlock]);  // never reached
  EXPECT_EQ(0x11, M().FlashContents()[kBlock]);
  EXPECT_TRUE(Shown("FBTS: Write bios failed.\r\n"));
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

TEST_F(BlockFlashTest, RegionSelectionFromRegionKeys) {
  StartPart();
  const struct {
    UINT8 Bios, GbE, Me, Desc, Pdr, Ec;
    UINT8 Selection;
  } Cases[] = {
      {0, 0, 0, 0, 0, 0, 0x00}, {1, 0, 0, 0, 0, 0, 0x01}, {0, 1, 0, 0, 0, 0, 0x02}, {0, 0, 1, 0, 0, 0, 0x04},
      {0, 0, 0, 1, 0, 0, 0x08}, {0, 0, 0, 0, 1, 0, 0x10}, {0, 0, 0, 0, 0, 1, 0x20}, {1, 1, 1, 1, 1, 1, 0x3F},
      {2, 0, 0, 0, 0, 0, 0x00},
  };
  for (const auto &Case : Cases) {
    mIniSettings.Region.BIOS = Case.Bios;
    mIniSettings.Region.GbE = Case.GbE;
    mIniSettings.Region.ME = Case.Me;
    mIniSettings.Region.DESC = Case.Desc;
    mIniSettings.Region.Platform_Data = Case.Pdr;
    mIniSettings.Region.EC = Case.Ec;
    EXPECT_EQ(Case.Selection, BuildRegionSelection());
    EXPECT_EQ(Case.Selection, GetRegionSelection());
  }
  EXPECT_TRUE(Logged(" [Region] Setting (0x3F)\r\n          BIOS: 1\r\n           GbE: 1\r\n            ME: 1\r\n"
                     "            EC: 1\r\n    Descriptor: 1\r\n Platform Data: 1\r\n"));
  mIniSettings.UpdateOEMME.MEFileName[0] = 'm';
  mIniSettings.Region.BIOS = 1;
  mIniSettings.Region.ME = 1;
  EXPECT_EQ(REGION_SELECT_BIOS, BuildRegionSelection());
}

TEST_F(BlockFlashTest, OptionsOverrideTheSettings) {
  StartPart();
  CommandLineResetState();
  mIniSettings.Others.VerifyErrorRetry = 7;
  EXPECT_EQ(7u, GetVerifyAttempts());
  EXPECT_TRUE(IsBlockCompareOn());
  ASSERT_TRUE(ProcessArgument(u"-vrt:A"));
  ASSERT_TRUE(ProcessArgument(u"-dc"));
  EXPECT_EQ(10u, GetVerifyAttempts());
  EXPECT_FALSE(IsBlockCompareOn());
  // -dc with verify on: every block written and read back.
  const std::vector<UINT8> New = Image();
  ASSERT_TRUE(UpdateProcEntire(New.data()));
  EXPECT_EQ("VVVV", Outcomes());
  ASSERT_TRUE(ProcessArgument(u"-vrt:0"));
  EXPECT_EQ(1u, GetVerifyAttempts());

  ASSERT_TRUE(ProcessArgument(u"-bios"));
  ASSERT_TRUE(ProcessArgument(u"-me"));
  ASSERT_TRUE(ProcessArgument(u"-pdr"));
  EXPECT_EQ(REGION_SELECT_BIOS | REGION_SELECT_ME | REGION_SELECT_PLATFORM_DATA, BuildRegionSelection());
  ASSERT_TRUE(ProcessArgument(u"-gbe"));
  ASSERT_TRUE(ProcessArgument(u"-desc"));
  ASSERT_TRUE(ProcessArgument(u"-ec"));
  EXPECT_EQ(0x3F, BuildRegionSelection());
  CommandLineResetState();
}

TEST_F(BlockFlashTest, FuncUpdateDropsAnEcImageInFront) {
  StartPart();
  std::vector<UINT8> File(0x20000, 0xEC);
  const std::vector<UINT8> Bios = Image(0x30);
  File.insert(File.end(), Bios.begin(), Bios.begin() + kRom);
  ASSERT_TRUE(FuncUpdate_via15h(File.data(), UINT32(File.size())));
  EXPECT_TRUE(FlashEquals(Bios));
  EXPECT_TRUE(Logged(" entire Legacy\r\n-----+------\r\n  13h  0x40000\r\n   FD  0x60000\r\n   EC  128K"));
  EXPECT_EQ(COMPLETE_STATUS_FLASH_ENTIRE, mCompletion.Status);
}

TEST_F(BlockFlashTest, FuncUpdateRefusesAShortImageWithoutRegion) {
  StartPart();
  std::vector<UINT8> File(kRom - 1, 0x12);
  EXPECT_FALSE(FuncUpdate_via15h(File.data(), UINT32(File.size())));
  EXPECT_NE(std::string::npos,
            Console().find("Error: Size not match!\r\n ROM Size = 0x40000\r\n File Size = 0x3FFFF\r\n"));
  EXPECT_EQ(0u, CallsOf(0x15));
}

}  // namespace

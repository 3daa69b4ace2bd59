// The power cut of a machine profile met by the utility's block writer: the
// flash keeps exactly the blocks written before the cut, and the machine's
// record of the 15h calls ends there.
#include <vector>

#include "Config/IniSettings.h"
#include "FlashFixture.h"
#include "Flash/BlockFlash.h"
#include "Flash/RomMap.h"
#include "Smi/PlatformQueries.h"

namespace {

using vyr::emu::Profile;
using vyr::testing::FlashTest;

constexpr UINT32 kRom = 0x40000;
constexpr UINT32 kBase = 0xFFFC0000;
constexpr UINT32 kBlock = 0x10000;

class PowerCutTest : public FlashTest {};

TEST_F(PowerCutTest, TheUpdateStopsHalfWayAndTheFlashKeepsWhatWasWritten) {
  for (UINT8 DisableVerify : {UINT8(0), UINT8(1)}) {
    SCOPED_TRACE(int(DisableVerify));
    StartWithMaps([](Profile &P) {
      P.Flash.Size = kRom;
      P.Flash.BlockMap = {{kBlock, 4}};
      P.Flash.WholeMap.clear();
      P.Flash.ProtectMap.clear();
      P.Flash.PrivateMap.clear();
      P.PowerCutAfterWrites = 2;
    });
    BlockFlashResetState();
    UnprotectAllBlocks();
    mPlatformQuery.Switches.CompareBeforeWrite = 1;
    mIniSettings.Others.DisableVerify = DisableVerify;
    std::vector<UINT8> New(kRom + 4096, 0);
    for (UINT32 Index = 0; Index < kRom; Index++) New[Index] = UINT8(0x10 + Index / kBlock);

    EXPECT_FALSE(UpdateProcEntire(New.data()));
    ASSERT_TRUE(M().PoweredOff());
    const std::vector<uint8_t> &Flash = M().FlashContents();
    EXPECT_EQ(0x10, Flash[0]);
    EXPECT_EQ(0x11, Flash[2 * kBlock - 1]);
    EXPECT_EQ(0xFF, Flash[2 * kBlock]);  // the third block never came
    EXPECT_EQ(0xFF, Flash[kRom - 1]);
    const auto &Blocks = M().BlockWrites();
    ASSERT_EQ(2u, Blocks.size());
    EXPECT_EQ(kBase, Blocks[0].Address);
    EXPECT_EQ(kBase + kBlock, Blocks[1].Address);
    EXPECT_STREQ("written", vyr::emu::BlockWriteOutcome(Blocks[1].Status));
    EXPECT_EQ(kBase + kBlock, M().Bios().Flash.PowerCutAddress);
    EXPECT_GT(M().Bios().PoweredOffCalls, 0u);
  }
}

}  // namespace

#include "Flash/ReadRom.h"

#include <cstring>

#include "FlashFixture.h"
#include "Flash/RomAccess.h"

namespace {

using vyr::emu::Profile;
using vyr::testing::FlashTest;

class ReadRomTest : public FlashTest {
 protected:
  // Flash byte at Address as the machine holds it.
  std::string FlashBytes(UINT32 Address, UINT32 Size) {
    const std::vector<uint8_t> &Flash = M().FlashContents();
    const size_t Offset = Address - M().FlashBase();
    return std::string(Flash.begin() + Offset, Flash.begin() + Offset + Size);
  }
  void Pattern() {
    std::vector<uint8_t> &Flash = M().FlashContents();
    for (size_t Index = 0; Index < Flash.size(); Index++) Flash[Index] = uint8_t(Index * 7 + (Index >> 12));
  }
  std::vector<UINT32> ReadCounts() {
    std::vector<UINT32> Counts;
    for (const auto &Record : M().SmiTranscript()) {
      if (((Record.In.Eax >> 8) & 0xFF) == 0x14) Counts.push_back(Record.In.Ecx);
    }
    return Counts;
  }
};

// A 128 KiB part in two 64 KiB blocks whose second half of block 1 is locked.
const auto SmallPart = [](Profile &P) {
  P.Flash.Size = 0x20000;
  P.Flash.BlockMap = {{0x10000, 2}};
};

TEST_F(ReadRomTest, ReadsTheFlashAtItsAddress) {
  Start();
  Pattern();
  std::string Data(0x300, '\0');
  UINT8 Locked = 9;
  ASSERT_TRUE(SMI_ReadRom(0xFFA00100, 0x300, Data.data(), &Locked));
  EXPECT_EQ(FlashBytes(0xFFA00100, 0x300), Data);
  EXPECT_EQ(0, Locked);
  const SMI_REGISTERS &In = M().SmiTranscript().back().In;
  EXPECT_EQ(0x14EFu, In.Eax & 0xFFFF);
  EXPECT_EQ(0xFFA00100u, In.Edi);
  EXPECT_EQ(0x300u, In.Ecx);
  EXPECT_EQ(mFwsmi.Buffer[0].Address, In.Esi);
  EXPECT_TRUE(Logged(" Read Address: FFA00100  Size: 300\r\n"));
  // No destination: read and dropped.
  EXPECT_TRUE(SMI_ReadRom(0xFFA00000, 0x10, nullptr, nullptr));
  EXPECT_EQ(2u, CallsOf(0x14));
}

TEST_F(ReadRomTest, OnlyTheFirstLockedReadIsRetried) {
  Start([](Profile &P) { P.Flash.LockedRanges = {{0xFF801000, 0x1FF000}}; });
  mIniSettings.Others.SMIErrorRetry = 5;
  mIniSettings.Others.SMIErrorRetryDelay = 3;
  UINT8 Locked = 0;
  const uint64_t Stalls = M().Counters().Stalls;
  ASSERT_TRUE(SMI_ReadRom(0xFF810000, 0x1000, nullptr, &Locked));
  EXPECT_EQ(1, Locked);
  EXPECT_EQ(2u, CallsOf(0x14));
  EXPECT_EQ(Stalls + 3, M().Counters().Stalls);  // one retry delay
  EXPECT_EQ(1, IsMeLockedSeen());
  EXPECT_EQ(
      " Read failed because ME is locked.\r\n"
      " Recall try to unlock it. Error Code: 0x2A\r\n"
      " Read failed because ME is locked.\r\n"
      "<=== Fwsmi_14h\r\n",
      LogBlock(" Read failed because", "<=== Fwsmi_14h"));

  ASSERT_TRUE(SMI_ReadRom(0xFF820000, 0x1000, nullptr, &Locked));
  EXPECT_EQ(1, Locked);
  EXPECT_EQ(3u, CallsOf(0x14));
  EXPECT_EQ(Stalls + 3, M().Counters().Stalls);
  EXPECT_EQ("", Console());

  // Unlocked reads stay unlocked.
  ASSERT_TRUE(SMI_ReadRom(0xFFA00000, 0x1000, nullptr, &Locked));
  EXPECT_EQ(0, Locked);

  // A failed first attempt, then a locked one: failed, locked, locked again.
  Start([](Profile &P) {
    P.Flash.LockedRanges = {{0xFF800000, 0x1000}};
    P.BiosFaults = {{0x14, 0x24, 1, 1}};
  });
  mIniSettings.Others.SMIErrorRetry = 5;
  ASSERT_TRUE(SMI_ReadRom(0xFF800000, 0x100, nullptr, &Locked));
  EXPECT_EQ(1, Locked);
  EXPECT_EQ(3u, CallsOf(0x14));
}

TEST_F(ReadRomTest, OtherFailuresFollowTheRetryPolicy) {
  Start([](Profile &P) { P.BiosFaults = {{0x14, 0x24, 1, 0}}; });
  mIniSettings.Others.SMIErrorRetry = 2;
  EXPECT_FALSE(SMI_ReadRom(0xFFA00000, 0x100, nullptr, nullptr));
  EXPECT_EQ(3u, CallsOf(0x14));
  EXPECT_EQ("\r\n\r\nError: FWSMI 14h failed.\r\nInternal Error Code 0x24.\r\nFBTS: Read bios failed.\r\n", Console());
  EXPECT_TRUE(Logged(" Call FWSMI failed. Error Code: 0x24, Retry Count: 03\r\n"));
  EXPECT_TRUE(Logged("<=== Fwsmi_14h (BIOS return not success)\r\n<=== SMI_ReadRom (FWSMI 14h failed)\r\n"));
  EXPECT_EQ(0, IsMeLockedSeen());
  // A read outside the ROM is the BIOS's read failure too.
  Start();
  EXPECT_FALSE(SMI_ReadRom(0xFF7FF000, 0x2000, nullptr, nullptr));
  EXPECT_EQ("\r\n\r\nError: FWSMI 14h failed.\r\nInternal Error Code 0x24.\r\nFBTS: Read bios failed.\r\n", Console());
}

TEST_F(ReadRomTest, ChunkedReadsUseTheBlockUnit) {
  StartWithMaps([](Profile &P) { P.Flash.BlockMap = {{0x1000, 0x800}}; });
  Pattern();
  std::string Data(0x2800, '\0');
  UINT8 Locked = 9;
  ASSERT_TRUE(ReadRomChunked(0xFFA00000, 0x2800, GetBlockUnit(), Data.data(), &Locked));
  EXPECT_EQ((std::vector<UINT32>{0x1000, 0x1000, 0x800}), ReadCounts());
  EXPECT_EQ(FlashBytes(0xFFA00000, 0x2800), Data);
  EXPECT_EQ(0, Locked);

  // A locked piece marks the whole read; a failing piece stops it.
  M().Bios().Flash.LockedCount = 1;
  M().Bios().Flash.Locked[0] = {0xFFA01000, 0x10};
  ASSERT_TRUE(ReadRomChunked(0xFFA00000, 0x2000, GetBlockUnit(), nullptr, &Locked));
  EXPECT_EQ(1, Locked);
  EXPECT_FALSE(ReadRomChunked(0xFFFFF000, 0x2000, GetBlockUnit(), nullptr, &Locked));
  EXPECT_EQ(0x1000u, ReadCounts().back());
}

const char kReadStart[] = "\r\n                           Read Current ROM Start\r\n\r\n";
const char kCompleted[] = "\r                           Read Progress: Completed\r\n\r\n";
const char kMeWarning[] = "Warning!\r\nME is locked. The ME region of the saved file is invalid.\r\n";

TEST_F(ReadRomTest, SaveWritesTheWholeRomAndZerosForALockedMe) {
  const std::string Progress = std::string(kReadStart) + "\r                           Read Progress:  50% " +
                               "\r                           Read Progress: 100% " + kCompleted;
  for (bool Locked : {false, true}) {
    SCOPED_TRACE(Locked);
    StartWithMaps([&](Profile &P) {
      SmallPart(P);
      if (Locked) P.Flash.LockedRanges = {{0xFFFF0000, 0x10000}};
    });
    Pattern();
    WriteVolumeFile("rom.bin", std::string(0x30000, 'x'));  // longer: replaced, not kept
    ASSERT_TRUE(SaveRomToFile(u"rom.bin"));
    EXPECT_EQ(Locked ? Progress + kMeWarning : Progress, Console());
    std::string Expected = FlashBytes(0xFFFE0000, 0x20000);
    if (Locked) Expected.replace(0x10000, 0x10000, std::string(0x10000, '\0'));
    EXPECT_EQ(Expected, ReadVolumeFile("rom.bin"));
    EXPECT_EQ((std::vector<UINT32>{0x10000, 0x10000}), ReadCounts());
    UINT32 Hook = 0;
    ASSERT_TRUE(EmuBiosRecentHookCode(&M().Bios(), 0, &Hook));
    EXPECT_EQ(HOOK_BEFORE_READ_ROM, Hook);
  }
}

TEST_F(ReadRomTest, SaveRefusals) {
  StartWithMaps(SmallPart);
  EXPECT_FALSE(SaveRomToFile(u""));
  EXPECT_EQ("\r\nError: No filename input!\r\n", Console());
  EXPECT_FALSE(SaveRomToFile(u"bad/name.bin"));
  EXPECT_EQ("\r\nError: No filename input!\r\n\r\nError: Save ROM to file (bad/name.bin) failed!\r\n", Console());
  EXPECT_EQ(0u, CallsOf(0x14));
  EXPECT_EQ(0u, M().Bios().HookCount);
  // A read that fails half-way: Tests/UnalignedMaps_test.cpp (FailedSaveLeavesNoFile).
}

}  // namespace

#include "Bios/FlashFunctions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Bios/EmuBios.h"
#include "EmuBiosMemory.h"

namespace {

constexpr UINT64 kBase = 0x10000;
constexpr UINT32 kEdi = 0x10000;
constexpr UINT32 kEsi = 0x12000;

// Handlers against a small flat memory and a 64 KiB flash, without a machine.
// The part mixes block sizes: eight 4 KiB blocks (0xFFFF0000-0xFFFF7FFF),
// then one of 32 KiB (0xFFFF8000-0xFFFFFFFF).
struct FlashFunctionsTest : ::testing::Test {
  void SetUp() override {
    Flash.resize(0x10000);
    for (size_t Index = 0; Index < Flash.size(); Index++) Flash[Index] = UINT8(Index ^ (Index >> 8));
    EmuFlashSetContents(&Bios.Flash, Flash.data(), UINT32(Flash.size()));
    Bios.Flash.BlockMap[0] = {0x10, 8};
    Bios.Flash.BlockMap[1] = {0x80, 1};
    Bios.Flash.BlockMapCount = 2;
  }
  void Source(UINT8 Value, size_t Length = 0x9000) { std::memset(Memory.data() + (kEsi - kBase), Value, Length); }
  std::string At(UINT32 Address, size_t Length) { return Mem.At(Address, Length); }
  UINT8 Call(UINT8 Function, UINT32 Edi = kEdi, UINT32 Esi = kEsi, UINT32 Ecx = 0) {
    return UINT8(Mem.Call(Function, Ecx, Esi, Edi).Eax & 0xFF);
  }
  EmuBiosMemory Mem{kBase, 0x11000};  // room for 0xF000 bytes at ESI
  EMU_BIOS &Bios = Mem.Bios;
  std::vector<UINT8> &Memory = Mem.Memory;
  std::vector<UINT8> Flash;
};

TEST_F(FlashFunctionsTest, ReadsInsideTheRomWindowOnly) {
  EXPECT_EQ(0xFFFF0000u, EmuFlashBase(&Bios.Flash));
  ASSERT_EQ(0, Call(0x14, 0xFFFF0100, kEsi, 0x200));
  EXPECT_EQ(std::string(Flash.begin() + 0x100, Flash.begin() + 0x300), At(kEsi, 0x200));
  EXPECT_EQ(0x200u, Bios.Flash.BytesRead);

  const struct {
    UINT32 Address, Count;
    UINT8 Status;
  } Cases[] = {
      {0xFFFEFFFF, 2, EMU_FLASH_STATUS_READ_FAILED},  // starts below the window
      {0xFFFFFF00, 0x101, EMU_FLASH_STATUS_READ_FAILED},  // runs past 4 GiB
      {0xFFFFFF00, 0x100, 0},
      {0xFFFF0000, 0x0, 0},
      {0xFFFF0000, 0x10000, EMU_FLASH_STATUS_READ_FAILED},  // buffer beyond memory
  };
  for (const auto &Case : Cases) {
    EXPECT_EQ(Case.Status, Call(0x14, Case.Address, kEsi, Case.Count)) << std::hex << Case.Address;
  }
  EmuFlashSetContents(&Bios.Flash, nullptr, 0);
  EXPECT_EQ(EMU_FLASH_STATUS_READ_FAILED, Call(0x14, 0xFFFF0000, kEsi, 0x10));
}

TEST_F(FlashFunctionsTest, WritesAreWholeBlocksOfTheMixedMap) {
  Source(0x3C);
  const struct {
    UINT32 Address, Count;
    UINT8 Status;
    UINT32 Erased;  // blocks
  } Cases[] = {
      {0xFFFF0000, 0x1000, 0, 1},                               // the first 4 KiB block
      {0xFFFF3000, 0x2000, 0, 2},                               // two of them
      {0xFFFF8000, 0x8000, 0, 1},                               // the 32 KiB block
      {0xFFFF7000, 0x9000, 0, 2},                               // across the change of block size
      {0xFFFF0800, 0x0800, EMU_FLASH_STATUS_NOT_BLOCKS, 0},     // starts inside a block
      {0xFFFF1000, 0x0800, EMU_FLASH_STATUS_NOT_BLOCKS, 0},     // ends inside a block
      {0xFFFF8000, 0x1000, EMU_FLASH_STATUS_NOT_BLOCKS, 0},     // 4 KiB is not a block up here
      {0xFFFF9000, 0x7000, EMU_FLASH_STATUS_NOT_BLOCKS, 0},     // nor is a 4 KiB boundary
      {0xFFFF7000, 0x2000, EMU_FLASH_STATUS_NOT_BLOCKS, 0},     // ends inside the 32 KiB block
      {0xFFFF2000, 0x0000, EMU_FLASH_STATUS_NOT_BLOCKS, 0},     // no block at all
      {0xFFFEF000, 0x1000, EMU_FLASH_STATUS_WRITE_FAILED, 0},   // below the window
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << Case.Address << "+" << Case.Count);
    SetUp();
    Bios.Flash.BlocksErased = 0;
    Bios.Flash.ContentsChanged = FALSE;
    const std::vector<UINT8> Before = Flash;
    ASSERT_EQ(Case.Status, Call(0x15, Case.Address, kEsi, Case.Count));
    EXPECT_EQ(Case.Erased, Bios.Flash.BlocksErased);
    std::vector<UINT8> Expected = Before;
    if (Case.Status == 0) {
      std::fill_n(Expected.begin() + (Case.Address - 0xFFFF0000), Case.Count, 0x3C);
    }
    EXPECT_EQ(Expected, Flash);
    EXPECT_EQ(Case.Status == 0, Bios.Flash.ContentsChanged != FALSE);
  }

  // The flash reaches past the map: nothing there can be erased.
  Bios.Flash.BlockMapCount = 1;
  EXPECT_EQ(EMU_FLASH_STATUS_NOT_BLOCKS, Call(0x15, 0xFFFF8000, kEsi, 0x8000));
  EXPECT_EQ(0, Call(0x15, 0xFFFF7000, kEsi, 0x1000));
}

TEST_F(FlashFunctionsTest, AWriteErasesThenProgramsAndAProgramAloneCanOnlyClearBits) {
  // Cells holding F0h get 3Ch: through 15h, or programmed without the erase.
  const struct {
    BOOLEAN ClearsBitsOnly;
    bool Through15h;
    UINT8 Cells;
  } Cases[] = {
      {FALSE, true, 0x3C},
      {TRUE, true, 0x3C},    // the erase comes first: every bit can be cleared again
      {FALSE, false, 0x3C},  // a forgiving part hides the missing erase
      {TRUE, false, 0x30},   // NOR keeps the bits the erase should have set: F0h AND 3Ch
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(::testing::Message() << int(Case.ClearsBitsOnly) << Case.Through15h);
    Bios.Flash.ProgramClearsBitsOnly = Case.ClearsBitsOnly;
    std::fill_n(Flash.begin() + 0x2000, 0x1000, 0xF0);
    Source(0x3C, 0x1000);
    if (Case.Through15h) {
      ASSERT_EQ(0, Call(0x15, 0xFFFF2000, kEsi, 0x1000));
    } else {
      const std::vector<UINT8> Data(0x1000, 0x3C);
      ASSERT_TRUE(EmuFlashProgram(&Bios.Flash, 0xFFFF2000, Data.data(), 0x1000));
    }
    EXPECT_EQ(std::vector<UINT8>(0x1000, Case.Cells), std::vector<UINT8>(Flash.begin() + 0x2000, Flash.begin() + 0x3000));
  }

  // The erase alone: whole blocks to FFh, anything else refused untouched.
  const std::vector<UINT8> Before = Flash;
  EXPECT_FALSE(EmuFlashErase(&Bios.Flash, 0xFFFF8000, 0x1000));
  EXPECT_EQ(Before, Flash);
  ASSERT_TRUE(EmuFlashErase(&Bios.Flash, 0xFFFF8000, 0x8000));
  EXPECT_EQ(std::vector<UINT8>(0x8000, 0xFF), std::vector<UINT8>(Flash.begin() + 0x8000, Flash.end()));
  EXPECT_EQ(Before[0x7FFF], Flash[0x7FFF]);
}

TEST_F(FlashFunctionsTest, RefusedWritesLeaveTheFlashAsItWas) {
  Source(0x3C);
  Bios.Flash.Locked[0] = {0xFFFF4000, 0x1000};
  Bios.Flash.LockedCount = 1;
  Bios.Flash.Skip[0] = {0xFFFF6000, 0x1000};
  Bios.Flash.SkipCount = 1;
  const std::vector<UINT8> Before = Flash;
  const struct {
    UINT32 Address, Count, Esi;
    UINT8 Status;
  } Refused[] = {
      {0xFFFF3000, 0x2000, kEsi, EMU_FLASH_STATUS_LOCKED},        // covers the locked range
      {0xFFFF6000, 0x1000, kEsi, EMU_FLASH_STATUS_SKIP_BLOCK},    // the skip range
      {0xFFFF0000, 0x10001, kEsi, EMU_FLASH_STATUS_WRITE_FAILED},  // runs past 4 GiB
      {0xFFFF8000, 0x8000, 0x1C000, EMU_FLASH_STATUS_WRITE_FAILED},  // source runs beyond memory
  };
  for (const auto &Case : Refused) {
    EXPECT_EQ(Case.Status, Call(0x15, Case.Address, Case.Esi, Case.Count)) << std::hex << Case.Address;
  }
  EXPECT_EQ(Before, Flash);
  EXPECT_EQ(std::make_tuple(FALSE, 0u, 2u),
            std::make_tuple(Bios.Flash.ContentsChanged, Bios.Flash.BlocksErased, Bios.Flash.RefusedWrites));

  ASSERT_EQ(0, Call(0x15, 0xFFFF5000, kEsi, 0x1000));  // right after the locked range
  EXPECT_EQ(std::string(0x1000, '\x3C'), std::string(Flash.begin() + 0x5000, Flash.begin() + 0x6000));
  EXPECT_EQ(std::make_tuple(Before[0x4FFF], Before[0x6000]), std::make_tuple(Flash[0x4FFF], Flash[0x6000]));
  EXPECT_EQ(std::make_tuple(TRUE, 1u, 0x1000u),
            std::make_tuple(Bios.Flash.ContentsChanged, Bios.Flash.BlocksWritten, Bios.Flash.BytesWritten));
}

TEST_F(FlashFunctionsTest, MapLayouts) {
  EMU_FLASH &F = Bios.Flash;
  F.Protect[0] = {0x06, 0xFFFF1000, 0x2000, 0};
  F.ProtectCount = 1;
  F.Private[0] = {0xFFFF4000, 0x800};
  F.PrivateCount = 1;
  ASSERT_EQ(0, Call(0x12));
  EXPECT_EQ(std::string("\x06\x00\x10\xFF\xFF\x00\x20\x00\x00\xFF", 10), At(kEdi, 10));
  EXPECT_EQ(std::string(2048 - 9, '\xFF'), At(kEdi + 9, 2048 - 9));
  EXPECT_EQ(std::string("\x00\x40\xFF\xFF\x00\x08\x00\x00\xFF", 9), At(kEsi, 9));

  F.Whole[0] = {0x16, 0xFFFF8000, 0x1000, 0x11223344};
  F.WholeCount = 1;
  ASSERT_EQ(0, Call(0x1E));
  EXPECT_EQ(std::string("\x16\x00\x80\xFF\xFF\x00\x10\x00\x00\x44\x33\x22\x11\xFF", 14), At(kEdi, 14));

  std::memcpy(F.Vendor, "VENDOR", 6);
  F.SizeIndex = 0xFF;
  F.SizeSpecified = 0x10000;
  F.BlockMap[0] = {0x10, 0x10};
  F.BlockMapCount = 1;
  ASSERT_EQ(0, Call(0x13, kEdi, kEsi, 0x5A));
  EXPECT_EQ(0x5A, F.Last13hSelector);
  EXPECT_EQ(std::string("\xFFVENDOR\x00", 8), At(kEdi, 8));
  EXPECT_EQ(std::string("\x17\x40\xEF\x00\x00\x00\x01\x00", 8), At(kEdi + 64, 8));
  EXPECT_EQ(std::string("\x10\x00\x10\x00\x00\x00\x00\x00", 8), At(kEsi, 8));

  // A buffer the BIOS cannot write answers the map status.
  EXPECT_EQ(EMU_FLASH_STATUS_BAD_MAP_BUFFER, Call(0x12, 0x100));
  EXPECT_EQ(EMU_FLASH_STATUS_BAD_PART_BUFFER, Call(0x13, 0x100));
  EXPECT_EQ(EMU_FLASH_STATUS_BAD_MAP_BUFFER, Call(0x1E, 0x100));
}

TEST_F(FlashFunctionsTest, NewRegionsFromAFlashDescriptor) {
  EMU_FLASH &F = Bios.Flash;
  F.External[0] = {0x01, 0x1000, 0xF000, 0x0F};
  F.ExternalCount = 1;
  // Buffer 2: a descriptor with its region table at 30h: descriptor 0-FFFh,
  // BIOS 8000h-FFFFh, GbE 1000h-1FFFh, EC (region 8) 2000h-2FFFh.
  std::vector<UINT8> Head(4096, 0);
  const UINT8 Signature[] = {0x5A, 0xA5, 0xF0, 0x0F};
  std::memcpy(&Head[0x10], Signature, 4);
  // FLMAP0, then the region words of BIOS, ME (unused), GbE, PD (unused) and EC.
  const std::pair<size_t, UINT32> Words[] = {{0x14, 0x00030000}, {0x34, 0x000F0008}, {0x38, 0x00007FFF},
                                             {0x3C, 0x00010001}, {0x40, 0x7FFF},     {0x50, 0x00020002}};
  for (const auto &[At, Word] : Words) std::memcpy(&Head[At], &Word, 4);
  std::memcpy(&Memory[kEsi - kBase], Head.data(), Head.size());
  ASSERT_EQ(0, Call(0x17));
  EXPECT_EQ(std::string("\x01\x00\x10\x00\x00\x00\xF0\x00\x00\x0F\xFF", 11), At(kEdi, 11));
  EXPECT_EQ(std::string("\x00\x00\x00\x00\x00\x00\x10\x00\x00\x00"   // descriptor
                        "\x01\x00\x80\x00\x00\x00\x80\x00\x00\x00"   // BIOS
                        "\x03\x00\x10\x00\x00\x00\x10\x00\x00\x00"   // GbE
                        "\x05\x00\x20\x00\x00\x00\x10\x00\x00\x00"   // EC
                        "\xFF",
                        41),
            At(kEdi + 256, 41));

  // Decoding off, or no descriptor: the new map is the current one.
  F.DecodeNewImage = FALSE;
  ASSERT_EQ(0, Call(0x17));
  EXPECT_EQ(At(kEdi, 256), At(kEdi + 256, 256));
  F.DecodeNewImage = TRUE;
  Memory[kEsi - kBase + 0x10] = 0;
  ASSERT_EQ(0, Call(0x17));
  EXPECT_EQ(At(kEdi, 256), At(kEdi + 256, 256));
}

}  // namespace

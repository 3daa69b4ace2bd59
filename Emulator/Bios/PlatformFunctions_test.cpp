#include "Bios/PlatformFunctions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Bios/EmuBios.h"
#include "EmuBiosMemory.h"
#include "Machine/Machine.h"

namespace {

constexpr UINT64 kBase = 0x10000;
constexpr UINT32 kIn = 0x10000;    // EDI: tool information / platform information area
constexpr UINT32 kExt = 0x11000;   // ESI: extended buffer

// Handlers against a small flat memory, without a machine around them.
struct PlatformFunctionsTest : ::testing::Test {
  void Put(UINT32 Address, const std::string &Bytes) { Mem.Put(Address, Bytes); }
  std::vector<UINT8> At(UINT32 Address, size_t Length) {
    const std::string Bytes = Mem.At(Address, Length);
    return {Bytes.begin(), Bytes.end()};
  }
  SMI_REGISTERS Call(UINT8 Function, UINT32 Edi = kIn, UINT32 Esi = kExt) { return Mem.Call(Function, 0, Esi, Edi); }
  EmuBiosMemory Mem{kBase, 0x2000};
  EMU_BIOS &Bios = Mem.Bios;
  std::vector<UINT8> &Memory = Mem.Memory;
};

TEST_F(PlatformFunctionsTest, BadRequestsAreRefusedWithoutWriting) {
  Put(kIn, "$VEX");
  SMI_REGISTERS R = Call(0x10);
  EXPECT_EQ(EMU_PLATFORM_STATUS_BAD_REQUEST, R.Eax & 0xFF);
  EXPECT_EQ(0xEE, At(kIn + 18, 1)[0]);
  EXPECT_TRUE(Bios.Platform.ToolInformationSeen);  // what came in is still kept
  EXPECT_EQ(EMU_PLATFORM_STATUS_BAD_REQUEST, Call(0x10, 0x90000000).Eax & 0xFF);

  Memory.assign(Memory.size(), 0xEE);
  Put(kExt, "$BUFFEX_");
  EXPECT_EQ(EMU_PLATFORM_STATUS_BAD_REQUEST, Call(0x11).Eax & 0xFF);
  EXPECT_EQ(std::vector<UINT8>(320, 0xEE), At(kIn, 320));
  EXPECT_EQ(EMU_PLATFORM_STATUS_BAD_REQUEST, Call(0x11, kIn, 0x90000000).Eax & 0xFF);
}

TEST_F(PlatformFunctionsTest, PlatformInformationAndSwitches) {
  EMU_PLATFORM &P = Bios.Platform;
  std::memset(P.ModelName, 0, sizeof(P.ModelName));
  std::memset(P.Version, 0, sizeof(P.Version));
  std::memcpy(P.ModelName, u"Mx", 4);
  std::memcpy(P.Version, u"V7\u00e9", 8);
  P.Switches = 0xC3;
  P.ExtendedSwitches = 0x80000001;
  Put(kExt, std::string("$BUFFER_\x00\x10\x00\x00", 12));
  SMI_REGISTERS R = Call(0x11);
  EXPECT_EQ(0u, R.Eax & 0xFF);
  EXPECT_EQ(0xC3u, (R.Eax >> 8) & 0xFF);
  EXPECT_EQ(0x80000001u, R.Ecx);
  std::vector<UINT8> Expected(320, 0);
  const UINT8 Name[] = {'M', 0, 'x', 0};
  const UINT8 Version[] = {'V', 0, '7', 0, 0xE9, 0};
  std::memcpy(Expected.data(), Name, sizeof(Name));
  std::memcpy(Expected.data() + 64, Version, sizeof(Version));
  EXPECT_EQ(Expected, At(kIn, 320));
  EXPECT_EQ(0xEE, At(kIn + 320, 1)[0]);
}

TEST(PlatformProfile, ProfileAnswersReachTheBios) {
  vyr::emu::Profile P = vyr::emu::Profile::Default();
  P.Platform.ModelName = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";  // fills the field: no terminator
  P.Platform.Version = "R\xC3\xA9v";                              // UTF-8 in, UTF-16 out
  P.Platform.CommandFilter.Bitmap = {1, 2, 3};
  P.Platform.AntiTheft = 0x83;
  vyr::emu::Machine M(P);
  const EMU_PLATFORM &B = M.Bios().Platform;
  EXPECT_EQ(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", std::u16string(B.ModelName, B.ModelName + 32));
  EXPECT_EQ(u"R\u00e9v", std::u16string(B.Version));
  EXPECT_EQ(3u, B.CommandFilterBitmapLength);
  EXPECT_EQ(3, B.CommandFilterBitmap[2]);
  EXPECT_EQ(0x83, B.AntiTheft);
}

// 16h: what the BIOS records from the "$FINISHI" buffer, and what it refuses.
TEST_F(PlatformFunctionsTest, FlashCompleteRecordsOnlyWellFormedRequests) {
  const struct {
    std::string Buffer;
    UINT8 Status;
  } Cases[] = {
      {std::string("$FINISHI\x0D\x00\x00\x00\x02", 13), 0},
      {std::string("$FINISHX\x0D\x00\x00\x00\x02", 13), EMU_COMPLETION_STATUS_BAD_BUFFER},
      {std::string("$FINISHI\x0E\x00\x00\x00\x02", 13), EMU_COMPLETION_STATUS_BAD_BUFFER},
      {std::string("$FINISHI\x0D\x00\x00\x01\x02", 13), EMU_COMPLETION_STATUS_BAD_BUFFER},
  };
  for (const auto &C : Cases) {
    Put(kExt, C.Buffer);
    EXPECT_EQ(C.Status, Mem.Call(0x16, 0x0001, kExt, 0).Eax & 0xFF);  // CH clear-CMOS 0, CL shutdown
  }
  EXPECT_EQ(1u, Bios.Completion.Requests);
  EXPECT_EQ(3u, Bios.Completion.MalformedRequests);
  EXPECT_EQ(1, Bios.Completion.Action);
  EXPECT_EQ(2, Bios.Completion.Status);
  EXPECT_EQ(0, Bios.Completion.ClearCmos);

  // An address outside memory is malformed too; the last good request stays.
  EXPECT_EQ(EMU_COMPLETION_STATUS_BAD_BUFFER, Call(0x16, 0, 0x9000000).Eax & 0xFF);
  EXPECT_EQ(2, Bios.Completion.Status);
}

}  // namespace

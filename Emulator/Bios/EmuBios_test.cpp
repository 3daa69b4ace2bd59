#include "Bios/EmuBios.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr UINT32 kSig = EMU_BIOS_CALL_SIGNATURE;

SMI_REGISTERS Call(UINT8 Function, UINT8 Main = 0xEF, UINT32 Ebx = kSig) {
  return SMI_REGISTERS{0x12340000u | (UINT32(Function) << 8) | Main, Ebx, 0x11111111, 0xB2, 0x22222222, 0x33333333};
}

UINT8 Al(const SMI_REGISTERS &R) { return UINT8(R.Eax & 0xFF); }

UINT8 AnswerSeven(EMU_BIOS *, SMI_REGISTERS *Regs) {
  Regs->Ecx = 0xCAFE;
  return 0x07;
}

struct EmuBiosTest : ::testing::Test {
  void SetUp() override { EmuBiosInit(&Bios); }
  // AL of one call of Function after another.
  std::vector<UINT8> Statuses(UINT8 Function, int Calls) {
    std::vector<UINT8> Got;
    for (int I = 0; I < Calls; I++) {
      SMI_REGISTERS R = Call(Function);
      EmuBiosHandleSmi(&Bios, &R);
      Got.push_back(Al(R));
    }
    return Got;
  }
  EMU_BIOS Bios;
};

// What each call leaves in EAX and ECX (the other registers never change),
// with a handler for 10h only.
TEST_F(EmuBiosTest, DispatchNeedsTheMainFunctionAndTheSignatureAndPutsTheStatusInAlOnly) {
  EmuBiosRegisterHandler(&Bios, 0x10, AnswerSeven);
  const struct {
    const char *Name;
    UINT8 Function, Main;
    UINT32 Ebx, Eax, Ecx;
  } Cases[] = {
      {"handled", 0x10, 0xEF, kSig, 0x12341007, 0xCAFE},
      {"another SMI source: untouched", 0x10, 0xEE, kSig, 0x123410EE, 0x11111111},
      {"no signature", 0x10, 0xEF, 0, 0x12341001, 0x11111111},
      {"byte-swapped signature", 0x10, 0xEF, 0x72795624, 0x12341001, 0x11111111},
      {"signature one bit off", 0x10, 0xEF, kSig ^ 1, 0x12341001, 0x11111111},
      {"unknown function: AL keeps the main function number", 0x77, 0xEF, kSig, 0x123477EF, 0x11111111},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    SMI_REGISTERS R = Call(C.Function, C.Main, C.Ebx);
    SMI_REGISTERS Expected = R;
    Expected.Eax = C.Eax;
    Expected.Ecx = C.Ecx;
    EmuBiosHandleSmi(&Bios, &R);
    EXPECT_EQ(0, std::memcmp(&Expected, &R, sizeof(R))) << std::hex << R.Eax << " " << R.Ecx;
  }
  // Only signed calls of our main function are counted and dispatched.
  EXPECT_EQ(2u, Bios.TotalCalls);
  EXPECT_EQ(1u, Bios.CallCount[0x10]);
  EXPECT_EQ(1u, Bios.CallCount[0x77]);
  EXPECT_EQ(3u, Bios.BadSignatureCalls);
  EXPECT_EQ(1u, Bios.UnhandledCalls);
}

TEST_F(EmuBiosTest, HookPointsAreRememberedNewestFirstInARing) {
  for (UINT32 Code = 1; Code <= EMU_BIOS_HOOK_RING_SIZE + 3; Code++) {
    SMI_REGISTERS R = Call(0x1F);
    R.Ecx = Code;
    EmuBiosHandleSmi(&Bios, &R);
    EXPECT_EQ(0, Al(R));
  }
  UINT32 Code = 0;
  ASSERT_TRUE(EmuBiosRecentHookCode(&Bios, 0, &Code));
  EXPECT_EQ(EMU_BIOS_HOOK_RING_SIZE + 3u, Code);
  ASSERT_TRUE(EmuBiosRecentHookCode(&Bios, EMU_BIOS_HOOK_RING_SIZE - 1, &Code));
  EXPECT_EQ(4u, Code);
  EXPECT_FALSE(EmuBiosRecentHookCode(&Bios, EMU_BIOS_HOOK_RING_SIZE, &Code));
}

TEST_F(EmuBiosTest, FirstMatchingFaultWinsAndTableHasAFixedCapacity) {
  EMU_BIOS_FAULT A = {}, B = {};
  A.Function = B.Function = 0x12;
  A.Status = 0x0A;
  A.FirstCall = 2;
  A.Count = 1;
  B.Status = 0x0B;
  ASSERT_TRUE(EmuBiosAddFault(&Bios, &A));
  ASSERT_TRUE(EmuBiosAddFault(&Bios, &B));
  EXPECT_EQ((std::vector<UINT8>{0x0B, 0x0A, 0x0B}), Statuses(0x12, 3));
  for (int I = 2; I < EMU_BIOS_MAX_FAULTS; I++) EXPECT_TRUE(EmuBiosAddFault(&Bios, &B));
  EXPECT_FALSE(EmuBiosAddFault(&Bios, &B));
  EmuBiosClearFaults(&Bios);
  EXPECT_TRUE(EmuBiosAddFault(&Bios, &B));
}

TEST_F(EmuBiosTest, MemoryAccessFailsWithoutAnAccessor) {
  UINT8 Byte = 0;
  EXPECT_FALSE(EmuBiosReadPhysical(&Bios, 0x1000, &Byte, 1));
  EXPECT_FALSE(EmuBiosWritePhysical(&Bios, 0x1000, &Byte, 1));
}

}  // namespace

#include "Bios/EmuBios.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr UINT32 kSig = EMU_BIOS_CALL_SIGNATURE;

SMI_REGISTERS Call(UINT8 Function, UINT8 Main = 0xEF, UINT32 Ebx = kSig) {
  SMI_REGISTERS R = {};
  R.Eax = 0x12340000u | (UINT32(Function) << 8) | Main;
  R.Ebx = Ebx;
  R.Ecx = 0x11111111;
  R.Edx = 0x000000B2;
  R.Esi = 0x22222222;
  R.Edi = 0x33333333;
  return R;
}

UINT8 Al(const SMI_REGISTERS &R) { return UINT8(R.Eax & 0xFF); }

UINT8 AnswerSeven(EMU_BIOS *, SMI_REGISTERS *Regs) {
  Regs->Ecx = 0xCAFE;
  return 0x07;
}

struct Fixture : ::testing::Test {
  void SetUp() override { EmuBiosInit(&Bios); }
  EMU_BIOS Bios;
};

using EmuBiosTest = Fixture;

TEST(EmuBiosLayout, SignatureBytesInMemoryOrderAreRyVDollar) {
  UINT32 Sig = EMU_BIOS_CALL_SIGNATURE;
  const char Expected[4] = {'r', 'y', 'V', '$'};
  EXPECT_EQ(0, std::memcmp(&Sig, Expected, 4));
}

TEST_F(EmuBiosTest, CallsNotCarryingTheMainFunctionAreLeftUntouched) {
  EmuBiosRegisterHandler(&Bios, 0x10, AnswerSeven);
  SMI_REGISTERS R = Call(0x10, 0xEE);
  SMI_REGISTERS Before = R;
  EmuBiosHandleSmi(&Bios, &R);
  EXPECT_EQ(0, std::memcmp(&Before, &R, sizeof(R)));
  EXPECT_EQ(0u, Bios.TotalCalls);
  EXPECT_EQ(0u, Bios.CallCount[0x10]);
}

TEST_F(EmuBiosTest, WrongSignatureAnswersOneWithoutCountingOrDispatching) {
  EmuBiosRegisterHandler(&Bios, 0x10, AnswerSeven);
  for (UINT32 Ebx : {0u, 0x72795624u /* byte-swapped */, kSig ^ 1}) {
    SMI_REGISTERS R = Call(0x10, 0xEF, Ebx);
    EmuBiosHandleSmi(&Bios, &R);
    EXPECT_EQ(0x01, Al(R)) << std::hex << Ebx;
    EXPECT_EQ(0x11111111u, R.Ecx);  // handler not run
    EXPECT_EQ(0x123410u, R.Eax >> 8);
  }
  EXPECT_EQ(0u, Bios.CallCount[0x10]);
  EXPECT_EQ(3u, Bios.BadSignatureCalls);
}

TEST_F(EmuBiosTest, DispatchesAhToItsHandlerAndPutsStatusInAlOnly) {
  EmuBiosRegisterHandler(&Bios, 0x10, AnswerSeven);
  SMI_REGISTERS R = Call(0x10);
  EmuBiosHandleSmi(&Bios, &R);
  EXPECT_EQ(0x12341007u, R.Eax);
  EXPECT_EQ(0xCAFEu, R.Ecx);
  EXPECT_EQ(1u, Bios.CallCount[0x10]);
}

TEST_F(EmuBiosTest, UnknownFunctionLeavesItsOwnMainFunctionNumberInAl) {
  SMI_REGISTERS R = Call(0x77);
  SMI_REGISTERS Before = R;
  EmuBiosHandleSmi(&Bios, &R);
  EXPECT_EQ(0, std::memcmp(&Before, &R, sizeof(R)));
  EXPECT_EQ(0xEF, Al(R));
  EXPECT_EQ(1u, Bios.CallCount[0x77]);
  EXPECT_EQ(1u, Bios.UnhandledCalls);
}

TEST_F(EmuBiosTest, ChangedMainFunctionNumberIsHonoured) {
  Bios.MainFunction = 0xD0;
  SMI_REGISTERS R = Call(0x1F, 0xEF);
  EmuBiosHandleSmi(&Bios, &R);
  EXPECT_EQ(0u, Bios.HookCount);
  R = Call(0x1F, 0xD0);
  EmuBiosHandleSmi(&Bios, &R);
  EXPECT_EQ(0x00, Al(R));
  EXPECT_EQ(1u, Bios.HookCount);
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

struct FaultCase {
  const char *Name;
  UINT32 FirstCall;
  UINT32 Count;
  std::vector<UINT8> Expected;  // AL of calls 1..n
};

class EmuBiosFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(EmuBiosFaultTest, AnswersTheConfiguredCallsAndLetsTheOthersThrough) {
  const FaultCase &Case = GetParam();
  EMU_BIOS Bios;
  EmuBiosInit(&Bios);
  EmuBiosRegisterHandler(&Bios, 0x15, AnswerSeven);
  EMU_BIOS_FAULT Fault = {};
  Fault.Function = 0x15;
  Fault.Status = 0x29;
  Fault.FirstCall = Case.FirstCall;
  Fault.Count = Case.Count;
  ASSERT_TRUE(EmuBiosAddFault(&Bios, &Fault));
  std::vector<UINT8> Got;
  for (size_t Index = 0; Index < Case.Expected.size(); Index++) {
    SMI_REGISTERS Other = Call(0x14);  // other functions never advance the fault
    EmuBiosHandleSmi(&Bios, &Other);
    SMI_REGISTERS R = Call(0x15);
    EmuBiosHandleSmi(&Bios, &R);
    Got.push_back(Al(R));
    EXPECT_EQ(Al(R) == 0x29 ? 0x11111111u : 0xCAFEu, R.Ecx) << "handler must be skipped only when faulted";
  }
  EXPECT_EQ(Case.Expected, Got);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EmuBiosFaultTest,
    ::testing::Values(FaultCase{"FirstCallOnce", 1, 1, {0x29, 7, 7, 7}},
                      FaultCase{"ZeroFirstCallMeansFirst", 0, 1, {0x29, 7, 7}},
                      FaultCase{"ThirdCallTwice", 3, 2, {7, 7, 0x29, 0x29, 7, 7}},
                      FaultCase{"SecondCallForever", 2, 0, {7, 0x29, 0x29, 0x29, 0x29}}),
    [](const ::testing::TestParamInfo<FaultCase> &Info) { return std::string(Info.param.Name); });

TEST_F(EmuBiosTest, FaultLeavesRequestedResultRegistersOnly) {
  EMU_BIOS_FAULT Fault = {};
  Fault.Function = 0x10;
  Fault.Status = 0x05;
  Fault.ResultMask = EMU_BIOS_FAULT_SET_AH | EMU_BIOS_FAULT_SET_ECX;
  Fault.Result.Eax = 0xFFFFA5FF;  // only AH is taken
  Fault.Result.Ecx = 0x00010203;
  Fault.Result.Esi = 0xDEAD;  // not in the mask
  ASSERT_TRUE(EmuBiosAddFault(&Bios, &Fault));
  SMI_REGISTERS R = Call(0x10);
  EmuBiosHandleSmi(&Bios, &R);
  EXPECT_EQ(0x1234A505u, R.Eax);
  EXPECT_EQ(0x00010203u, R.Ecx);
  EXPECT_EQ(0x22222222u, R.Esi);
  EXPECT_EQ(1u, Bios.Faults[0].Applied);
}

TEST_F(EmuBiosTest, FirstMatchingFaultWinsAndTableHasAFixedCapacity) {
  EMU_BIOS_FAULT A = {};
  A.Function = 0x12;
  A.Status = 0x0A;
  A.FirstCall = 2;
  A.Count = 1;
  EMU_BIOS_FAULT B = {};
  B.Function = 0x12;
  B.Status = 0x0B;
  ASSERT_TRUE(EmuBiosAddFault(&Bios, &A));
  ASSERT_TRUE(EmuBiosAddFault(&Bios, &B));
  std::vector<UINT8> Got;
  for (int I = 0; I < 3; I++) {
    SMI_REGISTERS R = Call(0x12);
    EmuBiosHandleSmi(&Bios, &R);
    Got.push_back(Al(R));
  }
  EXPECT_EQ((std::vector<UINT8>{0x0B, 0x0A, 0x0B}), Got);
  for (int I = 2; I < EMU_BIOS_MAX_FAULTS; I++) {
    EXPECT_TRUE(EmuBiosAddFault(&Bios, &B));
  }
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

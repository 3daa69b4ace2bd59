#include "Smi/FwsmiTransport.h"

#include "BaseLib.h"
#include "Config/IniSettings.h"
#include "UtilityFixture.h"
#include "Base/Settings.h"

namespace {

using vyr::emu::Profile;
using vyr::testing::UtilityTest;

class FwsmiTest : public UtilityTest {
 protected:
  // Buffers and SMI set-up as start-up does it.
  void StartSmi() {
    InitialIniConfig();
    ASSERT_TRUE(AllocateFwsmiBuffers());
    ASSERT_TRUE(InitialSmi());
  }
  const std::vector<vyr::emu::SmiRecord> &Calls() { return M().SmiTranscript(); }
};

struct CatalogueRow {
  UINT8 Function;
  UINT32 Ecx, Esi, Edi;  // registers the BIOS must see for the caller's values below
};

// Caller values: ECX 0xC1C2C3C4, ESI 0x51525354, EDI 0xD1D2D3D4.
const CatalogueRow kRows[] = {
    {0x10, 0, 0, 0xD1D2D3D4},          {0x11, 0, 0x51525354, 0xD1D2D3D4},
    {0x12, 0, 0x51525354, 0xD1D2D3D4}, {0x13, 0xC4, 0x51525354, 0xD1D2D3D4},
    {0x14, 0xC1C2C3C4, 0x51525354, 0xD1D2D3D4}, {0x15, 0xC1C2C3C4, 0x51525354, 0xD1D2D3D4},
    {0x16, 0xC3C4, 0x51525354, 0},     {0x17, 4096, 0x51525354, 0xD1D2D3D4},
    {0x19, 1, 0, 0xD1D2D3D4},          {0x1A, 0xC3C4, 0, 0},
    {0x1B, 0xC1C2C3C4, 0x51525354, 0xD1D2D3D4}, {0x1C, 0, 0, 0},
    {0x1D, 0, 0x51525354, 0},          {0x1E, 0, 0, 0xD1D2D3D4},
    {0x1F, 0xC1C2C3C4, 0, 0},          {0x20, 0xC3C4, 0x51525354, 0xD1D2D3D4},
    {0x21, 0xC300, 0x51525354, 0},     {0x23, 0xC1C2C3C4, 0x51525354, 0},
    {0x25, 0xC1C2C3C4, 0x51525354, 0}, {0x32, 0xC1C2C3C4, 0x51525354, 0},
    {0x41, 0xC1C2C3C4, 0, 0xD1D2D3D4}, {0x42, 0xC3C4, 0x51525354, 0xD1D2D3D4},
    {0x43, 0xC1C2C3C4, 0, 0},          {0x44, 0, 0x51525354, 0xD1D2D3D4},
    {0x45, 0xC1C2C3C4, 0, 0},          {0x48, 0xC1C2C3C4, 0x51525354, 0xD1D2D3D4},
    {0x49, 0xC1C2C3C4, 0, 0},          {0x4C, 0xC1C2C3C4, 0x51525354, 0xD1D2D3D4},
};

TEST_F(FwsmiTest, EveryCatalogueRowLoadsItsRegisters) {
  Boot();
  StartSmi();
  FWSMI_ARGS Args = {0xC1C2C3C4, 0x51525354, 0xD1D2D3D4};
  for (const CatalogueRow &Row : kRows) {
    size_t Before = Calls().size();
    FwsmiCall(Row.Function, &Args, nullptr);
    ASSERT_EQ(Before + 1, Calls().size()) << std::hex << int(Row.Function);
    const SMI_REGISTERS &In = Calls().back().In;
    SCOPED_TRACE(testing::Message() << "function " << std::hex << int(Row.Function));
    EXPECT_EQ((UINT32(Row.Function) << 8) | 0xEF, In.Eax);
    EXPECT_EQ(0x24567972u, In.Ebx);  // "$Vyr"
    EXPECT_EQ(0xB2u, In.Edx & 0xFFFF);
    EXPECT_EQ(Row.Ecx, In.Ecx);
    EXPECT_EQ(Row.Esi, In.Esi);
    EXPECT_EQ(Row.Edi, In.Edi);
  }
}

TEST_F(FwsmiTest, FunctionsOutsideTheCatalogueAreNeverIssued) {
  Boot();
  StartSmi();
  size_t Before = Calls().size();
  EXPECT_EQ(0xEFu, FwsmiCall(0x18, nullptr, nullptr) & 0xFF);
  EXPECT_EQ(0xEFu, FwsmiCall(0x4D, nullptr, nullptr) & 0xFF);
  EXPECT_EQ(Before, Calls().size());
}

TEST_F(FwsmiTest, ResultRegistersAreReadBackPerRow) {
  Profile P = Profile::Default();
  // 10h: AH permission and CH/CL version; 1Ch: CL folded into AH; 4Ch: CX:AX.
  vyr::emu::BiosFaultConfig F10;
  F10.Function = 0x10; F10.Status = 0; F10.Count = 0; F10.Ah = 0x01; F10.Ecx = 0x1504;
  vyr::emu::BiosFaultConfig F1C;
  F1C.Function = 0x1C; F1C.Status = 0; F1C.Count = 0; F1C.Ah = 0x00; F1C.Ecx = 0xAB00C7;
  vyr::emu::BiosFaultConfig F4C;
  F4C.Function = 0x4C; F4C.Status = 0x05; F4C.Count = 0; F4C.Ah = 0x12; F4C.Ecx = 0xFFFF3456;
  P.BiosFaults = {F10, F1C, F4C};
  Boot(P);
  StartSmi();
  UINT32 Ecx = 0;
  UINT32 Eax = FwsmiCall(0x10, nullptr, &Ecx);
  EXPECT_EQ(0x00u, Eax & 0xFF);
  EXPECT_EQ(0x01u, (Eax >> 8) & 0xFF);
  EXPECT_EQ(0x1504u, Ecx & 0xFFFF);
  EXPECT_EQ(0xC7u, (FwsmiCall(0x1C, nullptr, nullptr) >> 8) & 0xFF);
  EXPECT_EQ(0x34561205u, FwsmiCall(0x4C, nullptr, nullptr));
}

struct RetryCase {
  UINT32 Retry;
  UINT32 Attempts;
};

TEST_F(FwsmiTest, RetryPolicyAttemptsAndWaits) {
  const RetryCase Cases[] = {{0, 1}, {5, 6}, {253, 254}, {254, 255}, {255, 255}, {1000, 255}};
  for (const RetryCase &Case : Cases) {
    SCOPED_TRACE(Case.Retry);
    ResetModuleState();
    Profile P = Profile::Default();
    vyr::emu::BiosFaultConfig Always;
    Always.Function = 0x1F; Always.Status = 0x25; Always.Count = 0;
    P.BiosFaults = {Always};
    Boot(P);
    StartSmi();
    mIniSettings.Others.SMIErrorRetry = Case.Retry;
    mIniSettings.Others.SMIErrorRetryDelay = 3;
    size_t Before = Calls().size();
    UINT64 Stalls = M().Counters().Stalls;
    FWSMI_ARGS Args = {1, 0, 0};
    EXPECT_EQ(0x25u, FwsmiCallWithRetry(0x1F, &Args, nullptr, 0) & 0xFF);
    EXPECT_EQ(Case.Attempts, Calls().size() - Before);
    // One wait of 3 x 1000 us after every failed attempt, the last included.
    EXPECT_EQ(Case.Attempts * 3, M().Counters().Stalls - Stalls);
  }
}

TEST_F(FwsmiTest, RetryStopsAtSuccessAndAtTheStopStatus) {
  Profile P = Profile::Default();
  vyr::emu::BiosFaultConfig TwoFailures;
  TwoFailures.Function = 0x1F; TwoFailures.Status = 0x24; TwoFailures.Count = 2;
  vyr::emu::BiosFaultConfig Skip;
  Skip.Function = 0x15; Skip.Status = 0x29; Skip.Count = 0;
  P.BiosFaults = {TwoFailures, Skip};
  Boot(P);
  StartSmi();
  size_t Before = Calls().size();
  FWSMI_ARGS Args = {1, 0, 0};
  // The third attempt reaches the BIOS's hook-point handler, which succeeds.
  EXPECT_EQ(0u, FwsmiCallWithRetry(0x1F, &Args, nullptr, 0) & 0xFF);
  EXPECT_EQ(3u, Calls().size() - Before);
  Before = Calls().size();
  EXPECT_EQ(0x29u, FwsmiCallWithRetry(0x15, &Args, nullptr, 0x29) & 0xFF);
  EXPECT_EQ(1u, Calls().size() - Before);
}

TEST_F(FwsmiTest, NoCallBeforeInitialSmi) {
  Boot();
  InitialIniConfig();
  ASSERT_TRUE(AllocateFwsmiBuffers());
  FWSMI_ARGS Args = {0, 0, 0};
  EXPECT_EQ(0xEFu, FwsmiCallWithRetry(0x1F, &Args, nullptr, 0) & 0xFF);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(0u, M().Counters().SmiTriggers);
}

struct ErrorCase {
  UINT8 Function, Status;
  const char *Expected;
};

TEST_F(FwsmiTest, ErrorReportPrintsTableMessageAfterTheTwoLines) {
  const ErrorCase Cases[] = {
      {0x12, 0x01,
       "\r\n\r\nError: FWSMI 12h failed.\r\nInternal Error Code 0x01.\r\n"
       "Access prohibited. (Need provide secure mechanism to work for it, EBX='$Vyr')\r\n"},
      {0x14, 0x21, "\r\n\r\nError: FWSMI 14h failed.\r\nInternal Error Code 0x21.\r\n"},
      {0x1C, 0xEF, "\r\n\r\nError: FWSMI 1Ch failed.\r\nInternal Error Code 0xEF.\r\nFunction not supported.\r\n"},
      {0x32, 0x27, "\r\n\r\nError: FWSMI 32h failed.\r\nInternal Error Code 0x27.\r\nFBTS: Cannot skip module check.\r\n"},
      {0x15, 0xFF, "\r\n\r\nError: FWSMI 15h failed.\r\nInternal Error Code 0xFF.\r\n"},
  };
  for (const ErrorCase &Case : Cases) {
    ResetModuleState();
    Boot();
    ReportFwsmiError(Case.Function, Case.Status);
    EXPECT_EQ(Case.Expected, Console());
  }
}

TEST_F(FwsmiTest, MainFunctionNumberFromTheFSegment) {
  {
    Boot();
    EXPECT_EQ(0xEF, GetSmiMainFunctionNumberFromPhysicalMemory());
  }
  for (UINT32 Address : {0xE0000u, 0xF1230u, 0xFFFF0u}) {
    ResetModuleState();
    Profile P = Profile::Default();
    P.Fsegment.SignatureAddress = Address;
    P.Fsegment.MainFunction = 0xD5;
    P.BiosMainFunction = 0xD5;
    Boot(P);
    EXPECT_EQ(0xD5, GetSmiMainFunctionNumberFromPhysicalMemory()) << std::hex << Address;
  }
  // Only 16-byte steps are examined.
  ResetModuleState();
  Profile P = Profile::Default();
  P.Fsegment.SignatureAddress = 0xF0008;
  P.Fsegment.MainFunction = 0xD5;
  Boot(P);
  EXPECT_EQ(0xEF, GetSmiMainFunctionNumberFromPhysicalMemory());
}

TEST_F(FwsmiTest, SmiCallsUseTheFoundMainFunctionNumber) {
  Profile P = Profile::Default();
  P.Fsegment.SignatureAddress = 0xFFFF0;
  P.Fsegment.MainFunction = 0xD5;
  P.BiosMainFunction = 0xD5;
  Boot(P);
  StartSmi();
  FwsmiCall(0x1F, nullptr, nullptr);
  EXPECT_EQ(0x1FD5u, Calls().back().In.Eax & 0xFFFF);
}

TEST_F(FwsmiTest, RsdpOfTheAcpi20EntryWins) {
  Profile P = Profile::Default();
  P.Acpi.Rsdp10 = true;
  P.Acpi.Rsdp20 = true;
  Boot(P);
  // Spoil the 1.0 copy: a walk that used it would find no RSDT.
  UINT32 Zero = 0;
  ASSERT_TRUE(M().WritePhysical(M().Acpi().Rsdp10 + 16, &Zero, 4));
  UINT32 Facp = 0;
  EXPECT_TRUE(GetFacpTableAddress(&Facp));
  EXPECT_EQ("", Console());

  struct { bool Has10, Has20; } Entries[] = {{true, false}, {false, true}, {false, false}};
  for (const auto &E : Entries) {
    ResetModuleState();
    Profile Q = Profile::Default();
    Q.Acpi.Rsdp10 = E.Has10;
    Q.Acpi.Rsdp20 = E.Has20;
    Boot(Q);
    Facp = 0;
    EXPECT_EQ(E.Has10 || E.Has20, GetFacpTableAddress(&Facp));
    EXPECT_EQ(E.Has10 || E.Has20 ? "" : "Error: RSDP not found!\r\n", Console());
  }
}

TEST_F(FwsmiTest, CommandPortIsTheLowWordOfSmiCmd) {
  Profile P = Profile::Default();
  P.Acpi.SmiCmd = 0xABCD00B2;
  Boot(P);
  EXPECT_TRUE(FindSMICommandPort());
  EXPECT_EQ(0xB2, mFwsmi.CommandPort);

  ResetModuleState();
  P.Acpi.SmiCmd = 0x00B20000;
  Boot(P);
  EXPECT_FALSE(FindSMICommandPort());
  EXPECT_EQ("Error: SMI command port not found!\r\n", Console());
}

TEST_F(FwsmiTest, MissingTablesStopTheSetUpWithTheirMessages) {
  Profile P = Profile::Default();
  P.Acpi.Facp = false;
  Boot(P);
  EXPECT_FALSE(InitialSmi());
  EXPECT_EQ("Error: FACP not found!\r\n", Console());

  ResetModuleState();
  P = Profile::Default();
  P.Acpi.Rsdt = false;
  Boot(P);
  EXPECT_FALSE(InitialSmi());
  EXPECT_EQ("Error: RSDT not found!\r\nError: FACP not found!\r\n", Console());

  // The reserved-memory walk names the missing table differently.
  ResetModuleState();
  Boot(P);
  UINT8 *Copy = nullptr;
  UINT32 Length = 0;
  EXPECT_FALSE(GetAcpiFwsmTable(&Copy, &Length));
  EXPECT_EQ("Error: XSDT not found!\r\n", Console());
  EXPECT_FALSE(InitBiosReservedMemory());
}

struct ReservedCase {
  UINT32 Size;
  bool Taken;
  UINT32 Size1, Size2;
};

TEST_F(FwsmiTest, ReservedMemorySplitsIntoTheTwoBuffers) {
  const ReservedCase Cases[] = {
      {0x18000, true, 0x10000, 0x8000},
      {0x20000, true, 0x10000, 0x10000},
      {0x40000, true, 0x30000, 0x10000},
      {0x10000, true, 0x10000, 0},
      {0xFFFF, false, 0x20000, 0x20000},
  };
  for (const ReservedCase &Case : Cases) {
    SCOPED_TRACE(Case.Size);
    ResetModuleState();
    Profile P = Profile::Default();
    P.Acpi.Fwsm = true;
    P.Acpi.FwsmAddress = 0x0FF00000;
    P.Acpi.FwsmSize = Case.Size;
    Boot(P);
    StartSmi();
    EXPECT_EQ(Case.Taken, mFwsmi.Reserved != 0);
    EXPECT_EQ(Case.Size1, mFwsmi.Buffer[0].Size);
    EXPECT_EQ(Case.Size2, mFwsmi.Buffer[1].Size);
    if (Case.Taken) {
      EXPECT_EQ(0x0FF00000u, mFwsmi.Buffer[1].Address);
      EXPECT_EQ(0x0FF00000u + Case.Size2, mFwsmi.Buffer[0].Address);
      EXPECT_EQ(0u, M().PagesInUse());  // the allocated buffers were given back
    } else {
      EXPECT_NE(0u, mFwsmi.Buffer[0].Address);
      EXPECT_LT(mFwsmi.Buffer[0].Address, 0x10000000u);
    }
  }
}

TEST_F(FwsmiTest, EnlargementUnderReservedMemoryFailsWithoutAnySmi) {
  Profile P = Profile::Default();
  P.Acpi.Fwsm = true;
  P.Acpi.FwsmSize = 0x18000;
  Boot(P);
  StartSmi();
  std::vector<UINT8> Big(0x10001, 0x5A);
  UINT32 Address = 0;
  EXPECT_FALSE(CopyToFwsmiBuffer(1, Big.data(), (UINT32)Big.size(), &Address));
  EXPECT_TRUE(M().SmiTranscript().empty());
  EXPECT_EQ(0x10000u, mFwsmi.Buffer[0].Size);
}

TEST_F(FwsmiTest, BuffersCopyInEnlargeAndCopyOutWithinTheirSize) {
  Boot();
  StartSmi();
  UINT32 First = mFwsmi.Buffer[1].Address;
  std::vector<UINT8> Data(0x30000);
  for (size_t I = 0; I < Data.size(); I++) Data[I] = UINT8(I * 7);
  UINT32 Address = 0;
  ASSERT_TRUE(CopyToFwsmiBuffer(2, Data.data(), (UINT32)Data.size(), &Address));
  EXPECT_EQ(mFwsmi.Buffer[1].Address, Address);
  EXPECT_EQ(0x30000u, mFwsmi.Buffer[1].Size);
  EXPECT_LE(Address + 0x30000u, 0x10000000u);
  (void)First;
  std::vector<UINT8> Back(0x30000);
  ASSERT_TRUE(CopyFromFwsmiBuffer(Address, 0x30000, Back.data()));
  EXPECT_EQ(Data, Back);
  EXPECT_FALSE(CopyFromFwsmiBuffer(Address, 0x30001, Back.data()));
  EXPECT_FALSE(CopyFromFwsmiBuffer(Address + 16, 16, Back.data()));
  EXPECT_FALSE(CopyToFwsmiBuffer(3, Data.data(), 16, &Address));
  // Bytes beyond a shorter copy keep what they held.
  UINT8 Small[4] = {1, 2, 3, 4};
  ASSERT_TRUE(CopyToFwsmiBuffer(2, Small, 4, &Address));
  UINT8 Head[6];
  ASSERT_TRUE(CopyFromFwsmiBuffer(Address, 6, Head));
  EXPECT_EQ(Data[4], Head[4]);
  EXPECT_EQ(Data[5], Head[5]);
}

TEST_F(FwsmiTest, FailedEnlargementKeepsTheOldBuffer) {
  Profile P = Profile::Default();
  vyr::emu::AllocFaultConfig Fail;
  Fail.Call = 3;  // the two buffers succeed, the enlargement fails
  Fail.Count = 0;
  P.PageFaults = {Fail};
  Boot(P);
  StartSmi();
  FWSMI_BUFFER Before = mFwsmi.Buffer[0];
  std::vector<UINT8> Big(0x20001, 1);
  UINT32 Address = 0;
  EXPECT_FALSE(CopyToFwsmiBuffer(1, Big.data(), (UINT32)Big.size(), &Address));
  EXPECT_EQ(Before.Address, mFwsmi.Buffer[0].Address);
  EXPECT_EQ(Before.Size, mFwsmi.Buffer[0].Size);
  UINT8 Small[4] = {9, 9, 9, 9};
  EXPECT_TRUE(CopyToFwsmiBuffer(1, Small, 4, &Address));
}

TEST_F(FwsmiTest, BufferAllocationRules) {
  Profile P = Profile::Default();
  vyr::emu::AllocFaultConfig Second;
  Second.Call = 2;
  P.PageFaults = {Second};
  Boot(P);
  EXPECT_FALSE(AllocateFwsmiBuffers());
  EXPECT_EQ(0u, mFwsmi.Buffer[0].Address);
  EXPECT_EQ(0u, M().PagesInUse());  // buffer 1 was given back

  ResetModuleState();
  P = Profile::Default();
  vyr::emu::AllocFaultConfig Zero;
  Zero.ZeroAddress = true;
  P.PageFaults = {Zero};
  Boot(P);
  EXPECT_FALSE(AllocateFwsmiBuffers());  // "success" at address 0 counts as failure
}

TEST_F(FwsmiTest, SecondInitialSmiIsANoOp) {
  Boot();
  StartSmi();
  size_t Calls0 = M().SmiTranscript().size();
  EXPECT_TRUE(InitialSmi());
  EXPECT_EQ(Calls0, M().SmiTranscript().size());
}

TEST_F(FwsmiTest, AcerPlatformFromTheDsdtOemId) {
  Profile P = Profile::Default();
  P.Acpi.DsdtOemId = "ACRSYS";
  Boot(P);
  EXPECT_TRUE(IsAcerPlatform());
  ResetModuleState();
  P.Acpi.DsdtOemId = "ACRSYZ";
  Boot(P);
  EXPECT_FALSE(IsAcerPlatform());
  ResetModuleState();
  P.Acpi.Dsdt = false;
  Boot(P);
  EXPECT_FALSE(IsAcerPlatform());
}

}  // namespace

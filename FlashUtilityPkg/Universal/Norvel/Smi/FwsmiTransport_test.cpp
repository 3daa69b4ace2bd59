#include "Smi/FwsmiTransport.h"

#include "UtilityFixture.h"

namespace {

using vyr::emu::Profile;
using vyr::testing::UtilityTest;

// Faults are {Function, Status, first call, count (0: always), AH, ECX}.
class FwsmiTest : public UtilityTest {
 protected:
  // A fresh module on a default machine that Edit has changed.
  template <typename F>
  void BootWith(F Edit) {
    ResetModuleState();
    Profile P = Profile::Default();
    Edit(P);
    Boot(P);
  }
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

// Caller values: ECX 0xC1C2C3C4, ESI 0x51525354, EDI 0xD1D2D3D4. One row
// for each way the catalogue loads the registers, and the last function.
const CatalogueRow kRows[] = {
    {0x10, 0, 0, 0xD1D2D3D4},          {0x11, 0, 0x51525354, 0xD1D2D3D4},
    {0x13, 0xC4, 0x51525354, 0xD1D2D3D4}, {0x14, 0xC1C2C3C4, 0x51525354, 0xD1D2D3D4},
    {0x16, 0xC3C4, 0x51525354, 0},     {0x17, 4096, 0x51525354, 0xD1D2D3D4},
    {0x19, 1, 0, 0xD1D2D3D4},          {0x1A, 0xC3C4, 0, 0},
    {0x1C, 0, 0, 0},                   {0x1D, 0, 0x51525354, 0},
    {0x1F, 0xC1C2C3C4, 0, 0},          {0x20, 0xC3C4, 0x51525354, 0xD1D2D3D4},
    {0x21, 0xC300, 0x51525354, 0},     {0x23, 0xC1C2C3C4, 0x51525354, 0},
    {0x41, 0xC1C2C3C4, 0, 0xD1D2D3D4}, {0x4C, 0xC1C2C3C4, 0x51525354, 0xD1D2D3D4},
};

TEST_F(FwsmiTest, EveryCatalogueRowLoadsItsRegistersAndNoOtherFunctionIsIssued) {
  Boot();
  StartSmi();
  FWSMI_ARGS Args = {0xC1C2C3C4, 0x51525354, 0xD1D2D3D4};
  for (const CatalogueRow &Row : kRows) {
    SCOPED_TRACE(testing::Message() << "function " << std::hex << int(Row.Function));
    size_t Before = Calls().size();
    FwsmiCall(Row.Function, &Args, nullptr);
    ASSERT_EQ(Before + 1, Calls().size());
    const SMI_REGISTERS &In = Calls().back().In;
    EXPECT_EQ((UINT32(Row.Function) << 8) | 0xEF, In.Eax);
    EXPECT_EQ(0x24567972u, In.Ebx);  // "$Vyr"
    EXPECT_EQ(0xB2u, In.Edx & 0xFFFF);
    EXPECT_EQ(Row.Ecx, In.Ecx);
    EXPECT_EQ(Row.Esi, In.Esi);
    EXPECT_EQ(Row.Edi, In.Edi);
  }
  size_t Before = Calls().size();
  EXPECT_EQ(0xEFu, FwsmiCall(0x18, nullptr, nullptr) & 0xFF);
  EXPECT_EQ(0xEFu, FwsmiCall(0x4D, nullptr, nullptr) & 0xFF);
  EXPECT_EQ(Before, Calls().size());
}

TEST_F(FwsmiTest, ResultRegistersAreReadBackPerRow) {
  // 10h: AH permission and CH/CL version; 1Ch: CL folded into AH; 4Ch: CX:AX.
  BootWith([](Profile &P) {
    P.BiosFaults = {{0x10, 0, 1, 0, 0x01, 0x1504}, {0x1C, 0, 1, 0, 0x00, 0xAB00C7}, {0x4C, 0x05, 1, 0, 0x12, 0xFFFF3456}};
  });
  StartSmi();
  UINT32 Ecx = 0;
  UINT32 Eax = FwsmiCall(0x10, nullptr, &Ecx);
  EXPECT_EQ(0x0100u, Eax & 0xFFFF);
  EXPECT_EQ(0x1504u, Ecx & 0xFFFF);
  EXPECT_EQ(0xC7u, (FwsmiCall(0x1C, nullptr, nullptr) >> 8) & 0xFF);
  EXPECT_EQ(0x34561205u, FwsmiCall(0x4C, nullptr, nullptr));
}

TEST_F(FwsmiTest, RetryPolicyAttemptsWaitsAndStops) {
  const struct { UINT32 Retry, Attempts; } Cases[] = {{0, 1}, {5, 6}, {253, 254}, {254, 255}, {255, 255}, {1000, 255}};
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Retry);
    BootWith([](Profile &P) { P.BiosFaults = {{0x1F, 0x25, 1, 0}}; });
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
  // Two failures, then the BIOS's hook-point handler succeeds; 29h is the stop status.
  BootWith([](Profile &P) { P.BiosFaults = {{0x1F, 0x24, 1, 2}, {0x15, 0x29, 1, 0}}; });
  StartSmi();
  FWSMI_ARGS Args = {1, 0, 0};
  EXPECT_EQ(0u, FwsmiCallWithRetry(0x1F, &Args, nullptr, 0) & 0xFF);
  EXPECT_EQ(3u, Calls().size());
  EXPECT_EQ(0x29u, FwsmiCallWithRetry(0x15, &Args, nullptr, 0x29) & 0xFF);
  EXPECT_EQ(4u, Calls().size());
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

TEST_F(FwsmiTest, ErrorReportPrintsTableMessageAfterTheTwoLines) {
  const struct {
    UINT8 Function, Status;
    const char *Message;  // after the two lines
  } Cases[] = {
      // 22h, 24h and EFh: whole consoles in the RomMap, ReadRom and PlatformQueries tests.
      {0x12, 0x01, "Access prohibited. (Need provide secure mechanism to work for it, EBX='$Vyr')\r\n"},
      {0x14, 0x21, ""},
      {0x15, 0x25, "FBTS: Write bios failed.\r\n"},
      {0x1C, 0x26, "FBTS: Erase bios failed.\r\n"},
      {0x32, 0x27, "FBTS: Cannot skip module check.\r\n"},
      {0x15, 0xFF, ""},
  };
  for (const auto &Case : Cases) {
    BootWith([](Profile &) {});
    ReportFwsmiError(Case.Function, Case.Status);
    char Lines[80];
    snprintf(Lines, sizeof(Lines), "\r\n\r\nError: FWSMI %02Xh failed.\r\nInternal Error Code 0x%02X.\r\n",
             Case.Function, Case.Status);
    EXPECT_EQ(Lines + std::string(Case.Message), Console());
  }
}

TEST_F(FwsmiTest, MainFunctionNumberFromTheFSegmentOnSixteenByteSteps) {
  Boot();
  EXPECT_EQ(0xEF, GetSmiMainFunctionNumberFromPhysicalMemory());
  const struct {
    UINT32 Address;
    UINT8 Found;
  } Cases[] = {{0xE0000, 0xD5}, {0xF1230, 0xD5}, {0xFFFF0, 0xD5}, {0xF0008, 0xEF}};
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Address);
    BootWith([&](Profile &P) {
      P.Fsegment.SignatureAddress = Case.Address;
      P.Fsegment.MainFunction = 0xD5;
      P.BiosMainFunction = Case.Found;
    });
    EXPECT_EQ(Case.Found, GetSmiMainFunctionNumberFromPhysicalMemory());
    StartSmi();
    FwsmiCall(0x1F, nullptr, nullptr);
    EXPECT_EQ(0x1F00u | Case.Found, Calls().back().In.Eax & 0xFFFF);
  }
}

TEST_F(FwsmiTest, RsdpOfTheAcpi20EntryWins) {
  Boot();
  // Spoil the 1.0 copy: a walk that used it would find no RSDT.
  UINT32 Zero = 0;
  ASSERT_TRUE(M().WritePhysical(M().Acpi().Rsdp10 + 16, &Zero, 4));
  UINT32 Facp = 0;
  EXPECT_TRUE(GetFacpTableAddress(&Facp));
  EXPECT_EQ("", Console());
  for (bool Has10 : {true, false}) {
    for (bool Has20 : {true, false}) {
      BootWith([&](Profile &P) {
        P.Acpi.Rsdp10 = Has10;
        P.Acpi.Rsdp20 = Has20;
      });
      EXPECT_EQ(Has10 || Has20, GetFacpTableAddress(&Facp));
      EXPECT_EQ(Has10 || Has20 ? "" : "Error: RSDP not found!\r\n", Console());
    }
  }
}

TEST_F(FwsmiTest, AcpiTablesAndTheCommandPort) {
  BootWith([](Profile &P) { P.Acpi.SmiCmd = 0xABCD00B2; });
  EXPECT_TRUE(FindSMICommandPort());
  EXPECT_EQ(0xB2, mFwsmi.CommandPort);
  const struct {
    void (*Edit)(Profile &);
    const char *Console;
  } Cases[] = {
      {[](Profile &P) { P.Acpi.SmiCmd = 0x00B20000; }, "Error: SMI command port not found!\r\n"},
      {[](Profile &P) { P.Acpi.Facp = false; }, "Error: FACP not found!\r\n"},
      {[](Profile &P) { P.Acpi.Rsdt = false; }, "Error: RSDT not found!\r\nError: FACP not found!\r\n"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Console);
    BootWith(Case.Edit);
    EXPECT_FALSE(InitialSmi());
    EXPECT_EQ(Case.Console, Console());
  }
  // The reserved-memory walk names the missing table differently.
  BootWith(Cases[2].Edit);
  UINT8 *Copy = nullptr;
  UINT32 Length = 0;
  EXPECT_FALSE(GetAcpiFwsmTable(&Copy, &Length));
  EXPECT_EQ("Error: XSDT not found!\r\n", Console());
  EXPECT_FALSE(InitBiosReservedMemory());
}

TEST_F(FwsmiTest, ReservedMemorySplitsIntoTheTwoBuffers) {
  const struct { UINT32 Size; bool Taken; UINT32 Size1, Size2; } Cases[] = {
      {0xFFFF, false, 0x20000, 0x20000}, {0x20000, true, 0x10000, 0x10000}, {0x40000, true, 0x30000, 0x10000},
      {0x10000, true, 0x10000, 0},       {0x18000, true, 0x10000, 0x8000},  // the last one stays for the check below
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Size);
    BootWith([&](Profile &P) {
      P.Acpi.Fwsm = true;
      P.Acpi.FwsmSize = Case.Size;
    });
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
  // Reserved buffers are never enlarged, and no SMI is spent finding that out.
  std::vector<UINT8> Big(0x10001, 0x5A);
  UINT32 Address = 0;
  EXPECT_FALSE(CopyToFwsmiBuffer(1, Big.data(), (UINT32)Big.size(), &Address));
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(0x10000u, mFwsmi.Buffer[0].Size);
}

TEST_F(FwsmiTest, BuffersCopyInEnlargeAndCopyOutWithinTheirSize) {
  Boot();
  StartSmi();
  std::vector<UINT8> Data(0x30000);
  for (size_t I = 0; I < Data.size(); I++) Data[I] = UINT8(I * 7);
  UINT32 Address = 0;
  ASSERT_TRUE(CopyToFwsmiBuffer(2, Data.data(), (UINT32)Data.size(), &Address));
  EXPECT_EQ(mFwsmi.Buffer[1].Address, Address);
  EXPECT_EQ(0x30000u, mFwsmi.Buffer[1].Size);
  EXPECT_LE(Address + 0x30000u, 0x10000000u);
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

TEST_F(FwsmiTest, AllocationFailures) {
  // The two buffers succeed, the enlargement fails: the old buffer stays usable.
  BootWith([](Profile &P) { P.PageFaults = {{3, 0}}; });
  StartSmi();
  FWSMI_BUFFER Before = mFwsmi.Buffer[0];
  std::vector<UINT8> Big(0x20001, 1);
  UINT32 Address = 0;
  EXPECT_FALSE(CopyToFwsmiBuffer(1, Big.data(), (UINT32)Big.size(), &Address));
  EXPECT_EQ(Before.Address, mFwsmi.Buffer[0].Address);
  EXPECT_EQ(Before.Size, mFwsmi.Buffer[0].Size);
  EXPECT_TRUE(CopyToFwsmiBuffer(1, Big.data(), 4, &Address));

  BootWith([](Profile &P) { P.PageFaults = {{2, 1}}; });
  EXPECT_FALSE(AllocateFwsmiBuffers());
  EXPECT_EQ(0u, mFwsmi.Buffer[0].Address);
  EXPECT_EQ(0u, M().PagesInUse());  // buffer 1 was given back
  // "Success" at address 0 counts as failure.
  BootWith([](Profile &P) { P.PageFaults = {{1, 1, {}, true}}; });
  EXPECT_FALSE(AllocateFwsmiBuffers());
}

TEST_F(FwsmiTest, AcerPlatformFromTheDsdtOemId) {
  const struct {
    const char *OemId;
    bool Dsdt, Acer;
  } Cases[] = {{"ACRSYS", true, true}, {"ACRSYZ", true, false}, {"ACRSYS", false, false}};
  for (const auto &Case : Cases) {
    BootWith([&](Profile &P) {
      P.Acpi.DsdtOemId = Case.OemId;
      P.Acpi.Dsdt = Case.Dsdt;
    });
    EXPECT_EQ(Case.Acer, IsAcerPlatform() != 0) << Case.OemId << Case.Dsdt;
  }
}

}  // namespace

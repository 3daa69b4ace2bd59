// Capsule progress percentages through a fake platform protocol, the 41h
// progress report to the BIOS and the PFAT support query.
#include "Flash/Progress.h"

#include <cstring>

#include "Bios/EmuBios.h"
#include "FlashFixture.h"
#include "Guids.h"
#include "Image/Payload.h"
#include "Platform.h"
#include "Smi/ExtraDataRequest.h"

namespace {

using vyr::testing::FlashTest;

std::vector<UINT32> gReported;

EFI_STATUS EFIAPI RecordProgress(UINT32 Percentage) {
  gReported.push_back(Percentage);
  return EFI_SUCCESS;
}

VYR_CAPSULE_UPDATE_PROGRESS_PROTOCOL gFakeProtocol = {RecordProgress};

struct Bios41h {
  UINT8 Al = 0;
  std::string Signature = "$EDO";
  UINT16 Status = 0;
  std::vector<UINT8> Request;
  std::vector<UINT8> Data;
  SMI_REGISTERS In = {};
  int Calls = 0;
} g41h;

UINT8 Answer41h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  g41h.Calls++;
  g41h.In = *Regs;
  g41h.Request.assign(EXTRA_DATA_LONG_REQUEST_SIZE, 0);
  EmuBiosReadPhysical(Bios, Regs->Ecx, g41h.Request.data(), g41h.Request.size());
  g41h.Data.assign(PROGRESS_REPORT_SIZE, 0);
  if (Regs->Edi != 0) EmuBiosReadPhysical(Bios, Regs->Edi, g41h.Data.data(), g41h.Data.size());
  else g41h.Data.clear();
  UINT8 Answer[EXTRA_DATA_ANSWER_SIZE] = {};
  std::memcpy(Answer, g41h.Signature.data(), 4);
  Answer[4] = 16;
  Answer[8] = 0xFF;
  Answer[9] = 0xFF;
  WriteUnaligned16(Answer + 14, g41h.Status);
  EmuBiosWritePhysical(Bios, Regs->Ecx, Answer, sizeof(Answer));
  return g41h.Al;
}

// A payload record with only its header: the sizes are all that progress reads.
struct FakeRecords {
  UINT8 Header[PayloadTagCount][PAYLOAD_HEADER_LENGTH] = {};
  void Set(PAYLOAD_TAG_ID Id, UINT32 Size) {
    WriteUnaligned32(Header[Id] + 20, Size);
    mPayload.Record[Id] = Header[Id];
  }
};

class ProgressTest : public FlashTest {
 protected:
  void SetUp() override {
    FlashTest::SetUp();
    gReported.clear();
    g41h = Bios41h();
    StartWithMaps();
    EmuBiosRegisterHandler(&M().Bios(), 0x41, Answer41h);
  }
  void InstallProtocol() {
    EFI_HANDLE Handle = nullptr;
    ASSERT_EQ(PlatformInstallProtocolInterface(&Handle, &gVyrCapsuleUpdateProgressProtocolGuid, &gFakeProtocol),
              EFI_SUCCESS);
  }
  FakeRecords Records_;
};

TEST_F(ProgressTest, WithoutTheProtocolNothingIsReported) {
  EXPECT_FALSE(InitRomCapsuleUpdateProgress());
  EXPECT_TRUE(Logged("LocateProtocol (gVyrCapsuleUpdateProgressProtocolGuid) fail - Not Found\r\n"));
  EXPECT_TRUE(Logged("<=== InitRomCapsuleUpdateProgress (Initial protocol failed)"));
  UpdateCapsuleUpdatePercentage(ProgressPhaseEnd, 0);
  EXPECT_TRUE(Logged("<=== UpdateCapsuleUpdatePercentage (No Vyr Capsule Update Progress Protocol)"));
  EXPECT_TRUE(gReported.empty());
}

TEST_F(ProgressTest, RomPhasesReportAcrossBiosDeviceFirmwareAndEc) {
  InstallProtocol();
  UINT32 Rom = GetRomSize();
  Records_.Set(PayloadBios, 0x1000);
  Records_.Set(PayloadDeviceFirmware, Rom / 2);
  Records_.Set(PayloadEc, Rom / 2);
  ASSERT_TRUE(InitRomCapsuleUpdateProgress());
  EXPECT_EQ(mProgress.TotalSize, 2 * Rom);
  struct Step { UINT8 Phase; UINT32 Done; UINT32 Percent; } Steps[] = {
      {ProgressPhaseBios, 0, 0},
      {ProgressPhaseBios, Rom / 2, 25},
      {ProgressPhaseDeviceFirmware, 0, 50},          // base: BIOS base + device FW done (0)
      {ProgressPhaseEc, Rom / 4, 87},                // base: BIOS base + whole device FW record
      {ProgressPhaseEnd, 0, 100},
  };
  for (const auto &S : Steps) UpdateCapsuleUpdatePercentage(S.Phase, S.Done);
  ASSERT_EQ(gReported.size(), std::size(Steps));
  for (size_t I = 0; I < std::size(Steps); I++) EXPECT_EQ(gReported[I], Steps[I].Percent) << I;
  // The device-firmware base follows the records done, capped at the record.
  SetDeviceFirmwareProgressBase(Rom / 4);
  EXPECT_EQ(CapsuleUpdatePercentage(ProgressPhaseDeviceFirmware, 0, nullptr), 62);
  SetDeviceFirmwareProgressBase(Rom);
  EXPECT_EQ(mProgress.DeviceFirmwareDone, Rom / 2);
  // A second Init does not locate again.
  ASSERT_TRUE(InitRomCapsuleUpdateProgress());
  EXPECT_TRUE(Logged("<=== InitCapsuleUpdateProgressProtocol (Protocol already located)"));
}

TEST_F(ProgressTest, BinaryPhasesAndEmptyTotals) {
  InstallProtocol();
  // Without a BIOS record the ROM size is no base; with nothing at all every report is 0 %.
  ASSERT_TRUE(InitRomCapsuleUpdateProgress());
  EXPECT_TRUE(Logged(" BIOS Base Size (0 or ROM Size): 0x0\r\n"));
  UpdateCapsuleUpdatePercentage(ProgressPhaseEnd, 0);
  UpdateCapsuleUpdatePercentage(ProgressPhaseBios, 0x5000);
  EXPECT_EQ(gReported, std::vector<UINT32>({0, 0}));

  gReported.clear();
  Records_.Set(PayloadIsh, 0x100);
  Records_.Set(PayloadPdt, 0x100);
  Records_.Set(PayloadMe, 0x200);
  ASSERT_TRUE(InitBinaryCapsuleUpdateProgress());
  EXPECT_TRUE(Logged("   ISH Image Size: 0x100\r\n   PDT Image Size: 0x100\r\n    ME Image Size: 0x200\r\n"
                     " Total Image Size: 0x400\r\n"));
  UpdateCapsuleUpdatePercentage(ProgressPhaseIsh, 0x80);
  UpdateCapsuleUpdatePercentage(ProgressPhasePdt, 0x80);
  UpdateCapsuleUpdatePercentage(ProgressPhaseMe, 0x100);
  UpdateCapsuleUpdatePercentage(ProgressPhaseEnd, 0);
  EXPECT_EQ(gReported, std::vector<UINT32>({12, 37, 75, 100}));
  EXPECT_TRUE(Logged(" [ 75] Base(0x200) + Update(0x100) / Total(0x400)\r\n"));
}

TEST_F(ProgressTest, PassUpdateProgressSendsTheLongRequest) {
  EXPECT_TRUE(SMI_PassUpdateProgress(3, 10));
  const std::vector<UINT8> Request = {'$', 'E', 'D', 'I', 50, 0, 0, 0, 0x67, 0xFF, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<UINT8>(g41h.Request.begin(), g41h.Request.begin() + 14), Request);
  EXPECT_EQ(std::vector<UINT8>(g41h.Request.begin() + 14, g41h.Request.end()), std::vector<UINT8>(28, 0));
  EXPECT_EQ(g41h.Data, std::vector<UINT8>({'$', '6', '7', 'I', 16, 0, 0, 0, 10, 0, 0, 0, 3, 0, 0, 0}));
  EXPECT_EQ(g41h.In.Esi, 0u);
  EXPECT_NE(g41h.In.Edi, 0u);
  EXPECT_TRUE(SMI_PassUpdateProgress(4, 10));
  EXPECT_EQ(g41h.Calls, 2);
}

TEST_F(ProgressTest, PassUpdateProgressTurnsItselfOffAtTheFirstFailure) {
  struct Case { const char *Name; UINT8 Al; std::string Signature; UINT16 Status; const char *Reason; } Cases[] = {
      {"call failed", 0x05, "$EDO", 0, "FWSMI 41h failed"},
      {"signature", 0, "$EDX", 0, "FWSMI 41h output buffer signature incorrect"},
      {"data type", 0, "$EDO", 0x8000, "Not support this data type"},
      {"other status", 0, "$EDO", 0x0001, "Undefined error"},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    ProgressResetState();
    g41h = Bios41h();
    g41h.Al = C.Al;
    g41h.Signature = C.Signature;
    g41h.Status = C.Status;
    EXPECT_FALSE(SMI_PassUpdateProgress(0, 4));
    EXPECT_TRUE(Logged(std::string("<=== SMI_PassUpdateProgress (") + C.Reason + ")"));
    int Calls = g41h.Calls;
    g41h = Bios41h();  // a healthy BIOS no longer matters
    EXPECT_FALSE(SMI_PassUpdateProgress(1, 4));
    EXPECT_EQ(g41h.Calls, 0) << Calls;
  }
  EXPECT_TRUE(Logged("Return Status: 0x0001\r\n"));
  EXPECT_TRUE(Logged(" Ignore SMI_PassUpdateProgress\r\n"));
}

TEST_F(ProgressTest, PfatSupportQuery) {
  struct Case { UINT8 Al; UINT16 Status; bool Supported; const char *Reason; } Cases[] = {{0, 0, true, nullptr},
               {0, 0x2000, true, nullptr},
               {0, 0x8000, false, "Not support this data type"},
               {0xEF, 0, false, "41h not implement"}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Status + C.Al);
    ExtraDataRequestResetState();
    g41h = Bios41h();
    g41h.Al = C.Al;
    g41h.Status = C.Status;
    EXPECT_EQ(IsSupportPfat(), C.Supported);
    EXPECT_EQ(IsSupportPfat(), C.Supported);
    EXPECT_EQ(g41h.Calls, 1);
    const std::vector<UINT8> Request = {'$', 'E', 'D', 'I', 14, 0, 0, 0, 0x58, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<UINT8>(g41h.Request.begin(), g41h.Request.begin() + 14), Request);
    EXPECT_EQ(g41h.In.Edi, 0u);
    EXPECT_TRUE(Logged(C.Supported ? " PFAT [Support]\r\n" : " PFAT [NOT Support]\r\n"));
    if (C.Reason) {
      EXPECT_TRUE(Logged(std::string("<=== SMI_IsSupportPfat (") + C.Reason + ")"));
    }
  }
  EXPECT_TRUE(Logged("FWSMI 41h failed. (0xEF)\r\n===== 41h Alpha =====\r\n"));
}

}  // namespace

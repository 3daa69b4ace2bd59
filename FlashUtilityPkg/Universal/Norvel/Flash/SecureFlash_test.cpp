// The 48h submission against BIOS answers set per case: where the capsule is
// sent from and which answers count as taken.
#include "Flash/SecureFlash.h"

#include "Bios/EmuBios.h"
#include "FlashFixture.h"
#include "Flash/SecureCapsule.h"

namespace {

using vyr::testing::FlashTest;

struct Submission {
  UINT8 Status = 0;
  bool WriteExo = true;
  UINT32 Count = 0, Size = 0, FirstAddress = 0;
  std::vector<UINT8> Data;  // the first block as the BIOS read it
} gBios;

UINT8 Answer48h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  UINT8 List[24] = {};
  EmuBiosReadPhysical(Bios, Regs->Esi, List, sizeof(List));
  gBios.Count = ReadUnaligned32(List);
  gBios.FirstAddress = ReadUnaligned32(List + 16);
  gBios.Size = Regs->Ecx;
  gBios.Data.assign(ReadUnaligned32(List + 8), 0);
  if (gBios.FirstAddress == 0 || !EmuBiosReadPhysical(Bios, gBios.FirstAddress, gBios.Data.data(), gBios.Data.size())) {
    gBios.Data.clear();
  }
  if (gBios.WriteExo) {
    UINT8 Record[9] = {'$', 'E', 'X', 'O', 9, 0, 0, 0, 1};
    EmuBiosWritePhysical(Bios, Regs->Edi, Record, sizeof(Record));
  }
  Regs->Ecx = (Regs->Ecx & ~0xFFu) | 3;  // action: do nothing
  return gBios.Status;
}

class SecureFlashTest : public FlashTest {};

TEST_F(SecureFlashTest, CapsuleGoesFromMemoryUnlessTheBiosReadsTheEsp) {
  std::vector<UINT8> Capsule(0x80001);
  for (size_t I = 0; I < Capsule.size(); I++) Capsule[I] = UINT8(I * 13);
  struct Case {
    const char *Name;
    bool ViaEsp, EspSupported;
    UINT8 Status;
    bool WriteExo;
    bool Taken, FromEsp;
    const char *Reason;  // exit reason of a refusal
  } Cases[] = {
      {"from memory", false, true, 0x00, true, true, false, nullptr},
      {"ESP request and ESP support: address 0", true, true, 0x00, true, true, true, nullptr},
      {"ESP request, no ESP support: from memory", true, false, 0x00, true, true, false, nullptr},
      {"status 0 without the answer record", false, false, 0x00, false, false, false, "BIOS return not success"},
      {"signature refused", false, false, 0x33, true, false, false, "BIOS return not success"},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Start();
    EmuBiosRegisterHandler(&M().Bios(), 0x48, Answer48h);
    gBios = Submission();
    gBios.Status = C.Status;
    gBios.WriteExo = C.WriteExo;
    mSecureCapsule.ViaEspRequest = C.ViaEsp;
    mSecureCapsule.EspSupported = C.EspSupported;
    EXPECT_EQ(C.Taken, SMI_SecureCapsuleFlash(Capsule.data(), UINT32(Capsule.size())) != 0);
    EXPECT_EQ(UINT32(Capsule.size()), gBios.Size);
    EXPECT_EQ(2u, gBios.Count);  // 512 KiB and the last byte
    EXPECT_EQ(C.FromEsp, gBios.FirstAddress == 0);
    if (!C.FromEsp) {
      EXPECT_TRUE(std::equal(gBios.Data.begin(), gBios.Data.end(), Capsule.begin()));
      EXPECT_EQ(0x80000u, gBios.Data.size());
    }
    EXPECT_EQ(C.Taken ? 3 : 0, mSecureCapsule.LastAction);
    if (C.Reason) EXPECT_TRUE(Logged(std::string("<=== SMI_SecureCapsuleFlash (") + C.Reason + ")")) << Log();
  }
}

}  // namespace

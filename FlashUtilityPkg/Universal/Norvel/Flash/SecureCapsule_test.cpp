// Secure capsule recognition, the 48h/4Ch support queries, the 1Ah and 1Bh
// exchanges, RBU images and the completion-action mapping, against BIOS
// answers set per test.
#include "Flash/SecureCapsule.h"

#include <cstring>

#include "Bios/EmuBios.h"
#include "FlashFixture.h"
#include "Image/ImageAnalysis.h"

namespace {

using vyr::testing::FlashTest;

struct Call {
  SMI_REGISTERS In;
  std::vector<UINT8> Buffer1;  // at ESI
  std::vector<UINT8> Buffer2;  // at EDI
};

struct Answers {
  std::vector<UINT8> Statuses;  // per call; the last one repeats
  UINT8 Ah = 0;
  UINT8 Cl = 0;
  bool WriteExo = false;
  UINT8 ExoFlags = 0;
  std::vector<Call> Calls;
  UINT8 Next() {
    size_t Index = Calls.size() - 1;
    return Statuses.empty() ? 0 : Statuses[Index < Statuses.size() ? Index : Statuses.size() - 1];
  }
} gBios;

std::vector<UINT8> ReadAt(EMU_BIOS *Bios, UINT32 Address, size_t Length) {
  std::vector<UINT8> Out(Length);
  if (Address == 0 || !EmuBiosReadPhysical(Bios, Address, Out.data(), Length)) Out.clear();
  return Out;
}

UINT8 Answer48h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  gBios.Calls.push_back({*Regs, ReadAt(Bios, Regs->Esi, CAPSULE_BLOCK_LIST_SIZE),
                         ReadAt(Bios, Regs->Edi, CAPSULE_EXT_RECORD_SIZE)});
  if (gBios.WriteExo) {
    UINT8 Record[9] = {'$', 'E', 'X', 'O', 9, 0, 0, 0, gBios.ExoFlags};
    EmuBiosWritePhysical(Bios, Regs->Edi, Record, sizeof(Record));
  }
  Regs->Ecx = (Regs->Ecx & ~0xFFu) | gBios.Cl;
  return gBios.Next();
}

UINT8 Answer4Ch(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  gBios.Calls.push_back({*Regs, ReadAt(Bios, Regs->Esi, CAPSULE_BLOCK_LIST_SIZE), {}});
  Regs->Eax = (Regs->Eax & 0xFFFF00FFu) | ((UINT32)gBios.Ah << 8);
  Regs->Ecx = gBios.Cl;
  return gBios.Next();
}

UINT8 AnswerPlain(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  gBios.Calls.push_back({*Regs, ReadAt(Bios, Regs->Esi, SKIP_MODEL_CHECK_BLOCK_LENGTH), {}});
  return gBios.Next();
}

std::vector<UINT8> Bytes(const std::string &Text) { return std::vector<UINT8>(Text.begin(), Text.end()); }

const std::vector<UINT8> kCapsuleSignature = {'$',  'Z',  'T',  'K',  0x33, 0x38, 0xA1, 0xDD, 0x42, 0xC3,
                                              0xAE, 0x4E, 0xB5, 0xC9, 0xC2, 0xD7, 0xD6, 0x13, 0xDB, 0xB8};

std::vector<UINT8> Record(const std::string &Tag, UINT32 Size, UINT8 Fill = 0xA5) {
  std::vector<UINT8> Out = Bytes(Tag);
  Out.resize(20, 0);
  Out.push_back(Size & 0xFF);
  Out.push_back((Size >> 8) & 0xFF);
  Out.push_back((Size >> 16) & 0xFF);
  Out.push_back(Size >> 24);
  Out.resize(Out.size() + Size, Fill);
  return Out;
}

std::vector<UINT8> Join(std::initializer_list<std::vector<UINT8>> Parts) {
  std::vector<UINT8> Out(8, 0x11);  // lead bytes: the records are found anywhere
  for (const auto &P : Parts) Out.insert(Out.end(), P.begin(), P.end());
  return Out;
}

class SecureCapsuleTest : public FlashTest {
 protected:
  void SetUp() override {
    FlashTest::SetUp();
    gBios = Answers();
  }
  void Handle(UINT8 Function, EMU_BIOS_HANDLER Handler) { EmuBiosRegisterHandler(&M().Bios(), Function, Handler); }
  bool Exited(const std::string &Name, const std::string &Reason) {
    return Logged("<=== " + Name + " (" + Reason + ")");
  }
};

TEST_F(SecureCapsuleTest, RecognisesCapsulesAndTheirRecords) {
  Start();
  const auto Bios = Record("$_NORVEL_BIOSIMG", 0x40);
  const auto EmptyBios = Record("$_NORVEL_BIOSIMG", 0);
  const auto Ec = Record("$_NORVEL_EC_IMG_", 0x1800);
  const auto Me = Record("$_NORVEL_ME_IMG_", 0x2400);
  const auto DevFw = Record("$_DEVICE_FW_IMG_", 0x400, 0x77);
  struct Case {
    const char *Name;
    std::vector<UINT8> Image;
    bool Secure, EcOnly, MeOnly, HasEc, HasMe, HasDevFw, DriverSignature;
    UINT32 SecureSize;
    const char *Trace;
  } Cases[] = {
      {"legacy", Join({Bios, Ec}), false, false, false, true, false, false, false, 0, "Legacy FD size (0x"},
      {"signature, no BIOS", Join({kCapsuleSignature, Me}), false, false, false, false, true, false, false, 0,
       "Secure capsule but secure BIOS not found\r\n"},
      {"secure", Join({kCapsuleSignature, Bios}), true, false, false, false, false, false, false, 0x40,
       " Secure capsule size (0x40)\r\n Updata External EC region only = 0\r\n"},
      {"EC only", Join({kCapsuleSignature, EmptyBios, Ec}), true, true, false, true, false, false, false, 0,
       " Secure capsule with EC (6K)\r\n"},
      {"ME only", Join({Me, kCapsuleSignature, EmptyBios}), true, false, true, false, true, false, false, 0,
       " Updata Native ME only = 1\r\n"},
      {"driver signature", Join({Bytes("Q#EFI#DRV_"), kCapsuleSignature, Bios, DevFw}), true, false, false, false,
       false, true, true, 0x40, "EFI DRV Signature found!\r\n"},
      // A BIOS record whose size runs past the image is not a record.
      {"cut BIOS record",
       [&] {
         auto I = Join({kCapsuleSignature, Bios});
         I.resize(I.size() - 1);
         return I;
       }(),
       false, false, false, false, false, false, false, 0, "Secure capsule but secure BIOS not found\r\n"},
  };
  for (auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    ImageAnalysisResetState();
    EXPECT_EQ(ParseSecureCapsule(C.Image.data(), (UINT32)C.Image.size()), C.Secure);
    const SECURE_CAPSULE_INFO &I = mImageAnalysis.Capsule;
    // Secure, size, EC only, ME only, EC, EC size, ME, device firmware, driver signature.
    EXPECT_EQ(std::vector<UINT32>({C.Secure, C.SecureSize, C.EcOnly, C.MeOnly, C.HasEc, C.HasEc ? 0x1800u : 0u, C.HasMe,
                                   C.HasDevFw, C.DriverSignature}),
              std::vector<UINT32>({I.IsSecureImage, I.SecureSize, I.EcOnly, I.NativeMeOnly, I.HasEc, I.EcSize, I.HasMe,
                                   I.HasDeviceFirmware, I.DriverSignature}));
    if (C.HasDevFw) {
      EXPECT_EQ(I.DeviceFirmwareSize, 0x400u);
      EXPECT_EQ(I.DeviceFirmwareData[0], 0x77);
      EXPECT_EQ(I.DeviceFirmwareData - C.Image.data(), (long)(C.Image.size() - 0x400));
    }
    EXPECT_TRUE(Logged(C.Trace));
  }
  // Side-record flags are never cleared by a later image.
  auto WithEc = Join({kCapsuleSignature, Bios, Ec});
  auto Plain = Join({Bios});
  ImageAnalysisResetState();
  EXPECT_TRUE(ParseSecureCapsule(WithEc.data(), (UINT32)WithEc.size()));
  EXPECT_FALSE(ParseSecureCapsule(Plain.data(), (UINT32)Plain.size()));
  EXPECT_TRUE(mImageAnalysis.Capsule.HasEc);
  EXPECT_FALSE(mImageAnalysis.Capsule.IsSecureImage);
}

TEST_F(SecureCapsuleTest, BlockListCutsTheCapsuleIn512KiBBlocks) {
  std::vector<UINT8> List(CAPSULE_BLOCK_LIST_SIZE);
  struct Case {
    UINT32 Size;
    BOOLEAN ZeroEntry;
    UINT32 Count;
    UINT32 LastLength;
  } Cases[] = {{0x100000, FALSE, 2, 0x80000}, {0x100001, FALSE, 3, 1}, {0x7FFFF, FALSE, 1, 0x7FFFF},
               {0, FALSE, 0, 0},              {0, TRUE, 1, 0}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Size);
    UINT32 Count = 99;
    ASSERT_TRUE(BuildCapsuleBlockList(List.data(), 0x01000000, C.Size, C.ZeroEntry, &Count));
    EXPECT_EQ(Count, C.Count);
    EXPECT_EQ(ReadUnaligned32(List.data()), C.Count);
    EXPECT_EQ(ReadUnaligned32(List.data() + 4), 0u);
    for (UINT32 I = 0; I < C.Count; I++) {
      UINT8 *E = List.data() + 8 + 16 * I;
      EXPECT_EQ(ReadUnaligned32(E), I + 1 == C.Count ? C.LastLength : 0x80000u);
      EXPECT_EQ(ReadUnaligned32(E + 4), 0u);
      EXPECT_EQ(ReadUnaligned32(E + 8), C.Size == 0 ? 0u : 0x01000000u + I * 0x80000u);
      EXPECT_EQ(ReadUnaligned32(E + 12), 0u);
    }
    EXPECT_EQ(ReadUnaligned32(List.data() + 8 + 16 * C.Count), 0u);
  }
  EXPECT_TRUE(BuildCapsuleBlockList(List.data(), 0, 512u * 0x80000u, FALSE, nullptr));
  EXPECT_FALSE(BuildCapsuleBlockList(List.data(), 0, 512u * 0x80000u + 1, FALSE, nullptr));
}

TEST_F(SecureCapsuleTest, SecurePlatformQuery) {
  struct Case {
    const char *Name;
    UINT8 Status;
    bool ViaEsp, WriteExo;
    UINT8 ExoFlags;
    bool Secure, Esp;
    const char *Reason;
  } Cases[] = {
      {"status 0", 0x00, false, false, 0, true, false, nullptr},
      {"not supported", 0xEF, false, false, 0, false, false, "FWSMI 48h failed"},
      {"other error", 0x55, false, false, 0, true, false, "Support secure flash"},
      {"ESP supported", 0x00, true, true, 1, true, true, nullptr},
      {"ESP flag without answer", 0x00, true, false, 0, true, false, nullptr},
      {"ESP not supported", 0x00, true, true, 0, true, false, nullptr},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Start();
    Handle(0x48, Answer48h);
    gBios = Answers();
    gBios.Statuses = {C.Status};
    gBios.WriteExo = C.WriteExo;
    gBios.ExoFlags = C.ExoFlags;
    SetViaEspRequest(C.ViaEsp);
    EXPECT_EQ(IsSecurePlatform(), C.Secure);
    EXPECT_EQ(IsSecurePlatform(), C.Secure);
    ASSERT_EQ(gBios.Calls.size(), 1u);  // asked once, no retries
    const Call &K = gBios.Calls[0];
    EXPECT_EQ(K.In.Ecx, 0u);
    EXPECT_EQ(ReadUnaligned32(K.Buffer1.data()), 0u);
    EXPECT_EQ(ReadUnaligned32(K.Buffer1.data() + 8), 0u);
    EXPECT_EQ(K.Buffer2, std::vector<UINT8>({'$', 'E', 'X', 'T', 9, 0, 0, 0, (UINT8)(C.ViaEsp ? 1 : 0)}));
    EXPECT_EQ(mSecureCapsule.EspSupported, C.Esp);
    EXPECT_EQ(Logged(" BIOS support via ESP method\r\n"), C.Esp);
    std::string Platform = C.Secure ? " Platform [Secure]\r\n" : " Platform [Legacy]\r\n";
    std::string Text = Log();
    ASSERT_NE(Text.find(Platform), std::string::npos);
    EXPECT_NE(Text.find(Platform), Text.rfind(Platform));  // traced at each answer
    EXPECT_TRUE(Logged(" Block Count 0x0\r\n Capsule Size 0x0\r\n"));
    EXPECT_EQ(Logged("FWSMI 48h failed. (0xEF)\r\n"), C.Status == 0xEF);
    if (C.Reason) {
      EXPECT_TRUE(Exited(C.Status == 0xEF ? "SMI_IsSecurePlatform" : "Fwsmi_48h", C.Reason));
    }
  }
}

TEST_F(SecureCapsuleTest, OemSecurePlatformQuery) {
  struct Case { UINT8 Status; bool OemSecure; } Cases[] = {{0x00, true}, {0xEF, false}, {0x31, true}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Status);
    Start();
    Handle(0x4C, Answer4Ch);
    gBios = Answers();
    gBios.Statuses = {C.Status};
    EXPECT_EQ(IsOemSecurePlatform(), C.OemSecure);
    EXPECT_EQ(IsOemSecurePlatform(), C.OemSecure);
    ASSERT_EQ(gBios.Calls.size(), 1u);
    const Call &K = gBios.Calls[0];
    EXPECT_EQ(K.In.Ecx, 0u);
    EXPECT_EQ(K.In.Edi, 1u);  // verify only
    EXPECT_EQ(ReadUnaligned32(K.Buffer1.data()), 1u);
    EXPECT_EQ(std::vector<UINT8>(K.Buffer1.begin() + 4, K.Buffer1.begin() + 24), std::vector<UINT8>(20, 0));
    EXPECT_TRUE(Logged("  block_count  0x1\r\n  FD size      0x0\r\n"));
    EXPECT_TRUE(Logged(C.OemSecure ? " Platform [OEM Secure]\r\n" : " Platform [Legacy]\r\n"));
    EXPECT_EQ(Logged("FWSMI 4Ch failed. (0x"), C.Status != 0);
    if (C.Status == 0xEF) {
      EXPECT_TRUE(Exited("SMI_IsOemSecurePlatform", "FWSMI 4Ch failed"));
    }
  }
}

TEST_F(SecureCapsuleTest, OemSecureAnswerBits) {
  Start();
  Handle(0x4C, Answer4Ch);
  gBios.Ah = 0x05;  // signature accepted, update succeeded
  gBios.Cl = 3;
  OEM_SECURE_REQUEST Request = {0x00200000, 0x80001, 0, 0, 0, 0, 0};
  ASSERT_TRUE(Fwsmi_4Ch(&Request, OEM_SECURE_MODE_FLASH));
  EXPECT_EQ(Request.Action, 3);
  EXPECT_TRUE(Request.SignatureAccepted);
  EXPECT_FALSE(Request.FallBackAllowed);
  EXPECT_TRUE(Request.UpdateSucceeded);
  EXPECT_EQ(gBios.Calls[0].In.Ecx, 0x80001u);
  EXPECT_EQ(gBios.Calls[0].In.Edi, 0u);
  EXPECT_EQ(ReadUnaligned32(gBios.Calls[0].Buffer1.data()), 2u);
  // A real image refused with any status fails.
  gBios = Answers();
  gBios.Statuses = {0x31};
  EXPECT_FALSE(Fwsmi_4Ch(&Request, OEM_SECURE_MODE_VERIFY));
  EXPECT_TRUE(Exited("Fwsmi_4Ch", "BIOS return not success"));
}

TEST_F(SecureCapsuleTest, OemOdmNotification) {
  struct Case {
    std::vector<UINT8> Statuses;
    bool Ok;
    size_t Calls;
  } Cases[] = {{{0x00}, true, 1}, {{0xEF}, true, 3}, {{0x05}, false, 3}, {{0x05, 0x00}, true, 2}};
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Statuses[0]);
    Start();
    mIniSettings.Others.SMIErrorRetry = 2;
    mIniSettings.Others.SMIErrorRetryDelay = 0;
    Handle(0x1A, AnswerPlain);
    gBios = Answers();
    gBios.Statuses = C.Statuses;
    EXPECT_EQ(SMI_OemOdmCustom2(OEM_ODM_ACTION_END, OEM_ODM_STATUS_FAILURE), C.Ok);
    ASSERT_EQ(gBios.Calls.size(), C.Calls);
    EXPECT_EQ(gBios.Calls[0].In.Ecx & 0xFFFF, 0x0202u);  // CH status, CL action
    EXPECT_EQ(gBios.Calls[0].In.Esi, 0u);
    EXPECT_EQ(gBios.Calls[0].In.Edi, 0u);
    EXPECT_EQ(Exited("SMI_OemOdmCustom2", "FWSMI fail"), !C.Ok);
  }
}

class SkipModelCheckTest : public SecureCapsuleTest {
 protected:
  void SetUp() override {
    SecureCapsuleTest::SetUp();
    StartWithMaps();
    mIniSettings.Others.SMIErrorRetry = 1;  // two attempts per block
    mIniSettings.Others.SMIErrorRetryDelay = 0;
    Handle(0x1B, AnswerPlain);
    Image_.resize(GetRomSize());
    for (size_t I = 0; I < Image_.size(); I += SKIP_MODEL_CHECK_BLOCK_LENGTH) Image_[I] = (UINT8)(I >> 12);
  }
  std::vector<UINT8> Image_;
};

// Each 4 KiB block is offered twice (one retry) at its address; 28h on every
// attempt refuses, a later success goes on, 0xEF is no verdict at all.
TEST_F(SkipModelCheckTest, VerdictsStopTheWalk) {
  const struct {
    std::vector<UINT8> Statuses;  // per attempt
    bool Ok;
    size_t Calls;
  } Cases[] = {
      {{0x28}, false, 12},                  // every block refused
      {{0x00}, true, 1},
      {{0xEF}, true, 2},                    // not supported, after its retries
      {{0x28, 0x28, 0x28, 0x00}, true, 4},  // second block, second attempt
      {{0x28, 0x28, 0x31}, false, 4},       // other status on the second block
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Calls);
    gBios = Answers();
    gBios.Statuses = C.Statuses;
    EXPECT_EQ(SMI_SkipModelCheckVerify(Image_.data(), 6 * 4096, GetRomSize()), C.Ok);
    ASSERT_EQ(gBios.Calls.size(), C.Calls);
    for (UINT32 I = 0; I < C.Calls; I++) {
      // Copied out: the register and block records are packed.
      UINT32 Ecx = gBios.Calls[I].In.Ecx, Edi = gBios.Calls[I].In.Edi, Address = GetBlockEntry(I / 2)->Address;
      EXPECT_EQ(Ecx, 4096u);
      EXPECT_EQ(Edi, Address);
      EXPECT_EQ(gBios.Calls[I].Buffer1[0], (UINT8)(I / 2));
    }
  }
  EXPECT_TRUE(Exited("SMI_SkipModelCheckVerify", "BIOS not allow to skip model check"));
}

TEST_F(SkipModelCheckTest, EcBlocksComeFirstWithEcb) {
  mEcUpdate.ImageBuffer = (UINT8 *)AllocateZeroPool(EC_IMAGE_BUFFER_SIZE);
  ASSERT_NE(mEcUpdate.ImageBuffer, nullptr);
  std::vector<UINT8> Ec(0x2800, 0);  // two whole blocks and a piece
  Ec[4096] = 0xEC;
  ASSERT_TRUE(StoreEcImage(Ec.data(), (UINT32)Ec.size()));
  gBios.Statuses = {0x28};
  EXPECT_FALSE(SMI_SkipModelCheckVerify(Image_.data(), 4096, GetRomSize()));
  EXPECT_EQ(gBios.Calls.size(), 2u);  // BIOS block only
  mCommandLine.Owner[OWNER_ECB] = 1;
  gBios = Answers();
  gBios.Statuses = {0x28};
  EXPECT_FALSE(SMI_SkipModelCheckVerify(Image_.data(), 4096, GetRomSize()));
  ASSERT_EQ(gBios.Calls.size(), 6u);
  EXPECT_EQ(gBios.Calls[0].In.Edi, 0u);
  EXPECT_EQ(gBios.Calls[2].In.Edi, 4096u);
  EXPECT_EQ(gBios.Calls[2].Buffer1[0], 0xEC);
  UINT32 FirstBlock = GetBlockEntry(0)->Address;  // a packed record: copied out
  EXPECT_EQ(gBios.Calls[4].In.Edi, FirstBlock);
}

// ---- RBU ----

std::vector<UINT8> Rbu(UINT8 Header, UINT32 Size, int ServerLength = -1) {
  std::vector<UINT8> Image(Size);
  for (UINT32 I = 0; I < Size; I++) Image[I] = (UINT8)(I * 7 + 3);
  std::memcpy(Image.data(), "$RBU", 4);
  Image[4] = Header;
  if (ServerLength >= 0) {
    std::memcpy(Image.data() + Header, "$BIS", 4);
    Image[Header + 4] = ServerLength & 0xFF;
    Image[Header + 5] = ServerLength >> 8;
  }
  return Image;
}

TEST_F(SecureCapsuleTest, RbuWindow) {
  Start();
  struct Case { const char *Name; std::vector<UINT8> Image; bool Rbu; UINT32 Start, Raw; } Cases[] = {
      {"no server block", Rbu(0x20, 0x80028), true, 0x20, 0x80000},
      {"server block, whole units", Rbu(0x20, 0x80068, 0x40), true, 0x60, 0x80000},
      {"server block, moved back", Rbu(0x20, 0x80068 + 0x30, 0x40), true, 0x30, 0x80030},
      {"moved back out of the file", Rbu(0x20, 0x80068 + 0x61, 0x40), false, 0, 0},
      {"header past the end", Rbu(0x40, 0x44), false, 0, 0},
      {"server block past the end", Rbu(0x20, 0x60, 0x50), false, 0, 0},
      {"not RBU", std::vector<UINT8>(0x100, 0x24), false, 0, 0},
  };
  for (auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    SecureCapsuleResetState();
    ImageAnalysisResetState();
    EXPECT_EQ(IsRbuImage(C.Image.data(), (UINT32)C.Image.size()), C.Rbu);
    EXPECT_EQ(mImageAnalysis.Rbu.Present, C.Rbu);
    if (C.Rbu) {
      EXPECT_EQ(mImageAnalysis.Rbu.RawFd - C.Image.data(), (long)C.Start);
      EXPECT_EQ(mImageAnalysis.Rbu.RawFdSize, C.Raw);
    }
  }
  EXPECT_TRUE(Logged(" RBU FD\r\n-----+------\r\n file  0x80098\r\n  raw  0x80030\r\n"
                     " RBU secure FD\r\n-----+------\r\n  cer  0x30\r\n  raw  0x80030\r\n"));
  EXPECT_TRUE(Logged("===== DELL Server Info =====\r\n"));
}

TEST_F(SecureCapsuleTest, RbuChecksums) {
  Start();
  EXPECT_EQ(RbuCrc32((const UINT8 *)"abc", 3), 0xCADBBE3Du);
  EXPECT_EQ(RbuCrc32((const UINT8 *)"abc", 0), 0u);
  EXPECT_EQ(RbuCrc32(nullptr, 5), 0u);
  struct Case {
    const char *Name;
    std::vector<UINT8> Image;
  } Cases[] = {{"plain", Rbu(0x10, 0x1000)}, {"server block", Rbu(0x10, 0x80038, 0x20)}};
  for (auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    SecureCapsuleResetState();
    ImageAnalysisResetState();
    UINT32 Size = (UINT32)C.Image.size();
    ASSERT_TRUE(IsRbuImage(C.Image.data(), Size));
    UINT32 Trailer = (UINT32)(mImageAnalysis.Rbu.RawFd - C.Image.data()) + mImageAnalysis.Rbu.RawFdSize;
    WriteUnaligned32(C.Image.data() + Trailer, RbuCrc32(C.Image.data() + 0x10, Trailer - 0x10));
    WriteUnaligned32(C.Image.data() + Trailer + 4, RbuCrc32(C.Image.data(), Size - 4));
    ASSERT_EQ(Trailer + 8, Size);
    EXPECT_TRUE(CheckRbuChecksum(C.Image.data(), Size));
    EXPECT_TRUE(Logged(" RBU Checksum: FD (0x"));
    // A byte of the FD part, then one of the entire sum's own range only.
    for (UINT32 Offset : {0x10u, 0x8u}) {
      C.Image[Offset] ^= 1;
      EXPECT_FALSE(CheckRbuChecksum(C.Image.data(), Size)) << Offset;
      C.Image[Offset] ^= 1;
    }
    EXPECT_NE(Console().find("RBU image checksum fail!\r\n"), std::string::npos);
  }
}

TEST_F(SecureCapsuleTest, CompletionActionMapping) {
  Start();
  mIniSettings.FlashSecureBIOSOverride.EnableFlashSecureBIOSOverride = 1;
  mIniSettings.FlashSecureBIOSOverride.Action = 1;
  mSecureCapsule.LastAction = 0;
  EXPECT_EQ(GetSecureCompleteAction(), 2);
  EXPECT_TRUE(Logged("[FlashSecureBIOSOverride] enable\r\n Action 48h (0) -> ini (1)\r\n\r\n"
                     " Action 48h (1) -> 16h (2)\r\n"));
  EXPECT_EQ(GetOemCompleteAction(0), 3);  // no override for 4Ch
}

}  // namespace

#include "Bios/SignedFunctions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Bios/FlashFunctions.h"
#include "EmuBiosMemory.h"
#include "vyrpack/SignedImages.h"
#include "vyrpack/Signing.h"

namespace {

using vyr::pack::Bytes;

const std::string kKeys = std::string(VYR_SOURCE_DIR) + "/Tests/keys/";
const std::string kKey = kKeys + "test-signing.pem";
const std::string kOtherKey = kKeys + "other-signing.pem";

constexpr UINT32 kBuf1 = 0x10000;
constexpr UINT32 kBuf2 = 0x14000;
constexpr UINT32 kImage = 0x100000;  // where the utility keeps the image
constexpr UINT32 kFlashSize = 0x100000;
constexpr UINT32 kBase = 0xFFF00000;
constexpr UINT32 kBiosRegion = 0x80000;  // offset and size of the BIOS region

std::string U32(UINT32 V) { return std::string{char(V), char(V >> 8), char(V >> 16), char(V >> 24)}; }
std::string U16(UINT16 V) { return std::string{char(V), char(V >> 8)}; }
std::string Str(const Bytes &B) { return std::string(B.begin(), B.end()); }

Bytes Pattern(size_t Size, UINT8 Seed) {
  Bytes B(Size);
  for (size_t I = 0; I < Size; I++) B[I] = UINT8(I * 7 + Seed + (I >> 12));
  return B;
}

// A 1 MiB part of 64 KiB blocks (descriptor, ME, BIOS in its upper half)
// that holds the test key.
struct SignedBiosTest : ::testing::Test {
  SignedBiosTest() : M(0x10000, 0x300000), Flash(kFlashSize, 0x11), Store(0x200000), Extra(0x10000) {
    F.BlockMap[0] = {0x100, 16};
    F.BlockMapCount = 1;
    F.External[0] = {0, 0, 0x10000, 0};
    F.External[1] = {2, 0x10000, 0x70000, 0};
    F.External[2] = {1, kBiosRegion, kBiosRegion, 0};
    F.ExternalCount = 3;
    EmuFlashSetContents(&F, Flash.data(), kFlashSize);
    EmuSignedSetBuffers(&S, Store.data(), UINT32(Store.size()), Extra.data(), UINT32(Extra.size()));
    const Bytes Modulus = vyr::pack::PublicModulus(kKeys + "test-signing.pub.pem");
    std::memcpy(S.PublicKey, Modulus.data(), Modulus.size());
    S.HasKey = TRUE;
    S.HostContext = this;
    S.ReadEsp = [](VOID *Context, UINT8 *Buffer, UINT32 Capacity, UINT32 *Size) -> BOOLEAN {
      auto *T = static_cast<SignedBiosTest *>(Context);
      *Size = UINT32(T->EspFile.size());
      if (!T->HasEspFile || T->EspFile.size() > Capacity) return FALSE;
      std::memcpy(Buffer, T->EspFile.data(), T->EspFile.size());
      return TRUE;
    };
    S.StoreExtra = [](VOID *Context, UINT8 Type, CONST UINT8 *Data, UINT32 Size) {
      static_cast<SignedBiosTest *>(Context)->Stored[Type] = std::string((const char *)Data, Size);
    };
    C.Secure = TRUE;
    C.CapsuleStatus = 0;
    C.CapsuleAction = 1;
  }
  UINT8 Al(const SMI_REGISTERS &R) { return UINT8(R.Eax & 0xFF); }
  UINT8 Ah(const SMI_REGISTERS &R) { return UINT8(R.Eax >> 8); }
  void PutBytes(UINT32 At, const Bytes &B) { M.Put(At, Str(B)); }
  // The block list of the utility: 512 KiB blocks from Address.
  void PutBlockList(UINT32 Address, UINT32 Size) {
    std::string List;
    UINT32 Count = 0;
    for (UINT32 Done = 0; Done < Size; Done += 0x80000, Count++) {
      List += U32(std::min<UINT32>(0x80000, Size - Done)) + U32(0) + U32(Address + Done) + U32(0);
    }
    M.Put(kBuf1, U32(Count) + U32(0) + List);
  }
  SMI_REGISTERS Submit48h(const Bytes &Capsule, UINT8 Flags = 0) {
    PutBytes(kImage, Capsule);
    PutBlockList(kImage, UINT32(Capsule.size()));
    M.Put(kBuf2, "$EXT" + U32(9) + std::string(1, char(Flags)));
    return M.Call(0x48, UINT32(Capsule.size()), kBuf1, kBuf2);
  }
  SMI_REGISTERS Complete16h(UINT8 Action) {
    M.Put(kBuf2, "$FINISHI" + U32(13) + "\x01");
    return M.Call(0x16, Action, kBuf2, 0);
  }
  SMI_REGISTERS Submit4Ch(const Bytes &Image, UINT32 Mode) {
    PutBytes(kImage, Image);
    PutBlockList(kImage, UINT32(Image.size()));
    return M.Call(0x4C, UINT32(Image.size()), kBuf1, Mode);
  }
  std::string FlashAt(UINT32 Offset, UINT32 Size) const { return std::string((const char *)Flash.data() + Offset, Size); }
  Bytes Capsule(const Bytes &Bios, const std::string &Key = kKey) {
    vyr::pack::CapsuleParts Parts;
    Parts.bios = Bios;
    return vyr::pack::BuildSecureCapsule(Parts, Key);
  }

  EmuBiosMemory M;
  EMU_FLASH &F = M.Bios.Flash;
  EMU_CHECKS &C = M.Bios.Checks;
  EMU_SIGNED &S = M.Bios.Signed;
  Bytes Flash, Store, Extra;
  Bytes EspFile;
  bool HasEspFile = false;
  std::map<UINT8, std::string> Stored;
};

TEST_F(SignedBiosTest, CapsuleIsCheckedBeforeItWaitsForTheReset) {
  const Bytes Bios = Pattern(kFlashSize, 1);
  const Bytes Good = Capsule(Bios);
  Bytes Tampered = Good;
  Tampered[Good.size() / 2] ^= 0x04;
  Bytes NoCapsuleSignature = Good;
  NoCapsuleSignature[3] = 'X';  // "$ZTX"
  const Bytes Unsigned(Good.begin(), Good.end() - 280);
  const struct {
    const char *Name;
    Bytes Image;
    UINT8 RefuseStatus;
    UINT8 Status;
  } Cases[] = {
      {"tampered", Tampered, 0, EMU_SIGNED_STATUS_BAD_SIGNATURE},
      {"other key", Capsule(Bios, kOtherKey), 0, EMU_SIGNED_STATUS_BAD_SIGNATURE},
      {"no signature record", Unsigned, 0, EMU_SIGNED_STATUS_BAD_SIGNATURE},
      {"not a capsule", NoCapsuleSignature, 0, EMU_SIGNED_STATUS_INVALID},
      {"BIOS fits no region", Capsule(Pattern(0x30000, 2)), 0, EMU_SIGNED_STATUS_TOO_LARGE},
      {"the BIOS refuses", Good, 0x40, 0x40},
      {"good", Good, 0, 0},
  };
  for (const auto &Test : Cases) {
    C.CapsuleStatus = Test.RefuseStatus;
    SMI_REGISTERS R = Submit48h(Test.Image);
    EXPECT_EQ(Test.Status, Al(R)) << Test.Name;
    EXPECT_EQ(Test.Status == 0, S.CapsulePending != 0) << Test.Name;
  }
  EXPECT_EQ(6u, S.CapsulesRefused);
  EXPECT_EQ(2u, S.CapsulesVerified);  // the refused good one counts
  EXPECT_EQ("$EXO" + U32(9) + std::string(1, '\0'), M.At(kBuf2, 9));
  EXPECT_EQ(std::string(kFlashSize, 0x11), FlashAt(0, kFlashSize));  // nothing before the reset

  // Returning to the OS is no reset; the reboot request is.
  ASSERT_EQ(0, Al(Complete16h(0)));
  EXPECT_TRUE(S.CapsulePending);
  ASSERT_EQ(0, Al(Complete16h(EMU_COMPLETION_ACTION_REBOOT)));
  EXPECT_FALSE(S.CapsulePending);
  EXPECT_EQ(Str(Bios), FlashAt(0, kFlashSize));
  EXPECT_EQ(std::make_tuple(UINT8(EMU_SIGNED_APPLY_DONE), 16u, 1u),
            std::make_tuple(S.LastApply, S.LastApplyBlocks, S.CapsulesApplied));
}

TEST_F(SignedBiosTest, RegionCapsuleGoesToTheBiosRegionAndAnswersTheAction) {
  C.CapsuleAction = 2;
  const Bytes Bios = Pattern(kBiosRegion, 3);
  SMI_REGISTERS R = Submit48h(Capsule(Bios));
  ASSERT_EQ(0, Al(R));
  EXPECT_EQ(2u, R.Ecx & 0xFF);
  ASSERT_TRUE(EmuSignedApplyPending(&M.Bios));
  EXPECT_EQ(std::string(kBiosRegion, 0x11), FlashAt(0, kBiosRegion));
  EXPECT_EQ(Str(Bios), FlashAt(kBiosRegion, kBiosRegion));
  EXPECT_FALSE(EmuSignedApplyPending(&M.Bios));  // applied once
}

TEST_F(SignedBiosTest, ResetFaultsLeaveWhatARealPartWould) {
  const Bytes Bios = Pattern(kFlashSize, 4);
  // Fails after three blocks: those are new, the rest old.
  S.CapsuleFailAfterBlocks = 3;
  ASSERT_EQ(0, Al(Submit48h(Capsule(Bios))));
  ASSERT_TRUE(EmuSignedApplyPending(&M.Bios));
  EXPECT_EQ(UINT8(EMU_SIGNED_APPLY_FAILED), S.LastApply);
  EXPECT_EQ(Str(Bios).substr(0, 0x30000), FlashAt(0, 0x30000));
  EXPECT_EQ(std::string(kFlashSize - 0x30000, 0x11), FlashAt(0x30000, kFlashSize - 0x30000));

  // The power goes between the submission and the reset: the answer was
  // given, the capsule in memory is lost, nothing more is answered.
  S.CapsuleFailAfterBlocks = 0;
  S.CapsulePowerCut = TRUE;
  const std::string Before = FlashAt(0, kFlashSize);
  ASSERT_EQ(0, Al(Submit48h(Capsule(Pattern(kFlashSize, 5)))));
  EXPECT_TRUE(F.PoweredOff);
  EXPECT_TRUE(S.CapsuleLostToPowerCut);
  EXPECT_FALSE(S.CapsulePending);
  SMI_REGISTERS R = Complete16h(EMU_COMPLETION_ACTION_REBOOT);
  EXPECT_EQ(M.Bios.MainFunction, Al(R));
  EXPECT_EQ(Before, FlashAt(0, kFlashSize));
}

TEST_F(SignedBiosTest, BlockListsAreCheckedAgainstTheSize) {
  const Bytes Good = Capsule(Pattern(kFlashSize, 6));
  const UINT32 Size = UINT32(Good.size());
  PutBytes(kImage, Good);
  const std::string Tail = U32(Size - 0x80000) + U32(0) + U32(kImage + 0x80000) + U32(0);
  const std::string First = U32(0x80000) + U32(0) + U32(kImage) + U32(0);
  const struct {
    const char *Name;
    std::string List;
    UINT32 Size;
    UINT8 Status;
  } Cases[] = {
      {"no blocks", U32(0) + U32(0), Size, EMU_CHECKS_STATUS_BAD_REQUEST},
      {"513 blocks", U32(513) + U32(0) + First + Tail, Size, EMU_CHECKS_STATUS_BAD_REQUEST},
      {"lengths short of the size", U32(1) + U32(0) + First, Size, EMU_CHECKS_STATUS_BAD_REQUEST},
      {"lengths past the size", U32(2) + U32(0) + First + Tail, Size - 1, EMU_CHECKS_STATUS_BAD_REQUEST},
      {"64-bit length", U32(2) + U32(0) + U32(0x80000) + U32(1) + U32(kImage) + U32(0) + Tail, Size,
       EMU_CHECKS_STATUS_BAD_REQUEST},
      {"block outside memory", U32(2) + U32(0) + U32(0x80000) + U32(0) + U32(0x7000000) + U32(0) + Tail, Size,
       EMU_CHECKS_STATUS_BAD_REQUEST},
      {"larger than the store", U32(1) + U32(0) + First, 0x200001, EMU_SIGNED_STATUS_TOO_LARGE},
      {"right", U32(2) + U32(0) + First + Tail, Size, 0},
  };
  for (const auto &Test : Cases) {
    M.Put(kBuf1, Test.List);
    M.Put(kBuf2, "$EXT" + U32(9) + std::string(1, '\0'));
    EXPECT_EQ(Test.Status, Al(M.Call(0x48, Test.Size, kBuf1, kBuf2))) << Test.Name;
  }
  M.Put(kBuf2, "$EXX" + U32(9) + std::string(1, '\0'));
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(M.Call(0x48, Size, kBuf1, kBuf2)));
  C.Secure = FALSE;
  M.Put(kBuf2, "$EXT" + U32(9) + std::string(1, '\0'));
  EXPECT_EQ(EMU_CHECKS_STATUS_NOT_SUPPORTED, Al(M.Call(0x48, Size, kBuf1, kBuf2)));
}

TEST_F(SignedBiosTest, AddressZeroReadsTheCapsuleFromTheEsp) {
  const Bytes Bios = Pattern(kFlashSize, 7);
  const Bytes Good = Capsule(Bios);
  const auto SubmitFromEsp = [&](UINT8 Flags) {
    PutBlockList(0, UINT32(Good.size()));
    M.Put(kBuf2, "$EXT" + U32(9) + std::string(1, char(Flags)));
    return Al(M.Call(0x48, UINT32(Good.size()), kBuf1, kBuf2));
  };
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, SubmitFromEsp(1));  // the BIOS has no ESP method
  C.EspSupport = TRUE;
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, SubmitFromEsp(0));  // the utility did not place it
  EXPECT_EQ(EMU_SIGNED_STATUS_NO_FILE, SubmitFromEsp(1));
  HasEspFile = true;
  EspFile = Good;
  EspFile.push_back(0);
  EXPECT_EQ(EMU_SIGNED_STATUS_INVALID, SubmitFromEsp(1));  // not the size the utility sent
  EspFile = Good;
  EspFile[100] ^= 1;
  EXPECT_EQ(EMU_SIGNED_STATUS_BAD_SIGNATURE, SubmitFromEsp(1));
  EspFile = Good;
  ASSERT_EQ(0, SubmitFromEsp(1));
  EXPECT_EQ("$EXO" + U32(9) + "\x01", M.At(kBuf2, 9));
  EXPECT_TRUE(S.CapsuleFromEsp);
  ASSERT_EQ(0, Al(Complete16h(EMU_COMPLETION_ACTION_REBOOT)));
  EXPECT_EQ(Str(Bios), FlashAt(0, kFlashSize));
}

// The RBU trailer made right again after a change, so that only the
// signature can tell.
void FixRbuChecksums(Bytes &Image) {
  const size_t H = Image[4];
  const size_t Trailer = Image.size() - 8;
  const UINT32 Fd = EmuSignedRbuCrc32(Image.data() + H, UINT32(Trailer - H));
  std::memcpy(Image.data() + Trailer, &Fd, 4);
  const UINT32 All = EmuSignedRbuCrc32(Image.data(), UINT32(Image.size() - 4));
  std::memcpy(Image.data() + Trailer + 4, &All, 4);
}

TEST_F(SignedBiosTest, RbuImageIsVerifiedThenFlashed) {
  C.OemSecure = TRUE;
  const Bytes Fd = Pattern(kFlashSize, 8);
  const Bytes Good = vyr::pack::BuildRbuImage(Fd, kKey);
  Bytes BadChecksum = Good;
  BadChecksum[Good.size() / 2] ^= 1;
  Bytes Resummed = BadChecksum;
  FixRbuChecksums(Resummed);
  const struct {
    const char *Name;
    Bytes Image;
    BOOLEAN Fallback;
    UINT8 Status;
    UINT8 AnswerBits;
  } Cases[] = {
      {"good", Good, FALSE, 0, 0x01},
      {"checksum", BadChecksum, FALSE, 0, 0x00},
      {"checksums made right", Resummed, FALSE, 0, 0x00},
      {"other key, fall-back allowed", vyr::pack::BuildRbuImage(Fd, kOtherKey), TRUE, 0, 0x02},
      {"not an RBU image", Capsule(Fd), FALSE, EMU_SIGNED_STATUS_INVALID, 0},
      {"window not a flash size", vyr::pack::BuildRbuImage(Pattern(0x180000, 9), kKey), FALSE,
       EMU_SIGNED_STATUS_INVALID, 0},
  };
  for (const auto &Test : Cases) {
    S.RbuFallback = Test.Fallback;
    SMI_REGISTERS R = Submit4Ch(Test.Image, 1);
    EXPECT_EQ(Test.Status, Al(R)) << Test.Name;
    if (Test.Status == 0) EXPECT_EQ(Test.AnswerBits, Ah(R)) << Test.Name;
  }
  EXPECT_EQ(std::string(kFlashSize, 0x11), FlashAt(0, kFlashSize));  // verify only

  S.RbuFailAfterBlocks = 2;  // flashing fails part-way: the update bit stays clear
  SMI_REGISTERS R = Submit4Ch(Good, 0);
  ASSERT_EQ(0, Al(R));
  EXPECT_EQ(0x01, Ah(R));
  EXPECT_EQ(Str(Fd).substr(0, 0x20000), FlashAt(0, 0x20000));
  EXPECT_EQ(std::string(0x10000, 0x11), FlashAt(0x20000, 0x10000));
  S.RbuFailAfterBlocks = 0;
  R = Submit4Ch(Good, 0);
  ASSERT_EQ(0, Al(R));
  EXPECT_EQ(0x05, Ah(R));
  EXPECT_EQ(1u, R.Ecx & 0xFF);
  EXPECT_EQ(Str(Fd), FlashAt(0, kFlashSize));
  EXPECT_EQ(std::make_tuple(1u, 5u), std::make_tuple(S.RbuFlashed, S.RbuRefused));
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(Submit4Ch(Good, 2)));
}

struct PfatTest : SignedBiosTest {
  PfatTest() {
    C.Pfat = TRUE;
    Image = vyr::pack::BuildPfatImage(Fd, kKey, 0x10000);
    Header = Str(Image).find("$PFATHDR");
    Certificate = Str(Image).find("$PFATCER");
  }
  Bytes Packet(UINT32 Index) const {
    Bytes P(Image.begin() + Header + 32 + 32 * Index, Image.begin() + Header + 64 + 32 * Index);
    P.insert(P.end(), Image.begin() + Index * 0x10000, Image.begin() + (Index + 1) * 0x10000);
    P.insert(P.end(), Image.begin() + Certificate + 32 + 256 * Index, Image.begin() + Certificate + 288 + 256 * Index);
    return P;
  }
  std::string Request(UINT8 Type, UINT32 Size) { return "$EDI" + U32(14) + std::string{char(Type), '\xFF'} + U32(Size); }
  // Announce, transfer, result: what the utility does for one packet. The
  // 42h status, and the return code of the result (0 written).
  std::pair<UINT8, UINT64> Send(const Bytes &P, UINT8 Index, UINT8 Action, UINT32 Announced = 0) {
    M.Put(kBuf1, Request(0x58, Announced != 0 ? Announced : UINT32(P.size())));
    EXPECT_EQ(0, Al(M.Call(0x41, kBuf1, 0, 0)));
    PutBytes(kImage, P);
    const UINT8 Status = Al(M.Call(0x42, (UINT32(Index) << 8) | Action, kImage, UINT32(P.size())));
    M.Put(kBuf1, Request(0x5A, 0));
    EXPECT_EQ(0, Al(M.Call(0x41, kBuf1, 0, 0)));
    const std::string Answer = M.At(kBuf1, 52);
    UINT64 Code = 0;
    if (Answer.substr(14, 2) == U16(0x2000)) std::memcpy(&Code, Answer.data() + 16, 8);
    return {Status, Code};
  }
  const Bytes Fd = Pattern(kBiosRegion, 10);  // the BIOS region: eight packets
  Bytes Image;
  size_t Header = 0, Certificate = 0;
};

TEST_F(PfatTest, PacketsAreSignedBlocksWrittenOneByOne) {
  M.Put(kBuf1, Request(0x58, 0));
  ASSERT_EQ(0, Al(M.Call(0x41, kBuf1, 0, 0)));
  EXPECT_EQ("$EDO" + U32(24) + "\xFF\xFF" + U32(0x100000) + U16(0), M.At(kBuf1, 16));

  Bytes Tampered = Packet(1);
  Tampered[40] ^= 1;
  Bytes Elsewhere = Packet(1);
  Elsewhere[12] = 0x01;  // flash address 0xFFF80001: not a block
  const struct {
    const char *Name;
    Bytes P;
    UINT8 Index;
    UINT32 Announced;
    UINT8 Status;
    UINT64 Code;
  } Cases[] = {
      {"tampered block", Tampered, 1, 0, 0, EMU_PFAT_RESULT_BAD_SIGNATURE},
      {"other block's index", Packet(1), 2, 0, 0, EMU_PFAT_RESULT_BAD_HEADER},
      {"not a block address", Elsewhere, 1, 0, 0, EMU_PFAT_RESULT_BAD_ADDRESS},
      {"announced smaller", Packet(1), 1, 0x100, EMU_SIGNED_STATUS_TOO_LARGE, EMU_PFAT_RESULT_NONE},
      {"packet 0", Packet(0), 0, 0, 0, 0},
  };
  for (const auto &Test : Cases) {
    const auto Got = Send(Test.P, Test.Index, 0xEF, Test.Announced);
    EXPECT_EQ(std::make_pair(Test.Status, Test.Code), Got) << Test.Name;
  }
  EXPECT_EQ(Str(Fd).substr(0, 0x10000), FlashAt(kBiosRegion, 0x10000));
  EXPECT_EQ(std::string(0x70000, 0x11), FlashAt(kBiosRegion + 0x10000, 0x70000));
  for (UINT8 Index = 1; Index < 8; Index++) {
    ASSERT_EQ(std::make_pair(UINT8(0), UINT64(0)), Send(Packet(Index), Index, Index == 7 ? 0 : 0xEF));
  }
  EXPECT_EQ(Str(Fd), FlashAt(kBiosRegion, kBiosRegion));
  EXPECT_EQ(std::make_tuple(8u, 1u), std::make_tuple(S.PfatWritten, S.PfatSequences));
  // A transfer without an announcement is refused.
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(M.Call(0x42, 0, kImage, UINT32(Packet(0).size()))));
}

TEST_F(PfatTest, SizeLimitsAndFaultsStopAtTheirPacket) {
  S.PfatPacketLimit = 0x8000;  // smaller than a packet: refused without a write
  EXPECT_EQ(std::make_pair(UINT8(EMU_SIGNED_STATUS_TOO_LARGE), UINT64(EMU_PFAT_RESULT_NONE)), Send(Packet(0), 0, 0xEF));
  EXPECT_EQ(std::string(kBiosRegion, 0x11), FlashAt(kBiosRegion, kBiosRegion));
  S.PfatPacketLimit = 0x100000;

  S.PfatFailAtPacket = 3;
  EXPECT_EQ(0u, Send(Packet(0), 0, 0xEF).second);
  EXPECT_EQ(0u, Send(Packet(1), 1, 0xEF).second);
  EXPECT_EQ(UINT64(EMU_PFAT_RESULT_WRITE_FAILED), Send(Packet(2), 2, 0xEF).second);
  EXPECT_EQ(Str(Fd).substr(0, 0x20000), FlashAt(kBiosRegion, 0x20000));
  EXPECT_EQ(std::string(0x10000, 0x11), FlashAt(kBiosRegion + 0x20000, 0x10000));

  // The power goes with the fourth block written: the rest stays old.
  S.PfatFailAtPacket = 0;
  F.PowerCutAfterWrites = F.BlocksWritten + 2;
  Send(Packet(2), 2, 0xEF);
  M.Put(kBuf1, Request(0x58, UINT32(Packet(3).size())));
  ASSERT_EQ(0, Al(M.Call(0x41, kBuf1, 0, 0)));
  PutBytes(kImage, Packet(3));
  ASSERT_EQ(0, Al(M.Call(0x42, 0x03EF, kImage, UINT32(Packet(3).size()))));
  EXPECT_TRUE(F.PoweredOff);
  PutBytes(kImage, Packet(4));
  EXPECT_EQ(M.Bios.MainFunction, Al(M.Call(0x42, 0x04EF, kImage, UINT32(Packet(4).size()))));
  EXPECT_EQ(Str(Fd).substr(0, 0x40000), FlashAt(kBiosRegion, 0x40000));
  EXPECT_EQ(std::string(0x40000, 0x11), FlashAt(kBiosRegion + 0x40000, 0x40000));
}

TEST_F(SignedBiosTest, ExtraDataIsAssembledFromItsAnnouncedPieces) {
  const auto Announce = [&](UINT8 Type, UINT32 Size) {
    M.Put(kBuf1, "$EDI" + U32(14) + std::string{char(Type), '\xFF'} + U32(Size));
    return Al(M.Call(0x41, kBuf1, 0, 0));
  };
  const auto Piece = [&](UINT8 Continuation, UINT8 Index, const std::string &Data) {
    M.Put(kImage, Data);
    return Al(M.Call(0x42, (UINT32(Index) << 8) | Continuation, kImage, UINT32(Data.size())));
  };
  ASSERT_EQ(0, Announce(0x09, 2));
  EXPECT_EQ("$EDO" + U32(24) + "\xFF\xFF" + U32(2) + U16(0), M.At(kBuf1, 16));
  ASSERT_EQ(0, Piece(0, 0, "\x45\x23"));
  EXPECT_EQ("\x45\x23", Stored[0x09]);

  const struct {
    const char *Name;
    UINT32 Size;
    std::vector<std::tuple<UINT8, UINT8, std::string, UINT8>> Pieces;  // continuation, index, data, status
    bool Stored;
  } Cases[] = {
      {"two pieces", 6, {{0xEF, 0, "abcd", 0}, {0, 1, "ef", 0}}, true},
      {"piece out of order", 6, {{0xEF, 1, "abcd", EMU_SIGNED_STATUS_TOO_LARGE}}, false},
      {"past the size", 6, {{0xEF, 0, "abcd", 0}, {0, 1, "efg", EMU_SIGNED_STATUS_TOO_LARGE}}, false},
      {"last piece short", 6, {{0, 0, "abcd", EMU_SIGNED_STATUS_TOO_LARGE}}, false},
      {"dropped item takes no more", 6, {{0, 0, "abcdefg", EMU_SIGNED_STATUS_TOO_LARGE}, {0, 0, "abcdef", EMU_CHECKS_STATUS_BAD_REQUEST}}, false},
  };
  for (const auto &Test : Cases) {
    Stored.clear();
    ASSERT_EQ(0, Announce(0x05, Test.Size)) << Test.Name;
    for (const auto &P : Test.Pieces) {
      EXPECT_EQ(std::get<3>(P), Piece(std::get<0>(P), std::get<1>(P), std::get<2>(P))) << Test.Name;
    }
    EXPECT_EQ(Test.Stored, Stored.count(0x05) == 1) << Test.Name;
  }
  EXPECT_EQ("abcdef", std::string((const char *)Extra.data(), 6));
  // Announcements: too large for the limit, nothing, or no type of -edt.
  S.ExtraDataLimit = 0x100;
  EXPECT_EQ(EMU_SIGNED_STATUS_TOO_LARGE, Announce(0x04, 0x101));
  EXPECT_EQ(EMU_SIGNED_STATUS_TOO_LARGE, Announce(0x04, 0));
  ASSERT_EQ(0, Announce(0x0D, 4));
  EXPECT_EQ(U16(EMU_CHECKS_EDO_NOT_SUPPORTED), M.At(kBuf1 + 14, 2));
  EXPECT_EQ(std::make_tuple(2u, 6u), std::make_tuple(S.ExtraItems, S.ExtraRefused));
}

}  // namespace

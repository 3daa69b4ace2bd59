#include "Flash/EcUpdate.h"

#include <cstring>

#include "Bios/EmuBios.h"
#include "FlashFixture.h"

namespace {

using vyr::emu::Profile;
using vyr::testing::FlashTest;

// What the test BIOS answers to 21h, and what it was asked.
struct Answer21h {
  UINT8 Status = 0;
  UINT8 Index = 0;
  std::vector<UINT8> Record;  // written back when not empty
  UINT32 Ecx = 0;
  std::vector<UINT8> Request;
} gAnswer;

UINT8 Handle21h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  gAnswer.Ecx = Regs->Ecx;
  gAnswer.Request.assign(EC_PART_RECORD_SIZE, 0);
  EmuBiosReadPhysical(Bios, Regs->Esi, gAnswer.Request.data(), EC_PART_RECORD_SIZE);
  if (!gAnswer.Record.empty()) EmuBiosWritePhysical(Bios, Regs->Esi, gAnswer.Record.data(), gAnswer.Record.size());
  Regs->Ecx = (Regs->Ecx & ~0xFFu) | gAnswer.Index;  // CL: the BIOS's size index
  return gAnswer.Status;
}

std::vector<UINT8> PartsRecord(const char *Signature, std::vector<UINT32> Sizes, UINT32 Count = 0) {
  std::vector<UINT8> Out(EC_PART_RECORD_SIZE, 0);
  std::memcpy(Out.data(), Signature, 8);
  WriteUnaligned32(Out.data() + 8, Count != 0 ? Count : UINT32(Sizes.size()));
  for (size_t I = 0; I < Sizes.size() && I < 10; I++) WriteUnaligned32(Out.data() + 12 + 4 * I, Sizes[I]);
  return Out;
}

class EcUpdateTest : public FlashTest {
 protected:
  void StartEc(bool Handler = true) {
    StartWithMaps([](Profile &P) {
      P.Flash.Size = 0x40000;
      P.Flash.BlockMap = {{0x10000, 4}};
      P.Checks.EcPartSizes.clear();  // a machine without EC answers 0xEF
    });
    gAnswer = Answer21h();
    if (Handler) EmuBiosRegisterHandler(&M().Bios(), 0x21, Handle21h);
    CommandLineResetState();
  }
  bool Shown(const std::string &Text) { return Console().find(Text) != std::string::npos; }
};

TEST_F(EcUpdateTest, SizeIndexes) {
  const struct {
    UINT32 Size;
    UINT8 Index;
  } Cases[] = {{0x10000, 0}, {0x20000, 1}, {0x40000, 2}, {0x80000, 3}, {0x100000, 4}, {0x200000, 5},
               {0x30000, 0xFF}, {0, 0xFF}, {0x400000, 0xFF}, {0x8000, 0xFF}};
  for (const auto &Case : Cases) {
    EXPECT_EQ(Case.Index, EcSizeToIndex(Case.Size)) << std::hex << Case.Size;
    if (Case.Index != 0xFF) {
      EXPECT_EQ(Case.Size, EcIndexToSize(Case.Index));
    }
  }
  for (UINT32 Index : {6u, 0x10u, 0xFEu, 0xFFu}) EXPECT_EQ(0u, EcIndexToSize(UINT8(Index)));
}

TEST_F(EcUpdateTest, PartInformationRequestAndAnswers) {
  const struct {
    const char *Name;
    UINT8 Status, Index;
    std::vector<UINT8> Record;
    UINT32 EcSize;
    bool Ok;
    UINT32 Whole;
    const char *Reason;
  } Cases[] = {
      {"single part", 0, 3, {}, 0x80000, true, 0x80000, "<=== Process21hOutputData (Single EC part)\r\n"},
      {"too large for the part", 0, 3, {}, 0x90000, false, 0x80000,
       "<=== SMI_CheckEcPartSize (EC image size is too large)\r\n"},
      {"two parts", 0, 0xFF, PartsRecord("$ECINFO_", {0x10000, 0x20000}), 0x30000, true, 0x30000,
       " EC part information (21h)\r\nindex|    size\r\n-----+-----------\r\n 01  | 0x00010000\r\n"
       " 02  | 0x00020000\r\n Whole EC size 0x00030000\r\n"},
      {"bad signature", 0, 0xFF, PartsRecord("$ECINFO-", {0x10000}), 0x10000, false, 0,
       "<=== FuncGetEcPartInfo (Output structure incorrect)\r\n"},
      {"eleven parts", 0, 0xFF, PartsRecord("$ECINFO_", {0x10000}, 11), 0x10000, false, 0,
       "<=== Process21hOutputData (Too many EC parts)\r\n"},
      {"refused", 0x25, 1, {}, 0x20000, false, 0, "<=== FuncGetEcPartInfo (FWSMI failed)\r\n"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartEc();
    gAnswer.Status = Case.Status;
    gAnswer.Index = Case.Index;
    gAnswer.Record = Case.Record;
    EXPECT_EQ(Case.Ok, SMI_CheckEcPartSize(Case.EcSize) == TRUE);
    EXPECT_TRUE(Logged(Case.Reason));
    EXPECT_EQ(Case.Whole, mEcUpdate.Parts.WholeSize);
    // CH carries the image's size index; the record starts "$BUFFER_" and the size.
    EXPECT_EQ(UINT32(EcSizeToIndex(Case.EcSize)) << 8, gAnswer.Ecx & 0xFF00);
    ASSERT_EQ(size_t(EC_PART_RECORD_SIZE), gAnswer.Request.size());
    EXPECT_EQ(0, std::memcmp(gAnswer.Request.data(), "$BUFFER_", 8));
    EXPECT_EQ(Case.EcSize, ReadUnaligned32(gAnswer.Request.data() + 8));
    EXPECT_EQ(Case.Status != 0, Shown("Get EC part information failed.\r\n"));
    // Asked once: the second check answers from the kept verdict.
    SMI_CheckEcPartSize(Case.EcSize);
    EXPECT_EQ(1u, CallsOf(0x21));
  }
}

TEST_F(EcUpdateTest, UnsupportedFunctionAndIgnore21h) {
  StartEc(false);  // the BIOS answers 0xEF
  mIniSettings.Others.SMIErrorRetry = 3;
  EXPECT_FALSE(SMI_CheckEcPartSize(0x20000));
  EXPECT_EQ(1u, CallsOf(0x21));  // no retries of a missing function
  EXPECT_TRUE(Logged(" FWSMI function not support\r\n"));

  StartEc(false);
  mIniSettings.UpdateEC.Ignore_21h = 1;
  EXPECT_TRUE(SMI_CheckEcPartSize(0x20000));
  EXPECT_TRUE(Logged(" Ignore FWSMI 21h.\r\n"));
  EXPECT_TRUE(Logged(" EC image size (128K) / EC part size (128K)\r\n"));
}

TEST_F(EcUpdateTest, FuncChkSizeEcDecisions) {
  const struct {
    const char *Name;
    const char16_t *Option;
    bool Capsule;
    UINT32 Size;
    bool Ok;
    const char *Shown;
    UINT32 Calls21h;
  } Cases[] = {
      {"no EC, no option", nullptr, false, 0, true, nullptr, 0},
      {"EC without option", nullptr, false, 0x20000, false,
       "Error: Size not match!\r\n ROM Size = 0x40000\r\n File (with EC) Size = 128K\r\n", 0},
      {"EC with a capsule EC record", nullptr, true, 0x20000, true, nullptr, 1},
      {"-ecb without EC", u"-ecb", false, 0, false,
       "Error: Size not match!\r\n ROM Size = 0x40000\r\n File (with EC) Size = 0K\r\n", 0},
      {"-eob without EC", u"-eob", false, 0, false, "File (with EC) Size = 0K\r\n", 0},
      {"-ecbp with EC", u"-ecbp", false, 0x20000, true, nullptr, 1},
      {"largest EC", u"-ecb", false, 0x200000, true, nullptr, 1},
      {"past the buffer", u"-ecb", false, 0x200001, false, nullptr, 0},
      {"larger than the part", u"-ecb", false, 0x40000, false, nullptr, 1},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    StartEc();
    gAnswer.Index = 1;  // one part of 0x20000
    if (Case.Size == 0x200000) gAnswer.Index = 5;
    if (Case.Option) {
      ASSERT_TRUE(ProcessArgument(Case.Option));
    }
    SetCapsuleEcRecord(Case.Capsule);
    EXPECT_EQ(Case.Ok, FuncChk_SizeEC(Case.Size) == TRUE);
    if (Case.Shown) {
      EXPECT_TRUE(Shown(Case.Shown)) << Console();
    } else {
      EXPECT_FALSE(Shown("Error:")) << Console();
    }
    EXPECT_EQ(Case.Calls21h, CallsOf(0x21));
  }
  EXPECT_TRUE(Logged(" FuncChk_SizeEC\r\n-----+---------\r\n   EC  256K\r\n /ecb  1\r\n/ecbp  0\r\n /eob  0\r\n"));
}

TEST_F(EcUpdateTest, EcImageBuffer) {
  StartEc();
  EXPECT_FALSE(StoreEcImage((const UINT8 *)"x", 1));  // not allocated yet
  mEcUpdate.ImageBuffer = (UINT8 *)AllocateZeroPool(EC_IMAGE_BUFFER_SIZE);
  std::vector<UINT8> Big(0x1000, 0xAB), Small(0x10, 0xCD);
  ASSERT_TRUE(StoreEcImage(Big.data(), UINT32(Big.size())));
  ASSERT_TRUE(StoreEcImage(Small.data(), UINT32(Small.size())));
  EXPECT_EQ(0x10u, GetEcImageSize());
  // Never cleared: the older image's tail stays.
  EXPECT_EQ(0xCD, GetEcImageBuffer()[0xF]);
  EXPECT_EQ(0xAB, GetEcImageBuffer()[0x10]);
  std::vector<UINT8> TooBig(EC_IMAGE_BUFFER_SIZE + 1, 0);
  EXPECT_FALSE(StoreEcImage(TooBig.data(), UINT32(TooBig.size())));
  EXPECT_EQ(0x10u, GetEcImageSize());
}

}  // namespace

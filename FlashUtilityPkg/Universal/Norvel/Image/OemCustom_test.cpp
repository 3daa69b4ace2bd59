// The 19h customization list: wire form, the exchange and the parse of the
// BIOS's answer, and which words a run sends.
#include "Image/OemCustom.h"

#include <cstring>
#include <string>
#include <vector>

#include "Bios/EmuBios.h"
#include "Config/CommandLine.h"
#include "FlashFixture.h"
#include "Flash/SecureCapsule.h"
#include "Image/PackageCommands.h"
#include "Image/ImageAnalysis.h"

namespace {

using vyr::testing::FlashTest;

struct Exchange {
  UINT8 Status = 0;
  std::vector<UINT8> Reply;  // written over the 256 bytes when not empty
  std::vector<UINT8> Sent;
  SMI_REGISTERS In = {};
  int Calls = 0;
} g19h;

UINT8 Answer19h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  g19h.Calls++;
  g19h.In = *Regs;
  g19h.Sent.assign(OEM_CUSTOM_LIST_SIZE, 0);
  EmuBiosReadPhysical(Bios, Regs->Edi, g19h.Sent.data(), OEM_CUSTOM_LIST_SIZE);
  if (!g19h.Reply.empty()) EmuBiosWritePhysical(Bios, Regs->Edi, g19h.Reply.data(), g19h.Reply.size());
  return g19h.Status;
}

std::vector<UINT8> Wire(std::initializer_list<const char *> Items) {
  OemCustomResetState();
  for (const char *Item : Items) EXPECT_TRUE(AddOemCustomItem(Item));
  std::vector<UINT8> Out(OEM_CUSTOM_LIST_SIZE);
  FinishOemCustomList(Out.data());
  return Out;
}

std::vector<UINT8> Prefix(const std::vector<UINT8> &Bytes, size_t Length) {
  return std::vector<UINT8>(Bytes.begin(), Bytes.begin() + Length);
}

std::vector<UINT8> Text(const std::string &S) { return std::vector<UINT8>(S.begin(), S.end()); }

class OemCustomTest : public FlashTest {
 protected:
  void SetUp() override {
    FlashTest::SetUp();
    g19h = Exchange();
    Start();
    EmuBiosRegisterHandler(&M().Bios(), 0x19, Answer19h);
  }
  std::vector<std::string> Entries() {
    std::vector<std::string> Out;
    for (UINT32 I = 0; I < GetOemCustomEntryCount(); I++) Out.push_back(GetOemCustomEntry(I));
    return Out;
  }
};

TEST_F(OemCustomTest, WireForm) {
  EXPECT_EQ(Prefix(Wire({}), 3), std::vector<UINT8>({0x00, 0xFF, 0x00}));
  EXPECT_EQ(Prefix(Wire({"cus_test"}), 10), Text(std::string("CUS_TEST\0\xFF", 10)));
  EXPECT_EQ(Prefix(Wire({"CUSa", "ECCMD", "MFG"}), 17), Text(std::string("CUSA\0ECCMD\0MFG\0\xFF\0", 17)));
  // The list keeps room for its end byte in the 256.
  OemCustomResetState();
  std::string Long(253, 'x');
  EXPECT_TRUE(AddOemCustomItem(Long.c_str()));
  EXPECT_FALSE(AddOemCustomItem("A"));
  EXPECT_TRUE(AddOemCustomItem(""));
  std::vector<UINT8> Out(OEM_CUSTOM_LIST_SIZE);
  FinishOemCustomList(Out.data());
  EXPECT_EQ(Out[252], 'X');
  EXPECT_EQ(Out[253], 0);
  EXPECT_EQ(Out[254], 0);
  EXPECT_EQ(Out[255], 0xFF);
}

TEST_F(OemCustomTest, ReplyParse) {
  std::string Long(40, 'L');
  struct Case { const char *Name; std::vector<UINT8> Reply; std::vector<std::string> Entries; } Cases[] = {
      {"two strings", Text(std::string("OK1\0GO\0\xFF", 8)), {"OK1", "GO"}},
      {"first byte FFh", Text(std::string("\xFF" "A\0B\0", 5)), {}},
      {"empty string", Text(std::string("\0\xFF", 2)), {""}},
      {"longer than 31", Text(Long + std::string("\0\xFF", 2)), {std::string(31, 'L')}},
      // No FFh at all: only the 256 bytes count, and the text after the last
      // NUL is no string.
      {"no end byte", Text(std::string("AB\0", 3) + std::string(253, 'Z')), {"AB"}},
  };
  for (auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    std::vector<UINT8> Reply(OEM_CUSTOM_LIST_SIZE, 'Q');
    std::copy(C.Reply.begin(), C.Reply.end(), Reply.begin());
    EXPECT_EQ(ParseOemCustomReply(Reply.data()), C.Entries.size());
    EXPECT_EQ(Entries(), C.Entries);
  }
  std::vector<UINT8> Nuls(OEM_CUSTOM_LIST_SIZE, 0);
  EXPECT_EQ(ParseOemCustomReply(Nuls.data()), (UINT32)OEM_CUSTOM_MAX_ENTRIES);
}

TEST_F(OemCustomTest, ExchangeSendsTheListAndKeepsTheAnswer) {
  g19h.Reply = Text(std::string("ACK\0DONE\0\xFF", 10));
  mCommandLine.Owner[OWNER_MFG] = 1;
  EXPECT_TRUE(SMI_OemOdmCustom1());
  EXPECT_EQ(g19h.In.Ecx & 0xFF, 1u);
  EXPECT_EQ(g19h.In.Esi, 0u);
  EXPECT_EQ(Prefix(g19h.Sent, 5), Text(std::string("MFG\0\xFF", 5)));
  EXPECT_EQ(Entries(), std::vector<std::string>({"ACK", "DONE"}));
  EXPECT_TRUE(Logged("===== 19h Input String =====\r\n0000:  4D 46 47 00 FF"));
  EXPECT_TRUE(Logged("===== 19h Output String =====\r\n0000:  41 43 4B 00"));
  EXPECT_TRUE(Logged("OEM/ODM customization-1 (19h)\r\n-----+-----------------\r\n      ACK\r\n      DONE\r\n"));
}

TEST_F(OemCustomTest, FailedExchangeIsNotParsed) {
  mIniSettings.Others.SMIErrorRetry = 2;
  g19h.Status = 0x05;
  g19h.Reply = Text(std::string("X\0\xFF", 3));
  EXPECT_FALSE(SMI_OemOdmCustom1());
  EXPECT_EQ(g19h.Calls, 3);
  EXPECT_EQ(GetOemCustomEntryCount(), 0u);
  EXPECT_TRUE(Logged(" Call FWSMI failed. Error Code: 0x05, Retry Count: 03\r\n"));
  EXPECT_TRUE(Logged("<=== Fwsmi_19h (BIOS return not success)"));
}

TEST_F(OemCustomTest, ListContents) {
  struct Case {
    const char *Name;
    OWNER_FLAG Option;  // OWNER_FLAG_COUNT: none
    bool SecureImage;
    bool Mfg;
    const char *OemCus;  // nullptr: not given
    std::string Sent;
  } Cases[] = {
      {"nothing", OWNER_FLAG_COUNT, false, false, nullptr, std::string("\0\xFF", 2)},
      {"-ecb", OWNER_ECB, true, false, nullptr, std::string("ECCMD\0\xFF", 7)},
      {"-ecbp", OWNER_ECBP, false, false, nullptr, std::string("ECCMD\0\xFF", 7)},
      {"-ec", OWNER_EC, false, true, nullptr, std::string("ECCMD\0MFG\0\xFF", 11)},
      {"-ecp, secure image", OWNER_ECP, true, false, nullptr, std::string("\0\xFF", 2)},
      {"-ec, secure image, -mfg", OWNER_EC, true, true, nullptr, std::string("MFG\0\xFF", 5)},
      // The -OemCus word goes first, upper-cased.
      {"-OemCus, -ecb", OWNER_ECB, false, false, "cus_test", std::string("CUS_TEST\0ECCMD\0\xFF", 16)},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    OemCustomResetState();
    ZeroMem(mCommandLine.Owner, sizeof(mCommandLine.Owner));
    if (C.Option != OWNER_FLAG_COUNT) mCommandLine.Owner[C.Option] = 1;
    mCommandLine.Owner[OWNER_MFG] = C.Mfg;
    mImageAnalysis.Capsule.IsSecureImage = C.SecureImage;
    if (C.OemCus) AddOemCustomItem(C.OemCus);
    EXPECT_TRUE(SMI_OemOdmCustom1());
    EXPECT_EQ(Prefix(g19h.Sent, C.Sent.size()), Text(C.Sent));
  }
}

}  // namespace

#include "Bios/CheckFunctions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Bios/EmuBios.h"
#include "EmuBiosMemory.h"

namespace {

constexpr UINT32 kBuf1 = 0x10000;
constexpr UINT32 kBuf2 = 0x14000;
constexpr UINT32 kNowhere = 0x100;  // not memory

std::string U32(UINT32 V) { return std::string{char(V), char(V >> 8), char(V >> 16), char(V >> 24)}; }
std::string U16(UINT16 V) { return std::string{char(V), char(V >> 8)}; }

struct CheckFunctionsTest : ::testing::Test {
  CheckFunctionsTest() : M(0x10000, 0x8000) {}
  UINT8 Al(const SMI_REGISTERS &R) { return UINT8(R.Eax & 0xFF); }
  EmuBiosMemory M;
  EMU_CHECKS &C = M.Bios.Checks;
};

TEST_F(CheckFunctionsTest, StringExchangeAnswersTheProfileList) {
  M.Put(kBuf1, std::string("CUS_A\0ECCMD\0\xFF", 13));
  SMI_REGISTERS R = M.Call(0x19, 1, 0, kBuf1);
  ASSERT_EQ(0, Al(R));
  EXPECT_EQ(std::string("\x00\xFF", 2) + std::string(254, '\0'), M.At(kBuf1, 256));  // a plain machine: nothing
  EXPECT_EQ(std::string("CUS_A\0ECCMD\0\xFF", 13), std::string((char *)C.StringRequest, 13));
  EXPECT_EQ(1, C.StringCl);

  const CHAR8 *Two[] = {"OK1", "BETA"};
  ASSERT_TRUE(EmuChecksSetStringAnswer(&C, Two, 2));
  ASSERT_EQ(0, Al(M.Call(0x19, 1, 0, kBuf1)));
  EXPECT_EQ(std::string("OK1\0BETA\0\xFF\0", 11), M.At(kBuf1, 11));
  EXPECT_EQ(2u, C.StringRequests);

  // 255 bytes of text and its NUL leave no room for the end mark: refused, answer kept.
  const std::string Long(255, 'X');
  const CHAR8 *TooLong[] = {Long.c_str()};
  EXPECT_FALSE(EmuChecksSetStringAnswer(&C, TooLong, 1));
  EXPECT_EQ(std::string("OK1\0BETA\0\xFF", 10), std::string((char *)C.StringAnswer, 10));
  const std::string Fits(254, 'X');
  const CHAR8 *JustFits[] = {Fits.c_str()};
  ASSERT_TRUE(EmuChecksSetStringAnswer(&C, JustFits, 1));
  EXPECT_EQ(0, C.StringAnswer[254]);
  EXPECT_EQ(0xFF, C.StringAnswer[255]);

  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(M.Call(0x19, 1, 0, kNowhere)));
}

TEST_F(CheckFunctionsTest, SkipModelCheckAnswersEveryBlockAlike) {
  for (UINT8 Status : {UINT8(0), UINT8(EMU_CHECKS_STATUS_CANNOT_VERIFY), UINT8(0xEF)}) {
    C.SkipModelStatus = Status;
    EXPECT_EQ(Status, Al(M.Call(0x1B, 0x1000, kBuf1, 0xFFA81000)));
    EXPECT_EQ(Status, Al(M.Call(0x1B, 0x1000, kBuf1, 0xFFA82000)));
  }
  EXPECT_EQ(std::make_tuple(6u, 0xFFA82000u, 0x1000u),
            std::make_tuple(C.SkipModelRequests, C.SkipModelLastAddress, C.SkipModelLastLength));
}

TEST_F(CheckFunctionsTest, SettingsRecordIsMeasuredStringByString) {
  M.Put(kBuf2, std::string("Platform_Check\0Others\0", 22));
  M.Put(kBuf2 + 0x1000, std::string("Flag\0", 5));
  M.Put(kBuf2 + 0x2000, std::string(4096, 'v'));  // no terminator: the whole string
  M.Put(kBuf1, U32(kBuf2) + U32(kBuf2 + 0x1000) + U32(kBuf2 + 0x2000));
  ASSERT_EQ(0, Al(M.Call(0x1D, 0, kBuf1, 0)));
  EXPECT_EQ(std::make_tuple(14u, 4u, 4096u, 14u + 4 + 4096, kBuf2 + 0x1000),
            std::make_tuple(C.IniLengths[0], C.IniLengths[1], C.IniLengths[2], C.IniBytes, C.IniAddresses[1]));

  C.IniStatus = 0x11;
  EXPECT_EQ(0x11, Al(M.Call(0x1D, 0, kBuf1, 0)));
  M.Put(kBuf1 + 4, U32(kNowhere));
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(M.Call(0x1D, 0, kBuf1, 0)));
  EXPECT_EQ(2u, C.IniRequests);
}

TEST_F(CheckFunctionsTest, EcPartInformationFromThePartSizes) {
  const std::string Request = "$BUFFER_" + U32(0x30000) + std::string(40, '\0');
  const struct {
    std::vector<UINT32> Parts;
    UINT8 Status, Cl;
    std::string Record;  // the 52 bytes after the call
  } Cases[] = {
      {{0x20000}, 0, 1, Request},  // the default: one 128 KiB part
      {{0x200000}, 0, 5, Request},
      {{0x30000}, 0, 0xFF, "$ECINFO_" + U32(1) + U32(0x30000) + std::string(36, '\0')},
      {{0x10000, 0x20000}, 0, 0xFF, "$ECINFO_" + U32(2) + U32(0x10000) + U32(0x20000) + std::string(32, '\0')},
      {{}, 0xEF, 0x34, Request},  // no EC: CL untouched
  };
  for (const auto &Test : Cases) {
    C.EcPartCount = UINT32(Test.Parts.size());
    for (size_t I = 0; I < Test.Parts.size(); I++) C.EcPartSizes[I] = Test.Parts[I];
    M.Put(kBuf1, Request);
    SMI_REGISTERS R = M.Call(0x21, 0x0334, kBuf1, 0);  // CH = 3: the image's index
    EXPECT_EQ(Test.Status, Al(R)) << Test.Parts.size();
    EXPECT_EQ(Test.Cl, UINT8(R.Ecx));
    EXPECT_EQ(0x03u, (R.Ecx >> 8) & 0xFF);
    EXPECT_EQ(Test.Record, M.At(kBuf1, 52));
  }
  EXPECT_EQ(std::make_tuple(3, 0x30000u, 5u), std::make_tuple(C.EcLastIndex, C.EcLastSize, C.EcRequests));
}

TEST_F(CheckFunctionsTest, ExtraDataAnswersProgressAndPfatQuery) {
  const auto Request = [](UINT8 Type, UINT32 Size) {
    return "$EDI" + U32(Type == 0x67 ? 50 : 14) + std::string{char(Type), '\xFF'} + U32(Size);
  };
  const auto Answer = [](UINT32 Size, UINT16 Status) {
    return "$EDO" + U32(24) + "\xFF\xFF" + U32(Size) + U16(Status) + std::string(36, '\0');
  };
  M.Put(kBuf1, Request(0x67, 0));
  M.Put(kBuf2, "$67I" + U32(16) + U32(128) + U32(7));
  ASSERT_EQ(0, Al(M.Call(0x41, kBuf1, 0, kBuf2)));
  EXPECT_EQ(Answer(0, 0), M.At(kBuf1, 52));
  EXPECT_EQ(std::make_tuple(7u, 128u, 1u), std::make_tuple(C.ProgressIndex, C.ProgressTotal, C.ProgressReports));

  M.Put(kBuf1, Request(0x58, 0));
  ASSERT_EQ(0, Al(M.Call(0x41, kBuf1, 0, 0)));
  EXPECT_EQ(Answer(0, EMU_CHECKS_EDO_NOT_SUPPORTED), M.At(kBuf1, 52));
  C.Pfat = TRUE;
  M.Put(kBuf1, Request(0x58, 0));
  ASSERT_EQ(0, Al(M.Call(0x41, kBuf1, 0, 0)));
  EXPECT_EQ(Answer(0x100000, 0), M.At(kBuf1, 52));
  EXPECT_EQ(2u, C.PfatQueries);

  M.Put(kBuf1, Request(0x5A, 0));  // no packet was sent: return code 1 follows
  ASSERT_EQ(0, Al(M.Call(0x41, kBuf1, 0, 0)));
  EXPECT_EQ("$EDO" + U32(24) + "\xFF\xFF" + U32(0) + U16(0x2000) + U32(EMU_PFAT_RESULT_NONE) + std::string(32, '\0'),
            M.At(kBuf1, 52));

  M.Put(kBuf1, Request(0x67, 0));
  M.Put(kBuf2, "$68I");
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(M.Call(0x41, kBuf1, 0, kBuf2)));
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(M.Call(0x41, kBuf1, 0, 0)));
  M.Put(kBuf1, "$EDX");
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(M.Call(0x41, kBuf1, 0, kBuf2)));
  EXPECT_EQ(1u, C.ProgressReports);
}

TEST_F(CheckFunctionsTest, PasswordQueryAndVerify) {
  const auto Buffer = [](UINT8 Mode, const std::string &Password) {
    std::string B = "$PASSWDI" + U32(269) + std::string(1, char(Mode)) + Password;
    return B + std::string(269 - B.size(), '\0');
  };
  const struct {
    const char *Set;
    UINT8 Mode;
    const char *Tried;
    size_t Offset;
    UINT8 Answer;
  } Cases[] = {
      {"", 0, "", 12, 0},          {"secret", 0, "", 12, 1},       {"secret", 1, "secret", 13, 0},
      {"secret", 1, "Secret", 13, 1}, {"secret", 1, "secre", 13, 1}, {"secret", 1, "secrets", 13, 1},
      {"", 1, "", 13, 0},
  };
  for (const auto &Test : Cases) {
    std::memset(C.Password, 0, sizeof(C.Password));
    std::memcpy(C.Password, Test.Set, std::strlen(Test.Set));
    M.Put(kBuf1, Buffer(Test.Mode, Test.Tried));
    ASSERT_EQ(0, Al(M.Call(0x43, kBuf1, 0, 0))) << Test.Set << "/" << Test.Tried;
    EXPECT_EQ(Test.Answer, UINT8(M.At(kBuf1 + Test.Offset, 1)[0])) << Test.Set << "/" << Test.Tried;
  }
  EXPECT_EQ(std::make_tuple(2u, 5u, 3u), std::make_tuple(C.PasswordQueries, C.PasswordVerifies, C.PasswordWrong));
  EXPECT_STREQ("", C.LastPasswordTried);

  M.Put(kBuf1, Buffer(2, ""));
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(M.Call(0x43, kBuf1, 0, 0)));
  M.Put(kBuf1, "$PASSWDX");
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(M.Call(0x43, kBuf1, 0, 0)));
}

TEST_F(CheckFunctionsTest, ConditionalDataVerdict) {
  const std::string Request = "$CHKCNDI" + U32(16 + 4) + "\x04\x01" + U16(4) + "A.05";
  M.Put(kBuf1, Request + std::string(20, '\x77'));
  EXPECT_EQ(0xEF, Al(M.Call(0x45, kBuf1, 0, 0)));  // not supported by default
  EXPECT_EQ(Request, M.At(kBuf1, Request.size()));
  EXPECT_EQ(std::make_tuple(4, 1), std::make_tuple(C.ConditionType, C.ConditionFormat));
  EXPECT_EQ(std::string("A.05\0", 5), std::string((char *)C.ConditionData, 5));

  C.ConditionSupported = TRUE;
  for (UINT8 Result : {UINT8(0), UINT8(1)}) {
    C.ConditionResult = Result;
    M.Put(kBuf1, Request);
    ASSERT_EQ(0, Al(M.Call(0x45, kBuf1, 0, 0)));
    EXPECT_EQ("$CHKCNDO" + U32(13) + std::string(1, char(Result)) + "\x01" + U16(4), M.At(kBuf1, 16));
  }
  M.Put(kBuf1, "$CHKCNDX");
  EXPECT_EQ(EMU_CHECKS_STATUS_BAD_REQUEST, Al(M.Call(0x45, kBuf1, 0, 0)));
  EXPECT_EQ(3u, C.ConditionRequests);
}

TEST_F(CheckFunctionsTest, SecureAndOemSecureQueries) {
  const std::string Ext = "$EXT" + U32(9) + "\x01";
  M.Put(kBuf2, Ext);
  EXPECT_EQ(0xEF, Al(M.Call(0x48, 0, kBuf1, kBuf2)));
  EXPECT_EQ(Ext, M.At(kBuf2, 9));
  EXPECT_EQ(1, C.LastCapsuleFlags);

  C.Secure = TRUE;
  C.EspSupport = TRUE;
  SMI_REGISTERS R = M.Call(0x48, 0, kBuf1, kBuf2);
  ASSERT_EQ(0, Al(R));
  EXPECT_EQ("$EXO" + U32(9) + "\x01", M.At(kBuf2, 9));
  EXPECT_EQ(0u, R.Ecx & 0xFF);

  EXPECT_EQ(0xEF, Al(M.Call(0x4C, 0, kBuf1, 1)));
  C.OemSecure = TRUE;
  EXPECT_EQ(0, Al(M.Call(0x4C, 0, kBuf1, 1)));
  EXPECT_EQ(2u, C.OemSecureQueries);
}

TEST_F(CheckFunctionsTest, FactoryCopyRestoreStatusWord) {
  const std::string Request = "$RDI" + U32(16) + "\x04\xFE" + U32(0) + U16(0x5555);
  const struct {
    std::string Sent;
    UINT16 Word;
    UINT8 Status;
    UINT16 Expected;
  } Cases[] = {
      {Request, 0, 0, 0},
      {Request, 0x8000, 0, 0x8000},
      {Request, 0, 0x25, 0},
      {"$RDX" + Request.substr(4), 0, 0, EMU_CHECKS_RESTORE_UNKNOWN},
      {Request.substr(0, 8) + "\x05\xFE" + Request.substr(10), 0, 0, EMU_CHECKS_RESTORE_UNKNOWN},
  };
  for (const auto &Test : Cases) {
    C.RestoreWord = Test.Word;
    C.RestoreStatus = Test.Status;
    M.Put(kBuf1, Test.Sent);
    EXPECT_EQ(Test.Status, Al(M.Call(0x49, kBuf1, 0, 0)));
    EXPECT_EQ(Test.Sent.substr(0, 14) + U16(Test.Expected), M.At(kBuf1, 16));
  }
  EXPECT_EQ(5u, C.RestoreRequests);
}

}  // namespace

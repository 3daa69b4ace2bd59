// The admission gates against the emulated PC: power boxes, the 44h exchange
// and its decisions, and the 43h password check, with 43h/44h answered here.
#include <string>
#include <vector>

#include "BaseLib.h"
#include "Bios/EmuBios.h"
#include "Flash/Completion.h"
#include "Config/CommandLine.h"
#include "Console/ConsoleUi.h"
#include "FlashFixture.h"
#include "Image/Admission.h"
#include "Image/Bvdt.h"
#include "NamedFunction.h"
#include "Smi/PlatformQueries.h"
#include "Base/RunState.h"

namespace {

using vyr::testing::FlashTest;

struct BiosSide {
  UINT8 Status44 = 0;
  UINT16 Words[3] = {1, 0, 0};
  std::vector<UINT8> Items;
  SMI_REGISTERS Regs44 = {};
  UINT8 QueryStatus = 0, VerifyStatus = 0;
  UINT8 PasswordSet = 1;
  std::string Password = "secret";
  std::vector<std::vector<UINT8>> Requests43;
  UINT32 Ecx43 = 0;
} gBios;

UINT8 Answer44h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  gBios.Regs44 = *Regs;
  gBios.Items.assign(COMMON_FLASH_ITEMS_SIZE, 0);
  EmuBiosReadPhysical(Bios, Regs->Edi, gBios.Items.data(), gBios.Items.size());
  if (gBios.Status44 != 0) return gBios.Status44;
  UINT8 Out[6];
  for (int I = 0; I < 3; I++) WriteUnaligned16(Out + 2 * I, gBios.Words[I]);
  EmuBiosWritePhysical(Bios, Regs->Esi, Out, sizeof(Out));
  return 0;
}

UINT8 Answer43h(EMU_BIOS *Bios, SMI_REGISTERS *Regs) {
  std::vector<UINT8> Request(PASSWORD_REQUEST_SIZE);
  EmuBiosReadPhysical(Bios, Regs->Ecx, Request.data(), Request.size());
  gBios.Requests43.push_back(Request);
  gBios.Ecx43 = Regs->Ecx;
  bool Verify = Request[12] == 1;
  UINT8 Status = Verify ? gBios.VerifyStatus : gBios.QueryStatus;
  if (Status != 0) return Status;
  if (Verify) {
    Request[13] = std::string((const char *)Request.data() + 13) == gBios.Password ? 0 : 1;
  } else {
    Request[12] = gBios.PasswordSet;
  }
  EmuBiosWritePhysical(Bios, Regs->Ecx, Request.data(), Request.size());
  return 0;
}

struct PowerSetup {
  UINT16 Vendor = 0x1234;
  UINT8 AcPlug = 1, DcLife = 100, DcBound = 0;
  UINT8 Flag = 1, BatteryCheck = 0, BatteryBound = 255;
};

class AdmissionTest : public FlashTest {
 protected:
  void Begin(const PowerSetup &S = PowerSetup(), const Edit &More = nullptr) {
    gBios = BiosSide();
    Start([&](vyr::emu::Profile &P) {
      P.Platform.VendorId = S.Vendor;
      P.Platform.AcPlug = S.AcPlug;
      P.Platform.DcLife = S.DcLife;
      P.Platform.DcBound = S.DcBound;
      if (More) More(P);
    });
    EmuBiosRegisterHandler(&M().Bios(), 0x44, Answer44h);
    EmuBiosRegisterHandler(&M().Bios(), 0x43, Answer43h);
    ASSERT_TRUE(SMI_IsSupport());
    mIniSettings.AC_Adapter.Flag = S.Flag;
    mIniSettings.AC_Adapter.BatteryCheck = S.BatteryCheck;
    mIniSettings.AC_Adapter.BatteryBound = S.BatteryBound;
    Mark_ = Console().size();
  }
  std::string Shown() { return Console().substr(Mark_); }
  size_t Mark_ = 0;
};

const std::string kBorder = "#" + std::string(78, '=') + "#";
std::string Row(const std::string &Text) { return "#" + Text + std::string(78 - Text.size(), ' ') + "#"; }
const std::string kAcAndBattery = Row(" This process requires AC power and a charged battery to avoid an accidental");
const std::string kPowerOff = Row(" power-off during an update.");

std::string Box(std::initializer_list<std::string> Rows) {
  std::string Out;
  for (const std::string &R : Rows) Out += R;
  return Out + "\r\n";
}

std::string DellBox(const std::string &Message) {
  return Box({"#===================================== ERROR ==================================#", Row(" " + Message),
              Row(""), Row(" ROM update not performed."), Row(" press any key to exit."), kBorder});
}

// The boxes of a missing AC adapter or a low battery alone are asserted by
// the power-check scenarios; these are the ones no scenario reaches.
TEST_F(AdmissionTest, DefaultBoxes) {
  auto Both = [](const std::string &Title) {
    return Box({kBorder, Row("                       Warning: " + Title), kAcAndBattery, kPowerOff, kBorder});
  };
  const std::string LowBattery40 =
      Box({kBorder, Row("                           Warning: Battery Too Low"),
           Row(" This process requires a  40% full battery to avoid an accidental power-off"), Row(" during an update."),
           kBorder});
  const struct {
    const char *Name;
    PowerSetup S;
    std::string Expected;  // "" = passes
  } Cases[] = {
      {"no AC, both checked", {0x1234, 0, 80, 0, 1, 1, 50}, Both("No AC Connected")},
      {"no battery, both checked", {0x1234, 1, 0, 0, 1, 1, 50}, Both("No Battery Connected")},
      {"low, battery only, the BIOS bound for 255", {0x1234, 1, 30, 40, 0, 1, 255}, LowBattery40},
      {"charge at the bound", {0x1234, 1, 50, 0, 1, 1, 50}, ""},
      {"no checks", {0x1234, 0, 0, 0, 0, 0, 255}, ""},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Name);
    Begin(C.S);
    EXPECT_EQ(C.Expected.empty(), CheckPowerStatus() != 0);
    EXPECT_EQ(C.Expected.empty() ? "" : Banner() + C.Expected, Shown());
    if (!C.Expected.empty()) {
      EXPECT_EQ(ATTRIBUTE_NORMAL, M().Screen().Attribute());
      EXPECT_EQ(ATTRIBUTE_WARNING, M().Screen().CellAttribute(40, 6));  // below the banner
    }
    EXPECT_TRUE(Logged("<=== CheckPowerStatus (Default)\r\n"));
  }
}

TEST_F(AdmissionTest, DefaultLogsStatusAndConfig) {
  Begin({0x1234, 1, 77, 40, 1, 1, 255});
  EXPECT_TRUE(CheckPowerStatus());
  EXPECT_EQ(" Power Status (10h)\r\n ---------+---\r\n  AC Plug | 1\r\n  DC Plug | 1\r\n  DC Life | 77\r\n\r\n"
            "Check AC (ini)\r\nCheck DC (ini)\r\n Power Check Config\r\n ---------+---\r\n Check AC | 1\r\n"
            " Check DC | 1\r\n DC Bound | 40\r\n",
            LogBlock(" Power Status (10h)", " DC Bound |"));
}

TEST_F(AdmissionTest, AcOptionsAndOrder) {
  struct Case { std::vector<const char16_t *> Words; bool Passes; const char *LogLine; } Cases[] = {
      {{u"-ac"}, true, "Not Check AC (command)\r\n"},
      {{u"-ac", u"-acb"}, false, "Check DC (command)\r\n"},  // AC tested again: box A
      {{u"-acb", u"-ac"}, true, "Not Check AC (command)\r\n"},
      {{u"-ab"}, false, "Check AC (ini)\r\n"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.LogLine);
    Begin({0x1234, 0, 80, 0, 1, 0, 50});  // no AC, battery fine
    for (const char16_t *W : C.Words) ASSERT_TRUE(ProcessArgument(W));
    EXPECT_EQ(C.Passes, CheckPowerStatus() != 0);
    EXPECT_TRUE(Logged(C.LogLine));
  }
  EXPECT_NE(std::string::npos, Console().find("Warning: No AC Connected                               #"));
}

// The Dell and Toshiba boxes for a missing adapter or a low charge, and
// -forceit, are asserted by the power-check scenarios.
TEST_F(AdmissionTest, VendorVerdicts) {
  Begin({0x1028, 1, 0, 0, 1, 0, 255});
  ASSERT_TRUE(ProcessArgument(u"-ab"));
  EXPECT_FALSE(CheckPowerStatus());
  EXPECT_EQ(Banner() + DellBox("Battery must be installed."), Shown());
  EXPECT_TRUE(Logged("<=== CheckPowerStatus (Dell)"));
  Begin({0x1179, 1, 30, 0, 1, 1, 30});
  EXPECT_TRUE(CheckPowerStatus());
  EXPECT_EQ("", Shown());
  EXPECT_TRUE(Logged("<=== CheckPowerStatus (Toshiba)"));
}

TEST_F(AdmissionTest, FirmwareFlowBoxWaitsWithoutBanner) {
  Begin({0x1234, 0, 80, 0, 1, 0, 255});
  mRun.FirmwareMode = TRUE;
  uint64_t Before = M().NowNs();
  EXPECT_FALSE(CheckPowerStatus());
  EXPECT_EQ(5000000000ull, M().NowNs() - Before);
  EXPECT_EQ(0u, Shown().find(kBorder));
}

TEST_F(AdmissionTest, ItemsBufferBytes) {
  Begin({0x1234, 1, 57, 0, 1, 1, 50},
        [](vyr::emu::Profile &P) { P.Platform.Version = std::string(120, 'v'); });
  PLATFORM_INFO Info;
  ASSERT_TRUE(SMI_GetPlatformInfo(&Info));
  std::string R = "$BVDT" + std::string(8, '\0') + "$" + "N1.2" + std::string(20, '\0') + "$" + "NewPC" +
                  std::string(20, '\0');
  ASSERT_TRUE(SetBvdtInfo_FD((const UINT8 *)R.data(), R.size()));
  ASSERT_TRUE(FuncCommonFlash());
  std::string Expected = std::string("\x01\x01\xFF\x02\x01\xFF\x03\x39\xFF\x04", 10) + std::string(100, 'v') +
                         "\xFF\x05NewPC\xFF\x06VyrPC\xFF\x07N1.2\xFF";
  Expected.resize(COMMON_FLASH_ITEMS_SIZE, '\0');
  EXPECT_EQ(Expected, std::string(gBios.Items.begin(), gBios.Items.end()));
  EXPECT_EQ(mFwsmi.Buffer[0].Address, gBios.Regs44.Edi);
  EXPECT_EQ(mFwsmi.Buffer[1].Address, gBios.Regs44.Esi);
  EXPECT_EQ(0u, gBios.Regs44.Ecx);
  // No battery (a charge outside 1-100): both battery items say 0.
  Begin({0x1234, 0, 150, 0, 1, 1, 50});
  ASSERT_TRUE(FuncCommonFlash());
  EXPECT_EQ(std::string("\x01\x00\xFF\x02\x00\xFF\x03\x00\xFF\x04", 10),
            std::string(gBios.Items.begin(), gBios.Items.begin() + 10));
}

TEST_F(AdmissionTest, SwitchListEncoding) {
  struct Case { const char *Text; std::string Expected; } Cases[] = {
      {"", std::string("\xFF\0\0\0\0\0", 6)},
      {"-a", std::string("-a\0\xFF\0\0", 6)},
      {" x ", std::string("x\0\xFF\0\0\0", 6)},
      {"abc  def\tg", std::string("abc\0def\0g\0\xFF\0", 12)},
      {"0123456789", std::string("0123456789\0\xFF", 12)},
  };
  for (const Case &C : Cases) {
    UINT32 Length = 0;
    UINT8 *List = BuildCommonFlashSwitchList(C.Text, &Length);
    ASSERT_NE(nullptr, List);
    EXPECT_EQ(C.Expected, std::string((const char *)List, Length)) << C.Text;
    FreePool(List);
  }
}

TEST_F(AdmissionTest, AnsweredExchangeIsTraced) {
  Begin({0x1234, 0, 0, 0, 1, 1, 50});
  gBios.Words[0] = 1, gBios.Words[1] = 0x1C, gBios.Words[2] = 2;
  ASSERT_TRUE(FuncCommonFlash());
  EXPECT_EQ(" Fwsmi 44h Status\r\n ---------+--------\r\n    permit  1\r\n  message#  0x1C\r\n    action  2\r\n",
            LogBlock(" Fwsmi 44h Status", "    action"));
  EXPECT_TRUE(CheckCommonFlashPermit());
  EXPECT_TRUE(CheckPowerStatus());  // neither AC nor battery tested, despite Flag 1
}

TEST_F(AdmissionTest, FailedExchangeLeavesThePowerCheck) {
  Begin({0x1234, 0, 80, 0, 1, 0, 255});
  mIniSettings.Others.SMIErrorRetry = 2;
  gBios.Status44 = 0x81;
  EXPECT_TRUE(FuncCommonFlash());
  EXPECT_EQ(3u, CallsOf(0x44));
  EXPECT_TRUE(Logged(" Call FWSMI failed. Error Code: 0x81, Retry Count: 03\r\n"));
  EXPECT_TRUE(Logged("<=== Fwsmi_44h (BIOS return not success)\r\n"));
  EXPECT_FALSE(IsCommonFlashAnswered());
  EXPECT_FALSE(CheckPowerStatus());  // box D
}

TEST_F(AdmissionTest, PermitCheckMessages) {
  struct Case {
    UINT16 Permit, Message;
    const char *IniMessage;
    std::string Expected;  // "" = passes
  } Cases[] = {
      // Refusals with and without a message text are scenarios.
      {2, 0, "No error!", "Warning!\r\nNo error!\r\n"},
      {1, 25, nullptr, ""},
  };
  for (const Case &C : Cases) {
    Begin();
    if (C.IniMessage != nullptr) AsciiStrCpyS(mIniSettings.CommonFlash.ErrorMsg[C.Message], INI_TEXT_SIZE, C.IniMessage);
    gBios.Words[0] = C.Permit, gBios.Words[1] = C.Message;
    ASSERT_TRUE(FuncCommonFlash());
    EXPECT_EQ(C.Expected.empty(), CheckCommonFlashPermit() != 0);
    EXPECT_EQ(C.Expected.empty() ? "" : Banner() + C.Expected, Shown());
  }
}

TEST_F(AdmissionTest, ActionOverride) {
  struct Case { UINT16 Permit, Action; UINT8 In, Out; bool Applies; } Cases[] = {
      {1, 1, 2, 0, true}, {1, 2, 0, 1, true}, {1, 3, 2, 1, true}, {1, 0, 2, 2, true},
      {1, 7, 3, 3, true}, {0, 1, 2, 2, false},
  };
  for (const Case &C : Cases) {
    Begin();
    gBios.Words[0] = C.Permit, gBios.Words[2] = C.Action;
    ASSERT_TRUE(FuncCommonFlash());
    UINT8 Action = C.In;
    EXPECT_EQ(C.Applies, CommonFlashActionOverride(&Action) != 0) << C.Action;
    EXPECT_EQ(C.Out, Action) << C.Action;
  }
  // Unanswered: nothing; answered through completion: the request follows the BIOS.
  AdmissionResetState();
  UINT8 Action = 2;
  EXPECT_FALSE(CommonFlashActionOverride(&Action));
  gBios.Words[0] = 1, gBios.Words[2] = 3;
  ASSERT_TRUE(FuncCommonFlash());
  mIniSettings.FlashComplete.Action = 2;
  SetStatus_16h(COMPLETE_KEEP, COMPLETE_KEEP);
  EXPECT_EQ(1, mCompletion.Action);
  EXPECT_TRUE(Logged(" ODM Common Flash Action override 0x03\r\n"));
}

TEST_F(AdmissionTest, PasswordCheck) {
  struct Case {
    const char *Name;
    UINT16 Vendor;
    UINT8 QueryStatus, Set, VerifyStatus;
    const char16_t *Option;
    bool Passes;
    std::string Console;
    const char *Exit;
  } Cases[] = {
      {"Dell query fails", 0x1028, 0x81, 1, 0, nullptr, false, "Error: Hardware dependency.\r\n",
       "(Check password status failed)"},
      {"query fails elsewhere", 0x1234, 0x81, 1, 0, nullptr, true, "", "(Bypass)"},
      {"not set", 0x1028, 0, 0, 0, nullptr, true, "", "(Don't need to check password)"},
      {"Dell ignores -pwd:", 0x1028, 0, 1, 0, u"-pwd:secret", false,
       "\r\nPassword is incorrect. Please try again!\r\n", "(Password incorrect)"},
      {"elsewhere -pwd: right", 0x1234, 0, 1, 0, u"-pwd:secret", true, "\r\nPassword is correct.\r\n", ""},
      {"elsewhere -p= wrong", 0x1234, 0, 1, 0, u"-p=secret", false,
       "\r\nPassword is incorrect. Please try again!\r\n", "(Password incorrect)"},
      {"Dell verify fails", 0x1028, 0, 1, 0x81, u"-p=secret", false, "Error: Hardware dependency.\r\n",
       "(Check password result failed)"},
      {"verify fails elsewhere", 0x1234, 0, 1, 0x81, u"-pwd:secret", false, "", "(Check password result failed)"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    PowerSetup S;
    S.Vendor = C.Vendor;
    Begin(S);
    gBios.QueryStatus = C.QueryStatus, gBios.PasswordSet = C.Set, gBios.VerifyStatus = C.VerifyStatus;
    if (C.Option != nullptr) {
      ASSERT_TRUE(ProcessArgument(C.Option));
    }
    EXPECT_EQ(C.Passes, CheckPassword() != 0);
    EXPECT_EQ(C.Console, Shown());
    EXPECT_TRUE(Logged(std::string("<=== CheckPassword") + (*C.Exit ? " " : "") + C.Exit + "\r\n"));
  }
}

TEST_F(AdmissionTest, PasswordRequestBytesAndRetry) {
  Begin();
  ASSERT_TRUE(ProcessArgument(u"-pwd:secret"));
  ASSERT_TRUE(CheckPassword());
  ASSERT_EQ(2u, gBios.Requests43.size());
  std::string Query = std::string("$PASSWDI\x0D\x01\0\0\0", 13);
  Query.resize(PASSWORD_REQUEST_SIZE, '\0');
  std::string Verify = std::string("$PASSWDI\x0D\x01\0\0\x01secret", 19);
  Verify.resize(PASSWORD_REQUEST_SIZE, '\0');
  EXPECT_EQ(Query, std::string(gBios.Requests43[0].begin(), gBios.Requests43[0].end()));
  EXPECT_EQ(Verify, std::string(gBios.Requests43[1].begin(), gBios.Requests43[1].end()));
  EXPECT_EQ(mFwsmi.Buffer[0].Address, gBios.Ecx43);

  Begin();
  mIniSettings.Others.SMIErrorRetry = 2;
  gBios.QueryStatus = 0x81;
  UINT8 Answer = 9;
  EXPECT_FALSE(SMI_CheckPasswordByBios(PASSWORD_MODE_QUERY, nullptr, &Answer));
  EXPECT_EQ(3u, CallsOf(0x43));
  EXPECT_EQ("FWSMI 43h\r\nFWSMI 43h\r\nFWSMI 43h\r\nError: FWSMI 43h failed.\r\n",
            LogBlock("FWSMI 43h", "Error: FWSMI 43h failed."));
  EXPECT_TRUE(Logged("<=== SMI_CheckPasswordByBios (al is not FWSMI_SUCCESS)\r\n"));
}

}  // namespace

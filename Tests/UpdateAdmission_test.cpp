// Whole runs that stop, or go on, at the gates in front of the first write:
// the BIOS's common-flash verdict, the Dell password, the power check of each
// platform variant, the version rules with their prompts and the secure
// platform's refusal of a plain image.
#include "UpdateScenarioFixture.h"

namespace {

using vyr::testing::UpdateScenario;

constexpr uint32_t kBiosBlockA = 0x300000;

constexpr uint16_t kDell = 0x1028;
constexpr uint16_t kToshiba = 0x1179;

class UpdateAdmission : public UpdateScenario {
 protected:
  // A run from V1.00 to Version with one changed BIOS block; true when the
  // flash was left exactly as it was.
  bool RunUntouched(const std::string &Ini, const std::vector<std::string> &Args, int ExpectedExit,
                    const std::string &Version = "V1.01") {
    Current_ = Image("V1.00");
    New_ = Image(Version);
    Mark(New_, kBiosBlockA, 0x31);
    Prepare(Current_, New_, Ini);
    int Code = Run(Args);
    EXPECT_EQ(ExpectedExit, Code) << Out_ << Err_;
    return Flash() == Current_;
  }
  bool Updated() const {
    Bytes After = Flash();
    return SameRange(After, New_, kBiosBlockA, 0x10000) && SameRange(After, New_, kBvdtOffset, 0x10000);
  }
  // A refused run ends with "Return To OS" and "AP Terminated".
  void ExpectTerminated() const {
    auto Json = Report();
    EXPECT_EQ(0, Json["completionRequest"]["status"]);
    EXPECT_EQ(0, Json["completionRequest"]["action"]);
    EXPECT_EQ(0, Json["bios"]["blockWrites"]["blocks"].size());
  }

  Bytes Current_, New_;
};

TEST_F(UpdateAdmission, CommonFlashRefusalShowsTheBiosMessage) {
  struct Case {
    const char *Name;
    uint16_t Message;
    std::string Section;
    std::string Text;
  } Cases[] = {
      // 25 has no ErrorMsg key (they run 00-13 hex).
      {"number", 25, "[CommonFlash]\r\nSwitchString=/a /b\r\n", "Not allow flash.\r\nMessage Number: 0x19"},
      // Keys are hex: message 19 is ErrorMsg13.
      {"text", 19, "[CommonFlash]\r\nErrorMsg13=Dock the system first.\r\n", "Warning!\r\nDock the system first.\r\n"},
      // A present section drops the built-in texts it does not repeat.
      {"emptied default", 5, "[CommonFlash]\r\n", "Not allow flash.\r\nMessage Number: 0x05"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Profile_.Checks.CommonFlash = {true, 0, C.Message, 2};
    EXPECT_TRUE(RunUntouched(kOpenBvdtIni + C.Section, {"new.fd"}, 1));
    EXPECT_TRUE(Printed(C.Text)) << Out_;
    EXPECT_FALSE(Printed("Update BIOS")) << Out_;
    ExpectTerminated();
    EXPECT_EQ(1, Report()["bios"]["checks"]["commonFlash"]["requests"]);
  }
}

TEST_F(UpdateAdmission, CommonFlashPermitOverridesTheActionAndReplacesThePowerCheck) {
  Profile_.Checks.CommonFlash = {true, 1, 0, 2};
  Profile_.Platform.AcPlug = 0;
  Profile_.Platform.DcLife = 5;
  const std::string Ini = kOpenBvdtIni + "[CommonFlash]\r\nSwitchString=/q\r\n[AC_Adapter]\r\nFlag=1\r\nBatteryCheck=1\r\n"
                                 "BatteryBound=50\r\n";
  EXPECT_FALSE(RunUntouched(Ini, {"new.fd", "-dbg"}, 0));
  EXPECT_TRUE(Updated());
  EXPECT_FALSE(Printed("Warning: No AC Connected")) << Out_;
  EXPECT_TRUE(Logged("Not check AC (take care by 44h)\r\n"));
  EXPECT_TRUE(Logged("Not check DC (take care by 44h)\r\n"));
  EXPECT_TRUE(Logged(" ODM Common Flash Action override 0x02\r\n")) << Log();
  auto Json = Report();
  EXPECT_EQ(1, Json["completionRequest"]["status"]);  // Flash Entire
  EXPECT_EQ(1, Json["completionRequest"]["action"]);  // 44h action 2: shut down instead of the INI's reboot
  auto Items = Json["bios"]["checks"]["commonFlash"]["items"];
  ASSERT_GE(Items.size(), 3u) << Items;
  EXPECT_EQ((nlohmann::json{{"type", 1}, {"value", 0}}), Items[0]);  // AC not present
  EXPECT_EQ(5, Items[2]["value"]);                                   // the charge
}

// The boxes as the operator sees them: 80-column rows, stored whole.
const char kBoxD[] =
    "#==============================================================================#"
    "#                           Warning: No AC Connected                           #"
    "# This process requires AC power to avoid an accidental power-off during an    #"
    "# update.                                                                      #"
    "#==============================================================================#";
const char kBoxC[] =
    "#==============================================================================#"
    "#                       Warning: Battery Too Low                               #"
    "# This process requires AC power and a charged battery to avoid an accidental  #"
    "# power-off during an update. Connect the AC adapter and make sure a charged   #"
    "# battery is in the computer.                                                  #"
    "#==============================================================================#";
const char kBoxE[] =
    "#==============================================================================#"
    "#                        Warning: No Battery Connected                         #"
    "# This process requires a charged battery to avoid an accidental power-off     #"
    "# during an update.                                                            #"
    "#==============================================================================#";
const char kBoxF40[] =
    "#==============================================================================#"
    "#                           Warning: Battery Too Low                           #"
    "# This process requires a  40% full battery to avoid an accidental power-off   #"
    "# during an update.                                                            #"
    "#==============================================================================#";
const char kToshiba30[] =
    "#==================================== ERROR ===================================#"
    "#                                                                              #"
    "#                         System must plug-in AC cord                          #"
    "#                and DC capacity should over  30% during flash BIOS            #"
    "#                                                                              #"
    "#==============================================================================#";

std::string DellBox(const std::string &Line) {
  return "#===================================== ERROR ==================================#"
         "# " + Line + std::string(76 - Line.size(), ' ') + " #"
         "#                                                                              #"
         "# ROM update not performed.                                                    #"
         "# press any key to exit.                                                       #"
         "#==============================================================================#";
}

TEST_F(UpdateAdmission, PowerBoxesOfTheThreeVariantsStopTheRun) {
  struct Case {
    const char *Name;
    uint16_t Vendor;
    uint8_t AcPlug, DcLife, DcBound;
    std::string Ini;
    std::string Box;
  } Cases[] = {
      {"default AC", 0x1234, 0, 100, 0, "[AC_Adapter]\r\nFlag=1\r\n", kBoxD},
      {"default AC+DC low", 0x1234, 1, 39, 0, "[AC_Adapter]\r\nFlag=1\r\nBatteryCheck=1\r\nBatteryBound=40\r\n",
       kBoxC},
      // Flag is on unless the INI turns it off.
      {"default DC none", 0x1234, 0, 0, 0, "[AC_Adapter]\r\nFlag=0\r\nBatteryCheck=1\r\nBatteryBound=40\r\n", kBoxE},
      {"default DC low", 0x1234, 0, 39, 0, "[AC_Adapter]\r\nFlag=0\r\nBatteryCheck=1\r\nBatteryBound=40\r\n",
       kBoxF40},
      // BatteryBound stays 255 without BatteryCheck: the BIOS's bound is shown.
      {"toshiba", kToshiba, 0, 100, 30, "[AC_Adapter]\r\nFlag=1\r\n", kToshiba30},
      {"dell AC", kDell, 0, 100, 0, "[AC_Adapter]\r\nFlag=1\r\n", DellBox("An External power adapter must be connected.")},
      {"dell low", kDell, 1, 39, 0, "[AC_Adapter]\r\nBatteryCheck=1\r\nBatteryBound=40\r\n",
       DellBox("Battery capacity too low.")},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Profile_.Platform.VendorId = C.Vendor;
    Profile_.Platform.AcPlug = C.AcPlug;
    Profile_.Platform.DcLife = C.DcLife;
    Profile_.Platform.DcBound = C.DcBound;
    EXPECT_TRUE(RunUntouched(kOpenBvdtIni + C.Ini, {"new.fd"}, 1));
    EXPECT_TRUE(Printed(C.Box + "\r\n")) << Out_;
    ExpectTerminated();
  }
  // -forceit takes the Dell check away; the Dell version prompt still asks.
  Profile_.Platform.VendorId = kDell;
  Profile_.Platform.AcPlug = 0;
  Profile_.Keys = {"Y"};
  EXPECT_FALSE(RunUntouched(kOpenBvdtIni + "[AC_Adapter]\r\nFlag=1\r\n", {"new.fd", "-forceit", "-dbg"}, 0));
  EXPECT_TRUE(Updated());
  EXPECT_TRUE(Logged(" -forceit used, skip AC/DC check\r\n"));
  EXPECT_FALSE(Printed("ERROR")) << Out_;
}

TEST_F(UpdateAdmission, DellPasswordIsCheckedOnceBeforeTheUpdate) {
  Profile_.Platform.VendorId = kDell;
  Profile_.Checks.Password = "Vyr-42";
  Profile_.Keys = {"y"};
  EXPECT_FALSE(RunUntouched(kOpenBvdtIni, {"new.fd", "-p=Vyr-42"}, 0));
  EXPECT_TRUE(Printed("\r\nPassword is correct.\r\n")) << Out_;
  EXPECT_TRUE(Updated());

  EXPECT_TRUE(RunUntouched(kOpenBvdtIni, {"new.fd", "-p=vyr-42"}, 1));
  EXPECT_TRUE(Printed("\r\nPassword is incorrect. Please try again!\r\n")) << Out_;
  ExpectTerminated();
  auto Password = Report()["bios"]["checks"]["password"];
  EXPECT_EQ(1, Password["verifies"]);  // no second attempt
  EXPECT_EQ("vyr-42", Password["lastTried"]);
}

TEST_F(UpdateAdmission, DellVersionPromptsAskForY) {
  const std::string Older =
      "You are about to flash your BIOS to an older BIOS version.\r\nDell does not recommend flashing your BIOS to an "
      "older version.\r\nPress 'Y' key to continue the flash process.\r\n\r\n";
  const std::string Cancelled =
      "ERROR: BIOS update cancelled by user\r\nPress any key to exit\r\n\r\nROM update not performed\r\n\r\n";
  struct Case {
    const char *Name;
    std::string Version;
    std::vector<std::string> Keys;
    std::vector<std::string> Args;
    std::string Prompt;
    bool Accepted;
  } Cases[] = {
      {"older Y", "V0.99", {"Y"}, {}, Older, true},
      {"older n", "V0.99", {"n", "Enter"}, {}, Older + Cancelled, false},
      {"same y", "V1.00", {"y"}, {},
       "Confirm - Replace \"V1.00\" BIOS with \"V1.00\" BIOS?\r\n\r\nPress 'Y' key to continue the flash process.\r\n\r\n",
       true},
      {"newer Esc", "V1.01", {"Esc", "Enter"}, {},
       "Confirm - Replace \"V1.00\" BIOS with \"V1.01\" BIOS?\r\n\r\nPress 'Y' key to continue the flash process.\r\n\r\n" +
           Cancelled,
       false},
      {"older -nopause", "V0.99", {}, {"-nopause"}, "", true},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Profile_.Platform.VendorId = kDell;
    Profile_.Keys = C.Keys;
    std::vector<std::string> Args = {"new.fd"};
    Args.insert(Args.end(), C.Args.begin(), C.Args.end());
    // Dell checks the version whatever [Bios_Version_Check] says.
    bool Untouched = RunUntouched(kOpenBvdtIni, Args, C.Accepted ? 0 : 1, C.Version);
    EXPECT_EQ(!C.Accepted, Untouched);
    EXPECT_TRUE(C.Prompt.empty() ? !Printed("Press 'Y'") : Printed(C.Prompt)) << Out_;
    if (!C.Accepted) {
      ExpectTerminated();
    }
  }
}

TEST_F(UpdateAdmission, VersionFormatDecidesOverTheDefaultRule) {
  // The default rule drops letters, so A1.01 is newer than V1.00; a format
  // that compares the first character case-insensitively finds it older.
  struct Case {
    const char *Format;
    bool Accepted;
  } Cases[] = {{"TN.NN", false}, {"XN.NN", true}};
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Format);
    std::string Ini =
        kModelAndVersionChecksIni + "[BIOSVersionFormat]\r\nBIOSVFEnable=1\r\nVersionFormat=" + C.Format + "\r\n";
    bool Untouched = RunUntouched(Ini, {"new.fd"}, C.Accepted ? 0 : 1, "a1.01");
    EXPECT_EQ(!C.Accepted, Untouched);
    EXPECT_EQ(!C.Accepted, Printed("The version of ROM file is not newer than current BIOS.\r\n")) << Out_;
  }
}

TEST_F(UpdateAdmission, SecurePlatformRefusesAPlainImageBeforeTheVersionChecks) {
  Profile_.Checks.SecureCapsule.Supported = true;
  const std::string Ini = kModelAndVersionChecksIni + "[MessageStringTable]\r\nMessageStringA00=\"Secure BIOS only.\\r\\nUse the "
                                      "signed image.\"\r\n";
  EXPECT_TRUE(RunUntouched(Ini, {"new.fd"}, 1, "V0.99"));
  EXPECT_TRUE(Printed("Secure BIOS only.\r\nUse the signed image.\r\n")) << Out_;
  EXPECT_FALSE(Printed("not newer")) << Out_;
  ExpectTerminated();
}

}  // namespace

// The shell flow as far as it is built: preparations, argument check,
// start-up, ROM maps, the command filter and the query commands.
#include "BaseLib.h"
#include "Flash/Completion.h"
#include "Config/IniSettings.h"
#include "Config/IniStore.h"
#include "Smi/FwsmiTransport.h"
#include "Guids.h"
#include "NamedFunction.h"
#include "Platform.h"
#include "Startup.h"
#include "CommandLineFixture.h"
#include "Base/Settings.h"
#include "Config/IniLoad.h"
#include "MainFlow.h"

namespace {

using vyr::emu::Profile;
using vyr::testing::CommandLineTest;

class ShellFlowTest : public CommandLineTest {
 protected:
  BOOLEAN Run(std::vector<std::u16string> Words) {
    SetArgs(std::move(Words));
    return ShellFlashMain();
  }
  bool Printed(const std::string &Text) { return Console().find(Text) != std::string::npos; }
  void SecureBootPlatform() {
    UINT8 SetupMode = 0;
    ASSERT_EQ(EFI_SUCCESS, PlatformSetVariable(u"SetupMode", &gEfiGlobalVariableGuid,
                                               EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS, 1,
                                               &SetupMode));
  }
};

const char kSecureBootMessage[] = "Current platform supports secure boot feature,";

TEST_F(ShellFlowTest, HelpComesFirstAndNeedsNoFile) {
  EXPECT_TRUE(Run({u"missing.fd", u"-pq", u"-h"}));
  EXPECT_TRUE(Printed("Version 1.4b-Beta5.00\r\n"));
  EXPECT_TRUE(Printed("Usage: VyrFFT-S.exe filename [Option]"));
  EXPECT_FALSE(Printed("Protection Region MAP"));
}

TEST_F(ShellFlowTest, InvalidOptionStopsBeforeStartUp) {
  InitialIniConfig();
  SetStatus_16h(2, 1);  // left by an earlier step
  EXPECT_FALSE(Run({u"-pqx"}));
  EXPECT_EQ(0, mCompletion.Action);  // Return To OS
  EXPECT_EQ(0, mCompletion.Status);  // AP Terminated
  EXPECT_TRUE(Printed("Error command: -pqx (Invalid command)\r\n"));
  EXPECT_TRUE(M().SmiTranscript().empty());
}

TEST_F(ShellFlowTest, BiosCommandFilterRefusesAnOptionAfterStartUp) {
  Profile P = Profile::Default();
  P.Platform.CommandFilter.Present = true;
  P.Platform.CommandFilter.Offset = 64;
  P.Platform.CommandFilter.Size = 12 + 8;
  P.Platform.CommandFilter.Bitmap = std::vector<uint8_t>(8, 0);
  P.Platform.CommandFilter.Bitmap[6] = 0x20 | 0x01;  // -pq and -h only
  Boot(P);
  EXPECT_TRUE(Run({u"-pq"}));
  ResetModuleState();
  Boot(P);
  EXPECT_FALSE(Run({u"-pw"}));
  EXPECT_TRUE(Printed("Error command: -pw (Not supports on current platform)\r\n\r\n"));
}

TEST_F(ShellFlowTest, RomMapFailuresStopTheRun) {
  struct { UINT8 Function; const char *Message; } Cases[] = {{0x12, "\r\nError: Initialize\r\nFWSMI 12h failed.\r\n"},
               {0x13, "\r\nError: Initialize\r\nFWSMI 13h failed.\r\n"}};
  for (const auto &Case : Cases) {
    ResetModuleState();
    Profile P = Profile::Default();
    P.BiosFaults.resize(1);
    P.BiosFaults[0].Function = Case.Function;
    P.BiosFaults[0].Status = 0x22;
    P.BiosFaults[0].Count = 0;
    Boot(P);
    EXPECT_FALSE(Run({u"-pq"}));
    EXPECT_TRUE(Printed(Case.Message)) << Console();
    EXPECT_FALSE(Printed("Protection Region MAP"));
    EXPECT_EQ(nullptr, mStartup.ReserveBuffer);
  }
}

TEST_F(ShellFlowTest, SecureBootCheckWaitsForThePlatformIni) {
  Profile P = Profile::Default();
  P.Flash.WholeMap.clear();  // no NV storage location reported
  // Queries still run: the check is held back until the configuration is
  // known. Without -skipsbp or the INI setting the run stops with the message.
  const struct { const char16_t *Word; bool Result, Message; } Cases[] = {
      {u"-pq", true, false},
      {u"-all", false, true},
      {u"-skipsbp", false, false},  // passes the check; the flash flow itself is not built yet
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(A(Case.Word));
    ResetModuleState();
    Boot(P);
    SecureBootPlatform();
    EXPECT_EQ(Case.Result, Run({Case.Word}) != 0);
    EXPECT_EQ(Case.Message, Printed(kSecureBootMessage));
    EXPECT_EQ(Case.Message, Printed("        [EngineeringErrorDisable]\r\n        SkipSecureBootProtectionCheck=1\r\n\r\n"));
  }
}

TEST_F(ShellFlowTest, SecureBootCheckSeesALoadedIniSetting) {
  Profile P = Profile::Default();
  P.Flash.WholeMap.clear();
  Boot(P);
  SecureBootPlatform();
  InitialIniConfig();
  ASSERT_TRUE(AllocateFwsmiBuffers() && InitialSmi());
  std::string Ini = "[EngineeringErrorDisable]\r\nSkipSecureBootProtectionCheck=1\r\n";
  UINT32 Length = (UINT32)Ini.size();
  ASSERT_TRUE(LoadOption(Ini.data(), &Length, FALSE));
  EXPECT_TRUE(SecureBootProtectionCheck(0));
  EXPECT_FALSE(Printed(kSecureBootMessage));
  // With the INI loaded and the setting off, the check fails at once.
  mIniSettings.EngineeringErrorDisable.SkipSecureBootProtectionCheck = 0;
  EXPECT_FALSE(SecureBootProtectionCheck(0));
  EXPECT_TRUE(Printed(kSecureBootMessage));
  // A whole ROM map with entries passes.
  EXPECT_TRUE(SecureBootProtectionCheck(3));
}

}  // namespace

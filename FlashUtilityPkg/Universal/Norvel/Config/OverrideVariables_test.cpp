#include "Config/OverrideVariables.h"

#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Config/IniSettings.h"
#include "Config/IniStore.h"
#include "Guids.h"
#include "Platform.h"
#include "CommandLineFixture.h"
#include "ArgumentCheck.h"
#include "Base/Settings.h"

namespace {

using vyr::testing::CommandLineTest;

class OverrideTest : public CommandLineTest {
 protected:
  // The variable's bytes as the firmware holds them, or "<absent>".
  std::string Variable(const char16_t *Name, UINT32 *Attributes = nullptr) {
    UINTN Size = 0;
    if (PlatformGetVariable(Name, &gFlashOverrideVariableGuid, nullptr, &Size, nullptr) != EFI_BUFFER_TOO_SMALL) {
      return "<absent>";
    }
    std::string Data(Size, '\0');
    EXPECT_EQ(EFI_SUCCESS, PlatformGetVariable(Name, &gFlashOverrideVariableGuid, Attributes, &Size, Data.data()));
    return Data;
  }
  std::string Filtered(const std::string &Text) {
    std::string Out(Text.size() + 1, '\0');
    UINT32 Length = FilterOverrideSections(Text.data(), (UINT32)Text.size(), Out.data());
    return Out.substr(0, Length);
  }
};

TEST_F(OverrideTest, SectionsLeftOutOfTheIniVariable) {
  const std::string Long = "[MessageStringTable]\r\nmessagestringA02=\"" + std::string(2000, 'w') + "\"\r\n";
  const struct { std::string In, Out; } Cases[] = {
      {"\r\n[Log_file]\r\nFlag=1\r\n[Options]\r\nX=1\r\n[MULTI_FD]\r\nFlag=1\r\nFD#00=a\r\n"
       "[Others]\r\nSMIErrorRetry=2\r\n[version]\r\nA=1\r\n[PasswordCheckX]\r\n",
       "[Log_file]\r\nFlag=1\r\n[Others]\r\nSMIErrorRetry=2\r\n"},
      {"Flag=1\r\n[UI]\r\nElapse=1\r\n", "[UI]\r\nElapse=1\r\n"},  // the text before the first section never travels
      {"[UI]\r\nElapse=1\r\n[Region]\r\nBIOS=1\r\n", "[UI]\r\nElapse=1\r\n[Region]\r\nBIOS=1\r\n"},
      {"\r\n" + Long, Long},
      {"\r\n[UI]\r\n[[Region]\r\n", "[UI]\r\n"},  // an empty piece ends the walk
  };
  for (const auto &Case : Cases) EXPECT_EQ(Case.Out, Filtered(Case.In)) << Case.In.substr(0, 40);
}

TEST_F(OverrideTest, IniVariableIsWrittenWithAttributes7AndWithoutTerminator) {
  std::string Text = "\r\n[AC_Adapter]\r\nFlag=0\r\n[FDFile]\r\nName=x.fd\r\n";
  ASSERT_TRUE(SetIniOverrideVariable(Text.data(), (UINT32)Text.size()));
  UINT32 Attributes = 0;
  EXPECT_EQ("[AC_Adapter]\r\nFlag=0\r\n", Variable(u"FlashINISettings", &Attributes));
  EXPECT_EQ(7u, Attributes);
  ASSERT_TRUE(ClearIniOverrideVariable());
  EXPECT_EQ("<absent>", Variable(u"FlashINISettings"));
  // Clearing what is not there is no failure.
  EXPECT_TRUE(ClearIniOverrideVariable());
  // The command variable holds the wide string with its terminator.
  std::u16string Command = u" -all -forceit -n -r";
  ASSERT_TRUE(SetCommandOverrideVariable(Command.c_str(), (UINT32)(Command.size() * 2 + 2)));
  std::string Stored = Variable(u"FlashCommand");
  ASSERT_EQ(42u, Stored.size());
  EXPECT_EQ(0, std::memcmp(Stored.data(), Command.c_str(), 42));
}

TEST_F(OverrideTest, SavedCommandLineGoesIntoTheCommandVariable) {
  SetArgs({u"new.fd", u"-all", u"-forceit"});
  CHAR16 FileName[FILE_NAME_CHARS] = {};
  CHAR16 Options[OPTION_STRING_CHARS] = {};
  ASSERT_TRUE(ArgumentCheck(FileName, Options));
  ASSERT_TRUE(SetCommandOverrideVariable(nullptr, 0));
  std::string Stored = Variable(u"FlashCommand");
  std::u16string Expected = std::u16string(Options);
  ASSERT_EQ(Expected.size() * 2 + 2, Stored.size());
  EXPECT_EQ(0, std::memcmp(Stored.data(), Expected.c_str(), Stored.size()));
}

TEST_F(OverrideTest, FirmwareRunTakesBothVariablesOnceAndDeletesThem) {
  InitialIniConfig();
  std::string Ini = "[Others]\r\nSMIErrorRetry=9\r\n[MULTI_FD]\r\nFlag=1\r\n";
  ASSERT_TRUE(SetIniOverrideVariable(Ini.data(), (UINT32)Ini.size()));
  std::u16string Command = u" -forceit -nopause -all";
  ASSERT_TRUE(SetCommandOverrideVariable(Command.c_str(), (UINT32)(Command.size() * 2 + 2)));

  EXPECT_TRUE(GetIniOverrideVariable());
  EXPECT_EQ(9u, UINT32(mIniSettings.Others.SMIErrorRetry));
  EXPECT_EQ(0, mIniSettings.MULTI_FD.Flag);  // never carried into the firmware run
  EXPECT_TRUE(GetCommandOverrideVariable());
  EXPECT_EQ(1, IsOptionSet(OPT_FORCEIT));
  EXPECT_EQ(1, IsOptionSet(OPT_NOPAUSE));
  EXPECT_EQ(0, IsOptionSet(OPT_ALL));  // only the override words are taken
  EXPECT_EQ("<absent>", Variable(u"FlashINISettings"));
  EXPECT_EQ("<absent>", Variable(u"FlashCommand"));
  // Applied at most once.
  EXPECT_FALSE(GetIniOverrideVariable());
  EXPECT_FALSE(GetCommandOverrideVariable());
}

// Settings that could not be loaded are not dropped: the variable stays for
// the next run, and the run goes on without it.
TEST_F(OverrideTest, IniVariableThatCannotBeLoadedIsKept) {
  std::string Ini = "[Others]\r\nSMIErrorRetry=9\r\nX=" + std::string(70, 'x') + "\r\n";
  vyr::emu::Profile P = vyr::emu::Profile::Default();
  P.PoolFaults.push_back({2, 1, Ini.size() + 1, false});  // LoadOption's copy (the first such block is the variable's)
  Boot(P);
  InitialIniConfig();
  ASSERT_TRUE(SetIniOverrideVariable(Ini.data(), (UINT32)Ini.size()));
  mIniSettings.Log_file.Flag = 1;
  mIniSettings.Log_file.Level = 2;
  EXPECT_FALSE(GetIniOverrideVariable());
  EXPECT_NE(std::string::npos, ReadVolumeFile("VyrFFT-Secure.Log").find("<=== GetIniOverrideVariable (Load option failed)\r\n"));
  EXPECT_NE(UINT32(9), UINT32(mIniSettings.Others.SMIErrorRetry));
  EXPECT_NE("<absent>", Variable(u"FlashINISettings"));
}

TEST_F(OverrideTest, VariablesPersistInTheMachineDirectory) {
  const std::string Dir = this->Dir() + "/machine";
  {
    auto First = vyr::emu::Machine::OpenDirectory(Dir);
    HostPlatformAttach(First.get());
    std::string Ini = "\r\n[Log_file]\r\nLevel=3\r\n";
    ASSERT_TRUE(SetIniOverrideVariable(Ini.data(), (UINT32)Ini.size()));
    HostPlatformAttach(nullptr);
  }
  ResetModuleState();
  auto Second = vyr::emu::Machine::OpenDirectory(Dir);
  HostPlatformAttach(Second.get());
  InitialIniConfig();
  EXPECT_TRUE(GetIniOverrideVariable());
  EXPECT_EQ(3, mIniSettings.Log_file.Level);
  HostPlatformAttach(nullptr);
}

}  // namespace

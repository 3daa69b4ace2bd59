#include "Config/IniSettings.h"

#include "Config/IniStore.h"
#include "Base/Trace.h"
#include "UtilityFixture.h"
#include "Base/Settings.h"
#include "Config/IniLoad.h"

#include <functional>

namespace {

using vyr::testing::UtilityTest;

// Expected texts are written with bare LF; the dump writes CR LF.
std::string CrLf(const std::string &Text) {
  std::string Out;
  for (char C : Text) {
    if (C == '\n') Out += '\r';
    Out += C;
  }
  return Out;
}

class IniSettingsTest : public UtilityTest {
 protected:
  void SetUp() override {
    UtilityTest::SetUp();
    Boot();
    InitialIniConfig();
  }
  void Load(const std::string &Text, bool MultiFd = true) {
    std::vector<CHAR8> Buffer(Text.begin(), Text.end());
    Buffer.push_back(0);
    UINT32 Length = (UINT32)Text.size();
    ASSERT_TRUE(LoadOption(Buffer.data(), &Length, MultiFd));
  }
  // What one dump adds to the log (with -dbg in force).
  std::string Dump() {
    mTrace.DebugFlag = 1;
    mTrace.DebugLevel = 4;
    std::string Before = Log();
    DumpIniConfig();
    return Log().substr(Before.size());
  }
};

const char kDumpStart[] = "\n========== Platform.ini Settings Start ==========\n";
const char kDumpEnd[] = "\n=========== Platform.ini Settings End ===========\n";
const char kReturnCodes[] =
    "\n[ReturnCodeDefinition]\nRETURN_SUCCESSFUL=0\nRETURN_MODEL_CHECK_FAIL=259\n"
    "RETURN_USER_CONFIRM_CANCEL=1602\nRETURN_AC_NOT_CONNECT=1602\nRETURN_LOAD_DRIVER_FAIL=259\n"
    "RETURN_NEED_REBOOT=%s\nRETURN_USER_EXIT=1602\nRETURN_SAME_VERSION_CHECK=1602\n";

std::string ReturnCodes(const char *NeedReboot) {
  std::string Text = kReturnCodes;
  return Text.replace(Text.find("%s"), 2, NeedReboot);
}

// The dump's text is checked once, after a rich INI.
TEST_F(IniSettingsTest, RichIniDump) {
  Load("[Log_file]\r\nFlag=0\r\nFileName = Run.log\r\nLevel=9\r\n"
       "[CommonFlash]\r\nSwitchString=-sw1\r\nErrorMsg01=No AC!\r\nErrorMsg0A=Ten\r\nErrorMsg13=Nineteen\r\n"
       "[MULTI_FD]\r\nFlag=1\r\nFD#00=a.fd\r\nFD#42=b.fd\r\n"
       "[UI]\r\nElapse=1\r\nPassUpdateProgressToBios=2\r\n"
       "[AC_Adapter]\r\nFlag=0\r\nBatteryCheck=1\r\nBatteryBound=30\r\nLauncherAcWarning=MsgA\r\n"
       "[Platform_Check]\r\nFlag=2\r\nPlatformName3=Vyr 3000\r\n"
       "[PlatformVersion]\r\nFlag=1\r\nVersion3=1.02\r\n"
       "[Bios_Version_Check]\r\nFlag=1\r\nCheckByBios=1\r\nCheckByBiosErrorMessage=\"Refused by BIOS\"\r\n"
       "[BIOSVersionFormat]\r\nBIOSVFEnable=1\r\nVersionFormat=XX.YY\r\n"
       "[FlashComplete]\r\nAction=1,0\r\nPause=1\r\nPauseWarning=MsgP\r\n"
       "[FlashSecureBIOSOverride]\r\nEnableFlashSecureBIOSOverride=1\r\nAction=3\r\n"
       "; protected areas\r\n"
       "[ForceFlash]\r\nALP=1\r\nALL=1\r\nLogo=1\r\nType#05=0\r\nType#20=1\r\nType#FE=1\r\nType#FF=1\r\n"
       "UseBvdtRomMap=1\r\n"
       "[Region]\r\nBIOS=1\r\nEC=1\r\n"
       "[UpdateEC]\r\nProgress_Bar=0\r\nEC_DockWarning=MsgEC\r\nIgnore_21h=1\r\nAction_20h=1\r\nEC_BlockSize=300\r\n"
       "EnableECProtectMask=1\r\nProtectMaskBitCount=4\r\nMaskByte0=0x1F\r\nMaskByte31=FF\r\n"
       "[UpdateOEMME]\r\nMEFileName=me.bin\r\nCommand=-f me.bin\r\n"
       "[ReturnErrorCode]\r\nFileNotFound=3,259\r\nWriteECFail=16\r\n"
       "[ReturnCodeDefinition]\r\nRETURN_NEED_REBOOT=0\r\n"
       "[Others]\r\nDisableCompare=1\r\nVerifyErrorRetry=7\r\nSMIErrorRetry=2\r\nDisableSecureCapsuleFlash=1\r\n"
       "EnablePrivateRegionMovement=1\r\n"
       "[FactoryCopy]\r\nRestore=1\r\n"
       "[SecurityFlashFactoryUpdate]\r\nUpdateNvStorage=1\r\n"
       "[EngineeringErrorDisable]\r\nSkipSecureBootProtectionCheck=1\r\n"
       "[SecureUpdate]\r\nviaESP=1\r\nDeviceOrder=NVMe, \"USB\", floppy\r\n"
       "[AutoWakeup]\r\nFlag=1\r\nInterval=30\r\n"
       "[PassToBios]\r\nClearTXE=1\r\n");
  std::string Expected =
      std::string(kDumpStart) + "\n[Log_file]\nFlag=0\nFileName=Run.log\nLevel=4\nLogOnScreen=0\n" +
      "[CommonFlash]\nEnableCommonFlash=1\nSwitchString=-sw1\nErrorMsg01=No AC!\nErrorMsg0A=Ten\nErrorMsg13=Nineteen\n"
      "\n[MULTI_FD]\nFlag=1\n;FD# support 00~99 (dec), empty string doesn't log in this file\nFD#00=a.fd\nFD#42=b.fd\n"
      "\n[UI]\nElapse=1\nPassUpdateProgressToBios=0\n"
      "\n[AC_Adapter]\nFlag=0\nBatteryCheck=1\nBatteryBound=30\nLauncherAcWarning=MsgA\nSecurityAcWarning=\n"
      "\n[Platform_Check]\nFlag=2\n;PlatformName support 0~20, empty string doesn't log in this file\n"
      "PlatformName3=Vyr 3000\n"
      "\n[PlatformVersion]\nFlag=1\n;Version support 0~20, empty string doesn't log in this file\nVersion3=1.02\n"
      "\n[Bios_Version_Check]\nFlag=1\nCheckByBios=1\nCheckByBiosErrorMessage=\"Refused by BIOS\"\n"
      "\n[BIOSVersionFormat]\nBIOSVFEnable=1\nVersionFormat=XX.YY\n"
      "\n[FlashComplete]\nAction=1\nPause=1\nPauseWarning=MsgP\n"
      "\n[FlashSecureBIOSOverride]\nEnableFlashSecureBIOSOverride=1\nAction=3\n"
      "\n[ForceFlash]\nALP=1\nALL=1\nBB_PEI=0\nCPU_Microcode=0\nVariable=0\nDXE=0\nEC=0\nPassword=0\nOEM_NVS=0\n"
      "Logo=1\n;Type# support 00~FE (hex), the item of value is 0 doesn't log in this file\n"
      "Type#05=1\nType#20=1\nType#FE=1\nUseBvdtRomMap=1\n"
      "\n[Region]\nBIOS=1\nGbE=0\nME=0\nDESC=0\nPlatform_Data=0\nEC=1\n"
      "\n[UpdateEC]\nProgress_Bar=0\nIgnore_21h=1\nAction_20h=1\nEC_BlockSize=44\nEC_DockWarning=MsgEC\n"
      "\n[UpdateOEMME]\nMEFileName=me.bin\nCommand=-f me.bin\n"
      "\n[ReturnErrorCode]\nFileNotFound=3\nErrorBeforeFlash=4\nBatteryNotConnect=4\n"
      "BatteryCapacityNotEnough=4\nWriteROMFail=5\nWriteECFail=16\nWriteExtraDataFail=7\n" +
      ReturnCodes("0") +
      "\n[Others]\nDisableCompare=1\nDisableVerify=0\nVerifyErrorRetry=7\nSMIErrorRetryDelay=100\n"
      "SMIErrorRetry=2\nEnableProtectionRegionMovement=0\nEnablePrivateRegionMovement=1\n"
      "DisableSecureCapsuleFlash=1\n"
      "\n[FactoryCopy]\nRestore=1\n"
      "\n[SecureUpdate]\nviaESP=1\nDeviceOrder=2, 5, 3, 4, 5\n"
      "\n[AutoWakeup]\nFlag=1\nInterval=30\n"
      "\n[PassToBios]\nClearTXE=1\n" +
      kDumpEnd;
  EXPECT_EQ(CrLf(Expected), Dump());
  // Read but not dumped.
  EXPECT_EQ(0x1F, mIniSettings.UpdateEC.MaskByte[0]);
  EXPECT_EQ(0xFF, mIniSettings.UpdateEC.MaskByte[31]);
  EXPECT_EQ(1, mIniSettings.UpdateEC.EnableECProtectMask);
  EXPECT_EQ(4, mIniSettings.UpdateEC.ProtectMaskBitCount);
  EXPECT_EQ(1, mIniSettings.SecurityFlashFactoryUpdate.UpdateNvStorage);
  EXPECT_EQ(1, mIniSettings.EngineeringErrorDisable.SkipSecureBootProtectionCheck);
}

TEST_F(IniSettingsTest, TextsLoseTheirDefaultsNumbersKeepTheirValues) {
  mTrace.DebugFlag = 1;
  mTrace.DebugLevel = 4;
  InitialIniConfig();
  EXPECT_EQ("===> InitialIniConfig\r\n<=== InitialIniConfig\r\n", Log());
  EXPECT_STREQ("No error!", mIniSettings.CommonFlash.ErrorMsg[0]);
  EXPECT_STREQ("Show model name string length more than xx bytes.", mIniSettings.CommonFlash.ErrorMsg[0x12]);
  EXPECT_STREQ("messagestringA02", mIniSettings.AC_Adapter.LauncherAcWarning);
  Load("[Others]\nSMIErrorRetry=9\n[FlashComplete]\nPauseWarning=MsgP\n");
  EXPECT_STREQ("", mIniSettings.AC_Adapter.LauncherAcWarning);
  EXPECT_STREQ("", mIniSettings.CommonFlash.ErrorMsg[0]);
  Load("[UI]\n");
  EXPECT_EQ(9u, UINT32(mIniSettings.Others.SMIErrorRetry));
  EXPECT_STREQ("", mIniSettings.FlashComplete.PauseWarning);
  InitialIniConfig();
  EXPECT_EQ(5u, UINT32(mIniSettings.Others.SMIErrorRetry));
}

TEST_F(IniSettingsTest, SectionQuirks) {
  struct {
    const char *Ini;
    std::function<void()> Check;
  } Cases[] = {
      {"[Log_file]\nLevel=9\n", [] { EXPECT_EQ(4, mIniSettings.Log_file.Level); }},
      {"[Log_file]\nLevel=3\n", [] { EXPECT_EQ(3, mIniSettings.Log_file.Level); }},
      {"[AC_Adapter]\nBatteryCheck=0\nBatteryBound=50\n", [] { EXPECT_EQ(255, mIniSettings.AC_Adapter.BatteryBound); }},
      {"[AC_Adapter]\nBatteryCheck=2\nBatteryBound=50\n", [] { EXPECT_EQ(255, mIniSettings.AC_Adapter.BatteryBound); }},
      {"[AC_Adapter]\nBatteryCheck=1\nBatteryBound=50\n", [] { EXPECT_EQ(50, mIniSettings.AC_Adapter.BatteryBound); }},
      {"[ForceFlash]\nLogo=1\nType#05=0\nPassword=1\n",
       [] {
         EXPECT_EQ(1, mIniSettings.ForceFlash.Type[0x05]);
         EXPECT_EQ(1, mIniSettings.ForceFlash.Type[0x0F]);
         EXPECT_EQ(0, mIniSettings.ForceFlash.Type[0x10]);
       }},
      {"[CommonFlash]\n",
       [] {
         EXPECT_EQ(1, mIniSettings.CommonFlash.EnableCommonFlash);
         for (auto &Message : mIniSettings.CommonFlash.ErrorMsg) EXPECT_STREQ("", Message);
       }},
      {"[commonflash]\n", [] { EXPECT_EQ(1, mIniSettings.CommonFlash.EnableCommonFlash); }},
      {"[CommonFlash2]\n", [] { EXPECT_EQ(0, mIniSettings.CommonFlash.EnableCommonFlash); }},
      {"[Bios_Version_Check]\nCheckByBiosErrorMessage=\"\"No \"way\"\"\n",
       [] { EXPECT_STREQ("No \"way", mIniSettings.Bios_Version_Check.CheckByBiosErrorMessage); }},
      {"[FlashComplete]\nAction=2,0\n[ReturnErrorCode]\nFileNotFound=3,259\n",
       [] {
         EXPECT_EQ(2u, UINT32(mIniSettings.FlashComplete.Action));
         EXPECT_EQ(3u, UINT32(mIniSettings.ReturnErrorCode.FileNotFound));
       }},
      {"[AutoWakeup]\nINTERVAL=45\n", [] { EXPECT_EQ(45u, UINT32(mIniSettings.AutoWakeup.Interval)); }},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Ini);
    InitialIniConfig();
    Load(Case.Ini);
    Case.Check();
  }
}

TEST_F(IniSettingsTest, DeviceOrder) {
  struct { const char *Value; std::vector<UINT8> Order; } Cases[] = {
      {"NVMe, \"USB\", floppy", {2, 5, 3, 4, 5, 0, 0, 0, 0, 0}},
      {"usb", {5, 2, 3, 4, 5, 0, 0, 0, 0, 0}},
      {"\t\"eMMC\" ,SATA", {1, 3, 3, 4, 5, 0, 0, 0, 0, 0}},
      {"USB,,ATAPI", {5, 2, 4, 4, 5, 0, 0, 0, 0, 0}},
      {"\"USB", {1, 2, 3, 4, 5, 0, 0, 0, 0, 0}},
      {"USBX, US", {1, 2, 3, 4, 5, 0, 0, 0, 0, 0}},
      {"USB,USB,USB,USB,USB,USB,USB,USB,USB,SATA,eMMC", {5, 5, 5, 5, 5, 5, 5, 5, 5, 3}},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Value);
    InitialIniConfig();
    Load(std::string("[SecureUpdate]\nDeviceOrder=") + Case.Value + "\n");
    EXPECT_EQ(Case.Order, std::vector<UINT8>(std::begin(mIniSettings.SecureUpdate.DeviceOrder),
                                             std::end(mIniSettings.SecureUpdate.DeviceOrder)));
  }
}

TEST_F(IniSettingsTest, LaterLoadsKeepTheMultiFdSelectionAndTheForceFlashTypes) {
  const char Ini[] = "[MULTI_FD]\nFlag=1\nFD#07=seven.fd\n";
  Load(Ini, false);
  EXPECT_EQ(0, mIniSettings.MULTI_FD.Flag);
  EXPECT_STREQ("", mIniSettings.MULTI_FD.Fd[7]);
  Load(Ini, true);
  EXPECT_EQ(1, mIniSettings.MULTI_FD.Flag);
  EXPECT_STREQ("seven.fd", mIniSettings.MULTI_FD.Fd[7]);
  // A later load without the flag (a secure image's INI) keeps the selection.
  Load("[MULTI_FD]\nFlag=0\n", false);
  EXPECT_EQ(1, mIniSettings.MULTI_FD.Flag);
  InitialIniConfig();
  EXPECT_EQ(0, mIniSettings.MULTI_FD.Flag);
  EXPECT_STREQ("seven.fd", mIniSettings.MULTI_FD.Fd[7]);
  // The named ForceFlash keys are copied again; Type#nn keys only ever set.
  Load("[ForceFlash]\nLogo=1\nType#20=1\n");
  Load("[ForceFlash]\nLogo=0\nType#21=1\n");
  EXPECT_EQ(0, mIniSettings.ForceFlash.Type[0x05]);
  EXPECT_EQ(1, mIniSettings.ForceFlash.Type[0x20]);
  EXPECT_EQ(1, mIniSettings.ForceFlash.Type[0x21]);
}

}  // namespace

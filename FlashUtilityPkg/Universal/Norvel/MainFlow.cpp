// The two main entries: the order of the checks and the choice of the flash
// engine. Engines that this build does not carry refuse with a message
// before anything is written.
#include "MainFlow.h"

#include "ArgumentCheck.h"
#include "Base/Banner.h"
#include "Base/RunState.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandFilter.h"
#include "Config/CommandLine.h"
#include "Config/EdtArguments.h"
#include "Config/IniSettings.h"
#include "Config/IniStore.h"
#include "Config/OverrideVariables.h"
#include "Console/ConsoleUi.h"
#include "Console/FileAccess.h"
#include "Console/Usage.h"
#include "Flash/BlockFlash.h"
#include "Flash/Completion.h"
#include "Flash/EcUpdate.h"
#include "Flash/ExtraData.h"
#include "Flash/PfatFlash.h"
#include "Flash/Progress.h"
#include "Flash/ProtectArea.h"
#include "Flash/ReadRom.h"
#include "Flash/RomMap.h"
#include "Flash/RomMapListings.h"
#include "Flash/RomMapTypes.h"
#include "Flash/SecureCapsule.h"
#include "Flash/SecureFlash.h"
#include "Image/Admission.h"
#include "Image/Bvdt.h"
#include "Image/ConfigLoader.h"
#include "Image/ImageAnalysis.h"
#include "Image/OemCustom.h"
#include "Image/Package.h"
#include "Image/PackageCommands.h"
#include "Image/Payload.h"
#include "Image/PfatImage.h"
#include "Platform.h"
#include "Smi/ExtraDataRequest.h"
#include "Smi/PlatformQueries.h"
#include "Startup.h"

MAIN_FLOW_STATE mMainFlow;

VOID MainFlowResetState(VOID) {
  FreePool(mMainFlow.FirmwareBios);
  ZeroMem(&mMainFlow, sizeof(mMainFlow));
}

// Every failure of a flow leaves "Return To OS" with "AP Terminated" for EndProgram.
static BOOLEAN FailRun(CONST CHAR16 *Name, CONST CHAR16 *Reason) {
  SetStatus_16h(0, 0);
  FuncExit(Name, Reason);
  return FALSE;
}

// An engine or image kind that a later build brings: refused before any write.
static BOOLEAN NotInThisBuild(CONST CHAR16 *What) {
  Print(u"Error: %s is not supported by this build.\r\n", What);
  DebugPrint(2, u" %s not built\r\n", What);
  return FALSE;
}

// The query commands, first match wins. *Ran tells whether one was given;
// the result is the query's own.
static BOOLEAN RunQueryCommand(BOOLEAN *Ran) {
  *Ran = TRUE;
  if (IsOptionSet(OPT_HELP)) {
    PrintBanner(TRUE);
    DisplayUsage();
    return TRUE;
  }
  if (IsOptionSet(OPT_PR)) {
    return ShowExternalRegionMap();
  }
  if (IsOptionSet(OPT_PRIV)) {
    return ShowPrivateRegionMap();
  }
  if (IsOptionSet(OPT_PQ)) {
    return ShowProtectRegionMap();
  }
  if (IsOptionSet(OPT_PI)) {
    return ShowBvdtRegionMap(mMainFlow.FileName);
  }
  if (IsOptionSet(OPT_PW)) {
    return ShowWholeRegionMap();
  }
  if (IsOptionSet(OPT_G)) {
    PrintBanner(FALSE);
    return SaveRomToFile(mMainFlow.FileName);
  }
  if (IsExtrFdSet()) {
    return ExecuteExtrFd();
  }
  if (IsOptionSet(OPT_EDT)) {
    PrintBanner(FALSE);
    return FuncCommand_edt();
  }
  *Ran = FALSE;
  return FALSE;
}

// The configuration of a shell run: the package's or the external files'.
static BOOLEAN FuncChk_configure(VOID) {
  FuncEnter(u"FuncChk_configure");
  mMainFlow.ConfigSecureImage = FALSE;
  if (IsPackageMode()) {
    if (!FuncLoadPackageConfig()) {
      FuncExit(u"FuncChk_configure", u"Get ini from package failed");
      return FALSE;
    }
  } else if (!FuncLoadFileConfig(mMainFlow.FileName)) {
    FuncExit(u"FuncChk_configure", u"");
    return FALSE;
  }
  mMainFlow.ConfigSecureImage = mImageAnalysis.Capsule.IsSecureImage;
  if (mIniSettings.ForceFlash.ALL == 1 && mIniSettings.Others.EnableProtectionRegionMovement == 1) {
    Print(u"Platform.ini can't set [ForceFlash] ALL=1 and [Others] EnableProtectionRegionMovement=1 at the same "
          u"time\n");
    FuncExit(u"FuncChk_configure", u"ini setting conflict");
    return FALSE;
  }
  FuncExit(u"FuncChk_configure", NULL);
  return TRUE;
}

// The EC after the BIOS of a shell run, first match wins.
static BOOLEAN UpdateEcAfterBios(VOID) {
  FuncEnter(u"UpdateEcAfterBios");
  BOOLEAN Plain = !mMainFlow.ConfigSecureImage;
  BOOLEAN Needed = FALSE;
  if (Plain && IsEcWithBiosPercentOptionSet()) {
    DebugPrint(4, u" Command -ecbp\r\n");
    Needed = TRUE;
  } else if (Plain && IsEcWithBiosOptionSet()) {
    DebugPrint(4, u" Command -ecb\r\n");
    Needed = TRUE;
  } else if (mImageAnalysis.Capsule.HasEc && !IsSecurePlatform()) {
    DebugPrint(4, mIniSettings.UpdateEC.Progress_Bar == 1 ? u" ProgressBar=1\r\n" : u" ProgressBar=0\r\n");
    Needed = TRUE;
  }
  if (Needed) {
    NotInThisBuild(u"The EC update");
    FuncExit(u"UpdateEcAfterBios", u"EC update failed");
    return FALSE;
  }
  FuncExit(u"UpdateEcAfterBios", NULL);
  return TRUE;
}

// What a secure, PFAT or RBU platform accepts of this image.
static BOOLEAN SecureAdmission(CONST UINT8 *Image, UINT32 Size, BOOLEAN Secure, BOOLEAN SecureImage) {
  if (!IsPbiOptionSet()) {
    CONST CHAR16 *Refusal = NULL;
    BOOLEAN Refused = FALSE;
    if (Secure && !SecureImage) {
      Refusal = GetMessageString("MessageStringA00", NULL);
      Refused = TRUE;
    } else if (Secure && !mImageAnalysis.Capsule.DriverSignature) {
      Print(u"The secure BIOS is signed by older version of security flash.\r\n");
      Refused = TRUE;
    } else if (mIniSettings.Others.DisableSecureCapsuleFlash == 1 && SecureImage) {
      Refusal = GetMessageString("MessageStringA01", NULL);
      Refused = TRUE;
    }
    if (Refusal != NULL) {
      Print(u"%s", Refusal);
      FreePool((VOID *)Refusal);
    }
    if (Refused) {
      Print(u"\r\n");
      return FALSE;
    }
  }
  if (Secure && IsSupportPfat()) {
    ProcessPfatImage(Image, Size);
    CONST PFAT_INFO *Pfat = GetPfatInfo();
    if (!SecureImage || !Pfat->Signed || !Pfat->ChecksumValid) {
      Print(u"Error:\r\nIt only supports to flash signed PFAT secure image on current platform.\r\nThe image to be "
            u"updated is not a valid PFAT secure image.\r\n");
      return FALSE;
    }
  }
  if (!Secure) {
    ProcessPfatImage(Image, Size);
    CONST PFAT_INFO *Pfat = GetPfatInfo();
    if (Pfat->IsPfat && (!Pfat->Signed || !Pfat->ChecksumValid)) {
      Print(u"Error: PFAT image NOT valid.\r\n");
      return FALSE;
    }
  }
  if (!Secure && IsRbuImage((UINT8 *)Image, Size) && !CheckRbuChecksum((UINT8 *)Image, Size)) {
    return FALSE;
  }
  return TRUE;
}

// The engine that the platform and the image call for.
static BOOLEAN ChooseEngine(CONST UINT8 *Image, UINT32 Size, BOOLEAN Secure, BOOLEAN SecureImage) {
  UINT8 MovePrivate = mIniSettings.Others.EnablePrivateRegionMovement;
  UINT8 MoveProtect = mIniSettings.Others.EnableProtectionRegionMovement;
  if (Secure) {
    if (!SecureImage) {
      Print(u"It only supports to flash secure BIOS on current platform.\r\nThe image to be updated is not a secure "
            u"BIOS.\r\n");
      return FALSE;
    }
    // The run after the reset takes this run's settings and options; a
    // capsule the BIOS did not take leaves none for an unrelated run.
    SetIniOverrideVariable(NULL, 0);
    SetCommandOverrideVariable(NULL, 0);
    if (!FuncUpdate_via48h(Image, Size)) {
      ClearIniOverrideVariable();
      ClearCommandOverrideVariable();
      return FALSE;
    }
    return TRUE;
  }
  BOOLEAN Pfat = GetPfatInfo()->IsPfat;
  if (IsSupportPfat()) {
    if (!Pfat) {
      Print(u"It only supports to flash PFAT BIOS on current platform.\r\nThe image to be updated is not a PFAT "
            u"BIOS.\r\n");
      return FALSE;
    }
    if (MovePrivate == 1) {
      Print(u"Pfat platform updata can't set Platform.ini [Others] EnablePrivateRegionMovement = 1\n");
      return FALSE;
    }
    if (MoveProtect == 1) {
      Print(u"Pfat platform updata can't set Platform.ini [Others] EnableProtectionRegionMovement = 1\n");
      return FALSE;
    }
    return FuncUpdate_via42h(Image, Size);
  }
  BOOLEAN Rbu = mImageAnalysis.Rbu.Present;
  if (IsOemSecurePlatform()) {
    if (MovePrivate == 1) {
      Print(u"RBU BIOS updata can't set Platform.ini [Others] EnablePrivateRegionMovement = 1\n");
      return FALSE;
    }
    if (MoveProtect == 1) {
      Print(u"RBU BIOS updata can't set Platform.ini [Others] EnableProtectionRegionMovement = 1\n");
      return FALSE;
    }
    if (!Rbu) {
      Print(u"It only supports to flash RBU BIOS on current platform.\r\nThe image to be updated is not a RBU "
            u"BIOS.\r\n");
      return FALSE;
    }
    return FuncUpdate_via4Ch(Image, Size);
  }
  if (SecureImage) {
    return FuncUpdate_via48h(Image, Size);
  }
  if (Pfat) {
    return FuncUpdate_via42h(Image, Size);
  }
  if (Rbu) {
    return FuncUpdate_via4Ch(Image, Size);
  }
  return FuncUpdate_via15h(Image, Size);
}

// A loaded image: multi-SKU selection, the region, the checks and the admission, then the engine.
static BOOLEAN FlashImage(UINT8 **ImageRef, UINT32 *SizeRef) {
  if (IsVendorId(VENDOR_ID_DELL)) {
    CheckAndSetMultiSkuPackage(ImageRef, SizeRef);
  }
  CONST UINT8 *Image = *ImageRef;
  UINT32 Size = *SizeRef;
  if (IsBiosRegionOnlyImg(Image, Size)) {
    mIniSettings.Region.BIOS = 1;
    SetProfileString("Region", "BIOS", "1");
  }
  BuildRegionSelection();
  ShowAcWarning(mIniSettings.AC_Adapter.LauncherAcWarning);
  PrintBanner(FALSE);
  if (IsPbiOptionSet()) {
    return FlashProtectAreaOnly(Image, Size);
  }
  if (!mMainFlow.ConfigSecureImage && (IsEcUpdateOptionSet() || IsEcPercentOptionSet())) {
    if (!SMI_CheckEcPartSize(Size) || !StoreEcImage(Image, Size)) {
      return FALSE;
    }
    NotInThisBuild(u"The EC update");
    return FALSE;
  }
  if (GetNativeMeFile() != NULL) {
    return NotInThisBuild(u"-nativeme");
  }
  SetViaEspRequest(mIniSettings.SecureUpdate.viaESP);
  BOOLEAN Secure = IsSecurePlatform();
  IsOemSecurePlatform();
  BOOLEAN SecureImage = ParseSecureCapsule((UINT8 *)Image, Size);
  if (!SecureAdmission(Image, Size, Secure, SecureImage)) {
    return FALSE;
  }
  // An -e text without its two commas was traced and is ignored.
  if (GetEOptionValue() != NULL && ParseCommand_e(GetEOptionValue())) {
    return IsValidCommand_e(Size) && WriteCommand_e(Image, Size);
  }
  BOOLEAN EcOrMeOnly = SecureImage && mImageAnalysis.Capsule.SecureSize == 0 &&
                       (mImageAnalysis.Capsule.EcOnly || mImageAnalysis.Capsule.NativeMeOnly);
  if (!EcOrMeOnly) {
    if (!SetBvdtInfo_FD(Image, Size)) {
      Print(u"Error: Get image platform info failed.\r\n");
      return FALSE;
    }
    ShowModelVersionShell(EcOrMeOnly);
    Print(u"\r\n");
    if (!Func_PlatformCheck(Image, Size, GetRomSize())) {
      return FALSE;
    }
  }
  if (IsOptionSet(OPT_U) && !ConfirmFlash()) {
    return FALSE;
  }
  // The EC after the BIOS needs the EC engines: refused before the BIOS is
  // written rather than after it.
  if (!SecureImage && (IsEcWithBiosOptionSet() || IsEcWithBiosPercentOptionSet())) {
    return NotInThisBuild(u"The EC update");
  }
  if (!SMI_OemOdmCustom2(1, 0)) {
    return FALSE;
  }
  return ChooseEngine(Image, Size, Secure, SecureImage);
}

// Loads the FD file, then flashes it.
static BOOLEAN FuncImageSelectAndFlash(VOID) {
  FuncEnter(u"FuncImageSelectAndFlash");
  UINT8 *Image = NULL;
  UINT32 Size = 0;
  if (IsPackageMode()) {
    if (!LoadPackageFD(&Image, &Size)) {
      FuncExit(u"FuncImageSelectAndFlash", u"Load package FD failed");
      return FALSE;
    }
  } else if (!EfiReadFile(mMainFlow.FileName, (VOID **)&Image, &Size)) {
    PrintBanner(FALSE);
    Print(u"\r\n    Error:\r\n    the FD file not found. (%s)\r\n\r\n", mMainFlow.FileName);
    FuncExit(u"FuncImageSelectAndFlash", u"FD file not found");
    return FALSE;
  }
  AnalyzeImage(Image, Size);
  BOOLEAN Result = FlashImage(&Image, &Size);
  AnalyzeImage(NULL, 0);
  FreePool(Image);
  FuncExit(u"FuncImageSelectAndFlash", Result ? NULL : u"Flash failed");
  return Result;
}

BOOLEAN EFIAPI ShellFlashMain(VOID) {
  FuncEnter(u"ShellFlashMain");
  mRun.FirmwareMode = FALSE;
  CheckDebugArgument();

  SetApplication(GetArgument(0));
  SetPackageStatus();
  ClearIniOverrideVariable();
  ClearCommandOverrideVariable();
  InitialIniConfig();
  EdtResetState();

  if (!ArgumentCheck(mMainFlow.FileName, mMainFlow.OptionString)) {
    return FailRun(u"ShellFlashMain", u"Argument check failed");
  }
  if (!Initialize()) {
    return FailRun(u"ShellFlashMain", u"Initialize failed");
  }
  if (!CallingNecessarySmi()) {
    return FailRun(u"ShellFlashMain", u"calling necessary FWSMI failed");
  }
  if (!CommandFilterCheck(mMainFlow.OptionString)) {
    return FailRun(u"ShellFlashMain", u"Argument check with command filter failed");
  }
  BOOLEAN Ran = FALSE;
  BOOLEAN Result = RunQueryCommand(&Ran);
  if (Ran) {
    FuncExit(u"ShellFlashMain", u"Query command");
    return Result;
  }
  if (IsEcBiosOnlyOptionSet() && (IsEcWithBiosOptionSet() || IsEcWithBiosPercentOptionSet())) {
    PrintBanner(FALSE);
    Print(u"Warning!\r\nThe command /ecbp and /eob mutually exclusive\r\n\r\n");
    return FailRun(u"ShellFlashMain", u"Command failed");
  }
  if (IsOptionSet(OPT_ALP) && !IsAllowAlpCommand()) {
    PrintBanner(FALSE);
    Print(u"Error command: %s (Invalid command)\r\n", u"-alp");
    return FailRun(u"ShellFlashMain", u"Not support alp command");
  }
  if (!FuncChk_configure()) {
    return FailRun(u"ShellFlashMain", u"failed");
  }
  // A secure-boot check held back for the configuration runs with it now.
  if (!CompleteSecureBootProtectionCheck()) {
    return FailRun(u"ShellFlashMain", u"Secure Boot Protection check failed");
  }
  DumpIniConfig();
  SMI_PassIniConfigToBios();
  if (!IsPackageMode() && mIniSettings.MULTI_FD.Flag == 0 && GetArgumentCount() <= 1) {
    PrintBanner(TRUE);
    DisplayUsage();
    FuncExit(u"ShellFlashMain", u"Show help");
    return TRUE;
  }
  SMI_OemOdmCustom1();
  if (mIniSettings.CommonFlash.EnableCommonFlash != 0 && !(FuncCommonFlash() && CheckCommonFlashPermit())) {
    return FailRun(u"ShellFlashMain", u"CommonFlash not allow to flash");
  }
  if (IsVendorId(VENDOR_ID_DELL) && !CheckPassword()) {
    return FailRun(u"ShellFlashMain", u"Password check failed");
  }
  if (!CheckPowerStatus()) {
    return FailRun(u"ShellFlashMain", u"Power check failed");
  }
  if (!FuncImageSelectAndFlash()) {
    return FailRun(u"ShellFlashMain", u"BIOS update failed");
  }
  if (!mImageAnalysis.Capsule.SecureFlashDone) {
    if (mImageAnalysis.Capsule.HasDeviceFirmware) {
      NotInThisBuild(u"The device firmware update");
      Print(u"Error: Update device firmware failed!\r\n");
      return FailRun(u"ShellFlashMain", u"Update device firmware failed");
    }
    if (!UpdateEcAfterBios()) {
      return FailRun(u"ShellFlashMain", u"Update EC failed");
    }
  }
  if (mIniSettings.AutoWakeup.Flag != 0) {
    AutoWakeup(mIniSettings.AutoWakeup.Interval);
  }
  Print(u"\r\n                           Update Progress: Completed\r\n");
  EndOfRunPause();
  FuncExit(u"ShellFlashMain", NULL);
  return TRUE;
}

// ---- The firmware flow ----

static BOOLEAN UefiUpdateEc(VOID) {
  FuncEnter(u"UefiUpdateEc");
  if (!HasEcImage()) {
    FuncExit(u"UefiUpdateEc", u"No EC");
    return TRUE;
  }
  BOOLEAN ByBlock = mIniSettings.UpdateEC.Progress_Bar == 1;
  DebugPrint(4, ByBlock ? u" Update EC block by block\r\n" : u" Update EC in single block\r\n");
  NotInThisBuild(u"The EC update");
  FuncExit(u"UefiUpdateEc", ByBlock ? u"Update EC block by block failed" : u"Update EC in single block failed");
  return FALSE;
}

// A payload without BIOS data updates only what it carries.
static BOOLEAN UpdateWithoutBios(BOOLEAN *Handled) {
  *Handled = TRUE;
  if (HasIshImage() || HasPdtImage()) {
    DebugPrint(4, HasIshImage() ? u"Update ISH without BIOS\r\n" : u"Update PDT without BIOS\r\n");
    NotInThisBuild(u"The ISH and PDT update");
    return FailRun(u"UefiFlashMain", HasIshImage() ? u"Update ISH failed" : u"Update PDT failed");
  }
  if (HasEcImage()) {
    DebugPrint(4, u"Update EC without BIOS\r\n");
    if (!UpdateExternalEc(PayloadRecordData(PayloadEc), PayloadRecordSize(PayloadEc), FALSE)) {
      return FailRun(u"UefiFlashMain", u"Update EC failed");
    }
    SetStatus_16h(COMPLETE_KEEP, COMPLETE_STATUS_FLASH_PARTIAL);
    FuncExit(u"UefiFlashMain", NULL);
    return TRUE;
  }
  if (HasMeImage()) {
    DebugPrint(4, u"Update Native ME only\r\n");
    NotInThisBuild(u"The native ME update");
    return FailRun(u"UefiFlashMain", u"Update Native ME failed");
  }
  *Handled = FALSE;
  return FALSE;
}

static VOID PrintLoadedImages(VOID) {
  Print(u"\r                           Loading New BIOS Image: Done\r\n");
  if (HasEcImage()) {
    Print(u"\r                           Loading EC Image: Done\r\n");
  }
  if (HasIshImage()) {
    Print(u"\r                           Loading Intel Integrated Sensor Hub Image: Done\r\n");
  }
  if (HasPdtImage()) {
    Print(u"\r                           Loading Intel Platform Descriptor Table Image: Done\r\n");
  }
  if (HasMeImage()) {
    Print(u"\r                           Loading Native ME Image: Done\r\n");
  }
  Print(u"\r\n");
}

BOOLEAN EFIAPI UefiFlashMain(VOID) {
  FuncEnter(u"UefiFlashMain");
  mRun.FirmwareMode = TRUE;
  InitialIniConfig();
  if (!Initialize()) {
    return FailRun(u"UefiFlashMain", u"Initialize failed");
  }
  if (!GetIniOverrideVariable() && !LoadConfigFromCapsule() && !IsBiosRecordEmpty()) {
    Print(u"Error:\r\nLoad ini config failed!\r\n");
    return FailRun(u"UefiFlashMain", u"Load ini config failed");
  }
  GetCommandOverrideVariable();
  if (!CallingNecessarySmi()) {
    return FailRun(u"UefiFlashMain", u"Calling necessary FWSMI failed");
  }
  if (!CompleteSecureBootProtectionCheck()) {
    return FailRun(u"UefiFlashMain", u"Secure Boot Protection check failed");
  }
  DumpIniConfig();
  SMI_PassIniConfigToBios();
  ShowAcWarning(mIniSettings.AC_Adapter.SecurityAcWarning);
  PrintBanner(TRUE);
  InitBinaryCapsuleUpdateProgress();

  if (IsBiosRecordEmpty()) {
    BOOLEAN Handled = FALSE;
    BOOLEAN Result = UpdateWithoutBios(&Handled);
    if (Handled) {
      return Result;
    }
  }
  UINT8 Selection = BuildRegionSelection();
  if (mIniSettings.UpdateOEMME.MEFileName[0] != 0) {
    DebugPrint(4, u"[UpdateOEMME] has specified a ME file. Disable the [Region] ME setting when it is raised.\r\n");
    SetRegionSelection(Selection & (UINT8)~REGION_SELECT_ME);
  }
  DebugPrint(4, u" Disable all check in Secure flash mode\r\n");
  SetChecksDisabled(TRUE);
  SMI_OemOdmCustom1();
  if (!IsVendorId(VENDOR_ID_DELL) && !CheckPowerStatus()) {
    return FailRun(u"UefiFlashMain", u"Power check failed");
  }
  PrintLoadedImages();

  CONST UINT8 *Bios = PayloadRecordData(PayloadBios);
  UINT32 BiosSize = PayloadRecordSize(PayloadBios);
  // A multi-SKU BIOS record carries one image per model: this platform's is
  // flashed, as in the shell flow, never the capsule as a whole.
  if (IsVendorId(VENDOR_ID_DELL) && FindImageSignature(ImageSignatureMultiSku, Bios, BiosSize) >= 0) {
    UINT8 *Copy = (UINT8 *)AllocateCopyPool(BiosSize, Bios);
    if (Copy != NULL) {
      UINT32 CopySize = BiosSize;
      CheckAndSetMultiSkuPackage(&Copy, &CopySize);
      FreePool(mMainFlow.FirmwareBios);
      mMainFlow.FirmwareBios = Copy;
      Bios = Copy;
      BiosSize = CopySize;
    }
  }
  UINT8 UseBvdtMap = mIniSettings.ForceFlash.UseBvdtRomMap;
  UINT8 MoveProtect = mIniSettings.Others.EnableProtectionRegionMovement;
  UINT8 MovePrivate = mIniSettings.Others.EnablePrivateRegionMovement;
  if (!ReadBvdtRomMap(Bios, BiosSize) && (UseBvdtMap == 1 || MoveProtect == 1 || MovePrivate == 1)) {
    Print(u"Error: Get BVDT ROM map failed\r\n");
    WaitKey();
    return FailRun(u"UefiFlashMain", u"Get BVDT ROM map filed");
  }
  if (!SetBvdtInfo_FD(Bios, BiosSize)) {
    return FailRun(u"UefiFlashMain", u"Get BVDT info from input image failed");
  }
  ShowModelVersionDriver();
  if (mIniSettings.CommonFlash.EnableCommonFlash != 0 && !FuncCommonFlash()) {
    return FailRun(u"UefiFlashMain", u"Common flash feature failed");
  }
  if (HasEcImage()) {
    UINT32 EcSize = PayloadRecordSize(PayloadEc);
    if (!SMI_CheckEcPartSize(EcSize) || !StoreEcImage(PayloadRecordData(PayloadEc), EcSize)) {
      return FailRun(u"UefiFlashMain", u"EC size check failed");
    }
    // Its update after the BIOS needs the EC engines: refused before the BIOS is written.
    NotInThisBuild(u"The EC update");
    return FailRun(u"UefiFlashMain", u"Update EC failed");
  }
  if (HasDeviceFirmware()) {
    NotInThisBuild(u"The device firmware update");
    return FailRun(u"UefiFlashMain", u"Update device firmware failed");
  }
  if (HasIshImage() || HasPdtImage()) {
    NotInThisBuild(u"The ISH and PDT update");
    return FailRun(u"UefiFlashMain", HasIshImage() ? u"Update ISH failed" : u"Update PDT failed");
  }
  if (HasMeImage()) {
    NotInThisBuild(u"The native ME update");
    return FailRun(u"UefiFlashMain", u"Update Native ME failed");
  }
  UpdateCapsuleUpdatePercentage(ProgressPhaseEnd, 0);
  InitRomCapsuleUpdateProgress();

  if (IsSupportPfat()) {
    if (HasPfatImage()) {
      DebugPrint(4, u"Embedded PFAT Image\r\n");
      if (!FlashPfatImage(Bios, BiosSize, PayloadRecordData(PayloadPfatHeader), PayloadRecordSize(PayloadPfatHeader),
                          PayloadRecordData(PayloadPfatCertificate), PayloadRecordSize(PayloadPfatCertificate))) {
        return FailRun(u"UefiFlashMain", u"Update PFAT failed");
      }
      FuncExit(u"UefiFlashMain", u"Update PFAT Success");
      return TRUE;
    }
    Print(u"It only supports to flash PFAT BIOS on current platform.\r\nThe image to be updated is not a PFAT "
          u"BIOS.\r\n");
    return FailRun(u"UefiFlashMain", u"Update BIOS failed");
  }
  if (!EfiUpdate_via15h(Bios, BiosSize)) {
    return FailRun(u"UefiFlashMain", u"Update BIOS failed");
  }
  if (mIniSettings.FactoryCopy.Restore == 1) {
    if (!FuncFwsmi_49h()) {
      Print(u"Flash process will be terminated!\r\nRestoring factory copy failed.\r\nIt may cause by onboard BIOS "
            u"doesn't support the FWSMI interface of factory copy restore.\r\nPlease contact OEM BIOS engineer to "
            u"add the feature.\r\n\r\nPress any key to end flash process.\r\n");
      WaitKey();
      return FailRun(u"UefiFlashMain", u"Factory copy restore failed");
    }
    PlatformStall(100 * 1000);
  }
  if (IsVendorId(VENDOR_ID_ACER)) {
    FuncSpecific_16h(0, 1);
  }
  if (HasDeviceFirmware()) {
    DebugPrint(0, u" Device Firmware Found\r\n");
    NotInThisBuild(u"The device firmware update");
    return FailRun(u"UefiFlashMain", u"Update device firmware failed");
  }
  DebugPrint(0, u" Device Firmware NOT Found\r\n");
  if (!UefiUpdateEc()) {
    WaitKey();
    return FailRun(u"UefiFlashMain", u"Update EC failed");
  }
  if (mIniSettings.AutoWakeup.Flag != 0) {
    AutoWakeup(mIniSettings.AutoWakeup.Interval);
  }
  UpdateCapsuleUpdatePercentage(ProgressPhaseEnd, 0);
  Print(u"\n                           Update Progress: Completed\r\n");
  EndOfRunPause();
  FuncExit(u"UefiFlashMain", NULL);
  return TRUE;
}

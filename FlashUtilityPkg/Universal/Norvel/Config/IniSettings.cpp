#include "Config/IniSettings.h"

#include "Base/Print.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/IniStore.h"


// Each section has one routine for the three passes over the record.
typedef enum { IniDefault, IniLoad, IniDump } INI_PASS;

#define DUMP_LEVEL 4

// ---- Typed reads: the field's current value is the default ----

static VOID ReadFlag(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT8 *Field, BOOLEAN Record = FALSE) {
  *Field = GetProfileBool(Section, Key, *Field, Record);
}

static VOID ReadInt8(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT8 *Field) {
  *Field = (UINT8)GetProfileInt(Section, Key, *Field, FALSE);
}

// The record is byte-packed: its 32-bit fields are reached through unaligned access.
static VOID ReadInt32(CONST CHAR8 *Section, CONST CHAR8 *Key, VOID *Field) {
  WriteUnaligned32(Field, GetProfileInt(Section, Key, ReadUnaligned32(Field), FALSE));
}

static VOID ReadHex8(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT8 *Field) {
  *Field = (UINT8)GetProfileHex(Section, Key, *Field, FALSE);
}

// Texts have no default once a text is loaded: absent means empty.
static VOID ReadText(CONST CHAR8 *Section, CONST CHAR8 *Key, CHAR8 *Field) {
  GetProfileString(Section, Key, Field, FALSE);
}

static VOID SetText(CHAR8 *Field, CONST CHAR8 *Text) { AsciiStrCpyS(Field, INI_TEXT_SIZE, Text); }

// ---- Dump lines ----

static VOID DumpHeader(CONST CHAR8 *Section) { DebugPrint(DUMP_LEVEL, u"\r\n[%a]\r\n", Section); }
static VOID DumpNumber(CONST CHAR8 *Key, UINT32 Value) { DebugPrint(DUMP_LEVEL, u"%a=%d\r\n", Key, Value); }
static VOID DumpText(CONST CHAR8 *Key, CONST CHAR8 *Value) { DebugPrint(DUMP_LEVEL, u"%a=%a\r\n", Key, Value); }

// Strips every double quote at the start and at the end of a NUL-terminated text.
static VOID StripQuotes(CHAR8 *Text) {
  UINTN Length = AsciiStrnLenS(Text, INI_TEXT_SIZE - 1);
  UINTN Start = 0;
  while (Start < Length && Text[Start] == '"') {
    Start++;
  }
  while (Length > Start && Text[Length - 1] == '"') {
    Length--;
  }
  CopyMem(Text, Text + Start, Length - Start);
  Text[Length - Start] = 0;
}

// ---- Sections, in record order ----

static VOID LogFileSection(INI_PASS Pass) {
  INI_LOG_FILE *S = &mIniSettings.Log_file;
  CONST CHAR8 *Name = "Log_file";
  switch (Pass) {
    case IniDefault:
      S->Flag = 0;
      SetText(S->FileName, "VyrFFT.Log");
      S->Level = 0;
      S->LogOnScreen = 0;
      break;
    case IniLoad: {
      ReadFlag(Name, "Flag", &S->Flag);
      ReadText(Name, "FileName", S->FileName);
      UINT32 Level = GetProfileInt(Name, "Level", S->Level, FALSE);
      S->Level = Level > 4 ? (UINT8)4 : (UINT8)Level;
      ReadFlag(Name, "LogOnScreen", &S->LogOnScreen);
      break;
    }
    case IniDump:
      DumpHeader(Name);
      DumpNumber("Flag", S->Flag);
      DumpText("FileName", S->FileName);
      DumpNumber("Level", S->Level);
      DumpNumber("LogOnScreen", S->LogOnScreen);
      break;
  }
}

static CONST CHAR8 *CONST mErrorMsgDefaults[INI_COMMON_FLASH_MESSAGES] = {
    "No error!",
    "AC detect error!",
    "DC detect error!",
    "DC gas gauge under xx%!",
    "BIOS version compare error!",
    "Model name compare error!",
    "", "", "", "", "", "", "", "", "", "",
    "Not support this version of Flash Common Interface!",
    "Show BIOS version string length more than xx bytes.",
    "Show model name string length more than xx bytes.",
    "",
};

static VOID CommonFlashSection(INI_PASS Pass) {
  INI_COMMON_FLASH *S = &mIniSettings.CommonFlash;
  CONST CHAR8 *Name = "CommonFlash";
  CHAR8 Key[16];
  switch (Pass) {
    case IniDefault:
      S->EnableCommonFlash = 0;
      SetText(S->SwitchString, "");
      for (UINTN I = 0; I < INI_COMMON_FLASH_MESSAGES; I++) {
        SetText(S->ErrorMsg[I], mErrorMsgDefaults[I]);
      }
      break;
    case IniLoad:
      S->EnableCommonFlash = IsSectionPresent(Name) ? 1 : 0;
      ReadText(Name, "SwitchString", S->SwitchString);
      for (UINTN I = 0; I < INI_COMMON_FLASH_MESSAGES; I++) {
        AsciiSPrint(Key, sizeof(Key), "ErrorMsg%02X", (UINT32)I);
        ReadText(Name, Key, S->ErrorMsg[I]);
      }
      break;
    case IniDump:
      if (S->EnableCommonFlash == 0) {
        break;
      }
      DebugPrint(DUMP_LEVEL, u"[CommonFlash]\r\n");
      DebugPrint(DUMP_LEVEL, u"EnableCommonFlash=%d\r\n", (UINT32)S->EnableCommonFlash);
      DebugPrint(DUMP_LEVEL, u"SwitchString=%a\r\n", S->SwitchString);
      for (UINTN I = 0; I < INI_COMMON_FLASH_MESSAGES; I++) {
        if (S->ErrorMsg[I][0] != 0) {
          DebugPrint(DUMP_LEVEL, u"ErrorMsg%02X=%a\r\n", (UINT32)I, S->ErrorMsg[I]);
        }
      }
      break;
  }
}

static VOID MultiFdSection(INI_PASS Pass) {
  INI_MULTI_FD *S = &mIniSettings.MULTI_FD;
  CONST CHAR8 *Name = "MULTI_FD";
  CHAR8 Key[16];
  switch (Pass) {
    case IniDefault:
      // The entries are left alone: a selection made from the first INI must
      // survive the defaults of a later pass.
      S->Flag = 0;
      break;
    case IniLoad:
      if (!mIniStore.MultiFd) {
        break;
      }
      ReadFlag(Name, "Flag", &S->Flag);
      for (UINTN I = 0; I < INI_MULTI_FD_ENTRIES; I++) {
        AsciiSPrint(Key, sizeof(Key), "FD#%02d", (UINT32)I);
        ReadText(Name, Key, S->Fd[I]);
      }
      break;
    case IniDump:
      DumpHeader(Name);
      DumpNumber("Flag", S->Flag);
      DebugPrint(DUMP_LEVEL, u";FD# support 00~99 (dec), empty string doesn't log in this file\r\n");
      for (UINTN I = 0; I < INI_MULTI_FD_ENTRIES; I++) {
        if (S->Fd[I][0] != 0) {
          DebugPrint(DUMP_LEVEL, u"FD#%02d=%a\r\n", (UINT32)I, S->Fd[I]);
        }
      }
      break;
  }
}

static VOID UiSection(INI_PASS Pass) {
  INI_UI *S = &mIniSettings.UI;
  CONST CHAR8 *Name = "UI";
  switch (Pass) {
    case IniDefault:
      S->Elapse = 0;
      S->PassUpdateProgressToBios = 0;
      break;
    case IniLoad:
      ReadFlag(Name, "Elapse", &S->Elapse);
      ReadFlag(Name, "PassUpdateProgressToBios", &S->PassUpdateProgressToBios);
      break;
    case IniDump:
      DumpHeader(Name);
      DumpNumber("Elapse", S->Elapse);
      DumpNumber("PassUpdateProgressToBios", S->PassUpdateProgressToBios);
      break;
  }
}

static VOID AcAdapterSection(INI_PASS Pass) {
  INI_AC_ADAPTER *S = &mIniSettings.AC_Adapter;
  CONST CHAR8 *Name = "AC_Adapter";
  switch (Pass) {
    case IniDefault:
      S->Flag = 1;
      S->BatteryCheck = 0;
      S->BatteryBound = 255;
      SetText(S->LauncherAcWarning, "messagestringA02");
      SetText(S->SecurityAcWarning, "messagestringA02");
      break;
    case IniLoad:
      ReadFlag(Name, "Flag", &S->Flag);
      ReadFlag(Name, "BatteryCheck", &S->BatteryCheck);
      if (S->BatteryCheck == 1) {
        ReadInt8(Name, "BatteryBound", &S->BatteryBound);
      }
      ReadText(Name, "LauncherAcWarning", S->LauncherAcWarning);
      ReadText(Name, "SecurityAcWarning", S->SecurityAcWarning);
      break;
    case IniDump:
      DumpHeader(Name);
      DumpNumber("Flag", S->Flag);
      DumpNumber("BatteryCheck", S->BatteryCheck);
      DumpNumber("BatteryBound", S->BatteryBound);
      DumpText("LauncherAcWarning", S->LauncherAcWarning);
      DumpText("SecurityAcWarning", S->SecurityAcWarning);
      break;
  }
}

// [Platform_Check] and [PlatformVersion]: a number and twenty texts named Prefix1..20.
static VOID NamedListSection(INI_PASS Pass, CONST CHAR8 *Name, VOID *Flag, UINT32 FlagDefault,
                             CHAR8 (*List)[INI_TEXT_SIZE], CONST CHAR8 *Prefix, CONST CHAR16 *Comment) {
  CHAR8 Key[32];
  switch (Pass) {
    case IniDefault:
      WriteUnaligned32(Flag, FlagDefault);
      for (UINTN I = 0; I < INI_PLATFORM_NAMES; I++) {
        SetText(List[I], "");
      }
      break;
    case IniLoad:
      ReadInt32(Name, "Flag", Flag);
      for (UINTN I = 0; I < INI_PLATFORM_NAMES; I++) {
        AsciiSPrint(Key, sizeof(Key), "%a%d", Prefix, (UINT32)(I + 1));
        ReadText(Name, Key, List[I]);
      }
      break;
    case IniDump:
      DumpHeader(Name);
      DumpNumber("Flag", ReadUnaligned32(Flag));
      DebugPrint(DUMP_LEVEL, Comment);
      for (UINTN I = 0; I < INI_PLATFORM_NAMES; I++) {
        if (List[I][0] != 0) {
          AsciiSPrint(Key, sizeof(Key), "%a%d", Prefix, (UINT32)(I + 1));
          DumpText(Key, List[I]);
        }
      }
      break;
  }
}

static VOID PlatformCheckSection(INI_PASS Pass) {
  NamedListSection(Pass, "Platform_Check", &mIniSettings.Platform_Check.Flag, 3,
                   mIniSettings.Platform_Check.PlatformName, "PlatformName",
                   u";PlatformName support 0~20, empty string doesn't log in this file\r\n");
}

static VOID PlatformVersionSection(INI_PASS Pass) {
  NamedListSection(Pass, "PlatformVersion", &mIniSettings.PlatformVersion.Flag, 0,
                   mIniSettings.PlatformVersion.Version, "Version",
                   u";Version support 0~20, empty string doesn't log in this file\r\n");
}

static VOID BiosVersionCheckSection(INI_PASS Pass) {
  INI_BIOS_VERSION_CHECK *S = &mIniSettings.Bios_Version_Check;
  CONST CHAR8 *Name = "Bios_Version_Check";
  switch (Pass) {
    case IniDefault:
      S->Flag = 2;
      S->CheckByBios = 0;
      SetText(S->CheckByBiosErrorMessage, "");
      break;
    case IniLoad:
      ReadInt32(Name, "Flag", &S->Flag);
      ReadFlag(Name, "CheckByBios", &S->CheckByBios);
      ReadText(Name, "CheckByBiosErrorMessage", S->CheckByBiosErrorMessage);
      StripQuotes(S->CheckByBiosErrorMessage);
      break;
    case IniDump:
      DumpHeader(Name);
      DumpNumber("Flag", S->Flag);
      DumpNumber("CheckByBios", S->CheckByBios);
      DebugPrint(DUMP_LEVEL, u"CheckByBiosErrorMessage=\"%a\"\r\n", S->CheckByBiosErrorMessage);
      break;
  }
}

static VOID BiosVersionFormatSection(INI_PASS Pass) {
  INI_BIOS_VERSION_FORMAT *S = &mIniSettings.BIOSVersionFormat;
  CONST CHAR8 *Name = "BIOSVersionFormat";
  switch (Pass) {
    case IniDefault:
      S->BIOSVFEnable = 0;
      SetText(S->VersionFormat, "");
      break;
    case IniLoad:
      ReadFlag(Name, "BIOSVFEnable", &S->BIOSVFEnable);
      ReadText(Name, "VersionFormat", S->VersionFormat);
      break;
    case IniDump:
      DumpHeader(Name);
      DumpNumber("BIOSVFEnable", S->BIOSVFEnable);
      DumpText("VersionFormat", S->VersionFormat);
      break;
  }
}

static VOID FlashCompleteSection(INI_PASS Pass) {
  INI_FLASH_COMPLETE *S = &mIniSettings.FlashComplete;
  CONST CHAR8 *Name = "FlashComplete";
  switch (Pass) {
    case IniDefault:
      S->Action = 2;
      S->Pause = 0;
      SetText(S->PauseWarning, "");
      break;
    case IniLoad:
      ReadInt32(Name, "Action", &S->Action);
      ReadFlag(Name, "Pause", &S->Pause);
      ReadText(Name, "PauseWarning", S->PauseWarning);
      break;
    case IniDump:
      DumpHeader(Name);
      DumpNumber("Action", S->Action);
      DumpNumber("Pause", S->Pause);
      DumpText("PauseWarning", S->PauseWarning);
      break;
  }
}

static VOID FlashSecureBiosOverrideSection(INI_PASS Pass) {
  INI_FLASH_SECURE_BIOS_OVERRIDE *S = &mIniSettings.FlashSecureBIOSOverride;
  CONST CHAR8 *Name = "FlashSecureBIOSOverride";
  switch (Pass) {
    case IniDefault:
      S->EnableFlashSecureBIOSOverride = 0;
      S->Action = 1;
      break;
    case IniLoad:
      ReadFlag(Name, "EnableFlashSecureBIOSOverride", &S->EnableFlashSecureBIOSOverride);
      ReadInt8(Name, "Action", &S->Action);
      break;
    case IniDump:
      DumpHeader(Name);
      DumpNumber("EnableFlashSecureBIOSOverride", S->EnableFlashSecureBIOSOverride);
      DumpNumber("Action", S->Action);
      break;
  }
}

static VOID ForceFlashSection(INI_PASS Pass) {
  INI_FORCE_FLASH *S = &mIniSettings.ForceFlash;
  CONST CHAR8 *Name = "ForceFlash";
  // The named keys and the protected-area types they force.
  struct {
    CONST CHAR8 *Key;
    UINT8 *Field;
    UINT8 Type;
  } CONST Named[] = {
      {"BB_PEI", &S->BB_PEI, 0x00},   {"CPU_Microcode", &S->CPU_Microcode, 0x01},
      {"Variable", &S->Variable, 0x02}, {"DXE", &S->DXE, 0x03},
      {"EC", &S->EC, 0x04},           {"Password", &S->Password, 0x0F},
      {"OEM_NVS", &S->OEM_NVS, 0x10}, {"Logo", &S->Logo, 0x05},
  };
  CHAR8 Key[16];
  switch (Pass) {
    case IniDefault:
      S->ALL = 0;
      for (UINTN I = 0; I < ARRAY_SIZE(Named); I++) {
        *Named[I].Field = 0;
      }
      ZeroMem(S->Type, sizeof(S->Type));
      S->ALP = 0;
      S->UseBvdtRomMap = 0;
      break;
    case IniLoad:
      ReadFlag(Name, "ALL", &S->ALL, TRUE);
      for (UINTN I = 0; I < ARRAY_SIZE(Named); I++) {
        ReadFlag(Name, Named[I].Key, Named[I].Field);
      }
      for (UINTN I = 0; I < ARRAY_SIZE(Named); I++) {
        S->Type[Named[I].Type] = *Named[I].Field;
      }
      // Type#FF is not a type: the table ends at FEh. Without the section
      // no key can set one (the look-ups would only cost time).
      for (UINTN Type = 0, Present = IsSectionPresent(Name); Present && Type < INI_FORCE_FLASH_TYPES; Type++) {
        AsciiSPrint(Key, sizeof(Key), "Type#%02X", (UINT32)Type);
        if (GetProfileBool(Name, Key, 0, FALSE)) {
          S->Type[Type] = 1;
        }
      }
      ReadFlag(Name, "ALP", &S->ALP);
      ReadFlag(Name, "UseBvdtRomMap", &S->UseBvdtRomMap);
      break;
    case IniDump:
      DumpHeader(Name);
      if (S->ALP == 1) {
        DumpNumber("ALP", S->ALP);
      }
      DumpNumber("ALL", S->ALL);
      for (UINTN I = 0; I < ARRAY_SIZE(Named); I++) {
        DumpNumber(Named[I].Key, *Named[I].Field);
      }
      DebugPrint(DUMP_LEVEL, u";Type# support 00~FE (hex), the item of value is 0 doesn't log in this file\r\n");
      for (UINTN Type = 0; Type < INI_FORCE_FLASH_TYPES; Type++) {
        if (S->Type[Type] != 0) {
          AsciiSPrint(Key, sizeof(Key), "Type#%02X", (UINT32)Type);
          DumpNumber(Key, 1);
        }
      }
      DumpNumber("UseBvdtRomMap", S->UseBvdtRomMap);
      break;
  }
}

static VOID RegionSection(INI_PASS Pass) {
  INI_REGION *S = &mIniSettings.Region;
  CONST CHAR8 *Name = "Region";
  struct {
    CONST CHAR8 *Key;
    UINT8 *Field;
  } CONST Keys[] = {{"BIOS", &S->BIOS}, {"GbE", &S->GbE},
                    {"ME", &S->ME},     {"DESC", &S->DESC},
                    {"Platform_Data", &S->Platform_Data}, {"EC", &S->EC}};
  if (Pass == IniDump) {
    DumpHeader(Name);
  }
  for (UINTN I = 0; I < ARRAY_SIZE(Keys); I++) {
    switch (Pass) {
      case IniDefault:
        *Keys[I].Field = 0;
        break;
      case IniLoad:
        ReadFlag(Name, Keys[I].Key, Keys[I].Field, TRUE);
        break;
      case IniDump:
        DumpNumber(Keys[I].Key, *Keys[I].Field);
        break;
    }
  }
}

static VOID UpdateEcSection(INI_PASS Pass) {
  INI_UPDATE_EC *S = &mIniSettings.UpdateEC;
  CONST CHAR8 *Name = "UpdateEC";
  CHAR8 Key[16];
  switch (Pass) {
    case IniDefault:
      S->Progress_Bar = 1;
      SetText(S->EC_DockWarning, "messagestringA04");
      S->Ignore_21h = 0;
      S->Action_20h = 0;
      S->EC_BlockSize = 64;
      S->EnableECProtectMask = 0;
      S->ProtectMaskBitCount = 0;
      ZeroMem(S->MaskByte, sizeof(S->MaskByte));
      break;
    case IniLoad:
      ReadFlag(Name, "Progress_Bar", &S->Progress_Bar);
      ReadText(Name, "EC_DockWarning", S->EC_DockWarning);
      ReadFlag(Name, "Ignore_21h", &S->Ignore_21h);
      ReadFlag(Name, "Action_20h", &S->Action_20h);
      ReadInt8(Name, "EC_BlockSize", &S->EC_BlockSize);
      ReadFlag(Name, "EnableECProtectMask", &S->EnableECProtectMask);
      ReadInt8(Name, "ProtectMaskBitCount", &S->ProtectMaskBitCount);
      for (UINTN I = 0; I < INI_EC_MASK_BYTES; I++) {
        AsciiSPrint(Key, sizeof(Key), "MaskByte%d", (UINT32)I);
        ReadHex8(Name, Key, &S->MaskByte[I]);
      }
      break;
    case IniDump:
      DumpHeader(Name);
      DumpNumber("Progress_Bar", S->Progress_Bar);
      DumpNumber("Ignore_21h", S->Ignore_21h);
      DumpNumber("Action_20h", S->Action_20h);
      DumpNumber("EC_BlockSize", S->EC_BlockSize);
      DumpText("EC_DockWarning", S->EC_DockWarning);
      break;
  }
}

static VOID UpdateOemMeSection(INI_PASS Pass) {
  INI_UPDATE_OEM_ME *S = &mIniSettings.UpdateOEMME;
  CONST CHAR8 *Name = "UpdateOEMME";
  switch (Pass) {
    case IniDefault:
      SetText(S->MEFileName, "");
      SetText(S->Command, "");
      break;
    case IniLoad:
      ReadText(Name, "MEFileName", S->MEFileName);
      ReadText(Name, "Command", S->Command);
      break;
    case IniDump:
      DumpHeader(Name);
      DumpText("MEFileName", S->MEFileName);
      DumpText("Command", S->Command);
      break;
  }
}

typedef struct {
  CONST CHAR8 *Key;
  VOID *Field;  // an unaligned UINT32
  UINT32 Default;
} INI_NUMBER_KEY;

// A section of plain numbers, loaded, defaulted and dumped in table order.
static VOID NumberSection(INI_PASS Pass, CONST CHAR8 *Name, CONST INI_NUMBER_KEY *Keys, UINTN Count) {
  if (Pass == IniDump) {
    DumpHeader(Name);
  }
  for (UINTN I = 0; I < Count; I++) {
    switch (Pass) {
      case IniDefault:
        WriteUnaligned32(Keys[I].Field, Keys[I].Default);
        break;
      case IniLoad:
        ReadInt32(Name, Keys[I].Key, Keys[I].Field);
        break;
      case IniDump:
        DumpNumber(Keys[I].Key, ReadUnaligned32(Keys[I].Field));
        break;
    }
  }
}

static VOID ReturnErrorCodeSection(INI_PASS Pass) {
  INI_RETURN_ERROR_CODE *S = &mIniSettings.ReturnErrorCode;
  CONST INI_NUMBER_KEY Keys[] = {
      {"FileNotFound", &S->FileNotFound, 3},
      {"ErrorBeforeFlash", &S->ErrorBeforeFlash, 4},
      {"BatteryNotConnect", &S->BatteryNotConnect, 4},
      {"BatteryCapacityNotEnough", &S->BatteryCapacityNotEnough, 4},
      {"WriteROMFail", &S->WriteROMFail, 5},
      {"WriteECFail", &S->WriteECFail, 6},
      {"WriteExtraDataFail", &S->WriteExtraDataFail, 7},
  };
  NumberSection(Pass, "ReturnErrorCode", Keys, ARRAY_SIZE(Keys));
}

static VOID ReturnCodeDefinitionSection(INI_PASS Pass) {
  INI_RETURN_CODE_DEFINITION *S = &mIniSettings.ReturnCodeDefinition;
  CONST INI_NUMBER_KEY Keys[] = {
      {"RETURN_SUCCESSFUL", &S->RETURN_SUCCESSFUL, 0},
      {"RETURN_MODEL_CHECK_FAIL", &S->RETURN_MODEL_CHECK_FAIL, 259},
      {"RETURN_USER_CONFIRM_CANCEL", &S->RETURN_USER_CONFIRM_CANCEL, 1602},
      {"RETURN_AC_NOT_CONNECT", &S->RETURN_AC_NOT_CONNECT, 1602},
      {"RETURN_LOAD_DRIVER_FAIL", &S->RETURN_LOAD_DRIVER_FAIL, 259},
      {"RETURN_NEED_REBOOT", &S->RETURN_NEED_REBOOT, 3010},
      {"RETURN_USER_EXIT", &S->RETURN_USER_EXIT, 1602},
      {"RETURN_SAME_VERSION_CHECK", &S->RETURN_SAME_VERSION_CHECK, 1602},
  };
  NumberSection(Pass, "ReturnCodeDefinition", Keys, ARRAY_SIZE(Keys));
}

static VOID OthersSection(INI_PASS Pass) {
  INI_OTHERS *S = &mIniSettings.Others;
  CONST CHAR8 *Name = "Others";
  switch (Pass) {
    case IniDefault:
      S->DisableCompare = 0;
      S->DisableVerify = 0;
      S->VerifyErrorRetry = 3;
      S->SMIErrorRetryDelay = 100;
      S->SMIErrorRetry = 5;
      S->DisableSecureCapsuleFlash = 0;
      S->EnableProtectionRegionMovement = 0;
      S->EnablePrivateRegionMovement = 0;
      break;
    case IniLoad:
      ReadFlag(Name, "DisableCompare", &S->DisableCompare);
      ReadFlag(Name, "DisableVerify", &S->DisableVerify);
      ReadInt32(Name, "VerifyErrorRetry", &S->VerifyErrorRetry);
      ReadInt32(Name, "SMIErrorRetryDelay", &S->SMIErrorRetryDelay);
      ReadInt32(Name, "SMIErrorRetry", &S->SMIErrorRetry);
      ReadFlag(Name, "DisableSecureCapsuleFlash", &S->DisableSecureCapsuleFlash);
      ReadFlag(Name, "EnableProtectionRegionMovement", &S->EnableProtectionRegionMovement);
      ReadFlag(Name, "EnablePrivateRegionMovement", &S->EnablePrivateRegionMovement);
      break;
    case IniDump:
      // The dump's order is not the record's.
      DumpHeader(Name);
      DumpNumber("DisableCompare", S->DisableCompare);
      DumpNumber("DisableVerify", S->DisableVerify);
      DumpNumber("VerifyErrorRetry", S->VerifyErrorRetry);
      DumpNumber("SMIErrorRetryDelay", S->SMIErrorRetryDelay);
      DumpNumber("SMIErrorRetry", S->SMIErrorRetry);
      DumpNumber("EnableProtectionRegionMovement", S->EnableProtectionRegionMovement);
      DumpNumber("EnablePrivateRegionMovement", S->EnablePrivateRegionMovement);
      DumpNumber("DisableSecureCapsuleFlash", S->DisableSecureCapsuleFlash);
      break;
  }
}

static VOID FactoryCopySection(INI_PASS Pass) {
  INI_FACTORY_COPY *S = &mIniSettings.FactoryCopy;
  switch (Pass) {
    case IniDefault:
      S->Restore = 0;
      break;
    case IniLoad:
      ReadFlag("FactoryCopy", "Restore", &S->Restore);
      break;
    case IniDump:
      DumpHeader("FactoryCopy");
      DumpNumber("Restore", S->Restore);
      break;
  }
}

// Not dumped.
static VOID SecurityFlashFactoryUpdateSection(INI_PASS Pass) {
  INI_SECURITY_FLASH_FACTORY_UPDATE *S = &mIniSettings.SecurityFlashFactoryUpdate;
  if (Pass == IniDefault) {
    S->UpdateNvStorage = 0;
    S->UpdateFactoryCopy = 0;
  } else if (Pass == IniLoad) {
    ReadFlag("SecurityFlashFactoryUpdate", "UpdateNvStorage", &S->UpdateNvStorage);
    ReadFlag("SecurityFlashFactoryUpdate", "UpdateFactoryCopy", &S->UpdateFactoryCopy);
  }
}

// Not dumped.
static VOID EngineeringErrorDisableSection(INI_PASS Pass) {
  INI_ENGINEERING_ERROR_DISABLE *S = &mIniSettings.EngineeringErrorDisable;
  if (Pass == IniDefault) {
    S->SkipSecureBootProtectionCheck = 0;
  } else if (Pass == IniLoad) {
    ReadFlag("EngineeringErrorDisable", "SkipSecureBootProtectionCheck", &S->SkipSecureBootProtectionCheck);
  }
}

static BOOLEAN IsBlankOrTab(CHAR8 C) { return C == ' ' || C == '\t'; }

// "eMMC, NVMe, ..." into slots from the first on; an unknown item leaves its slot.
static VOID ParseDeviceOrder(CONST CHAR8 *Value, UINT8 *Order) {
  static CONST struct {
    CONST CHAR8 *Word;
    UINT8 Code;
  } Words[] = {{"eMMC", DEVICE_ORDER_EMMC},
               {"NVMe", DEVICE_ORDER_NVME},
               {"SATA", DEVICE_ORDER_SATA},
               {"ATAPI", DEVICE_ORDER_ATAPI},
               {"USB", DEVICE_ORDER_USB}};
  UINTN Slot = 0;
  CONST CHAR8 *Item = Value;
  while (Slot < INI_DEVICE_ORDER_SLOTS) {
    CONST CHAR8 *ItemEnd = Item;
    while (*ItemEnd != 0 && *ItemEnd != ',') {
      ItemEnd++;
    }
    CONST CHAR8 *Start = Item;
    CONST CHAR8 *End = ItemEnd;
    while (Start < End && IsBlankOrTab(*Start)) {
      Start++;
    }
    while (End > Start && IsBlankOrTab(End[-1])) {
      End--;
    }
    if (End - Start >= 2 && Start[0] == '"' && End[-1] == '"') {
      Start++;
      End--;
    }
    UINTN Length = (UINTN)(End - Start);
    for (UINTN W = 0; W < ARRAY_SIZE(Words); W++) {
      if (AsciiStrLen(Words[W].Word) != Length) {
        continue;
      }
      UINTN I = 0;
      while (I < Length && AsciiCharToLower(Start[I]) == AsciiCharToLower(Words[W].Word[I])) {
        I++;
      }
      if (I == Length) {
        Order[Slot] = Words[W].Code;
        break;
      }
    }
    Slot++;
    if (*ItemEnd == 0) {
      break;
    }
    Item = ItemEnd + 1;
  }
}

static VOID SecureUpdateSection(INI_PASS Pass) {
  INI_SECURE_UPDATE *S = &mIniSettings.SecureUpdate;
  CONST CHAR8 *Name = "SecureUpdate";
  static CONST UINT8 DefaultOrder[INI_DEVICE_ORDER_SLOTS] = {
      DEVICE_ORDER_EMMC, DEVICE_ORDER_NVME, DEVICE_ORDER_SATA, DEVICE_ORDER_ATAPI, DEVICE_ORDER_USB};
  switch (Pass) {
    case IniDefault:
      S->viaESP = 0;
      CopyMem(S->DeviceOrder, DefaultOrder, sizeof(S->DeviceOrder));
      break;
    case IniLoad: {
      ReadFlag(Name, "viaESP", &S->viaESP);
      CHAR8 Value[INI_VALUE_SIZE];
      if (GetProfileString(Name, "DeviceOrder", Value, FALSE)) {
        ParseDeviceOrder(Value, S->DeviceOrder);
      }
      break;
    }
    case IniDump: {
      DumpHeader(Name);
      DebugPrint(DUMP_LEVEL, u"viaESP=%d\r\n", (UINT32)S->viaESP);
      // "DeviceOrder=1, 2, 3" up to the first end-of-list code.
      CHAR8 Line[64];
      UINTN Used = AsciiSPrint(Line, sizeof(Line), "DeviceOrder=");
      for (UINTN I = 0; I < INI_DEVICE_ORDER_SLOTS && S->DeviceOrder[I] != DEVICE_ORDER_END; I++) {
        Used += AsciiSPrint(Line + Used, sizeof(Line) - Used, I == 0 ? "%d" : ", %d", (UINT32)S->DeviceOrder[I]);
      }
      DebugPrint(DUMP_LEVEL, u"%a\r\n", Line);
      break;
    }
  }
}

static VOID AutoWakeupSection(INI_PASS Pass) {
  INI_AUTO_WAKEUP *S = &mIniSettings.AutoWakeup;
  CONST CHAR8 *Name = "AutoWakeup";
  switch (Pass) {
    case IniDefault:
      S->Flag = 0;
      S->Interval = 120;
      break;
    case IniLoad:
      ReadFlag(Name, "Flag", &S->Flag);
      ReadInt32(Name, "interval", &S->Interval);
      break;
    case IniDump:
      DumpHeader(Name);
      DumpNumber("Flag", S->Flag);
      DebugPrint(DUMP_LEVEL, u"Interval=%d\r\n", S->Interval);
      break;
  }
}

static VOID PassToBiosSection(INI_PASS Pass) {
  INI_PASS_TO_BIOS *S = &mIniSettings.PassToBios;
  switch (Pass) {
    case IniDefault:
      S->ClearTXE = 0;
      break;
    case IniLoad:
      ReadFlag("PassToBios", "ClearTXE", &S->ClearTXE, TRUE);
      break;
    case IniDump:
      DumpHeader("PassToBios");
      DumpNumber("ClearTXE", S->ClearTXE);
      break;
  }
}

typedef VOID (*INI_SECTION_ROUTINE)(INI_PASS Pass);

// Record order: every pass walks this table.
static CONST INI_SECTION_ROUTINE mSections[] = {
    LogFileSection,
    CommonFlashSection,
    MultiFdSection,
    UiSection,
    AcAdapterSection,
    PlatformCheckSection,
    PlatformVersionSection,
    BiosVersionCheckSection,
    BiosVersionFormatSection,
    FlashCompleteSection,
    FlashSecureBiosOverrideSection,
    ForceFlashSection,
    RegionSection,
    UpdateEcSection,
    UpdateOemMeSection,
    ReturnErrorCodeSection,
    ReturnCodeDefinitionSection,
    OthersSection,
    FactoryCopySection,
    SecurityFlashFactoryUpdateSection,
    EngineeringErrorDisableSection,
    SecureUpdateSection,
    AutoWakeupSection,
    PassToBiosSection,
};

static VOID RunPass(INI_PASS Pass) {
  for (UINTN I = 0; I < ARRAY_SIZE(mSections); I++) {
    mSections[I](Pass);
  }
}

VOID InitialIniConfig(VOID) {
  FuncEnter(u"InitialIniConfig");
  RunPass(IniDefault);
  FuncExit(u"InitialIniConfig", NULL);
}

VOID LoadIniConfig(BOOLEAN MultiFd) {
  IniRecordClear();
  mIniStore.MultiFd = MultiFd;
  RunPass(IniLoad);
  IniRecordFinish();
}

VOID DumpIniConfig(VOID) {
  DebugPrint(DUMP_LEVEL, u"\r\n========== Platform.ini Settings Start ==========\r\n");
  RunPass(IniDump);
  DebugPrint(DUMP_LEVEL, u"\r\n=========== Platform.ini Settings End ===========\r\n");
}

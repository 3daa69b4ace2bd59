// The settings record of platform.ini: every setting the utility uses, by
// section, named as its section and key. Readers use the fields directly.
#ifndef VYR_SETTINGS_H_
#define VYR_SETTINGS_H_

#include "Base.h"

#define INI_TEXT_SIZE 1024
#define INI_COMMON_FLASH_MESSAGES 20
#define INI_MULTI_FD_ENTRIES 100
#define INI_PLATFORM_NAMES 20
#define INI_FORCE_FLASH_TYPES 255
#define INI_EC_MASK_BYTES 32
#define INI_DEVICE_ORDER_SLOTS 10

#pragma pack(push, 1)

typedef struct {
  UINT8 Flag;
  CHAR8 FileName[INI_TEXT_SIZE];
  UINT8 Level;  // stored at most 4
  UINT8 LogOnScreen;
} INI_LOG_FILE;

typedef struct {
  UINT8 EnableCommonFlash;  // the section header is present
  CHAR8 SwitchString[INI_TEXT_SIZE];
  CHAR8 ErrorMsg[INI_COMMON_FLASH_MESSAGES][INI_TEXT_SIZE];  // ErrorMsg00 .. ErrorMsg13 (hex)
} INI_COMMON_FLASH;

typedef struct {
  UINT8 Flag;
  CHAR8 Fd[INI_MULTI_FD_ENTRIES][INI_TEXT_SIZE];  // FD#00 .. FD#99 (decimal)
} INI_MULTI_FD;

typedef struct {
  UINT8 Elapse;
  UINT8 PassUpdateProgressToBios;
} INI_UI;

typedef struct {
  UINT8 Flag;
  UINT8 BatteryCheck;
  UINT8 BatteryBound;
  CHAR8 LauncherAcWarning[INI_TEXT_SIZE];
  CHAR8 SecurityAcWarning[INI_TEXT_SIZE];
} INI_AC_ADAPTER;

typedef struct {
  UINT32 Flag;
  CHAR8 PlatformName[INI_PLATFORM_NAMES][INI_TEXT_SIZE];  // PlatformName1 .. 20
} INI_PLATFORM_CHECK;

typedef struct {
  UINT32 Flag;
  CHAR8 Version[INI_PLATFORM_NAMES][INI_TEXT_SIZE];  // Version1 .. 20
} INI_PLATFORM_VERSION;

typedef struct {
  UINT32 Flag;
  UINT8 CheckByBios;
  CHAR8 CheckByBiosErrorMessage[INI_TEXT_SIZE];
} INI_BIOS_VERSION_CHECK;

typedef struct {
  UINT8 BIOSVFEnable;
  CHAR8 VersionFormat[INI_TEXT_SIZE];
} INI_BIOS_VERSION_FORMAT;

typedef struct {
  UINT32 Action;
  UINT8 Pause;
  CHAR8 PauseWarning[INI_TEXT_SIZE];
} INI_FLASH_COMPLETE;

typedef struct {
  UINT8 EnableFlashSecureBIOSOverride;
  UINT8 Action;
} INI_FLASH_SECURE_BIOS_OVERRIDE;

typedef struct {
  UINT8 ALL;
  UINT8 BB_PEI;
  UINT8 CPU_Microcode;
  UINT8 Variable;
  UINT8 DXE;
  UINT8 EC;
  UINT8 Password;
  UINT8 OEM_NVS;
  UINT8 Logo;
  UINT8 Type[INI_FORCE_FLASH_TYPES];  // force flag per protected-area type 00h..FEh
  UINT8 ALP;
  UINT8 UseBvdtRomMap;
} INI_FORCE_FLASH;

typedef struct {
  UINT8 BIOS;
  UINT8 GbE;
  UINT8 ME;
  UINT8 DESC;
  UINT8 Platform_Data;
  UINT8 EC;
} INI_REGION;

typedef struct {
  UINT8 Progress_Bar;
  CHAR8 EC_DockWarning[INI_TEXT_SIZE];
  UINT8 Ignore_21h;
  UINT8 Action_20h;
  UINT8 EC_BlockSize;
  UINT8 EnableECProtectMask;
  UINT8 ProtectMaskBitCount;
  UINT8 MaskByte[INI_EC_MASK_BYTES];
} INI_UPDATE_EC;

typedef struct {
  CHAR8 MEFileName[INI_TEXT_SIZE];
  CHAR8 Command[INI_TEXT_SIZE];
} INI_UPDATE_OEM_ME;

typedef struct {
  UINT32 FileNotFound;
  UINT32 ErrorBeforeFlash;
  UINT32 BatteryNotConnect;
  UINT32 BatteryCapacityNotEnough;
  UINT32 WriteROMFail;
  UINT32 WriteECFail;
  UINT32 WriteExtraDataFail;
} INI_RETURN_ERROR_CODE;

typedef struct {
  UINT32 RETURN_SUCCESSFUL;
  UINT32 RETURN_MODEL_CHECK_FAIL;
  UINT32 RETURN_USER_CONFIRM_CANCEL;
  UINT32 RETURN_AC_NOT_CONNECT;
  UINT32 RETURN_LOAD_DRIVER_FAIL;
  UINT32 RETURN_NEED_REBOOT;
  UINT32 RETURN_USER_EXIT;
  UINT32 RETURN_SAME_VERSION_CHECK;
} INI_RETURN_CODE_DEFINITION;

typedef struct {
  UINT8 DisableCompare;
  UINT8 DisableVerify;
  UINT32 VerifyErrorRetry;
  UINT32 SMIErrorRetryDelay;
  UINT32 SMIErrorRetry;
  UINT8 DisableSecureCapsuleFlash;
  UINT8 EnableProtectionRegionMovement;
  UINT8 EnablePrivateRegionMovement;
} INI_OTHERS;

typedef struct {
  UINT8 Restore;
} INI_FACTORY_COPY;

typedef struct {
  UINT8 UpdateNvStorage;
  UINT8 UpdateFactoryCopy;
} INI_SECURITY_FLASH_FACTORY_UPDATE;

typedef struct {
  UINT8 SkipSecureBootProtectionCheck;
} INI_ENGINEERING_ERROR_DISABLE;

// Boot-device classes searched for the EFI system partition.
#define DEVICE_ORDER_END 0
#define DEVICE_ORDER_EMMC 1
#define DEVICE_ORDER_NVME 2
#define DEVICE_ORDER_SATA 3
#define DEVICE_ORDER_ATAPI 4
#define DEVICE_ORDER_USB 5

typedef struct {
  UINT8 viaESP;
  UINT8 DeviceOrder[INI_DEVICE_ORDER_SLOTS];
} INI_SECURE_UPDATE;

typedef struct {
  UINT8 Flag;
  UINT32 Interval;
} INI_AUTO_WAKEUP;

typedef struct {
  UINT8 ClearTXE;
} INI_PASS_TO_BIOS;

typedef struct {
  INI_LOG_FILE Log_file;
  INI_COMMON_FLASH CommonFlash;
  INI_MULTI_FD MULTI_FD;
  INI_UI UI;
  INI_AC_ADAPTER AC_Adapter;
  INI_PLATFORM_CHECK Platform_Check;
  INI_PLATFORM_VERSION PlatformVersion;
  INI_BIOS_VERSION_CHECK Bios_Version_Check;
  INI_BIOS_VERSION_FORMAT BIOSVersionFormat;
  INI_FLASH_COMPLETE FlashComplete;
  INI_FLASH_SECURE_BIOS_OVERRIDE FlashSecureBIOSOverride;
  INI_FORCE_FLASH ForceFlash;
  INI_REGION Region;
  INI_UPDATE_EC UpdateEC;
  INI_UPDATE_OEM_ME UpdateOEMME;
  INI_RETURN_ERROR_CODE ReturnErrorCode;
  INI_RETURN_CODE_DEFINITION ReturnCodeDefinition;
  INI_OTHERS Others;
  INI_FACTORY_COPY FactoryCopy;
  INI_SECURITY_FLASH_FACTORY_UPDATE SecurityFlashFactoryUpdate;
  INI_ENGINEERING_ERROR_DISABLE EngineeringErrorDisable;
  INI_SECURE_UPDATE SecureUpdate;
  INI_AUTO_WAKEUP AutoWakeup;
  INI_PASS_TO_BIOS PassToBios;
} INI_SETTINGS;

#pragma pack(pop)

extern INI_SETTINGS mIniSettings;

// The record as at load: all zero (the defaults are InitialIniConfig's).
VOID SettingsResetState(VOID);

#endif  // VYR_SETTINGS_H_

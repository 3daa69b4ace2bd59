// The gates before the first write: the BIOS's common-flash judgement (44h),
// the BIOS password (43h) and the AC adapter and battery check.
#ifndef VYR_ADMISSION_H_
#define VYR_ADMISSION_H_

#include "Base.h"

// ---- Power check ----
#define POWER_VERDICT_PASS 0x00000000u
#define POWER_VERDICT_NO_AC 0x80000001u
#define POWER_VERDICT_NO_BATTERY 0x80000002u
#define POWER_VERDICT_LOW_BATTERY 0x80000004u
// [AC_Adapter] BatteryBound at or above this leaves the bound to the BIOS.
#define POWER_BOUND_FROM_BIOS 255
// The firmware flow leaves a power box on screen this long (no key wait there).
#define POWER_BOX_WAIT_US 5000000

typedef struct {
  BOOLEAN CheckAc;
  BOOLEAN CheckDc;
  UINT8 DcBound;
} POWER_CHECK_CONFIG;

// ---- Common flash (44h) ----
#define COMMON_FLASH_ITEMS_SIZE 1024
#define COMMON_FLASH_ANSWER_SIZE 6
#define COMMON_FLASH_SWITCH_LIST_MIN 6
#define COMMON_FLASH_ITEM_END 0xFF
#define COMMON_FLASH_ITEM_AC 1
#define COMMON_FLASH_ITEM_BATTERY 2
#define COMMON_FLASH_ITEM_CHARGE 3
#define COMMON_FLASH_ITEM_BIOS_VERSION 4      // current version, at most 100 bytes
#define COMMON_FLASH_ITEM_NEW_MODEL 5         // new image's model name, at most 100 bytes
#define COMMON_FLASH_ITEM_MODEL 6             // current model name, at most 300 bytes
#define COMMON_FLASH_ITEM_NEW_VERSION 7       // new image's version, at most 300 bytes
#define COMMON_FLASH_SHORT_TEXT 100
#define COMMON_FLASH_LONG_TEXT 300
// Messages of [CommonFlash] ErrorMsg<n> exist below this number.
#define COMMON_FLASH_MESSAGE_LIMIT 20

// What the BIOS answered to 44h: three u16 at the start of buffer 2.
typedef struct {
  UINT8 Answered;
  UINT8 Permit;  // 1 when the first word is 1
  UINT16 MessageNumber;
  UINT16 Action;
} COMMON_FLASH_STATUS;

// ---- Password (43h) ----
#define PASSWORD_REQUEST_SIZE 269
#define PASSWORD_SIGNATURE_SIZE 8
#define PASSWORD_MODE_OFFSET 12
#define PASSWORD_TEXT_OFFSET 13
#define PASSWORD_TEXT_MAX 255
#define PASSWORD_QUERY_ANSWER_OFFSET 12
#define PASSWORD_VERIFY_ANSWER_OFFSET 13
#define PASSWORD_MODE_QUERY 0
#define PASSWORD_MODE_VERIFY 1

typedef struct {
  COMMON_FLASH_STATUS CommonFlash;
} ADMISSION_STATE;

extern ADMISSION_STATE mAdmission;

VOID AdmissionResetState(VOID);

// Dell (1028h), Toshiba (1179h) or the default check, by the vendor ID of 10h.
BOOLEAN CheckPowerStatus(VOID);
// Works out (and logs) which checks apply. Power is GetPowerStatus's 4 bytes.
VOID GetPowerCheckConfig(CONST UINT8 *Power, POWER_CHECK_CONFIG *Config);
// The Dell/Toshiba verdict: AC first, then battery presence, then charge.
UINT32 GetPowerVerdict(CONST UINT8 *Power, CONST POWER_CHECK_CONFIG *Config);

// Fills the 1024-byte buffer 1 of 44h (zeroed first); returns the bytes used.
UINT32 BuildCommonFlashItems(CONST UINT8 *Power, UINT8 *Items);
// Buffer 2 of 44h from a switch string: a pool block of *Length bytes the
// caller frees, NULL when there is no memory.
UINT8 *BuildCommonFlashSwitchList(CONST CHAR8 *SwitchString, UINT32 *Length);
// Items: 1024 bytes. Answer receives the first 6 bytes of buffer 2 after the
// call whatever the status; TRUE when the BIOS answered 0.
BOOLEAN Fwsmi_44h(CONST UINT8 *Items, CONST UINT8 *SwitchList, UINT32 SwitchListLength, UINT8 *Answer);
// The common-flash step: FALSE only when the switch list cannot be allocated;
// a failing exchange leaves the status unanswered.
BOOLEAN FuncCommonFlash(VOID);
// Shell flow: FALSE (with its message) when the BIOS answered permit 0.
BOOLEAN CheckCommonFlashPermit(VOID);
// Completion: the BIOS's action replaces *Action when it answered permit 1;
// TRUE then, FALSE (Action untouched) otherwise.
BOOLEAN CommonFlashActionOverride(UINT8 *Action);
BOOLEAN IsCommonFlashAnswered(VOID);
VOID GetCommonFlashStatus(COMMON_FLASH_STATUS *Status);

// The BIOS password: query, then verify the password of the command line.
BOOLEAN CheckPassword(VOID);
// Mode 0 query (Password ignored), 1 verify. Answer: byte 12 for a query (1 =
// a password is set), byte 13 for a verify (0 = correct).
BOOLEAN SMI_CheckPasswordByBios(UINT8 Mode, CONST CHAR8 *Password, UINT8 *Answer);

#endif  // VYR_ADMISSION_H_

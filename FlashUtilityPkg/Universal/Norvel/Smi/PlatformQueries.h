// Platform queries: what the BIOS tells the utility about itself through
// functions 10h (tool information out, platform status in), 11h (platform
// information and control switches), 1Ch (anti-theft status) and 1Fh (hook
// points). Each answer is asked for once per load and kept module-wide.
#ifndef VYR_PLATFORM_QUERIES_H_
#define VYR_PLATFORM_QUERIES_H_

#include "Base.h"

#define HOOK_AP_TERMINATE 0x00
#define HOOK_AP_LAUNCH 0x01
#define HOOK_BEFORE_READ_ROM 0x02
#define HOOK_BEFORE_WRITE_ROM 0x03
#define HOOK_BEFORE_WRITE_EC 0x04
#define HOOK_BEFORE_DIALOG 0x05
#define HOOK_AFTER_DIALOG 0x06

#define VENDOR_ID_DELL 0x1028
#define VENDOR_ID_ACER 0x1025
#define VENDOR_ID_TOSHIBA 0x1179
// Reported by some Acer BIOSes; taken as Acer when the DSDT says "ACRSYS".
#define VENDOR_ID_ACER_OEM 0x1656

#define TOOL_INFORMATION_SIZE 18
#define PLATFORM_STATUS_OUTPUT_SIZE 1024
// Output bytes kept in place in PLATFORM_STATUS.
#define PLATFORM_STATUS_KEPT_BYTES 54
#define BIOS_CHECK_OFFSET 13
// "$BIOSCHK", size, Check BVDT flag.
#define BIOS_CHECK_MIN_SIZE 13
#define COMMAND_FILTER_HEADER_SIZE 12
#define COMMAND_FILTER_COPY_BYTES 28
#define MIN_INTERFACE_VERSION 0x1504

#define PLATFORM_INFO_AREA_SIZE 320
#define PLATFORM_INFO_SIZE 1024
#define MODEL_NAME_BYTES 64
#define MODEL_VERSION_BYTES 256
#define EXTENDED_BUFFER_SIZE 4096

#define COMMAND_FILTER_BITMAP_BYTES 16

// The BIOS's command filter: a bitmap length and at most 16 bitmap bytes.
// Byte g holds the options of group g, bit b the option with index b.
typedef struct {
  UINT32 Length;  // as the BIOS reported it (its structure size - 12); may exceed the bitmap
  UINT8 Bitmap[COMMAND_FILTER_BITMAP_BYTES];
} COMMAND_FILTER_TABLE;

#pragma pack(push, 1)

// The platform status record of 10h. Offsets 4-57 hold bytes 0-53 of the
// BIOS's output in place; offsets 30-57 are replaced by the first 28 bytes of
// a "$CMDFILT" structure when the output holds one.
typedef struct {
  UINT8 ReturnCode;         // 0: AL of 10h
  UINT8 Permission;         // 1: AH of 10h
  UINT16 InterfaceVersion;  // 2: CH * 256 + CL of 10h
  UINT8 AcPlug;             // 4
  UINT8 DcLife;             // 5: battery charge in percent
  UINT8 DcBound;            // 6
  UINT32 Help1;             // 7
  UINT32 Help2;             // 11
  UINT16 VendorId;          // 15
  CHAR8 BiosCheckSignature[8];  // 17: "$BIOSCHK" when present
  UINT32 BiosCheckSize;     // 25
  UINT8 CheckBvdt;          // 29
  UINT8 CommandFilter[COMMAND_FILTER_COPY_BYTES];  // 30
  UINT8 SkipBvdtCheck;      // 58
  UINT8 CommandFilterPresent;  // 59
} PLATFORM_STATUS;

#pragma pack(pop)

// What 11h answers: the 320-byte platform information area (model name in
// bytes 0-63, version in bytes 64-319, UTF-16) and the switch registers.
typedef struct {
  UINT8 ReturnCode;         // AL
  UINT8 SwitchByte;         // AH
  UINT32 ExtendedSwitches;  // ECX
  UINT8 Area[PLATFORM_INFO_AREA_SIZE];
} PLATFORM_INFO_RECORD;

// Handed out whole by DataGetPlatformInfo.
typedef struct {
  CHAR16 ModelName[MODEL_NAME_BYTES / sizeof(CHAR16)];  // 0
  UINT8 Reserved1[512 - MODEL_NAME_BYTES];
  CHAR16 Version[MODEL_VERSION_BYTES / sizeof(CHAR16)];  // 512
  UINT8 Reserved2[PLATFORM_INFO_SIZE - 512 - MODEL_VERSION_BYTES];
} PLATFORM_INFO;

// Each byte 0 or 1.
typedef struct {
  UINT8 CheckModelName;
  UINT8 CheckModelVersion;
  UINT8 DisplayModelName;
  UINT8 DisplayModelVersion;
  UINT8 AllowSameVersionUpdate;
  UINT8 CompareBeforeWrite;
  UINT8 VerifyFileChecksum;
  UINT8 AllowAlpCommand;
} BIOS_CONTROL_SWITCHES;

typedef struct {
  UINT8 ReturnCode;
  UINT8 Supported;     // T bit 7
  UINT8 Enrolled;      // T bit 0
  UINT8 Stolen;        // T bit 1 clear
  UINT8 TimerEnough;   // T bit 2
  UINT8 FlashAllowed;  // T bit 6
} ANTI_THEFT_STATUS;

static_assert(sizeof(PLATFORM_STATUS) == 60, "platform status record is 60 bytes");
static_assert(offsetof(PLATFORM_STATUS, BiosCheckSignature) == 4 + BIOS_CHECK_OFFSET, "output kept in place");
static_assert(offsetof(PLATFORM_STATUS, CommandFilter) == 30, "command filter copy at 30");
static_assert(offsetof(PLATFORM_STATUS, SkipBvdtCheck) == 4 + PLATFORM_STATUS_KEPT_BYTES, "flags after the output");
static_assert(offsetof(PLATFORM_INFO, Version) == 512, "version at 512");
static_assert(sizeof(PLATFORM_INFO) == PLATFORM_INFO_SIZE, "platform information is 1024 bytes");
static_assert(sizeof(BIOS_CONTROL_SWITCHES) == 8, "control switches are 8 bytes");

// Power values in GetPowerStatus order.
#define POWER_AC_PLUG 0
#define POWER_DC_LIFE_VALID 1
#define POWER_DC_BOUND 2
#define POWER_DC_LIFE 3
#define POWER_STATUS_SIZE 4

typedef struct {
  UINT16 VendorId;  // as reported by 10h after the Acer revision (0 until it has answered)
  UINT8 CommandFilterPresent;
  COMMAND_FILTER_TABLE CommandFilter;
  PLATFORM_STATUS PlatformStatus;
  UINT8 PowerStatus[POWER_STATUS_SIZE];
  PLATFORM_INFO PlatformInfo;
  BIOS_CONTROL_SWITCHES Switches;
  ANTI_THEFT_STATUS AntiTheft;
  UINT8 AntiTheftPresent;
  // First-call flags, set before the query runs, and the remembered results.
  UINT8 IsSupportCalled;
  BOOLEAN IsSupportResult;
  UINT8 PlatformInfoCalled;
  UINT8 ATpStatusCalled;
  BOOLEAN ATpStatusResult;
} PLATFORM_QUERY_STATE;

extern PLATFORM_QUERY_STATE mPlatformQuery;

VOID PlatformQueryResetState(VOID);

// ---- 10h: tool information and platform status ----
BOOLEAN Prepare10hInputStructure(UINT8 *ToolInformation);  // 18 bytes
BOOLEAN Fwsmi_10h(CONST UINT8 *ToolInformation, PLATFORM_STATUS *Status);
// Output is the 1024 bytes the BIOS wrote. Fills Status (zeroed first) and
// the module's command filter table.
BOOLEAN Process10hOutputData(CONST UINT8 *Output, PLATFORM_STATUS *Status);
BOOLEAN FuncIsSupport(VOID);
BOOLEAN SMI_IsSupport(VOID);
BOOLEAN GetPowerStatus(UINT8 *Power);  // 4 bytes
BOOLEAN IsVendorId(UINT16 VendorId);
UINT8 IsCommandFilterEnabled(VOID);
BOOLEAN GetCommandFilterTable(COMMAND_FILTER_TABLE *Table);
// Whether the filter lets the option at (Byte, Bit) through: a byte at or
// beyond the reported length, or beyond the 16-byte bitmap, is not set.
BOOLEAN IsCommandFilterBitSet(CONST COMMAND_FILTER_TABLE *Table, UINTN Byte, UINTN Bit);

// ---- 11h: platform information and control switches ----
BOOLEAN Prepare11hInputStructure(UINT8 *Buffer, UINT32 Size);
BOOLEAN Fwsmi_11h(UINT8 *ExtendedBuffer, PLATFORM_INFO_RECORD *Record);
BOOLEAN Process11hOutputData(CONST PLATFORM_INFO_RECORD *Record, PLATFORM_INFO *Info, BIOS_CONTROL_SWITCHES *Switches);
BOOLEAN FuncGetPlatformInfo(PLATFORM_INFO *Info);
BOOLEAN SMI_GetPlatformInfo(PLATFORM_INFO *Info);
BOOLEAN DataGetPlatformInfo(PLATFORM_INFO *Info);
BOOLEAN GetBiosControlSwitches(BIOS_CONTROL_SWITCHES *Switches);
UINT8 IsAllowAlpCommand(VOID);
BOOLEAN IsCompareBeforeWriteOff(VOID);

// ---- 1Ch: anti-theft ----
BOOLEAN Fwsmi_1Ch(ANTI_THEFT_STATUS *Status);
BOOLEAN FuncCheckATpStatus(VOID);
BOOLEAN SMI_CheckATpStatus(VOID);
UINT8 IsAntiTheftPresent(VOID);

// ---- 1Fh: hook points ----
CONST CHAR16 *HookPointName(UINT32 Code);
BOOLEAN SMI_ApHookPoint(UINT32 Code);
BOOLEAN Fwsmi_1Fh(UINT32 Code);

#endif  // VYR_PLATFORM_QUERIES_H_

// The BIOS version data table (BVDT) of a new image, the new image's identity
// taken from it, and the version and platform checks made before flashing.
#ifndef VYR_BVDT_H_
#define VYR_BVDT_H_

#include "Base.h"

#define BVDT_MAX_ENTRIES 32
#define BVDT_ENTRY_SIZE 255
#define BVDT_MODEL_NAME_BYTES 25
#define BVDT_VERSION_BYTES 26
#define BVDT_IDENTITY_CHARS 255

// Field offsets from the "$BVDT" signature.
#define BVDT_BUILD_DATE_OFFSET 5
#define BVDT_BUILD_TIME_OFFSET 9
#define BVDT_VERSION_OFFSET 13
#define BVDT_MODEL_NAME_OFFSET 38
// Bytes from the signature to the end of the model name.
#define BVDT_RECORD_SIZE (BVDT_MODEL_NAME_OFFSET + 1 + BVDT_MODEL_NAME_BYTES)

// Version comparison results.
#define VERSION_NEWER 1
#define VERSION_SAME 0
#define VERSION_OLDER (-1)
#define VERSION_MISSING (-5)
#define VERSION_SAME_NOT_ALLOWED (-7)
#define VERSION_FORMAT_INVALID (-8)
#define VERSION_FWSMI_FAILED (-11)
#define VERSION_BIOS_REFUSED (-12)

#define PLATFORM_CMP_MATCH 0x00000000u
#define PLATFORM_CMP_NAME_DIFFERS 0x80000003u
#define PLATFORM_CMP_NO_ID_MATCH 0x80000004u
#define PLATFORM_CMP_NO_INDEX 0x80000001u

#define CHECK_CONDITION_BUFFER_SIZE 0x10000
#define CHECK_CONDITION_HEADER_SIZE 16
#define CHECK_CONDITION_OUTPUT_MIN_SIZE 13
#define CHECK_CONDITION_TYPE_VERSION 4

// One image's BVDT. The text fields keep one byte more than the image field
// so that a field filled to the last byte is still terminated.
typedef struct {
  UINT8 Valid;
  UINT8 BuildYear;  // 0-99
  UINT8 BuildMonth;
  UINT8 BuildDay;
  UINT8 BuildHour;
  UINT8 BuildMinute;
  UINT8 BuildSecond;
  UINT8 ReleaseYear;  // 0-99
  UINT8 ReleaseMonth;
  UINT8 ReleaseDay;
  CHAR8 DefaultModelName[BVDT_MODEL_NAME_BYTES + 1];
  CHAR8 DefaultVersion[BVDT_VERSION_BYTES + 1];
  CHAR8 ModelName[BVDT_MAX_ENTRIES][BVDT_ENTRY_SIZE];
  CHAR8 Version[BVDT_MAX_ENTRIES][BVDT_ENTRY_SIZE];
} BVDT_INFO;

typedef struct {
  CHAR16 NewModelName[BVDT_IDENTITY_CHARS];  // "N/A" until SetBvdtInfo_FD
  CHAR16 NewVersion[BVDT_IDENTITY_CHARS];
  UINT8 IdentityInitialized;  // 0 at load: the identity reads "N/A"
  UINT8 ChecksDisabled;       // secure flash mode: no model/version checks, equal version allowed
} BVDT_STATE;

extern BVDT_STATE mBvdt;

VOID BvdtResetState(VOID);

// ---- BVDT of an image ----
BOOLEAN GetBvdtInfoFromBuffer(CONST UINT8 *Image, UINTN Size, BVDT_INFO *Info);
BOOLEAN SetBvdtInfo_FD(CONST UINT8 *Image, UINTN Size);
// Either output may be NULL; each receives BVDT_IDENTITY_CHARS characters at most.
VOID GetBvdtInfo_FD(CHAR16 *ModelName, CHAR16 *Version);
VOID SetChecksDisabled(BOOLEAN Disabled);

// ---- Version comparison ----
INTN CompareVersion(CONST CHAR8 *NewVersion, CONST CHAR8 *CurrentVersion);
INTN BiosVerCmp(CONST CHAR8 *NewVersion, CONST CHAR8 *CurrentVersion);
INTN BiosVerFmtCmp(CONST CHAR8 *Format, CONST CHAR8 *NewVersion, CONST CHAR8 *CurrentVersion);

// ---- Platform checks ----
BOOLEAN IsModelCheckNeeded(VOID);
BOOLEAN IsVersionCheckNeeded(VOID);
UINT32 PlatformCmp(CONST CHAR8 *NewModel, CONST CHAR8 *CurrentModel, UINT32 *Index);
BOOLEAN GetPlatformChkStatus(VOID);

// ---- 45h: let the BIOS judge a datum ----
BOOLEAN SMI_CheckConditionalData(UINT8 DataType, UINT8 DataFormat, UINT16 DataLength, CONST VOID *Data,
                                 UINT8 *Result);
BOOLEAN Fwsmi_45h(CONST UINT8 *Input, UINT8 *Output);

// ---- The whole check and the displays ----
// The anti-theft marker is searched in the first ImageSize bytes, RomSize at most.
BOOLEAN Func_PlatformCheck(CONST UINT8 *Image, UINTN ImageSize, UINT32 RomSize);
// Dell's confirmation for a version comparison result: TRUE to go on.
BOOLEAN DellVersionPrompt(INTN Result);
// Shell flow, after SetBvdtInfo_FD. EcOrMeOnlyImage: the image updates only
// the EC or only the native ME, so it names no BIOS.
VOID ShowModelVersionShell(BOOLEAN EcOrMeOnlyImage);
VOID ShowModelVersionDriver(VOID);

// ---- 1Dh: hand the INI read record to the BIOS ----
#define INI_PASS_INPUT_SIZE 12
BOOLEAN SMI_PassIniConfigToBios(VOID);
BOOLEAN Fwsmi_1Dh(CONST UINT8 *Input);

// ---- 49h: factory-copy restore request ----
#define RESTORE_REQUEST_SIZE 16
#define RESTORE_STATUS_UNKNOWN_REQUEST 0x8000
BOOLEAN FuncFwsmi_49h(VOID);

#endif  // VYR_BVDT_H_

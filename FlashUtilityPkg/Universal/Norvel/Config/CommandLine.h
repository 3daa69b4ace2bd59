// The command line of the shell flow: option flags and values, the BIOS's
// command filter, the override options of the firmware flow, the usage text.
#ifndef VYR_COMMAND_LINE_H_
#define VYR_COMMAND_LINE_H_

#include "Base.h"

#define FILE_NAME_CHARS 128
#define OPTION_STRING_CHARS 512

// Option value stores (characters or bytes, terminator included). A value
// longer than its store refuses the option word instead of being cut.
#define OPTION_PASSWORD_CHARS 256      // -p=
#define OPTION_PASSWORD_BYTES 256      // -pwd:
#define OPTION_NATIVE_ME_CHARS 128     // -nativeme:
#define OPTION_E_VALUE_CHARS 128       // -e:
#define FORCE_FLASH_TYPES 256
#define OPTION_FLAGS 256

// Option flag numbers read through IsOptionSet.
#define OPT_HELP 1
#define OPT_PQ 2
#define OPT_PRIV 3
#define OPT_PR 4
#define OPT_PI 5
#define OPT_PW 7
#define OPT_G 10
#define OPT_U 11
#define OPT_R 16
#define OPT_S 17
#define OPT_N 18
#define OPT_AC 19
#define OPT_AB 20
#define OPT_SKIPSBP 21
#define OPT_MC 22
#define OPT_DESC 32
#define OPT_GBE 33
#define OPT_ME 34
#define OPT_PDR 36
#define OPT_EC 37
#define OPT_ALL 48
#define OPT_ALP 49
#define OPT_EDT 80
#define OPT_FORCETYPE 240
#define OPT_FORCEIT 241
#define OPT_NOPAUSE 242

// Options whose flags their owners read through the accessors below.
typedef enum {
  OWNER_BIOS,       // -bios
  OWNER_DC,         // -dc
  OWNER_DI,         // -di
  OWNER_MFG,        // -mfg
  OWNER_UFC,        // -ufc
  OWNER_UNVS,       // -unvs
  OWNER_EOB,        // -eob
  OWNER_ECBP,       // -ecbp
  OWNER_ECB,        // -ecb
  OWNER_ECP,        // -ecp
  OWNER_EC,         // -ec
  OWNER_EC_CRISIS,  // -ec_crisis
  OWNER_FLAG_COUNT
} OWNER_FLAG;

typedef struct {
  UINT8 Flags[OPTION_FLAGS];
  UINT8 Owner[OWNER_FLAG_COUNT];
  UINT8 ForceFlashType[FORCE_FLASH_TYPES];  // by protected-region type
  BOOLEAN FileNameGiven;
  // Values and whether they were given.
  BOOLEAN PasswordGiven;
  CHAR16 Password[OPTION_PASSWORD_CHARS];
  BOOLEAN PasswordAsciiGiven;
  CHAR8 PasswordAscii[OPTION_PASSWORD_BYTES];
  BOOLEAN NativeMeGiven;
  CHAR16 NativeMeFile[OPTION_NATIVE_ME_CHARS];
  BOOLEAN OemIdGiven;
  EFI_GUID OemId;
  BOOLEAN RetryGiven;
  UINT8 RetryCount;
  UINT32 RetryDelay;
  BOOLEAN VerifyRetryGiven;
  UINT32 VerifyRetryCount;
  BOOLEAN PbiGiven;
  UINT8 PbiType;
  BOOLEAN EGiven;
  CHAR16 EValue[OPTION_E_VALUE_CHARS];
  // The option string kept for the command override variable.
  BOOLEAN CommandLineSaved;
  CHAR16 SavedCommandLine[OPTION_STRING_CHARS];
  // The module's own copy of the registered arguments: the pre-passes blank
  // words in it, never in the launcher's strings. One pool block.
  BOOLEAN WorkCopied;
  UINT32 WorkArgc;
  CHAR16 **WorkArgv;
} COMMAND_LINE_STATE;

extern COMMAND_LINE_STATE mCommandLine;

BOOLEAN ProcessArgument(CONST CHAR16 *Word);
BOOLEAN ProcessOverrideArgument(CONST CHAR16 *Word);
BOOLEAN LoadOverrideCommand(CONST CHAR16 *Text, UINT32 ByteLength);
UINT8 IsOptionSet(UINTN Number);

VOID CommandLineResetState(VOID);

// Numeric option values: blanks and tabs skipped, an optional 0x/0X, then
// hexadecimal digits to the end of the text; anything else gives 0. A value
// above FFFFFFFFh reads as FFFFFFFFh.
UINT32 ParseOptionHex(CONST CHAR16 *Text);

// The option string as ArgumentCheck built it, for the command override
// variable. ByteSize = 2 x characters + 2. FALSE (NULL, 0) before any check.
VOID SaveCommandLine(CONST CHAR16 *CommandLine);
BOOLEAN GetSavedCommandLine(CONST CHAR16 **Text, UINT32 *ByteSize);

// The argument list ArgumentCheck works on: a copy of the registered one.
BOOLEAN CopyArgumentList(VOID);    // replaces an older copy; FALSE when out of memory
BOOLEAN EnsureArgumentList(VOID);  // copies only when there is no copy yet
VOID FreeArgumentList(VOID);
UINT32 GetWorkArgumentCount(VOID);
CHAR16 *GetWorkArgument(UINT32 Index);  // NULL past the end

// Owners' accessors.
BOOLEAN IsFileNameGiven(VOID);
BOOLEAN IsBiosRegionOptionSet(VOID);        // -bios
BOOLEAN IsDisableCompareOptionSet(VOID);    // -dc
BOOLEAN IsDisableIdDisplayOptionSet(VOID);  // -di
BOOLEAN IsMfgOptionSet(VOID);               // -mfg
BOOLEAN IsUpdateFactoryCopyOptionSet(VOID); // -ufc
BOOLEAN IsUpdateNvStorageOptionSet(VOID);   // -unvs
BOOLEAN IsEcBiosOnlyOptionSet(VOID);        // -eob
BOOLEAN IsEcWithBiosPercentOptionSet(VOID); // -ecbp
BOOLEAN IsEcWithBiosOptionSet(VOID);        // -ecb
BOOLEAN IsEcPercentOptionSet(VOID);         // -ecp
BOOLEAN IsEcUpdateOptionSet(VOID);          // -ec
BOOLEAN IsEcCrisisOptionSet(VOID);          // -ec_crisis
UINT8 GetForceFlashType(UINTN Type);        // 0 for types above FFh
CONST CHAR16 *GetPasswordOption(VOID);      // -p= text, NULL when not given
CONST CHAR8 *GetPasswordAsciiOption(VOID);  // -pwd: text, NULL when not given
CONST CHAR16 *GetNativeMeFile(VOID);        // -nativeme: file, NULL when not given
BOOLEAN GetOemIdGuid(EFI_GUID *Guid);       // -oemid:, FALSE when not given
BOOLEAN GetRetryOption(UINT8 *Count, UINT32 *Delay);  // -rt:, FALSE when not given
BOOLEAN GetVerifyRetryOption(UINT32 *Count);          // -vrt:, FALSE when not given
CONST CHAR16 *GetEOptionValue(VOID);        // -e: text, NULL when not given
BOOLEAN IsPbiOptionSet(VOID);
UINT8 GetPbiType(VOID);                     // FFh when -pbi: is not given

#endif  // VYR_COMMAND_LINE_H_

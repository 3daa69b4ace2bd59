// The command line of the shell flow: option flags and values, the BIOS's
// command filter, the override options of the firmware flow, the usage text.
#ifndef VYR_COMMAND_LINE_H_
#define VYR_COMMAND_LINE_H_

#include "Base.h"

#define FILE_NAME_CHARS 128
#define OPTION_STRING_CHARS 512

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

BOOLEAN ArgumentCheck(CHAR16 *FileName, CHAR16 *OptionString);
BOOLEAN ProcessArgument(CONST CHAR16 *Word);
BOOLEAN ProcessOverrideArgument(CONST CHAR16 *Word);
BOOLEAN LoadOverrideCommand(CONST CHAR16 *Text, UINT32 ByteLength);
UINT8 IsOptionSet(UINTN Number);
BOOLEAN CommandFilterCheck(CONST CHAR16 *OptionString);
BOOLEAN ChkFilterTblIni(VOID);
VOID DisplayUsage(VOID);

VOID CommandLineResetState(VOID);

#endif  // VYR_COMMAND_LINE_H_

// Flash completion: the action and status the run leaves for the BIOS, the
// completion request (FWSMI 16h) and the RTC wake-up alarm for a shut-down.
#ifndef VYR_COMPLETION_H_
#define VYR_COMPLETION_H_

#include "Base.h"

#define COMPLETE_ACTION_RETURN_TO_OS 0
#define COMPLETE_ACTION_SHUTDOWN 1
#define COMPLETE_ACTION_REBOOT 2
#define COMPLETE_ACTION_S3 3

#define COMPLETE_STATUS_AP_TERMINATED 0
#define COMPLETE_STATUS_FLASH_ENTIRE 1
#define COMPLETE_STATUS_FLASH_PARTIAL 2

// Passed as Action or Status: leave that part as it is.
#define COMPLETE_KEEP 239

#define FINISH_SIGNATURE "$FINISHI"
#define FINISH_DATA_SIZE 13

// CMOS index and data ports and the RTC registers the alarm uses.
#define CMOS_INDEX_PORT 0x70
#define CMOS_DATA_PORT 0x71
#define RTC_SECONDS 0x00
#define RTC_SECONDS_ALARM 0x01
#define RTC_MINUTES 0x02
#define RTC_MINUTES_ALARM 0x03
#define RTC_HOURS 0x04
#define RTC_HOURS_ALARM 0x05
#define RTC_REGISTER_B 0x0B
#define RTC_REGISTER_C 0x0C
#define RTC_B_SET 0x80
#define RTC_B_AIE 0x20
#define RTC_B_BINARY 0x04

#pragma pack(push, 1)
// The data buffer that goes to FWSMI buffer 1.
typedef struct {
  CHAR8 Signature[8];  // "$FINISHI", no terminator
  UINT32 Size;         // FINISH_DATA_SIZE
  UINT8 Status;
} FINISH_DATA;

// The sender's input block: CH, CL and the data buffer.
typedef struct {
  UINT8 ClearCmos;
  UINT8 Action;
  FINISH_DATA Data;
} FLASH_COMPLETE_BLOCK;
#pragma pack(pop)

typedef struct {
  UINT8 Action;
  UINT8 Status;
} COMPLETION_STATE;

extern COMPLETION_STATE mCompletion;

VOID CompletionResetState(VOID);

// Recomputes the action from [FlashComplete] Action and -r/-s/-n, then applies
// Action and Status unless they are COMPLETE_KEEP.
VOID SetStatus_16h(UINT8 Action, UINT8 Status);
// The action the BIOS asked for in the common-flash exchange, when it allowed
// the update (see CommonFlashActionOverride); FALSE leaves Action untouched.
BOOLEAN CommonFlashCompleteActionOverride(UINT8 *Action);

// Sends the recorded completion (clear-CMOS 0).
BOOLEAN SMI_FlashComplete(VOID);
// Sends Action and Status at once; the recorded completion stays as it is.
BOOLEAN FuncSpecific_16h(UINT8 Action, UINT8 Status);
// One 16h request under the retry policy; ErrorOut (optional) gets the last
// status. TRUE when the BIOS answered 0.
BOOLEAN Fwsmi_16h(CONST FLASH_COMPLETE_BLOCK *Block, UINT8 *ErrorOut);

// Programs the RTC alarm Interval seconds from now when a shut-down is
// wanted; TRUE when it was programmed.
BOOLEAN AutoWakeup(UINT32 Interval);

// Names traced with the values; "" for a value without a name.
CONST CHAR16 *CompleteActionName(UINT8 Action);
CONST CHAR16 *CompleteStatusName(UINT8 Status);

#endif  // VYR_COMPLETION_H_

// What the emulated BIOS answers to the update flows' checks and records of
// them (EMU_CHECKS), filled by the machine from the profile. Only types,
// below the handlers, so that EMU_BIOS can hold them. Freestanding, like the
// BIOS core.
#ifndef VYR_EMU_CHECK_STATE_H_
#define VYR_EMU_CHECK_STATE_H_

#include "Base.h"

#define EMU_CHECKS_STATUS_NOT_SUPPORTED 0xEF
#define EMU_CHECKS_STATUS_BAD_REQUEST 0x11   // unreadable buffer or wrong signature
#define EMU_CHECKS_STATUS_CANNOT_VERIFY 0x28  // 1Bh: this block proves nothing, try the next

#define EMU_CHECKS_STRING_LIST_SIZE 256   // 19h, each way
#define EMU_CHECKS_NOTIFY_RING_SIZE 16    // 1Ah notifications kept
#define EMU_CHECKS_INI_STRINGS 3          // 1Dh: sections, keys, values
#define EMU_CHECKS_INI_STRING_SIZE 4096
#define EMU_CHECKS_CONDITION_KEPT 64       // 45h data bytes recorded
#define EMU_CHECKS_RESTORE_SIZE 16         // 49h "$RDI"
#define EMU_CHECKS_RESTORE_UNKNOWN 0x8000  // 49h status word: request not known
#define EMU_CHECKS_EDI_SIZE 14             // 41h request header read
#define EMU_CHECKS_EDO_SIZE 52             // 41h answer written
#define EMU_CHECKS_EDO_STRUCTURE_SIZE 24   // structure size inside the answer
#define EMU_CHECKS_EDO_NOT_SUPPORTED 0x8000
#define EMU_CHECKS_PROGRESS_SIZE 16        // "$67I"
#define EMU_CHECKS_PASSWORD_BUFFER 269     // 43h
#define EMU_CHECKS_PASSWORD_CHARS 256      // 255 characters + terminator
#define EMU_CHECKS_COMMON_ITEMS_SIZE 1024  // 44h buffer 1
#define EMU_CHECKS_COMMON_SWITCHES_SIZE 512  // 44h buffer 2 recorded (up to its 0xFF)
#define EMU_CHECKS_CAPSULE_RECORD_SIZE 9   // 48h "$EXT" / "$EXO"
#define EMU_CHECKS_EC_REQUEST_SIZE 52      // 21h
#define EMU_CHECKS_MAX_EC_PARTS 10

typedef struct {
  UINT8 Action;  // CL
  UINT8 Status;  // CH
} EMU_CHECKS_NOTIFICATION;

typedef struct {
  // ---- 19h: OEM/ODM string exchange ----
  // The list written back: NUL-terminated strings ended by 0xFF, zero-filled.
  UINT8 StringAnswer[EMU_CHECKS_STRING_LIST_SIZE];
  UINT32 StringRequests;
  UINT8 StringRequest[EMU_CHECKS_STRING_LIST_SIZE];  // latest list received
  UINT8 StringCl;

  // ---- 1Ah: OEM/ODM notifications ----
  UINT8 NotifyStatus;  // AL answered to every notification
  EMU_CHECKS_NOTIFICATION Notifications[EMU_CHECKS_NOTIFY_RING_SIZE];  // oldest overwritten first
  UINT32 NotificationCount;

  // ---- 1Bh: skip-model-check verify ----
  UINT8 SkipModelStatus;  // AL for every block: 0 verified, 0x28 not this block, 0xEF not supported
  UINT32 SkipModelRequests;
  UINT32 SkipModelLastAddress;  // EDI
  UINT32 SkipModelLastLength;   // ECX

  // ---- 1Dh: settings record ----
  UINT8 IniStatus;
  UINT32 IniRequests;
  UINT32 IniAddresses[EMU_CHECKS_INI_STRINGS];
  UINT32 IniLengths[EMU_CHECKS_INI_STRINGS];  // bytes up to each string's NUL
  UINT32 IniBytes;                            // their sum

  // ---- 45h: conditional data ----
  BOOLEAN ConditionSupported;  // FALSE: 0xEF
  UINT8 ConditionResult;       // answer byte 12: 0 not allowed, other allowed
  UINT32 ConditionRequests;
  UINT8 ConditionType;
  UINT8 ConditionFormat;
  UINT16 ConditionLength;
  UINT8 ConditionData[EMU_CHECKS_CONDITION_KEPT];  // first bytes of the latest data

  // ---- 49h: factory-copy restore ----
  UINT8 RestoreStatus;  // AL
  UINT16 RestoreWord;   // status word written at offset 14
  UINT32 RestoreRequests;

  // ---- 41h: extra-data status ----
  BOOLEAN Pfat;  // the 0x58 support query answers "supported"
  UINT32 ProgressReports;
  UINT32 ProgressIndex;  // latest "$67I" current block
  UINT32 ProgressTotal;  // latest "$67I" total blocks
  UINT32 PfatQueries;
  UINT32 ExtraDataRequests;  // every 41h call
  UINT8 LastExtraDataType;

  // ---- 43h: password ----
  CHAR8 Password[EMU_CHECKS_PASSWORD_CHARS];  // empty: no password set
  UINT32 PasswordQueries;
  UINT32 PasswordVerifies;
  UINT32 PasswordWrong;
  CHAR8 LastPasswordTried[EMU_CHECKS_PASSWORD_CHARS];

  // ---- 44h: common flash ----
  BOOLEAN CommonFlashSupported;  // FALSE: 0xEF
  UINT16 CommonFlashPermit;
  UINT16 CommonFlashMessage;
  UINT16 CommonFlashAction;
  UINT32 CommonFlashRequests;
  UINT8 CommonFlashItems[EMU_CHECKS_COMMON_ITEMS_SIZE];        // latest buffer 1
  UINT8 CommonFlashSwitches[EMU_CHECKS_COMMON_SWITCHES_SIZE];  // latest buffer 2 up to its 0xFF
  UINT32 CommonFlashSwitchesLength;

  // ---- 48h: secure capsule ----
  BOOLEAN Secure;
  BOOLEAN EspSupport;       // answer flags bit 0
  UINT8 CapsuleStatus;      // AL for a capsule that passed every check (0 accepts it)
  UINT8 CapsuleAction;      // CL with it
  UINT32 SecureQueries;
  UINT32 CapsuleSubmissions;
  UINT32 LastCapsuleSize;
  UINT32 LastCapsuleBlocks;  // descriptor count of the block list
  UINT8 LastCapsuleFlags;

  // ---- 4Ch: OEM secure ----
  BOOLEAN OemSecure;
  UINT32 OemSecureQueries;
  UINT32 OemCapsuleSubmissions;

  // ---- 21h: EC part information ----
  UINT32 EcPartCount;  // 0: the machine has no EC (0xEF)
  UINT32 EcPartSizes[EMU_CHECKS_MAX_EC_PARTS];
  UINT32 EcRequests;
  UINT8 EcLastIndex;  // CH of the latest request
  UINT32 EcLastSize;  // image size of the latest request
} EMU_CHECKS;

#endif  // VYR_EMU_CHECK_STATE_H_

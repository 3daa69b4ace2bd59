// Platform queries: hook points and the platform answers other parts switch on.
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

typedef struct {
  UINT16 VendorId;  // as reported by 10h (0 until it has answered)
} PLATFORM_QUERY_STATE;

extern PLATFORM_QUERY_STATE mPlatformQuery;

VOID PlatformQueryResetState(VOID);

CONST CHAR16 *HookPointName(UINT32 Code);
BOOLEAN SMI_ApHookPoint(UINT32 Code);
BOOLEAN Fwsmi_1Fh(UINT32 Code);
BOOLEAN IsVendorId(UINT16 VendorId);

#endif  // VYR_PLATFORM_QUERIES_H_

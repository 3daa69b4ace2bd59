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

#define COMMAND_FILTER_BITMAP_BYTES 16

// The BIOS's command filter: a bitmap length and at most 16 bitmap bytes.
// Byte g holds the options of group g, bit b the option with index b.
typedef struct {
  UINT32 Length;  // as the BIOS reported it (its structure size - 12); may exceed the bitmap
  UINT8 Bitmap[COMMAND_FILTER_BITMAP_BYTES];
} COMMAND_FILTER_TABLE;

typedef struct {
  UINT16 VendorId;  // as reported by 10h (0 until it has answered)
  UINT8 CommandFilterPresent;
  COMMAND_FILTER_TABLE CommandFilter;
} PLATFORM_QUERY_STATE;

extern PLATFORM_QUERY_STATE mPlatformQuery;

VOID PlatformQueryResetState(VOID);

CONST CHAR16 *HookPointName(UINT32 Code);
BOOLEAN SMI_ApHookPoint(UINT32 Code);
BOOLEAN Fwsmi_1Fh(UINT32 Code);
BOOLEAN IsVendorId(UINT16 VendorId);
UINT8 IsCommandFilterEnabled(VOID);
BOOLEAN GetCommandFilterTable(COMMAND_FILTER_TABLE *Table);
// Whether the filter lets the option at (Byte, Bit) through: a byte at or
// beyond the reported length, or beyond the 16-byte bitmap, is not set.
BOOLEAN IsCommandFilterBitSet(CONST COMMAND_FILTER_TABLE *Table, UINTN Byte, UINTN Bit);

#endif  // VYR_PLATFORM_QUERIES_H_

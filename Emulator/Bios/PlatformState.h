// What the emulated BIOS's platform functions (10h, 11h, 1Ch, 16h) answer and
// record: EMU_PLATFORM and EMU_COMPLETION, which the machine fills from the
// profile. Only types, below the handlers, so that EMU_BIOS can hold them.
// Freestanding, like the BIOS core.
#ifndef VYR_EMU_PLATFORM_STATE_H_
#define VYR_EMU_PLATFORM_STATE_H_

#include "Base.h"

#define EMU_PLATFORM_TOOL_INFORMATION_SIZE 18
#define EMU_PLATFORM_STATUS_SIZE 1024
#define EMU_PLATFORM_INFO_AREA_SIZE 320
#define EMU_PLATFORM_MODEL_NAME_CHARS 32  // 64 bytes of UTF-16
#define EMU_PLATFORM_VERSION_CHARS 128    // 256 bytes of UTF-16
#define EMU_PLATFORM_EXTENDED_HEADER_SIZE 12
// Room for any bitmap a profile gives: the whole status output.
#define EMU_PLATFORM_FILTER_BITMAP_MAX EMU_PLATFORM_STATUS_SIZE

// AL answered when the request's buffer is unreadable or does not carry its
// signature ("$VER" for 10h, "$BUFFER_" for 11h).
#define EMU_PLATFORM_STATUS_BAD_REQUEST 0x11

typedef struct {
  // ---- Answers (from the profile) ----
  UINT8 Permission;          // AH of 10h
  UINT16 InterfaceVersion;   // CH:CL of 10h
  UINT8 AcPlug;
  UINT8 DcLife;
  UINT8 DcBound;
  UINT32 Help1;
  UINT32 Help2;
  UINT16 VendorId;
  // "$BIOSCHK" structure: signature, 32-bit size, Check BVDT flag.
  BOOLEAN BiosCheckPresent;
  UINT32 BiosCheckOffset;    // 13 where the utility looks for it
  UINT32 BiosCheckSize;
  UINT8 CheckBvdt;
  // "$CMDFILT" structure: signature, 32-bit size, then size - 12 bitmap bytes
  // (the given bitmap, zero-padded). Cut at the end of the 1024-byte output.
  BOOLEAN CommandFilterPresent;
  UINT32 CommandFilterOffset;
  UINT32 CommandFilterSize;
  UINT32 CommandFilterBitmapLength;
  UINT8 CommandFilterBitmap[EMU_PLATFORM_FILTER_BITMAP_MAX];
  // Zero-terminated unless they fill their field.
  CHAR16 ModelName[EMU_PLATFORM_MODEL_NAME_CHARS];
  CHAR16 Version[EMU_PLATFORM_VERSION_CHARS];
  UINT8 Switches;            // AH of 11h
  UINT32 ExtendedSwitches;   // ECX of 11h
  UINT8 AntiTheft;           // CL of 1Ch

  // ---- What the utility handed in (latest call) ----
  UINT8 ToolInformation[EMU_PLATFORM_TOOL_INFORMATION_SIZE];
  BOOLEAN ToolInformationSeen;
  UINT8 ExtendedHeader[EMU_PLATFORM_EXTENDED_HEADER_SIZE];  // "$BUFFER_" and its size
  BOOLEAN ExtendedHeaderSeen;
} EMU_PLATFORM;

// What the utility asked for at the end of its run (16h). The data buffer at
// ESI must carry "$FINISHI" and the size 13; anything else is answered with
// EMU_COMPLETION_STATUS_BAD_BUFFER and recorded only as malformed.
#define EMU_COMPLETION_SIGNATURE "$FINISHI"
#define EMU_COMPLETION_DATA_SIZE 13
#define EMU_COMPLETION_STATUS_BAD_BUFFER 0x11
#define EMU_COMPLETION_ACTION_REBOOT 2  // CL: 0 return to OS, 1 shut down, 2 reboot, 3 S3

typedef struct {
  UINT32 Requests;           // well-formed 16h calls answered
  UINT32 MalformedRequests;  // refused for their buffer
  // Latest well-formed request.
  UINT8 ClearCmos;           // CH
  UINT8 Action;              // CL
  UINT8 Status;              // byte 12 of the data buffer
} EMU_COMPLETION;

#endif  // VYR_EMU_PLATFORM_STATE_H_

// The map listings of -pq, -priv, -pw, -pr and -pi, the same tables in the
// trace, and the block protect table trace.
#include "BaseLib.h"
#include "Console/FileAccess.h"
#include "Console/Print.h"
#include "Console/Trace.h"
#include "Flash/RomMap.h"
#include "Startup.h"

#define LISTING_LINE_CHARS 512

typedef enum { TO_CONSOLE, TO_TRACE } LISTING_OUTPUT;

// One formatted line (the formatter turns each LF into CR LF) to the console
// or the trace.
static VOID Emit(LISTING_OUTPUT Output, CONST CHAR16 *Format, ...) {
  if (Output == TO_TRACE && !IsTraceTaken(4)) {
    return;
  }
  CHAR16 Line[LISTING_LINE_CHARS];
  va_list Marker;
  va_start(Marker, Format);
  UnicodeVSPrint(Line, sizeof(Line), Format, Marker);
  va_end(Marker);
  if (Output == TO_CONSOLE) {
    Print(u"%s", Line);
  } else {
    DebugPrint(4, u"%s", Line);
  }
}

static CONST CHAR16 mProtectHeader[] =
    u"                Protection Region MAP\r\n"
    u" Type | Start Addr |  End Addr  |    Size    | Description \r\n"
    u"------+------------+------------+------------+-------------\r\n";
static CONST CHAR16 mPrivateHeader[] =
    u"                Private Region MAP\r\n"
    u" Type | Start Addr |  End Addr  |    Size    | Description \r\n"
    u"------+------------+------------+------------+-------------\r\n";
static CONST CHAR16 mWholeHeader[] =
    u"                Whole Region MAP\r\n"
    u" Type | Start Addr |  End Addr  |    Size    |   Offset   |Attrib| Description \r\n"
    u"------+------------+------------+------------+------------+------+-------------\r\n";
static CONST CHAR16 mExternalHeader[] =
    u"                External Region MAP\r\n"
    u" Type | Start Addr |  End Addr  |    Size    |   Offset   |Access| Description \r\n"
    u"------+------------+------------+------------+------------+------+-------------\r\n";
static CONST CHAR16 mBvdtHeader[] =
    u"                BVDT Protect/Private Region MAP\r\n"
    u" Type | Start Addr |  End Addr  |    Size    | Action | Description \r\n"
    u"------+------------+------------+------------+--------+-------------\r\n";

static CONST CHAR16 mMapRow[] = u"  %02Xh | 0x%08X | 0x%08X | 0x%08X |%13s\r\n";
static CONST CHAR16 mOffsetRow[] = u"  %02Xh | 0x%08X | 0x%08X | 0x%08X | 0x%08X |   %X  |%13s\r\n";
static CONST CHAR16 mBvdtRow[] = u"  %02Xh | 0x%08X | 0x%08X | 0x%08X |    %d   |%13s\r\n";

// The end column: a region that would run past 4 GiB is shown ending there.
static UINT32 EndOf(UINT32 Start, UINT32 Size) {
  UINT64 End = (UINT64)Start + Size - 1;
  return End > 0xFFFFFFFFull ? 0xFFFFFFFFu : (UINT32)End;
}

static VOID ProtectTable(LISTING_OUTPUT Output, UINT32 Count, CONST PROTECT_MAP_ENTRY *Map) {
  Emit(Output, u"%s", mProtectHeader);
  for (UINT32 Index = 0; Index < Count; Index++) {
    Emit(Output, mMapRow, Map[Index].Type, Map[Index].Address, EndOf(Map[Index].Address, Map[Index].Size),
         Map[Index].Size, RomRegionTypeName(Map[Index].Type));
  }
  Emit(Output, u"\r\n");
}

static VOID PrivateTable(LISTING_OUTPUT Output, UINT32 Count, CONST PRIVATE_MAP_ENTRY *Map) {
  Emit(Output, u"%s", mPrivateHeader);
  for (UINT32 Index = 0; Index < Count; Index++) {
    Emit(Output, mMapRow, ROM_TYPE_PRIVATE, Map[Index].Address, EndOf(Map[Index].Address, Map[Index].Size),
         Map[Index].Size, RomRegionTypeName(ROM_TYPE_PRIVATE));
  }
  Emit(Output, u"\r\n");
}

static VOID WholeTable(LISTING_OUTPUT Output) {
  Emit(Output, u"%s", mWholeHeader);
  for (UINT32 Index = 0; Index < mRomMap.WholeCount; Index++) {
    CONST WHOLE_ROM_RECORD *R = &mRomMap.WholeRecords[Index];
    Emit(Output, mOffsetRow, R->Type, R->Start, R->End, R->Size, R->Offset, R->Attribute, WholeRegionTypeName(R->Type));
  }
  Emit(Output, u"\r\n");
}

static VOID ExternalTable(LISTING_OUTPUT Output) {
  Emit(Output, u"%s", mExternalHeader);
  for (UINT32 Index = 0; Index < mRomMap.CurrentCount; Index++) {
    CONST EXTERNAL_REGION_ENTRY *R = &mRomMap.CurrentMap[Index];
    UINT32 Start = mRomMap.RomBase + R->Offset;
    Emit(Output, mOffsetRow, R->Type, Start, EndOf(Start, R->Size), R->Size, R->Offset, R->Access,
         ExternalRegionTypeName(R->Type));
  }
  Emit(Output, u"\r\n");
}

static VOID BvdtTable(LISTING_OUTPUT Output) {
  Emit(Output, u"%s", mBvdtHeader);
  for (UINT32 Index = 0; Index < mRomMap.BvdtCount; Index++) {
    UINT32 Start = mRomMap.BvdtStart[Index];
    UINT32 End = mRomMap.BvdtEnd[Index];
    Emit(Output, mBvdtRow, mRomMap.BvdtType[Index], Start, End, End - Start + 1, mRomMap.BvdtAction[Index],
         RomRegionTypeName(mRomMap.BvdtType[Index]));
  }
  Emit(Output, u"\r\n");
}

VOID TraceProtectMapTable(UINT32 Count, CONST PROTECT_MAP_ENTRY *Map) { ProtectTable(TO_TRACE, Count, Map); }
VOID TracePrivateMapTable(UINT32 Count, CONST PRIVATE_MAP_ENTRY *Map) { PrivateTable(TO_TRACE, Count, Map); }
VOID TraceWholeMapTable(VOID) { WholeTable(TO_TRACE); }
VOID TraceBvdtMapTable(VOID) { BvdtTable(TO_TRACE); }

BOOLEAN ShowProtectRegionMap(VOID) {
  PrintBanner(FALSE);
  ProtectTable(TO_CONSOLE, mRomMap.ProtectCount, mRomMap.ProtectMap);
  return TRUE;
}

BOOLEAN ShowPrivateRegionMap(VOID) {
  PrintBanner(FALSE);
  PrivateTable(TO_CONSOLE, mRomMap.PrivateCount, mRomMap.PrivateMap);
  return TRUE;
}

BOOLEAN ShowWholeRegionMap(VOID) {
  PrintBanner(FALSE);
  WholeTable(TO_CONSOLE);
  return TRUE;
}

BOOLEAN ShowExternalRegionMap(VOID) {
  FuncEnter(u"ShowExternalRegionMap");
  PrintBanner(FALSE);
  if (!GetExternalRegionMap(NULL, 0)) {
    FuncExit(u"ShowExternalRegionMap", u"Get Intel region map failed");
    return FALSE;
  }
  ExternalTable(TO_CONSOLE);
  FuncExit(u"ShowExternalRegionMap", NULL);
  return TRUE;
}

BOOLEAN ShowBvdtRegionMap(CONST CHAR16 *FileName) {
  FuncEnter(u"ShowBvdtRegionMap");
  PrintBanner(FALSE);
  VOID *Image = NULL;
  UINT32 Size = 0;
  if (FileName == NULL || !EfiReadFile(FileName, &Image, &Size)) {
    Print(u"Error: Load file failed!\r\n");
    FuncExit(u"ShowBvdtRegionMap", u"Load file failed");
    return FALSE;
  }
  BOOLEAN Found = ReadBvdtRomMap((CONST UINT8 *)Image, Size);
  FreePool(Image);
  if (!Found) {
    Print(u"Error: The region map is NOT found!\r\n");
    FuncExit(u"ShowBvdtRegionMap", u"Region map not found");
    return FALSE;
  }
  BvdtTable(TO_CONSOLE);
  FuncExit(u"ShowBvdtRegionMap", NULL);
  return TRUE;
}

// ---- Block protect table -------------------------------------------------------

#define PROTECT_TABLE_LINE_BLOCKS 16
#define PROTECT_TABLE_TRACE_LINES 16
#define PROTECT_TABLE_LINE_CHARS 64
#define PROTECT_TABLE_TEXT_CHARS (PROTECT_TABLE_TRACE_LINES * PROTECT_TABLE_LINE_CHARS + 1)

VOID TraceRomBlockProtectTable(VOID) {
  if (!IsTraceTaken(4)) {
    return;
  }
  CHAR8 *Text = (CHAR8 *)AllocateZeroPool(PROTECT_TABLE_TEXT_CHARS);
  if (Text == NULL) {
    return;
  }
  UINTN Length = 0;
  UINT32 Lines = 0;
  for (UINT32 First = 0; First < mRomMap.BlockCount; First += PROTECT_TABLE_LINE_BLOCKS) {
    CHAR8 Flags[PROTECT_TABLE_LINE_BLOCKS + 4];
    UINTN Used = 0;
    for (UINT32 Index = First; Index < mRomMap.BlockCount && Index < First + PROTECT_TABLE_LINE_BLOCKS; Index++) {
      if (Index - First == 8) {
        Flags[Used++] = ' ';
        Flags[Used++] = '-';
        Flags[Used++] = ' ';
      }
      Flags[Used++] = mRomMap.BlockTable[Index].Protect != 0 ? 'R' : '.';
    }
    Flags[Used] = 0;
    CHAR8 Size[16];
    AsciiSPrint(Size, sizeof(Size), "(%2dK)", mRomMap.BlockTable[First].Size / 1024);
    Length += AsciiSPrint(Text + Length, PROTECT_TABLE_TEXT_CHARS - Length, "[%6d] %08X:  %a    %a\n", First,
                          mRomMap.BlockTable[First].Address, Size, Flags);
    Lines++;
    if (Lines == PROTECT_TABLE_TRACE_LINES) {
      DebugPrint(4, u"%a\r\n", Text);
      Length = 0;
      Lines = 0;
      Text[0] = 0;
    }
  }
  if (Lines != 0) {
    DebugPrint(4, u"%a\r\n", Text);
  }
  FreePool(Text);
}

// The map tables of the listings, to the console or the trace. They take the
// maps they show, so the map module can trace what it has just read.
#include "Flash/RomMapTables.h"

#include "Base/Print.h"
#include "Base/RegionNames.h"
#include "Base/Trace.h"
#include "Flash/RomMapTypes.h"

#define LISTING_LINE_CHARS 512

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

VOID ProtectMapTable(LISTING_OUTPUT Output, UINT32 Count, CONST PROTECT_MAP_ENTRY *Map) {
  Emit(Output, u"%s", mProtectHeader);
  for (UINT32 Index = 0; Index < Count; Index++) {
    Emit(Output, mMapRow, Map[Index].Type, Map[Index].Address, EndOf(Map[Index].Address, Map[Index].Size),
         Map[Index].Size, RomRegionTypeName(Map[Index].Type));
  }
  Emit(Output, u"\r\n");
}

VOID PrivateMapTable(LISTING_OUTPUT Output, UINT32 Count, CONST PRIVATE_MAP_ENTRY *Map) {
  Emit(Output, u"%s", mPrivateHeader);
  for (UINT32 Index = 0; Index < Count; Index++) {
    Emit(Output, mMapRow, ROM_TYPE_PRIVATE, Map[Index].Address, EndOf(Map[Index].Address, Map[Index].Size),
         Map[Index].Size, RomRegionTypeName(ROM_TYPE_PRIVATE));
  }
  Emit(Output, u"\r\n");
}

VOID WholeMapTable(LISTING_OUTPUT Output, CONST ROM_MAP_STATE *Map) {
  Emit(Output, u"%s", mWholeHeader);
  for (UINT32 Index = 0; Index < Map->WholeCount; Index++) {
    CONST WHOLE_ROM_RECORD *R = &Map->WholeRecords[Index];
    Emit(Output, mOffsetRow, R->Type, R->Start, R->End, R->Size, R->Offset, R->Attribute, WholeRegionTypeName(R->Type));
  }
  Emit(Output, u"\r\n");
}

VOID ExternalMapTable(LISTING_OUTPUT Output, CONST ROM_MAP_STATE *Map) {
  Emit(Output, u"%s", mExternalHeader);
  for (UINT32 Index = 0; Index < Map->CurrentCount; Index++) {
    CONST EXTERNAL_REGION_ENTRY *R = &Map->CurrentMap[Index];
    UINT32 Start = Map->RomBase + R->Offset;
    Emit(Output, mOffsetRow, R->Type, Start, EndOf(Start, R->Size), R->Size, R->Offset, R->Access,
         ExternalRegionTypeName(R->Type));
  }
  Emit(Output, u"\r\n");
}

VOID BvdtMapTable(LISTING_OUTPUT Output, CONST ROM_MAP_STATE *Map) {
  Emit(Output, u"%s", mBvdtHeader);
  for (UINT32 Index = 0; Index < Map->BvdtCount; Index++) {
    UINT32 Start = Map->BvdtStart[Index];
    UINT32 End = Map->BvdtEnd[Index];
    Emit(Output, mBvdtRow, Map->BvdtType[Index], Start, End, End - Start + 1, Map->BvdtAction[Index],
         RomRegionTypeName(Map->BvdtType[Index]));
  }
  Emit(Output, u"\r\n");
}

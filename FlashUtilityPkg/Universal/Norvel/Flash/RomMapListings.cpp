// The map listings of -pq, -priv, -pw, -pr and -pi, and the block protect
// table trace.
#include "Flash/RomMapListings.h"

#include "Base/Banner.h"
#include "Base/Print.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Console/FileAccess.h"
#include "Flash/RomMap.h"
#include "Flash/RomMapTables.h"

BOOLEAN ShowProtectRegionMap(VOID) {
  PrintBanner(FALSE);
  ProtectMapTable(TO_CONSOLE, mRomMap.ProtectCount, mRomMap.ProtectMap);
  return TRUE;
}

BOOLEAN ShowPrivateRegionMap(VOID) {
  PrintBanner(FALSE);
  PrivateMapTable(TO_CONSOLE, mRomMap.PrivateCount, mRomMap.PrivateMap);
  return TRUE;
}

BOOLEAN ShowWholeRegionMap(VOID) {
  PrintBanner(FALSE);
  WholeMapTable(TO_CONSOLE, &mRomMap);
  return TRUE;
}

BOOLEAN ShowExternalRegionMap(VOID) {
  FuncEnter(u"ShowExternalRegionMap");
  PrintBanner(FALSE);
  if (!GetExternalRegionMap(NULL, 0)) {
    FuncExit(u"ShowExternalRegionMap", u"Get Intel region map failed");
    return FALSE;
  }
  ExternalMapTable(TO_CONSOLE, &mRomMap);
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
  BvdtMapTable(TO_CONSOLE, &mRomMap);
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

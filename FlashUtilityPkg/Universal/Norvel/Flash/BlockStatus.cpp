#include "Flash/BlockStatus.h"

#include "Base/Print.h"
#include "Base/RegionNames.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Flash/RomMap.h"

BLOCK_STATUS_STATE mBlockStatus;

VOID BlockStatusResetState(VOID) {
  if (mBlockStatus.Entries != NULL) {
    FreePool(mBlockStatus.Entries);
  }
  ZeroMem(&mBlockStatus, sizeof(mBlockStatus));
}

// "........ - ........": eight blocks, " - ", eight blocks.
#define COLUMN_CHARS 19
#define ROW_CHARS 160
#define ROWS_PER_GROUP (BLOCK_STATUS_GROUP / BLOCK_STATUS_ROW_BLOCKS)

static CONST CHAR16 mBase32Digits[] = u"0123456789abcdefghijklmnopqrstuv";

static VOID StartColumn(CHAR16 *Column) {
  for (UINTN Index = 0; Index < COLUMN_CHARS; Index++) {
    Column[Index] = u'.';
  }
  Column[8] = u' ';
  Column[9] = u'-';
  Column[10] = u' ';
  Column[COLUMN_CHARS] = 0;
}

// Block Slot (0-15) of a row sits at this column position.
static UINTN ColumnPosition(UINTN Slot) { return Slot < 8 ? Slot : Slot + 3; }

static CHAR16 ProtectTypeDigit(UINT32 Address) {
  UINT8 Type = 0;
  if (!GetProtectTypeAt(Address, &Type)) {
    return u'.';
  }
  // One base-32 digit holds types up to 1Fh; larger ones (0xFE) show '+'.
  return Type < 32 ? mBase32Digits[Type] : u'+';
}

static VOID TraceRow(CONST BLOCK_STATUS_ENTRY *Row) {
  CHAR16 Reserve[COLUMN_CHARS + 1];
  CHAR16 Outcome[COLUMN_CHARS + 1];
  CHAR16 Types[COLUMN_CHARS + 1];
  CHAR16 Regions[COLUMN_CHARS + 1];
  StartColumn(Reserve);
  StartColumn(Outcome);
  StartColumn(Types);
  StartColumn(Regions);
  BOOLEAN MapKnown = mRomMap.ExternalMapKnown;
  BOOLEAN SameRegion = MapKnown;
  UINT8 FirstRegion = 0;
  BOOLEAN FirstInRegion = FALSE;
  for (UINTN Slot = 0; Slot < BLOCK_STATUS_ROW_BLOCKS; Slot++) {
    UINTN At = ColumnPosition(Slot);
    UINT32 Address = Row[Slot].Address;
    Reserve[At] = GetBlockProtectFlagAt(Address) != 0 ? u'R' : u'.';
    Outcome[At] = Row[Slot].Outcome;
    Types[At] = ProtectTypeDigit(Address);
    if (MapKnown) {
      UINT8 Region = 0;
      BOOLEAN Inside = GetExternalTypeAt(Address, &Region);
      if (Inside) {
        Regions[At] = ExternalRegionTypeName(Region)[0];
      }
      if (Slot == 0) {
        FirstRegion = Region;
        FirstInRegion = Inside;
      } else if (!Inside || !FirstInRegion || Region != FirstRegion) {
        SameRegion = FALSE;
      }
    }
  }
  if (!MapKnown) {
    Regions[0] = 0;
  } else if (SameRegion && FirstInRegion) {
    UnicodeSPrint(Regions, sizeof(Regions), u"[ %-16s]", ExternalRegionTypeName(FirstRegion));
  }
  DebugPrint(4, u"[%8X] %08X:  %s    %s    %s    %s\r\n", Row[0].Address - GetRomBase(), Row[0].Address, Reserve,
             Outcome, Types, Regions);
}

// The last group of entries, eight rows of sixteen, as one trace.
static VOID TraceGroup(CONST BLOCK_STATUS_ENTRY *Group) {
  for (UINTN Row = 0; Row < ROWS_PER_GROUP; Row++) {
    TraceRow(Group + Row * BLOCK_STATUS_ROW_BLOCKS);
  }
}

VOID LogBlockStatus(UINT32 Address, CHAR16 Outcome) {
  if (!IsDebugOn()) {
    return;
  }
  if (!mBlockStatus.Started) {
    mBlockStatus.Started = TRUE;
    mBlockStatus.Capacity = GetBlockCount() + 1;
    mBlockStatus.Entries = (BLOCK_STATUS_ENTRY *)AllocateZeroPool(mBlockStatus.Capacity * sizeof(BLOCK_STATUS_ENTRY));
    DebugPrint(4, u" Hex |base32\r\n-----+------\r\n");
    DebugPrint(4, u"  Fh |  f\r\n");
    for (UINT32 Value = 0x10; Value <= 0x1F; Value++) {
      DebugPrint(4, u" %02Xh |  %c\r\n", Value, (UINTN)mBase32Digits[Value]);
    }
  }
  // Without room (no memory, or more blocks than the flash part has) the
  // entry is not logged; the flash goes on.
  if (mBlockStatus.Entries == NULL || mBlockStatus.Count >= mBlockStatus.Capacity) {
    return;
  }
  mBlockStatus.Entries[mBlockStatus.Count].Address = Address;
  mBlockStatus.Entries[mBlockStatus.Count].Outcome = Outcome;
  mBlockStatus.Count++;
  if (mBlockStatus.Count % BLOCK_STATUS_GROUP == 0) {
    TraceGroup(mBlockStatus.Entries + mBlockStatus.Count - BLOCK_STATUS_GROUP);
    if (mBlockStatus.Count % (2 * BLOCK_STATUS_GROUP) == 0) {
      DebugPrint(4, u"\r\n");
    }
  }
}

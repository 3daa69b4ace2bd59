#include "Flash/KeptRanges.h"

#include "BaseLib.h"

VOID KeptRangesClear(KEPT_RANGES *Set) {
  Set->Count = 0;
  Set->Overflow = FALSE;
}

// The first range that ends at or after Address.
static UINT32 FirstEndingFrom(CONST KEPT_RANGES *Set, UINT32 Address) {
  UINT32 Low = 0;
  UINT32 High = Set->Count;
  while (Low < High) {
    UINT32 Middle = Low + (High - Low) / 2;
    if (Set->High[Middle] < Address) {
      Low = Middle + 1;
    } else {
      High = Middle;
    }
  }
  return Low;
}

// Replaces entries [From, To) with Count entries (room already checked).
static VOID Splice(KEPT_RANGES *Set, UINT32 From, UINT32 To, UINT32 Count) {
  UINT32 Tail = Set->Count - To;
  CopyMem(&Set->Low[From + Count], &Set->Low[To], Tail * sizeof(UINT32));
  CopyMem(&Set->High[From + Count], &Set->High[To], Tail * sizeof(UINT32));
  Set->Count = From + Count + Tail;
}

BOOLEAN KeptRangesAdd(KEPT_RANGES *Set, UINT32 Low, UINT32 High) {
  if (Low > High) {
    return TRUE;
  }
  // Ranges that touch or overlap [Low, High] merge with it.
  UINT32 From = Low == 0 ? 0 : FirstEndingFrom(Set, Low - 1);
  UINT32 To = From;
  UINT32 NewLow = Low;
  UINT32 NewHigh = High;
  while (To < Set->Count && ((UINT64)Set->Low[To] <= (UINT64)High + 1)) {
    NewLow = Set->Low[To] < NewLow ? Set->Low[To] : NewLow;
    NewHigh = Set->High[To] > NewHigh ? Set->High[To] : NewHigh;
    To++;
  }
  if (To == From && Set->Count == KEPT_RANGES_MAX) {
    return FALSE;
  }
  Splice(Set, From, To, 1);
  Set->Low[From] = NewLow;
  Set->High[From] = NewHigh;
  return TRUE;
}

BOOLEAN KeptRangesRemove(KEPT_RANGES *Set, UINT32 Low, UINT32 High) {
  if (Low > High) {
    return TRUE;
  }
  UINT32 From = FirstEndingFrom(Set, Low);
  if (From == Set->Count || Set->Low[From] > High) {
    return TRUE;
  }
  // One range reaching past both ends: it splits in two.
  if (Set->Low[From] < Low && Set->High[From] > High) {
    if (Set->Count == KEPT_RANGES_MAX) {
      Set->Overflow = TRUE;
      return FALSE;
    }
    UINT32 OldHigh = Set->High[From];
    Splice(Set, From + 1, From + 1, 1);
    Set->High[From] = Low - 1;
    Set->Low[From + 1] = High + 1;
    Set->High[From + 1] = OldHigh;
    return TRUE;
  }
  if (Set->Low[From] < Low) {
    Set->High[From] = Low - 1;
    From++;
  }
  UINT32 To = From;
  while (To < Set->Count && Set->High[To] <= High) {
    To++;
  }
  if (To < Set->Count && Set->Low[To] <= High) {
    Set->Low[To] = High + 1;
  }
  Splice(Set, From, To, 0);
  return TRUE;
}

BOOLEAN KeptRangesOverlap(CONST KEPT_RANGES *Set, UINT32 Low, UINT32 High, UINT32 *HitLow, UINT32 *HitHigh) {
  UINT32 At = FirstEndingFrom(Set, Low);
  if (Low > High || At == Set->Count || Set->Low[At] > High) {
    return FALSE;
  }
  if (HitLow != NULL) {
    *HitLow = Set->Low[At];
  }
  if (HitHigh != NULL) {
    *HitHigh = Set->High[At];
  }
  return TRUE;
}

BOOLEAN KeptRangesCover(CONST KEPT_RANGES *Set, UINT32 Low, UINT32 High) {
  UINT32 At = FirstEndingFrom(Set, Low);
  return Low <= High && At < Set->Count && Set->Low[At] <= Low && Set->High[At] >= High;
}

// The bytes of the flash that an update must leave as they are, as a set of
// address ranges. Regions rarely follow the erase blocks (4 KiB NV and BVDT
// areas inside 64 KiB blocks, regions that start mid-block), and a block that
// is written is erased whole: so a block may be written only when none of its
// bytes is kept, and the set, not a flag per block, is what protect and
// unprotect requests change.
#ifndef VYR_KEPT_RANGES_H_
#define VYR_KEPT_RANGES_H_

#include "Base.h"

// Protect requests of one run: 200 private, 200 protected, 201 whole-map
// regions and the region selection, each adding at most one range.
#define KEPT_RANGES_MAX 1024

typedef struct {
  UINT32 Count;
  BOOLEAN Overflow;  // a release could not be recorded: its bytes stay kept
  UINT32 Low[KEPT_RANGES_MAX];   // ascending, disjoint, never adjacent
  UINT32 High[KEPT_RANGES_MAX];  // inclusive
} KEPT_RANGES;

VOID KeptRangesClear(KEPT_RANGES *Set);
// Keeps [Low, High]. FALSE when the set is full; the caller must then keep
// whatever the range touches by other means.
BOOLEAN KeptRangesAdd(KEPT_RANGES *Set, UINT32 Low, UINT32 High);
// Releases [Low, High]. When a split finds the set full, the range stays
// kept (Overflow is set) and FALSE is returned.
BOOLEAN KeptRangesRemove(KEPT_RANGES *Set, UINT32 Low, UINT32 High);
// Whether any byte of [Low, High] is kept; the first kept range that
// overlaps it in *HitLow / *HitHigh (either may be NULL).
BOOLEAN KeptRangesOverlap(CONST KEPT_RANGES *Set, UINT32 Low, UINT32 High, UINT32 *HitLow, UINT32 *HitHigh);
// Whether every byte of [Low, High] is kept.
BOOLEAN KeptRangesCover(CONST KEPT_RANGES *Set, UINT32 Low, UINT32 High);

#endif  // VYR_KEPT_RANGES_H_

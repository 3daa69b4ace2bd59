// The block status log: one entry per written block, traced in rows of 16
// blocks with their protect flags, outcomes, protected-region types and
// flash-descriptor regions.
#ifndef VYR_BLOCK_STATUS_H_
#define VYR_BLOCK_STATUS_H_

#include "Base.h"

#define BLOCK_STATUS_GROUP 128    // entries traced together
#define BLOCK_STATUS_ROW_BLOCKS 16

typedef struct {
  UINT32 Address;
  CHAR16 Outcome;
} BLOCK_STATUS_ENTRY;

typedef struct {
  BOOLEAN Started;               // the first call of the load has run
  BLOCK_STATUS_ENTRY *Entries;   // block count + 1 entries; NULL when the allocation failed
  UINT32 Capacity;
  UINT32 Count;
} BLOCK_STATUS_STATE;

extern BLOCK_STATUS_STATE mBlockStatus;

VOID BlockStatusResetState(VOID);

// Only while tracing is on. Outcome is the block's outcome character.
VOID LogBlockStatus(UINT32 Address, CHAR16 Outcome);

#endif  // VYR_BLOCK_STATUS_H_

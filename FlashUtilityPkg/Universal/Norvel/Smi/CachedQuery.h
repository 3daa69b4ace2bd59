// A platform answer that is fetched from the BIOS once per run and traced
// each time it is given.
#ifndef VYR_CACHED_QUERY_H_
#define VYR_CACHED_QUERY_H_

#include "Base.h"
#include "Base/Trace.h"

// Query sets *Queried and *Answer itself.
static inline BOOLEAN CachedQueryAnswer(CONST BOOLEAN *Queried, CONST BOOLEAN *Answer, BOOLEAN (*Query)(VOID),
                                        CONST CHAR16 *Yes, CONST CHAR16 *No) {
  if (!*Queried) {
    Query();
  }
  DebugPrint(4, *Answer ? Yes : No);
  return *Answer;
}

#endif  // VYR_CACHED_QUERY_H_

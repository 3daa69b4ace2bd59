// The map listings of -pq, -priv, -pw, -pr and -pi, and the block protect
// table trace.
#ifndef VYR_ROM_MAP_LISTINGS_H_
#define VYR_ROM_MAP_LISTINGS_H_

#include "Base.h"

// Each prints the banner first.
BOOLEAN ShowProtectRegionMap(VOID);                 // -pq
BOOLEAN ShowPrivateRegionMap(VOID);                 // -priv, -ppriv
BOOLEAN ShowWholeRegionMap(VOID);                   // -pw
BOOLEAN ShowExternalRegionMap(VOID);                // -pr
BOOLEAN ShowBvdtRegionMap(CONST CHAR16 *FileName);  // -pi FILE

// The "R"/"." table of every block's protect flag, before block writing.
VOID TraceRomBlockProtectTable(VOID);

#endif  // VYR_ROM_MAP_LISTINGS_H_

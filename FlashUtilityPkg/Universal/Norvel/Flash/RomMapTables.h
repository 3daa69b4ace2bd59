// The map tables of the listings (-pq, -priv, -pw, -pr, -pi), each to the
// console or to the trace at level 4.
#ifndef VYR_ROM_MAP_TABLES_H_
#define VYR_ROM_MAP_TABLES_H_

#include "Base.h"
#include "Flash/RomMapTypes.h"

typedef enum { TO_CONSOLE, TO_TRACE } LISTING_OUTPUT;

VOID ProtectMapTable(LISTING_OUTPUT Output, UINT32 Count, CONST PROTECT_MAP_ENTRY *Map);
VOID PrivateMapTable(LISTING_OUTPUT Output, UINT32 Count, CONST PRIVATE_MAP_ENTRY *Map);
VOID WholeMapTable(LISTING_OUTPUT Output, CONST ROM_MAP_STATE *Map);
VOID ExternalMapTable(LISTING_OUTPUT Output, CONST ROM_MAP_STATE *Map);
VOID BvdtMapTable(LISTING_OUTPUT Output, CONST ROM_MAP_STATE *Map);

#endif  // VYR_ROM_MAP_TABLES_H_

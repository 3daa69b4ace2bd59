// Types of the regions the BIOS reports, and their names in listings and traces.
#ifndef VYR_REGION_NAMES_H_
#define VYR_REGION_NAMES_H_

#include "Base.h"

// Types of the protect, private and whole ROM maps.
#define ROM_TYPE_PEI 0x00
#define ROM_TYPE_NV_STORAGE 0x06
#define ROM_TYPE_FACTORY_COPY 0x16
#define ROM_TYPE_PRIVATE_HIT 0x17  // what GetProtectTypeAt reports for a private region
#define ROM_TYPE_PRIVATE 0xFE
#define ROM_TYPE_END 0xFF

// Types of the flash-descriptor (external) region map.
#define EXTERNAL_TYPE_DESCRIPTOR 0x00
#define EXTERNAL_TYPE_BIOS 0x01
#define EXTERNAL_TYPE_ME 0x02
#define EXTERNAL_TYPE_GBE 0x03
#define EXTERNAL_TYPE_PLATFORM_DATA 0x04
#define EXTERNAL_TYPE_EC 0x05
#define EXTERNAL_TYPE_IGNITION_ME 0x20

// Listing table (protect/private maps, BVDT listing, protection traces).
CONST CHAR16 *RomRegionTypeName(UINT8 Type);
// Whole-ROM-map listing.
CONST CHAR16 *WholeRegionTypeName(UINT8 Type);
// Flash-descriptor regions; "" for unknown types.
CONST CHAR16 *ExternalRegionTypeName(UINT8 Type);

#endif  // VYR_REGION_NAMES_H_

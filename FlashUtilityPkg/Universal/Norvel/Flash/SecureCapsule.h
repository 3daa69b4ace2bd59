// Secure-capsule services that the block flash relies on.
#ifndef VYR_SECURE_CAPSULE_H_
#define VYR_SECURE_CAPSULE_H_

#include "Base.h"

// 1Ah: tells the OEM/ODM code of the BIOS where a flash stands (action) and
// how it went (status).
BOOLEAN SMI_OemOdmCustom2(UINT8 Action, UINT8 Status);
// 1Bh: asks the BIOS to accept Image without its model check.
BOOLEAN SMI_SkipModelCheckVerify(CONST UINT8 *Image, UINT32 RomSize);

#endif  // VYR_SECURE_CAPSULE_H_

// The shell package: the utility's own application file carrying ROM and INI
// packs, a command filter and built-in options.
#ifndef VYR_PACKAGE_H_
#define VYR_PACKAGE_H_

#include "Base.h"

typedef struct {
  BOOLEAN PackageMode;  // decided once at the start of the shell flow
} PACKAGE_STATE;

extern PACKAGE_STATE mPackage;

VOID PackageResetState(VOID);
BOOLEAN IsPackageMode(VOID);

#endif  // VYR_PACKAGE_H_

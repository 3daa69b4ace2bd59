#include "Image/Package.h"

#include "BaseLib.h"

// Package detection arrives with the package formats; until then no run is in package mode.
PACKAGE_STATE mPackage;

VOID PackageResetState(VOID) { ZeroMem(&mPackage, sizeof(mPackage)); }

BOOLEAN IsPackageMode(VOID) { return mPackage.PackageMode; }

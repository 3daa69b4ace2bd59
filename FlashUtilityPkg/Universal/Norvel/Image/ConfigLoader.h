// Where a run's platform.ini comes from: the external file beside the FD
// file, the secure image's own record, the driver payload.
#ifndef VYR_CONFIG_LOADER_H_
#define VYR_CONFIG_LOADER_H_

#include "Base.h"

// Shell flow without a package: the external platform.ini, the FD file and,
// when the FD file is a secure image, its own INI record. FileName is the
// FD file name (FILE_NAME_CHARS), replaced by a multi-FD selection.
BOOLEAN FuncLoadFileConfig(CHAR16 *FileName);
// Shell flow in package mode: the package INI with its multi-FD selection,
// then the selected image's own INI record when it is a secure image.
BOOLEAN FuncLoadPackageConfig(VOID);
// The INI record of a secure image becomes the configuration; both override
// variables are cleared first.
BOOLEAN LoadConfigFromSecureImage(CONST UINT8 *Image, UINT32 Size);
// Firmware flow: the payload's INI record.
BOOLEAN LoadConfigFromCapsule(VOID);
// Dell multi-SKU capsule: the image whose BVDT model name is the platform's
// replaces *Image (the old buffer is freed). Never fails a flow.
VOID CheckAndSetMultiSkuPackage(UINT8 **Image, UINT32 *Size);

#endif  // VYR_CONFIG_LOADER_H_

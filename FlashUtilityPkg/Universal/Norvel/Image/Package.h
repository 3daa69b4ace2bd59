// The shell package: the utility's own application file carrying ROM and INI
// packs, a command filter and built-in options.
#ifndef VYR_PACKAGE_H_
#define VYR_PACKAGE_H_

#include "Base.h"

#define APPLICATION_NAME_CHARS 512
#define ROM_PACK_HEADER_SIZE 322
#define ROM_PACK_OPTIONS_OFFSET 17
#define ROM_PACK_OPTIONS_SIZE 49
#define ROM_PACK_FILTER_OFFSET 66
#define ROM_PACK_FILTER_SIZE 256
#define INI_PACK_HEADER_SIZE 17

typedef struct {
  BOOLEAN PackageMode;  // decided once at the start of the shell flow
  CHAR16 ApplicationName[APPLICATION_NAME_CHARS];
  UINT8 *File;          // the application file, kept in package mode
  UINT32 FileSize;
  UINT8 RomPackHeader[ROM_PACK_HEADER_SIZE];  // zero beyond the file's end
  CHAR8 *IniText;       // unscrambled INI pack text
  UINT32 IniSize;
} PACKAGE_STATE;

extern PACKAGE_STATE mPackage;

VOID PackageResetState(VOID);
BOOLEAN IsPackageMode(VOID);

VOID SetApplication(CONST CHAR16 *Path);
BOOLEAN SetPackageStatus(VOID);
// The package INI text and its size (0 without an INI pack).
VOID GetPackageIni(CHAR8 **Text, UINT32 *Size);
// The built-in command options and the command filter of the ROM pack
// header, each terminated within its field.
VOID GetPackageOptions(CHAR8 *Options);  // ROM_PACK_OPTIONS_SIZE + 1 bytes
VOID GetPackageFilter(CHAR8 *Filter);    // ROM_PACK_FILTER_SIZE + 1 bytes
// Every user argument must stand in the package's command filter.
BOOLEAN ChkFilterArg_pkg(VOID);

#endif  // VYR_PACKAGE_H_

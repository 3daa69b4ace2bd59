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
// Offsets inside the further headers of a package; names are NUL-terminated
// within a field of PACK_NAME_FIELD bytes.
#define EXT_PACK_COUNT_OFFSET 13
#define EXT_PACK_NAME_OFFSET 14
#define ROM_HEADER_NAME_OFFSET 17
#define PACK_NAME_FIELD 64
#define RESOURCE_HEADER_SIZE 64
#define RESOURCE_NAME_OFFSET 16
#define RESOURCE_NAME_FIELD 48
#define RESOURCE_VERIFY_CODE 0x55AA

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

// One packed BIOS image: where its data lies in the file and its name.
typedef struct {
  UINT32 Start;  // from the first byte of the file
  UINT32 Size;
  CHAR8 Name[PACK_NAME_FIELD];
} PACKED_IMAGE;

typedef enum {
  PackedImageFound,
  PackedImageMissing,  // its header is not in the file
  PackedImageDamaged,  // its header, data or name leaves the file; Problem says what
} PACKED_IMAGE_STATUS;

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
// Argument is the option word Name with '-' or '/', in any case.
BOOLEAN IsOptionWord(CONST CHAR16 *Argument, CONST CHAR16 *Name);
// Every user argument must stand in the package's command filter.
BOOLEAN ChkFilterArg_pkg(VOID);

// Image Index of a package file (0: the ROM pack's, else the further ROM
// header "$ROM_Pnn_"). *Problem names a damage (NULL otherwise).
PACKED_IMAGE_STATUS GetPackedImage(CONST UINT8 *File, UINT32 Size, UINT32 Index, PACKED_IMAGE *Image,
                                   CONST CHAR16 **Problem);
// The extra pack header's image count and first file name; FALSE when the
// header is missing (*Problem NULL) or damaged.
BOOLEAN GetExtraPack(CONST UINT8 *File, UINT32 Size, UINT8 *Count, CHAR8 *FirstName, CONST CHAR16 **Problem);
// The packed image that the multi-FD selection named (the first when it named
// none), in a new buffer the caller frees.
MUST_CHECK BOOLEAN LoadPackageFD(UINT8 **Image, UINT32 *Size);
// The data of the first resource record named Name (any case) with the
// right verify code; FALSE when there is none or its data leaves the file.
BOOLEAN FindResourceRecord(CONST UINT8 *File, UINT32 Size, CONST CHAR8 *Name, UINT32 *Start, UINT32 *DataSize);
// Writes the resource record of that name to a file of that name in the
// current directory.
MUST_CHECK BOOLEAN GetResourceFile(CONST CHAR8 *Name);

#endif  // VYR_PACKAGE_H_

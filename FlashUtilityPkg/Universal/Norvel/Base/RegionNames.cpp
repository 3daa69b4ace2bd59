#include "Base/RegionNames.h"

#include "BaseLib.h"

static CONST CHAR16 *CONST mRomRegionNames[] = {
    u"PEI",       u"CPU Microcode", u"Variable", u"DXE",      u"EC",       u"LOGO",   u"NV Storage",   u"FTW Backup",
    u"FTW State", u"SMBIOS Log",    u"OEM Data", u"GPNV",     u"DMI FRU",  u"PAL-B",  u"MCA Log",      u"Password",
    u"OEM NVS",   u"Reserved",      u"Reserved", u"Reserved", u"Reserved", u"Unused", u"Factory Copy",
};

CONST CHAR16 *RomRegionTypeName(UINT8 Type) {
  if (Type < ARRAY_SIZE(mRomRegionNames)) {
    return mRomRegionNames[Type];
  }
  return Type == ROM_TYPE_PRIVATE ? u"Private Map" : u"Undefined";
}

typedef struct {
  UINT8 Type;
  CONST CHAR16 *Name;
} TYPE_NAME;

static CONST TYPE_NAME mWholeRegionNames[] = {
    {0x00, u"PEI"},         {0x01, u"CPU Microcode"}, {0x02, u"Variable"},     {0x03, u"DXE"},
    {0x04, u"EC"},          {0x05, u"LOGO"},          {0x06, u"NV Storage"},   {0x07, u"FTW Backup"},
    {0x08, u"FTW State"},   {0x09, u"SMBIOS Log"},    {0x0A, u"OEM Data"},     {0x0B, u"GPNV"},
    {0x0C, u"DMI FRU"},     {0x0D, u"PAL-B"},         {0x0E, u"MCA Log"},      {0x0F, u"Password"},
    {0x10, u"OEM NVS"},     {0x16, u"Factory Copy"},  {0x17, u"AMD PSP Data"}, {0x18, u"AMD Boot Block"},
    {0xFE, u"Private Map"},
};

CONST CHAR16 *WholeRegionTypeName(UINT8 Type) {
  for (UINTN Index = 0; Index < ARRAY_SIZE(mWholeRegionNames); Index++) {
    if (mWholeRegionNames[Index].Type == Type) {
      return mWholeRegionNames[Index].Name;
    }
  }
  return u"";
}

static CONST TYPE_NAME mExternalRegionNames[] = {
    {EXTERNAL_TYPE_DESCRIPTOR, u"Descriptor"},
    {EXTERNAL_TYPE_BIOS, u"BIOS"},
    {EXTERNAL_TYPE_ME, u"ME"},
    {EXTERNAL_TYPE_GBE, u"GBE"},
    {EXTERNAL_TYPE_PLATFORM_DATA, u"Platform Data"},
    {EXTERNAL_TYPE_EC, u"EC"},
    {EXTERNAL_TYPE_IGNITION_ME, u"Ignition ME"},
};

CONST CHAR16 *ExternalRegionTypeName(UINT8 Type) {
  for (UINTN Index = 0; Index < ARRAY_SIZE(mExternalRegionNames); Index++) {
    if (mExternalRegionNames[Index].Type == Type) {
      return mExternalRegionNames[Index].Name;
    }
  }
  return u"";
}

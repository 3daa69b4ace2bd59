// The usage text: one row per option, shown as the BIOS's command filter
// allows, paged for a 25-line console.
#include "Console/Usage.h"

#include "Base/Trace.h"
#include "BaseLib.h"
#include "Console/ConsoleUi.h"
#include "Smi/PlatformQueries.h"

#define USAGE_ALWAYS 0xFF
#define USAGE_FIRST_COUNT 4
#define USAGE_PAGE_LINES 24

typedef struct {
  UINT8 Byte;  // filter byte, or USAGE_ALWAYS
  UINT8 Bit;
  UINT8 Lines;
  CONST CHAR16 *Text;
} USAGE_ROW;

// Continuation lines start in column 27, under the other rows' descriptions
// (rows are printed nine columns in); the -edt examples two columns further.
#define EDT_USAGE                                                          \
  u"-edt#@:VALUE      # : The type ID. Value 4 ~ C.\r\n"                     \
  u"                           @ : The data format. Value F, S, W, DW.\r\n"  \
  u"                           F for file,\r\n"                              \
  u"                           S for string (Unicode string),\r\n"           \
  u"                           W for word value,\r\n"                        \
  u"                           DW for double word value.\r\n"                \
  u"                           Example:\r\n"                                 \
  u"                           Update type 4 data, the source is file.\r\n"  \
  u"                           And update type 5 data, the source is string.\r\n" \
  u"                             -edt4f:logo.jpg -edt5s:\"Input string.\"\r\n" \
  u"                           Update a type 9 data, the source is WORD.\r\n" \
  u"                             -edt9w:\"0x1234\"\r\n"                      \
  u"                           Update a type C data, the source is DWORD.\r\n" \
  u"                             -edtcdw:\"0x12345678\""

static CONST USAGE_ROW mUsageRows[] = {
    {USAGE_ALWAYS, 0, 1, u"Usage: VyrFFT-S.exe filename [Option]\r\n"},
    {6, 0, 1, u"-h                This flash utility help."},
    {4, 0, 1, u"-ab               Check battery life percent."},
    {4, 1, 1, u"-ac               Do not check AC plug-in."},
    {4, 2, 1, u"-acb              Check AC plug-in & battery percentage."},
    {0, 0, 1, u"-all              Force flash all protected region."},
    {0, 1, 1, u"-b                Force flash PEI volume."},
    {2, 0, 1, u"-bios             Flash BIOS region."},
    {6, 7, 1, u"-dc               Disable comparsion in normal flash process."},
    {2, 3, 1, u"-desc             Flash Descriptor region."},
    {USAGE_ALWAYS, 0, 1, u"-di               Disable ID display."},
    {USAGE_ALWAYS, 0, 2,
     u"-e:Offset(Hex),Size(Hex),Address(Hex)\r\n                          Update fix size from file offset to "
     u"physical address."},
    {3, 4, 1, u"-ecbp             Flash EC with BIOS with percentage."},
    {3, 2, 1, u"-ecp              Flash EC with percentage."},
    {1, 4, 14, EDT_USAGE},
    {3, 5, 1, u"-eob              update BIOS only in FD file with EC"},
    {0, 4, 1, u"-fd               Force flash DXE region."},
    {0, 5, 1, u"-fe               Force flash EC region."},
    {0, 6, 1, u"-fl               Force flash Logo region."},
    {0, 2, 1, u"-fm               Force flash CPU Microcode region."},
    {1, 0, 1, u"-fn               Force flash OEM NVS region."},
    {0, 7, 1, u"-fp               Force flash password region."},
    {1, 1, 1, u"-ft:TYPE          Force flash OEM special type region."},
    {0, 3, 1, u"-fv               Force flash Variable region."},
    {6, 2, 1, u"-g                Save current BIOS to file."},
    {2, 1, 1, u"-gbe              Flash GbE region."},
    {4, 3, 1, u"-mc               Skip all platform model check."},
    {2, 2, 1, u"-me               Flash ME region."},
    {7, 0, 1, u"-n                Do not reboot after flash."},
    {1, 2, 2, u"-pbi:Type(Hex)    Flash BIOS protect region.\r\n                           Type is the protected region type."},
    {2, 4, 1, u"-pdr              Flash Platform Data region."},
    {6, 5, 1, u"-pq               Query ROM protection MAP in current ROM."},
    {6, 6, 1, u"-pr               Query region MAP in current ROM."},
    {USAGE_ALWAYS, 0, 1, u"-pw               Query whole MAP in current ROM."},
    {7, 1, 1, u"-r                Reboot after flash."},
    {USAGE_ALWAYS, 0, 2,
     u"-rt:TIMES,DELAY   When SMI error, retry how many times and\r\n                           delay how many "
     u"milliseconds between each retry."},
    {7, 2, 1, u"-s                Shutdown after flash."},
    {6, 3, 1, u"-u                Show confirm message."},
    {USAGE_ALWAYS, 0, 1, u"-vrt:TIMES        When verify error, retry how many times."},
};

VOID DisplayUsage(VOID) {
  FuncEnter(u"DisplayUsage");
  BOOLEAN Filtered = IsCommandFilterEnabled() != 0;
  COMMAND_FILTER_TABLE Filter;
  ZeroMem(&Filter, sizeof(Filter));
  if (Filtered) {
    DebugPrint(4, u" Command filter feature enable\r\n");
    GetCommandFilterTable(&Filter);
  }
  UINTN Count = USAGE_FIRST_COUNT;
  for (UINTN Index = 0; Index < ARRAY_SIZE(mUsageRows); Index++) {
    CONST USAGE_ROW *Row = &mUsageRows[Index];
    if (Filtered && (Row->Byte == USAGE_ALWAYS || !IsCommandFilterBitSet(&Filter, Row->Byte, Row->Bit))) {
      continue;
    }
    if (Count + Row->Lines >= USAGE_PAGE_LINES) {
      Print(u"\r\n Press a key to continue");
      WaitKey();
      Count = Row->Lines;
    } else {
      Count += Row->Lines;
    }
    Print(u"\r         %s\r\n", Row->Text);
  }
  Print(u"\r\n");
  FuncExit(u"DisplayUsage", NULL);
}

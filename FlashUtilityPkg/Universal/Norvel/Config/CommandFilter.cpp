// The BIOS's command filter: which options the platform allows on the
// command line, and which INI settings it lets the text choose.
#include "Config/CommandFilter.h"

#include "Base/Banner.h"
#include "Base/HexDump.h"
#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Smi/PlatformQueries.h"

#define FILTER_TEXT_BYTES 512
#define FILTER_WORD_BYTES 128

typedef struct {
  CONST CHAR8 *Word;  // lower case, '-' form, cut after ':'
  UINT8 Byte;
  UINT8 Bit;
} FILTER_ENTRY;

static CONST FILTER_ENTRY mFilterTable[] = {
    {"-all", 0, 0},   {"-b", 0, 1},    {"-fm", 0, 2},   {"-fv", 0, 3},   {"-fd", 0, 4},     {"-fe", 0, 5},
    {"-fl", 0, 6},    {"-fp", 0, 7},   {"-fn", 1, 0},   {"-ft:", 1, 1},  {"-pbi:", 1, 2},   {"-e:", 1, 3},
    {"-unvs", 1, 5},  {"-ufc", 1, 6},  {"-alp", 1, 7},  {"-bios", 2, 0}, {"-gbe", 2, 1},    {"-me", 2, 2},
    {"-desc", 2, 3},  {"-pdr", 2, 4},  {"-ec", 3, 1},   {"-ecp", 3, 2},  {"-ecb", 3, 3},    {"-ecbp", 3, 4},
    {"-eob", 3, 5},   {"-ab", 4, 0},   {"-ac", 4, 1},   {"-acb", 4, 2},  {"-mc", 4, 3},     {"-mfg", 4, 6},
    {"-skipsbp", 4, 7}, {"-h", 6, 0},  {"-?", 6, 0},    {"-g", 6, 2},    {"-u", 6, 3},      {"-pq", 6, 5},
    {"-pr", 6, 6},    {"-dc", 6, 7},   {"-n", 7, 0},    {"-r", 7, 1},    {"-s", 7, 2},
};

// Whether the filter allows the option word Word (8-bit, as split).
static BOOLEAN IsWordAllowed(CONST COMMAND_FILTER_TABLE *Filter, CONST CHAR8 *Word) {
  CHAR8 Work[FILTER_WORD_BYTES];
  AsciiStrCpyS(Work, sizeof(Work), Word);
  BOOLEAN SlashReplaced = FALSE;
  for (UINTN Index = 0; Work[Index] != 0; Index++) {
    Work[Index] = AsciiCharToLower(Work[Index]);
    if (Work[Index] == '/' && !SlashReplaced) {
      Work[Index] = '-';
      SlashReplaced = TRUE;
    }
  }
  for (UINTN Index = 0; Work[Index] != 0; Index++) {
    if (Work[Index] == ':') {
      Work[Index + 1] = 0;
      break;
    }
  }
  for (UINTN Index = 0; Index < ARRAY_SIZE(mFilterTable); Index++) {
    if (AsciiStrCmp(Work, mFilterTable[Index].Word) == 0) {
      return IsCommandFilterBitSet(Filter, mFilterTable[Index].Byte, mFilterTable[Index].Bit);
    }
  }
  return FALSE;
}

BOOLEAN CommandFilterCheck(CONST CHAR16 *OptionString) {
  FuncEnter(u"CommandFilterCheck");
  if (!IsCommandFilterEnabled()) {
    FuncExit(u"CommandFilterCheck", NULL);
    return TRUE;
  }
  COMMAND_FILTER_TABLE Filter;
  ZeroMem(&Filter, sizeof(Filter));
  GetCommandFilterTable(&Filter);
  DebugPrint(4, u"Argument filter enabled\r\n");
  DebugPrint(4, u"===== Filter Table =====\r\n");
  DumpHex(Filter.Bitmap, Filter.Length < COMMAND_FILTER_BITMAP_BYTES ? Filter.Length : COMMAND_FILTER_BITMAP_BYTES);

  // Word by word, so that no word is lost to the 512-byte text: the words
  // of a longer string are checked too. A character that has no 8-bit form
  // becomes '?': its low byte could be a NUL that would end the word early.
  CHAR8 Word[FILTER_TEXT_BYTES];
  UINTN Position = 0;
  while (OptionString != NULL && OptionString[Position] != 0) {
    if (OptionString[Position] == u' ') {
      Position++;
      continue;
    }
    UINTN Length = 0;
    for (; OptionString[Position] != 0 && OptionString[Position] != u' '; Position++) {
      CHAR16 Char = OptionString[Position];
      if (Length + 1 < sizeof(Word)) {
        Word[Length++] = Char > 0xFF ? '?' : (CHAR8)Char;
      }
    }
    Word[Length] = 0;
    if (!IsWordAllowed(&Filter, Word)) {
      PrintBanner(FALSE);
      Print(u"Error command: %a (Not supports on current platform)\r\n\r\n", Word);
      FuncExit(u"CommandFilterCheck", u"Command not supported");
      return FALSE;
    }
  }
  FuncExit(u"CommandFilterCheck", NULL);
  return TRUE;
}

// ---- The INI side ------------------------------------------------------------------

#define NO_TYPE 0xFFFF

typedef struct {
  UINT8 Byte;
  UINT8 Bit;
  UINT32 Offset;   // into INI_SETTINGS
  UINT8 Size;      // 1 or 4
  UINT8 Value;
  UINT16 Type;     // force-flash table entry forced with a named key, or NO_TYPE
} INI_FILTER_ENTRY;

#define SETTING(Field) offsetof(INI_SETTINGS, Field), (UINT8)sizeof(((INI_SETTINGS *)0)->Field)

static CONST INI_FILTER_ENTRY mIniFilterTable[] = {
    {0, 0, SETTING(ForceFlash.ALL), 0, NO_TYPE},
    {0, 1, SETTING(ForceFlash.BB_PEI), 0, 0x00},
    {0, 2, SETTING(ForceFlash.CPU_Microcode), 0, 0x01},
    {0, 3, SETTING(ForceFlash.Variable), 0, 0x02},
    {0, 4, SETTING(ForceFlash.DXE), 0, 0x03},
    {0, 5, SETTING(ForceFlash.EC), 0, 0x04},
    {0, 6, SETTING(ForceFlash.Logo), 0, 0x05},
    {0, 7, SETTING(ForceFlash.Password), 0, 0x0F},
    {1, 0, SETTING(ForceFlash.OEM_NVS), 0, 0x10},
    {1, 5, SETTING(SecurityFlashFactoryUpdate.UpdateNvStorage), 0, NO_TYPE},
    {1, 6, SETTING(SecurityFlashFactoryUpdate.UpdateFactoryCopy), 0, NO_TYPE},
    {1, 7, SETTING(ForceFlash.ALP), 0, NO_TYPE},
    {2, 0, SETTING(Region.BIOS), 0, NO_TYPE},
    {2, 1, SETTING(Region.GbE), 0, NO_TYPE},
    {2, 2, SETTING(Region.ME), 0, NO_TYPE},
    {2, 3, SETTING(Region.DESC), 0, NO_TYPE},
    {2, 4, SETTING(Region.Platform_Data), 0, NO_TYPE},
    {3, 2, SETTING(UpdateEC.Progress_Bar), 1, NO_TYPE},
    {3, 3, SETTING(UpdateEC.Progress_Bar), 1, NO_TYPE},
    {3, 4, SETTING(UpdateEC.Progress_Bar), 1, NO_TYPE},
    {4, 7, SETTING(EngineeringErrorDisable.SkipSecureBootProtectionCheck), 0, NO_TYPE},
    {5, 0, SETTING(AC_Adapter.BatteryCheck), 0, NO_TYPE},
    {5, 1, SETTING(AC_Adapter.Flag), 1, NO_TYPE},
    {5, 2, SETTING(Platform_Check.Flag), 3, NO_TYPE},
    {5, 2, SETTING(PlatformVersion.Flag), 0, NO_TYPE},
    {5, 3, SETTING(Bios_Version_Check.Flag), 2, NO_TYPE},
    {5, 3, SETTING(Bios_Version_Check.CheckByBios), 0, NO_TYPE},
    {5, 3, SETTING(BIOSVersionFormat.BIOSVFEnable), 0, NO_TYPE},
    {7, 3, SETTING(FlashComplete.Action), 2, NO_TYPE},
    {7, 4, SETTING(FlashSecureBIOSOverride.EnableFlashSecureBIOSOverride), 0, NO_TYPE},
    {7, 4, SETTING(FlashSecureBIOSOverride.Action), 1, NO_TYPE},
};

// The force-flash types that have their own filter bits; every other type
// belongs to -ft:.
static BOOLEAN IsNamedForceType(UINTN Type) {
  return Type <= 0x05 || Type == 0x0F || Type == 0x10;
}

BOOLEAN ChkFilterTblIni(VOID) {
  FuncEnter(u"ChkFilterTblIni");
  if (!IsCommandFilterEnabled()) {
    FuncExit(u"ChkFilterTblIni", NULL);
    return TRUE;
  }
  COMMAND_FILTER_TABLE Filter;
  ZeroMem(&Filter, sizeof(Filter));
  GetCommandFilterTable(&Filter);
  DebugPrint(4, u"INI filter() |enable|\r\n");
  UINT8 *Settings = (UINT8 *)&mIniSettings;
  for (UINTN Index = 0; Index < ARRAY_SIZE(mIniFilterTable); Index++) {
    CONST INI_FILTER_ENTRY *Entry = &mIniFilterTable[Index];
    if (IsCommandFilterBitSet(&Filter, Entry->Byte, Entry->Bit)) {
      continue;
    }
    DebugPrint(4, u"filter ini %d, %d\r\n", (UINT32)Entry->Byte, (UINT32)Entry->Bit);
    if (Entry->Size == 4) {
      WriteUnaligned32(Settings + Entry->Offset, Entry->Value);
    } else {
      Settings[Entry->Offset] = Entry->Value;
    }
    if (Entry->Type != NO_TYPE) {
      mIniSettings.ForceFlash.Type[Entry->Type] = Entry->Value;
    }
  }
  if (!IsCommandFilterBitSet(&Filter, 1, 1)) {
    for (UINTN Type = 0; Type < INI_FORCE_FLASH_TYPES; Type++) {
      if (!IsNamedForceType(Type)) {
        mIniSettings.ForceFlash.Type[Type] = 0;
      }
    }
  }
  FuncExit(u"ChkFilterTblIni", NULL);
  return TRUE;
}

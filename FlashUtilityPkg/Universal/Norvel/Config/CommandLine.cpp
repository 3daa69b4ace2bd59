#include "Config/CommandLine.h"

#include "Base/RegionNames.h"
#include "Base/RunState.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/EdtArguments.h"

COMMAND_LINE_STATE mCommandLine;

VOID CommandLineResetState(VOID) {
  FreeArgumentList();
  ZeroMem(&mCommandLine, sizeof(mCommandLine));
}

// ---- Values ------------------------------------------------------------------

static INTN HexDigit(CHAR16 Char) {
  if (Char >= u'0' && Char <= u'9') {
    return Char - u'0';
  }
  if (Char >= u'a' && Char <= u'f') {
    return Char - u'a' + 10;
  }
  if (Char >= u'A' && Char <= u'F') {
    return Char - u'A' + 10;
  }
  return -1;
}

// Parses at most Length characters (or up to the terminator).
static UINT32 ParseHexN(CONST CHAR16 *Text, UINTN Length) {
  if (Text == NULL) {
    return 0;
  }
  UINTN Index = 0;
  while (Index < Length && (Text[Index] == u' ' || Text[Index] == u'\t')) {
    Index++;
  }
  if (Index + 1 < Length && Text[Index] == u'0' && (Text[Index + 1] == u'x' || Text[Index + 1] == u'X')) {
    Index += 2;
  }
  UINT64 Value = 0;
  for (; Index < Length && Text[Index] != 0; Index++) {
    INTN Digit = HexDigit(Text[Index]);
    if (Digit < 0) {
      return 0;
    }
    // Stop growing once past 32 bits; the remaining digits are still checked.
    if (Value <= 0xFFFFFFFFull) {
      Value = (Value << 4) | (UINT64)Digit;
    }
  }
  return Value > 0xFFFFFFFFull ? 0xFFFFFFFFu : (UINT32)Value;
}

UINT32 ParseOptionHex(CONST CHAR16 *Text) { return ParseHexN(Text, (UINTN)-1); }

static UINT32 HexField(CONST CHAR16 *Text, UINTN Digits) {
  UINT32 Value = 0;
  for (UINTN Index = 0; Index < Digits; Index++) {
    Value = (Value << 4) | (UINT32)HexDigit(Text[Index]);
  }
  return Value;
}

// 8-4-4-4-12 hexadecimal digits, nothing before or after.
static BOOLEAN ParseGuid(CONST CHAR16 *Text, EFI_GUID *Guid) {
  if (StrnLenS(Text, 37) != 36) {
    return FALSE;
  }
  for (UINTN Index = 0; Index < 36; Index++) {
    BOOLEAN Dash = Index == 8 || Index == 13 || Index == 18 || Index == 23;
    if (Dash ? Text[Index] != u'-' : HexDigit(Text[Index]) < 0) {
      return FALSE;
    }
  }
  Guid->Data1 = HexField(Text, 8);
  Guid->Data2 = (UINT16)HexField(Text + 9, 4);
  Guid->Data3 = (UINT16)HexField(Text + 14, 4);
  Guid->Data4[0] = (UINT8)HexField(Text + 19, 2);
  Guid->Data4[1] = (UINT8)HexField(Text + 21, 2);
  for (UINTN Index = 0; Index < 6; Index++) {
    Guid->Data4[2 + Index] = (UINT8)HexField(Text + 24 + Index * 2, 2);
  }
  return TRUE;
}

// ---- The option table ----------------------------------------------------------

typedef enum {
  ACT_FLAG,      // option flag Param
  ACT_OWNER,     // owner flag Param
  ACT_FORCE,     // force-flash type Param
  ACT_ACB,       // AC and battery: clears -ac, sets -ab
  ACT_EC,        // EC update and the EC region flag
  ACT_ACCEPT,    // accepted here, acted on elsewhere (-dbg scan, -OemCus pre-pass)
  ACT_E,
  ACT_EDT,
  ACT_FT,
  ACT_NATIVEME,
  ACT_OEMID,
  ACT_P,
  ACT_PBI,
  ACT_PWD,
  ACT_RT,
  ACT_VRT,
} OPTION_ACTION;

typedef struct {
  CONST CHAR16 *Word;  // lower case, without '-'; its first character is the group
  BOOLEAN Prefix;      // the rest is the option's value
  UINT8 Action;
  UINT8 Param;
  CONST CHAR16 *Echo;  // the option as the log names it, without '-'
} OPTION_ENTRY;

// In the order the words are tried inside a group.
static CONST OPTION_ENTRY mOptionTable[] = {
    {u"h", FALSE, ACT_FLAG, OPT_HELP, u"h"},
    {u"?", FALSE, ACT_FLAG, OPT_HELP, u"?"},
    {u"ab", FALSE, ACT_FLAG, OPT_AB, u"ab"},
    {u"ac", FALSE, ACT_FLAG, OPT_AC, u"ac"},
    {u"acb", FALSE, ACT_ACB, 0, u"acb"},
    {u"all", FALSE, ACT_FLAG, OPT_ALL, u"all"},
    {u"alp", FALSE, ACT_FLAG, OPT_ALP, u"alp"},
    {u"b", FALSE, ACT_FORCE, 0x00, u"b"},
    {u"bios", FALSE, ACT_OWNER, OWNER_BIOS, u"bios"},
    {u"dbg", TRUE, ACT_ACCEPT, 0, u"dbg"},
    {u"dc", FALSE, ACT_OWNER, OWNER_DC, u"dc"},
    {u"desc", FALSE, ACT_FLAG, OPT_DESC, u"desc"},
    {u"di", FALSE, ACT_OWNER, OWNER_DI, u"di"},
    {u"e:", TRUE, ACT_E, 0, u"e:"},
    {u"ec", FALSE, ACT_EC, 0, u"ec"},
    {u"ecp", FALSE, ACT_OWNER, OWNER_ECP, u"ecp"},
    {u"ecb", FALSE, ACT_OWNER, OWNER_ECB, u"ecb"},
    {u"ecbp", FALSE, ACT_OWNER, OWNER_ECBP, u"ecbp"},
    {u"ec_crisis", FALSE, ACT_OWNER, OWNER_EC_CRISIS, u"ec_crisis"},
    {u"eob", FALSE, ACT_OWNER, OWNER_EOB, u"eob"},
    {u"edt", TRUE, ACT_EDT, 0, u"edt"},
    {u"fd", FALSE, ACT_FORCE, 0x03, u"fd"},
    {u"fe", FALSE, ACT_FORCE, 0x04, u"fe"},
    {u"fl", FALSE, ACT_FORCE, 0x05, u"fl"},
    {u"fm", FALSE, ACT_FORCE, 0x01, u"fm"},
    {u"fn", FALSE, ACT_FORCE, 0x10, u"fn"},
    {u"fp", FALSE, ACT_FORCE, 0x0F, u"fp"},
    {u"ft:", TRUE, ACT_FT, 0, u"ft:"},
    {u"fv", FALSE, ACT_FORCE, 0x02, u"fv"},
    {u"forceit", FALSE, ACT_FLAG, OPT_FORCEIT, u"forceit"},
    {u"g", FALSE, ACT_FLAG, OPT_G, u"g"},
    {u"gbe", FALSE, ACT_FLAG, OPT_GBE, u"gbe"},
    {u"mc", FALSE, ACT_FLAG, OPT_MC, u"mc"},
    {u"me", FALSE, ACT_FLAG, OPT_ME, u"me"},
    {u"mfg", FALSE, ACT_OWNER, OWNER_MFG, u"mfg"},
    {u"n", FALSE, ACT_FLAG, OPT_N, u"n"},
    {u"nativeme:", TRUE, ACT_NATIVEME, 0, u"nativeme:"},
    {u"nopause", FALSE, ACT_FLAG, OPT_NOPAUSE, u"nopause"},
    {u"oemcus", FALSE, ACT_ACCEPT, 0, u"OemCus"},
    {u"oemid:", TRUE, ACT_OEMID, 0, u"oemid:"},
    {u"p=", TRUE, ACT_P, 0, u"p="},
    {u"pbi:", TRUE, ACT_PBI, 0, u"pbi:"},
    {u"pdr", FALSE, ACT_FLAG, OPT_PDR, u"pdr"},
    {u"pi", FALSE, ACT_FLAG, OPT_PI, u"pi"},
    {u"pq", FALSE, ACT_FLAG, OPT_PQ, u"pq"},
    {u"pr", FALSE, ACT_FLAG, OPT_PR, u"pr"},
    {u"ppriv", FALSE, ACT_FLAG, OPT_PRIV, u"priv"},
    {u"priv", FALSE, ACT_FLAG, OPT_PRIV, u"priv"},
    {u"pw", FALSE, ACT_FLAG, OPT_PW, u"pw"},
    {u"pwd:", TRUE, ACT_PWD, 0, u"pwd:"},
    {u"r", FALSE, ACT_FLAG, OPT_R, u"r"},
    {u"rt:", TRUE, ACT_RT, 0, u"rt:"},
    {u"s", FALSE, ACT_FLAG, OPT_S, u"s"},
    {u"skipsbp", FALSE, ACT_FLAG, OPT_SKIPSBP, u"skipsbp"},
    {u"u", FALSE, ACT_FLAG, OPT_U, u"u"},
    {u"ufc", FALSE, ACT_OWNER, OWNER_UFC, u"ufc"},
    {u"unvs", FALSE, ACT_OWNER, OWNER_UNVS, u"unvs"},
    {u"vrt:", TRUE, ACT_VRT, 0, u"vrt:"},
};

// Case-insensitive: the characters after Prefix, or NULL when Text does not begin with it.
static CONST CHAR16 *AfterPrefix(CONST CHAR16 *Text, CONST CHAR16 *Prefix) {
  for (; *Prefix != 0; Text++, Prefix++) {
    if (*Text == 0 || CharToLower(*Text) != *Prefix) {
      return NULL;
    }
  }
  return Text;
}

// Copies Value into a store of Capacity characters; FALSE when it does not fit.
static BOOLEAN StoreValue(CHAR16 *Store, UINTN Capacity, CONST CHAR16 *Value) {
  if (StrnLenS(Value, Capacity) >= Capacity) {
    return FALSE;
  }
  StrCpyS(Store, Capacity, Value);
  return TRUE;
}

static BOOLEAN ApplyRetry(CONST CHAR16 *Value) {
  UINTN Comma = 0;
  while (Value[Comma] != 0 && Value[Comma] != u',') {
    Comma++;
  }
  UINT32 Times = ParseHexN(Value, Comma);
  UINT32 Delay = Value[Comma] == u',' ? ParseOptionHex(Value + Comma + 1) : 0;
  mCommandLine.RetryCount = Times == 0 ? (UINT8)1 : Times > 0xFF ? (UINT8)0xFF : (UINT8)Times;
  mCommandLine.RetryDelay = Delay;
  mCommandLine.RetryGiven = TRUE;
  return TRUE;
}

// Applies one matched option. Reason receives the trace reason of a refusal.
static BOOLEAN ApplyOption(CONST OPTION_ENTRY *Entry, CONST CHAR16 *Word, CONST CHAR16 *Value,
                           CONST CHAR16 **Reason) {
  UINT32 Number;
  switch (Entry->Action) {
    case ACT_FLAG:
      mCommandLine.Flags[Entry->Param] = 1;
      return TRUE;
    case ACT_OWNER:
      mCommandLine.Owner[Entry->Param] = 1;
      // The protection logic names the options it will act on.
      if (Entry->Param == OWNER_UNVS) {
        DebugPrint(4, u"Command -unvs\r\n");
      } else if (Entry->Param == OWNER_UFC) {
        DebugPrint(4, u"Command -ufc\r\n");
      }
      return TRUE;
    case ACT_FORCE:
      mCommandLine.ForceFlashType[Entry->Param] = 1;
      return TRUE;
    case ACT_ACB:
      mCommandLine.Flags[OPT_AC] = 0;
      mCommandLine.Flags[OPT_AB] = 1;
      return TRUE;
    case ACT_EC:
      mCommandLine.Owner[OWNER_EC] = 1;
      mCommandLine.Flags[OPT_EC] = 1;
      return TRUE;
    case ACT_ACCEPT:
      return TRUE;
    case ACT_E:
      if (!StoreValue(mCommandLine.EValue, OPTION_E_VALUE_CHARS, Value)) {
        *Reason = u"Value too long";
        return FALSE;
      }
      mCommandLine.EGiven = TRUE;
      return TRUE;
    case ACT_EDT:
      if (!AddEdtArgument(Word + 1)) {
        *Reason = u"Extra data argument refused";
        return FALSE;
      }
      mCommandLine.Flags[OPT_EDT] = 1;
      return TRUE;
    case ACT_FT:
      // A type that does not fit the type byte must not force some other type.
      Number = ParseOptionHex(Value);
      if (Number > 0xFF) {
        *Reason = u"Type out of range";
        return FALSE;
      }
      mCommandLine.ForceFlashType[Number] = 1;
      DebugPrint(4, u"Command -ft %02X %s\r\n", Number, RomRegionTypeName((UINT8)Number));
      return TRUE;
    case ACT_NATIVEME:
      if (!StoreValue(mCommandLine.NativeMeFile, OPTION_NATIVE_ME_CHARS, Value)) {
        *Reason = u"Value too long";
        return FALSE;
      }
      mCommandLine.NativeMeGiven = TRUE;
      return TRUE;
    case ACT_OEMID:
      if (!ParseGuid(Value, &mCommandLine.OemId)) {
        *Reason = u"Process GUID string failed";
        return FALSE;
      }
      mCommandLine.OemIdGiven = TRUE;
      return TRUE;
    case ACT_P:
      if (!StoreValue(mCommandLine.Password, OPTION_PASSWORD_CHARS, Value)) {
        *Reason = u"Value too long";
        return FALSE;
      }
      mCommandLine.PasswordGiven = TRUE;
      return TRUE;
    case ACT_PBI:
      Number = ParseOptionHex(Value);
      if (Number > 0xFF) {
        *Reason = u"Type out of range";
        return FALSE;
      }
      mCommandLine.PbiType = (UINT8)Number;
      mCommandLine.PbiGiven = TRUE;
      return TRUE;
    case ACT_PWD: {
      UINTN Length = StrnLenS(Value, OPTION_PASSWORD_BYTES);
      if (Length >= OPTION_PASSWORD_BYTES) {
        *Reason = u"Value too long";
        return FALSE;
      }
      for (UINTN Index = 0; Index < Length; Index++) {
        mCommandLine.PasswordAscii[Index] = (CHAR8)(Value[Index] & 0xFF);
      }
      mCommandLine.PasswordAscii[Length] = 0;
      mCommandLine.PasswordAsciiGiven = TRUE;
      return TRUE;
    }
    case ACT_RT:
      return ApplyRetry(Value);
    case ACT_VRT:
      if (Value[0] != 0) {
        mCommandLine.VerifyRetryCount = ParseOptionHex(Value);
        mCommandLine.VerifyRetryGiven = TRUE;
      }
      return TRUE;
    default:
      *Reason = u"No such command";
      return FALSE;
  }
}

static VOID EchoOption(CONST OPTION_ENTRY *Entry, CONST CHAR16 *Value) {
  switch (Entry->Action) {
    case ACT_NATIVEME:
      DebugPrint(4, u" Command -nativeme:%s\r\n", Value);
      break;
    case ACT_OEMID:
      DebugPrint(4, u" Command -oemid:%s\r\n", Value);
      break;
    case ACT_P:
      DebugPrint(4, u" Command -p=%s\r\n", Value);
      break;
    default:
      DebugPrint(4, u" Command -%s\r\n", Entry->Echo);
      break;
  }
}

BOOLEAN ProcessArgument(CONST CHAR16 *Word) {
  FuncEnter(u"ProcessArgument");
  if (Word == NULL || (Word[0] != u'-' && Word[0] != u'/')) {
    FuncExit(u"ProcessArgument", u"Not a valid command");
    return FALSE;
  }
  CONST CHAR16 *Rest = Word + 1;
  CHAR16 Group = CharToLower(Rest[0]);
  for (UINTN Index = 0; Group != 0 && Index < ARRAY_SIZE(mOptionTable); Index++) {
    CONST OPTION_ENTRY *Entry = &mOptionTable[Index];
    if (Entry->Word[0] != Group) {
      continue;
    }
    CONST CHAR16 *Value = AfterPrefix(Rest, Entry->Word);
    if (Value == NULL || (!Entry->Prefix && *Value != 0)) {
      continue;
    }
    CONST CHAR16 *Reason = NULL;
    if (!ApplyOption(Entry, Word, Value, &Reason)) {
      FuncExit(u"ProcessArgument", Reason);
      return FALSE;
    }
    EchoOption(Entry, Value);
    FuncExit(u"ProcessArgument", NULL);
    return TRUE;
  }
  FuncExit(u"ProcessArgument", u"No such command");
  return FALSE;
}

UINT8 IsOptionSet(UINTN Number) { return Number < OPTION_FLAGS ? mCommandLine.Flags[Number] : (UINT8)0; }

// ---- The argument list ---------------------------------------------------------

VOID FreeArgumentList(VOID) {
  if (mCommandLine.WorkArgv != NULL) {
    FreePool(mCommandLine.WorkArgv);
  }
  mCommandLine.WorkArgv = NULL;
  mCommandLine.WorkArgc = 0;
  mCommandLine.WorkCopied = FALSE;
}

BOOLEAN CopyArgumentList(VOID) {
  FreeArgumentList();
  UINT32 Count = GetArgumentCount();
  if (Count == 0) {
    mCommandLine.WorkCopied = TRUE;
    return TRUE;
  }
  UINTN Chars = 0;
  for (UINT32 Index = 0; Index < Count; Index++) {
    CONST CHAR16 *Argument = GetArgument(Index);
    Chars += (Argument == NULL ? 0 : StrLen(Argument)) + 1;
  }
  UINTN Size = Count * sizeof(CHAR16 *) + Chars * sizeof(CHAR16);
  CHAR16 **List = (CHAR16 **)AllocatePool(Size);
  if (List == NULL) {
    return FALSE;
  }
  CHAR16 *Text = (CHAR16 *)(List + Count);
  for (UINT32 Index = 0; Index < Count; Index++) {
    CONST CHAR16 *Argument = GetArgument(Index);
    UINTN Length = Argument == NULL ? 0 : StrLen(Argument);
    List[Index] = Text;
    CopyMem(Text, Argument == NULL ? u"" : Argument, Length * sizeof(CHAR16));
    Text[Length] = 0;
    Text += Length + 1;
  }
  mCommandLine.WorkArgv = List;
  mCommandLine.WorkArgc = Count;
  mCommandLine.WorkCopied = TRUE;
  return TRUE;
}

BOOLEAN EnsureArgumentList(VOID) { return mCommandLine.WorkCopied ? TRUE : CopyArgumentList(); }

UINT32 GetWorkArgumentCount(VOID) { return mCommandLine.WorkArgc; }

CHAR16 *GetWorkArgument(UINT32 Index) {
  return Index < mCommandLine.WorkArgc ? mCommandLine.WorkArgv[Index] : NULL;
}

// ---- Override options ------------------------------------------------------------

BOOLEAN ProcessOverrideArgument(CONST CHAR16 *Word) {
  if (Word == NULL) {
    return FALSE;
  }
  if (Word[0] == 0) {
    return TRUE;
  }
  CONST CHAR16 *Rest = Word + 1;
  if (StrEqualNoCase(Rest, u"forceit")) {
    mCommandLine.Flags[OPT_FORCEIT] = 1;
    DebugPrint(4, u" Command -forceit\r\n");
  } else if (StrEqualNoCase(Rest, u"forcetype")) {
    mCommandLine.Flags[OPT_FORCETYPE] = 1;
    DebugPrint(4, u" Command -forcetype\r\n");
  } else if (StrEqualNoCase(Rest, u"nopause")) {
    mCommandLine.Flags[OPT_NOPAUSE] = 1;
    DebugPrint(4, u" Command -nopause\r\n");
  }
  return TRUE;
}

BOOLEAN LoadOverrideCommand(CONST CHAR16 *Text, UINT32 ByteLength) {
  FuncEnter(u"LoadOverrideCommand");
  if (Text == NULL) {
    FuncExit(u"LoadOverrideCommand", u"Input buffer is NULL");
    return FALSE;
  }
  // ByteLength + 2 must not wrap on a 32-bit build.
  CHAR16 *Copy = NULL;
  CHAR16 *Word = NULL;
  if (ByteLength <= 0xFFFFFFFFu - 2) {
    Copy = (CHAR16 *)AllocateZeroPool((UINTN)ByteLength + 2);
    Word = (CHAR16 *)AllocateZeroPool((UINTN)ByteLength + 2);
  }
  if (Copy == NULL || Word == NULL) {
    FreePool(Copy);
    FreePool(Word);
    FuncExit(u"LoadOverrideCommand", u"Allocate memory failed");
    return FALSE;
  }
  CopyMem(Copy, Text, ByteLength);
  UINTN Chars = ByteLength / sizeof(CHAR16);
  Copy[Chars] = 0;

  BOOLEAN Result = TRUE;
  UINTN Position = 0;
  while (Copy[Position] != 0) {
    if (Copy[Position] == u' ') {
      Position++;
      continue;
    }
    UINTN WordLength = 0;
    while (Copy[Position] != 0 && Copy[Position] != u' ') {
      Word[WordLength++] = Copy[Position++];
    }
    Word[WordLength] = 0;
    if (!ProcessOverrideArgument(Word)) {
      Result = FALSE;
      break;
    }
  }
  FreePool(Copy);
  FreePool(Word);
  FuncExit(u"LoadOverrideCommand", Result ? NULL : u"Process override command failed");
  return Result;
}

// ---- The saved command line --------------------------------------------------------

VOID SaveCommandLine(CONST CHAR16 *CommandLine) {
  StrCpyS(mCommandLine.SavedCommandLine, OPTION_STRING_CHARS, CommandLine == NULL ? u"" : CommandLine);
  mCommandLine.CommandLineSaved = TRUE;
}

BOOLEAN GetSavedCommandLine(CONST CHAR16 **Text, UINT32 *ByteSize) {
  BOOLEAN Saved = mCommandLine.CommandLineSaved;
  if (Text != NULL) {
    *Text = Saved ? mCommandLine.SavedCommandLine : NULL;
  }
  if (ByteSize != NULL) {
    *ByteSize = Saved ? (UINT32)(StrLen(mCommandLine.SavedCommandLine) * sizeof(CHAR16) + sizeof(CHAR16)) : 0;
  }
  return Saved;
}

// ---- Accessors ---------------------------------------------------------------------

BOOLEAN IsFileNameGiven(VOID) { return mCommandLine.FileNameGiven; }
BOOLEAN IsBiosRegionOptionSet(VOID) { return mCommandLine.Owner[OWNER_BIOS]; }
BOOLEAN IsDisableCompareOptionSet(VOID) { return mCommandLine.Owner[OWNER_DC]; }
BOOLEAN IsDisableIdDisplayOptionSet(VOID) { return mCommandLine.Owner[OWNER_DI]; }
BOOLEAN IsMfgOptionSet(VOID) { return mCommandLine.Owner[OWNER_MFG]; }
BOOLEAN IsUpdateFactoryCopyOptionSet(VOID) { return mCommandLine.Owner[OWNER_UFC]; }
BOOLEAN IsUpdateNvStorageOptionSet(VOID) { return mCommandLine.Owner[OWNER_UNVS]; }
BOOLEAN IsEcBiosOnlyOptionSet(VOID) { return mCommandLine.Owner[OWNER_EOB]; }
BOOLEAN IsEcWithBiosPercentOptionSet(VOID) { return mCommandLine.Owner[OWNER_ECBP]; }
BOOLEAN IsEcWithBiosOptionSet(VOID) { return mCommandLine.Owner[OWNER_ECB]; }
BOOLEAN IsEcPercentOptionSet(VOID) { return mCommandLine.Owner[OWNER_ECP]; }
BOOLEAN IsEcUpdateOptionSet(VOID) { return mCommandLine.Owner[OWNER_EC]; }
BOOLEAN IsEcCrisisOptionSet(VOID) { return mCommandLine.Owner[OWNER_EC_CRISIS]; }

UINT8 GetForceFlashType(UINTN Type) {
  return Type < FORCE_FLASH_TYPES ? mCommandLine.ForceFlashType[Type] : (UINT8)0;
}

CONST CHAR16 *GetPasswordOption(VOID) { return mCommandLine.PasswordGiven ? mCommandLine.Password : NULL; }

CONST CHAR8 *GetPasswordAsciiOption(VOID) {
  return mCommandLine.PasswordAsciiGiven ? mCommandLine.PasswordAscii : NULL;
}

CONST CHAR16 *GetNativeMeFile(VOID) { return mCommandLine.NativeMeGiven ? mCommandLine.NativeMeFile : NULL; }

BOOLEAN GetOemIdGuid(EFI_GUID *Guid) {
  if (mCommandLine.OemIdGiven && Guid != NULL) {
    CopyMem(Guid, &mCommandLine.OemId, sizeof(*Guid));
  }
  return mCommandLine.OemIdGiven;
}

BOOLEAN GetRetryOption(UINT8 *Count, UINT32 *Delay) {
  if (Count != NULL) {
    *Count = mCommandLine.RetryCount;
  }
  if (Delay != NULL) {
    *Delay = mCommandLine.RetryDelay;
  }
  return mCommandLine.RetryGiven;
}

BOOLEAN GetVerifyRetryOption(UINT32 *Count) {
  if (Count != NULL) {
    *Count = mCommandLine.VerifyRetryCount;
  }
  return mCommandLine.VerifyRetryGiven;
}

CONST CHAR16 *GetEOptionValue(VOID) { return mCommandLine.EGiven ? mCommandLine.EValue : NULL; }

BOOLEAN IsPbiOptionSet(VOID) { return mCommandLine.PbiGiven; }

UINT8 GetPbiType(VOID) { return mCommandLine.PbiGiven ? mCommandLine.PbiType : (UINT8)0xFF; }

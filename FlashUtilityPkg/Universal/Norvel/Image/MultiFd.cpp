#include "Image/MultiFd.h"

#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Platform.h"
#include "Smi/PlatformQueries.h"

// Where each matcher's first field starts: the type word and its comma. A
// type word written otherwise (padded, abbreviated) shifts every field.
#define IO_FIELDS_AT 3
#define ID_FIELDS_AT 3
#define PCI_FIELDS_AT 4
#define MPCIIO_FIELDS_AT 7
#define MEMORY_FIELDS_AT 7

#define IO_OFFSET_DIGITS 4
#define PCI_ADDRESS_DIGITS 2  // bus, device, function and offset each
#define VALUE_DIGITS 8        // values and memory addresses
#define ANY_DIGITS 0          // masks: any length, the low 32 bits count
#define MPCIIO_COUNT_CHARS 3  // only this much of the count is looked at

MULTI_FD_STATE mMultiFd;

VOID MultiFdResetState(VOID) { ZeroMem(&mMultiFd, sizeof(mMultiFd)); }

BOOLEAN IsMultiFdEnabled(VOID) { return mIniSettings.MULTI_FD.Flag != 0; }

VOID GetMultiFdFileName(CHAR16 *Name, UINTN Chars) {
  if (Name != NULL && Chars != 0) {
    AsciiStrToUnicodeS(mMultiFd.FdFile, Name, Chars);
  }
}

CONST CHAR8 *GetMultiFdMeFileName(VOID) { return mMultiFd.MeFile; }

CONST CHAR8 *GetMultiFdIniFileName(VOID) { return mMultiFd.IniFile; }

// ---- Fields ------------------------------------------------------------------

// One field of an entry: the text from a position up to the next ',' or the
// end. Text is cut to MULTI_FD_FIELD_CHARS; Length is the whole field's, so
// an over-long field is refused rather than read in part.
typedef struct {
  CHAR8 Text[MULTI_FD_FIELD_CHARS + 1];
  UINTN Length;
} MULTI_FD_FIELD;

// Reads the field at *Position and moves past it and its ','. FALSE when the
// entry (Length characters) ends before the position: the field is missing.
static BOOLEAN ReadField(CONST CHAR8 *Entry, UINTN Length, UINTN *Position, MULTI_FD_FIELD *Field) {
  if (*Position >= Length) {
    return FALSE;
  }
  UINTN End = *Position;
  while (End < Length && Entry[End] != ',') {
    End++;
  }
  Field->Length = End - *Position;
  UINTN Keep = Field->Length < MULTI_FD_FIELD_CHARS ? Field->Length : MULTI_FD_FIELD_CHARS;
  CopyMem(Field->Text, Entry + *Position, Keep);
  Field->Text[Keep] = 0;
  *Position = End < Length ? End + 1 : End;
  return TRUE;
}

static BOOLEAN IsFieldWhole(CONST MULTI_FD_FIELD *Field, UINTN MaxChars) {
  return Field->Length <= MaxChars && Field->Length <= MULTI_FD_FIELD_CHARS;
}

// Hexadecimal digits only, at least one and at most MaxDigits (ANY_DIGITS:
// any number that fits a field, keeping the low 32 bits).
static BOOLEAN ParseHexField(CONST MULTI_FD_FIELD *Field, UINTN MaxDigits, UINT32 *Value) {
  if (Field->Length == 0 || !IsFieldWhole(Field, MaxDigits == ANY_DIGITS ? MULTI_FD_FIELD_CHARS : MaxDigits)) {
    return FALSE;
  }
  UINT32 Result = 0;
  for (UINTN Index = 0; Index < Field->Length; Index++) {
    CHAR8 Char = Field->Text[Index];
    UINT32 Digit;
    if (Char >= '0' && Char <= '9') {
      Digit = (UINT32)(Char - '0');
    } else if (Char >= 'A' && Char <= 'F') {
      Digit = (UINT32)(Char - 'A' + 10);
    } else if (Char >= 'a' && Char <= 'f') {
      Digit = (UINT32)(Char - 'a' + 10);
    } else {
      return FALSE;
    }
    Result = (Result << 4) | Digit;
  }
  *Value = Result;
  return TRUE;
}

// The access width the value field asks for, by how many characters it has.
static UINTN AccessWidth(CONST MULTI_FD_FIELD *Value) {
  if (Value->Length <= 2) {
    return 1;
  }
  return Value->Length <= 4 ? 2 : 4;
}

// Logs Format with Text widened for its %s: entries are 8-bit text, these
// messages take a wide string. Left unbuilt when nothing takes the trace.
static VOID TraceWide(UINTN Level, CONST CHAR16 *Format, CONST CHAR8 *Text) {
  if (!IsTraceTaken(Level)) {
    return;
  }
  AsciiStrToUnicodeS(Text, mMultiFd.Wide, ARRAY_SIZE(mMultiFd.Wide));
  DebugPrint(Level, Format, mMultiFd.Wide);
}

// A hexadecimal condition field: how many digits it may have, and what is
// logged (its %s the field) when it is not such a number.
typedef struct {
  UINTN MaxDigits;
  CONST CHAR16 *Invalid;
} MULTI_FD_HEX_RULE;

// Reads Count hexadecimal fields from Start into Values; *Width is the
// access width the last one (the value) asks for. A missing field logs Error
// (its %s the entry); each field read is traced with FieldTrace when given.
static BOOLEAN ReadHexFields(CONST CHAR8 *Entry, UINTN Start, CONST MULTI_FD_HEX_RULE *Rules, UINTN Count,
                             CONST CHAR16 *Error, CONST CHAR16 *FieldTrace, UINT32 *Values, UINTN *Width, UINTN *Next) {
  UINTN Length = AsciiStrnLenS(Entry, INI_TEXT_SIZE);
  UINTN Position = Start;
  MULTI_FD_FIELD Fields[6];  // PCI has the most
  if (Count > ARRAY_SIZE(Fields)) {
    return FALSE;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    if (!ReadField(Entry, Length, &Position, &Fields[Index])) {
      TraceWide(0, Error, Entry);
      return FALSE;
    }
    if (FieldTrace != NULL) {
      DebugPrint(4, FieldTrace, Fields[Index].Text);
    }
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    if (!ParseHexField(&Fields[Index], Rules[Index].MaxDigits, &Values[Index])) {
      TraceWide(0, Rules[Index].Invalid, Fields[Index].Text);
      return FALSE;
    }
  }
  *Width = AccessWidth(&Fields[Count - 1]);
  *Next = Position;
  return TRUE;
}

static BOOLEAN FailMatch(CONST CHAR16 *Name, CONST CHAR16 *Reason) {
  FuncExit(Name, Reason);
  return FALSE;
}

static BOOLEAN EndMatch(CONST CHAR16 *Name, BOOLEAN Holds) {
  FuncExit(Name, Holds ? NULL : u"not match");
  return Holds;
}

// An I/O or PCI condition is read with '-' as a separator too, which is how
// MPCIIO writes its sub-conditions.
static VOID DashesToCommas(CHAR8 *Entry) {
  UINTN Length = AsciiStrnLenS(Entry, INI_TEXT_SIZE);
  for (UINTN Index = 0; Index < Length; Index++) {
    if (Entry[Index] == '-') {
      Entry[Index] = ',';
    }
  }
}

// ---- Matchers ------------------------------------------------------------------

static CONST MULTI_FD_HEX_RULE kIoRules[] = {
    {IO_OFFSET_DIGITS, u"IsMatch_IO() [Offset] | invalid (%s)\r\n"},
    {ANY_DIGITS, u"IsMatch_IO() [mask] | invalid (%s)\r\n"},
    {VALUE_DIGITS, u"IsMatch_IO() [value] | invalid (%s)\r\n"},
};

BOOLEAN IsMatch_IO(CHAR8 *Entry, UINTN *Next) {
  FuncEnter(u"IsMatch_IO");
  DashesToCommas(Entry);
  UINT32 Field[ARRAY_SIZE(kIoRules)];
  UINTN Width;
  if (!ReadHexFields(Entry, IO_FIELDS_AT, kIoRules, ARRAY_SIZE(kIoRules),
                     u"IsMatch_IO() configure format | error | %s\r\n", u" FD#XX=IO (%a)\r\n", Field, &Width, Next)) {
    return FailMatch(u"IsMatch_IO", u"format error");
  }
  UINT32 Offset = Field[0], Mask = Field[1], Value = Field[2];
  DebugPrint(4, u" Offset(0x%X) Mask(0x%X) Value(0x%X)\r\n", Offset, Mask, Value);
  DebugPrint(4, u" CpuIoRead Address [%X] Size [%X]\r\n", Offset, (UINT32)Width);
  UINT16 Port = (UINT16)Offset;
  UINT32 Data = Width == 1 ? PlatformIoRead8(Port) : Width == 2 ? PlatformIoRead16(Port) : PlatformIoRead32(Port);
  DebugPrint(4, u"IO Data |0x%X\r\n", Data);
  return EndMatch(u"IsMatch_IO", (Data & Mask) == Value);
}

static CONST MULTI_FD_HEX_RULE kPciRules[] = {
    {PCI_ADDRESS_DIGITS, u"IsMatch_PCI() [Bus] | invalid (%s)\r\n"},
    {PCI_ADDRESS_DIGITS, u"IsMatch_PCI() [Device] | invalid (%s)\r\n"},
    {PCI_ADDRESS_DIGITS, u"IsMatch_PCI() [Function] | invalid (%s)\r\n"},
    {PCI_ADDRESS_DIGITS, u"IsMatch_PCI() [Offset] | invalid (%s)\r\n"},
    {ANY_DIGITS, u"IsMatch_PCI() [mask] | invalid (%s)\r\n"},
    {VALUE_DIGITS, u"IsMatch_PCI() [value] | invalid (%s)\r\n"},
};

BOOLEAN IsMatch_PCI(CHAR8 *Entry, UINTN *Next) {
  FuncEnter(u"IsMatch_PCI");
  DashesToCommas(Entry);
  UINT32 Field[ARRAY_SIZE(kPciRules)];
  UINTN Width;  // always a dword: the root bridge reads 32 bits
  if (!ReadHexFields(Entry, PCI_FIELDS_AT, kPciRules, ARRAY_SIZE(kPciRules),
                     u"IsMatch_PCI() configure format | error | %s\r\n", u" FD#XX=PCI (%a)\r\n", Field, &Width, Next)) {
    return FailMatch(u"IsMatch_PCI", u"format error");
  }
  UINT32 Bus = Field[0], Device = Field[1], Function = Field[2], Offset = Field[3], Mask = Field[4], Value = Field[5];
  DebugPrint(4, u" Bus(0x%02X) Device(0x%02X) Function(0x%02X)\r\n", Bus, Device, Function);
  DebugPrint(4, u" Offset(0x%02X) Mask(0x%02X) Value(0x%02X)\r\n", Offset, Mask, Value);
  DebugPrint(4, u" Bus(0x%02X) Device(0x%02X) Function(0x%02X) Offset(0x%02X)\r\n", Bus, Device, Function, Offset);
  DebugPrint(4, u" Address = 0x%X\r\n", (Bus << 24) | (Device << 16) | (Function << 8) | Offset);
  UINT32 Data = 0;
  EFI_STATUS Status = PlatformPciRead32((UINT8)Bus, (UINT8)Device, (UINT8)Function, (UINT16)Offset, &Data);
  if (EFI_ERROR(Status)) {
    DebugPrint(0, u"IsMatch_PCI() PCI read | error (%r)\r\n", Status);
    return FailMatch(u"IsMatch_PCI", u"PCI read failed");
  }
  DebugPrint(4, u"PCI Data |0x%X\r\n", Data);
  return EndMatch(u"IsMatch_PCI", (Data & Mask) == Value);
}

static BOOLEAN StartsWith(CONST CHAR8 *Text, CONST CHAR8 *Word) {
  for (; *Word != 0; Text++, Word++) {
    if (*Text != *Word) {
      return FALSE;
    }
  }
  return TRUE;
}

BOOLEAN IsMatch_MPCIIO(CHAR8 *Entry, UINTN *Next) {
  FuncEnter(u"IsMatch_MPCIIO");
  UINTN Length = AsciiStrnLenS(Entry, INI_TEXT_SIZE);
  UINTN Position = MPCIIO_FIELDS_AT;
  MULTI_FD_FIELD Field;
  if (!ReadField(Entry, Length, &Position, &Field)) {
    DebugPrint(0, u"IsMatch_MPCIIO() [Condition Number] | invalid (%a)\r\n", Entry);
    return FailMatch(u"IsMatch_MPCIIO", u"configure format error");
  }
  MULTI_FD_FIELD Count = Field;
  if (Count.Length > MPCIIO_COUNT_CHARS) {
    Count.Length = MPCIIO_COUNT_CHARS;
    Count.Text[MPCIIO_COUNT_CHARS] = 0;
  }
  UINT32 Conditions;
  if (!ParseHexField(&Count, MPCIIO_COUNT_CHARS, &Conditions)) {
    DebugPrint(0, u"IsMatch_MPCIIO() [Condition Number] | invalid (%a)\r\n", Field.Text);
    return FailMatch(u"IsMatch_MPCIIO", u"invalid field");
  }
  DebugPrint(4, u"[Condition Number] | %d\r\n", Conditions);
  // Every sub-condition must be there before any is evaluated: a short list
  // is a broken entry, not one whose first conditions decide.
  UINTN First = Position;
  for (UINT32 Index = 0; Index < Conditions; Index++) {
    if (!ReadField(Entry, Length, &Position, &Field) || !IsFieldWhole(&Field, MULTI_FD_FIELD_CHARS)) {
      DebugPrint(0, u"IsMatch_MPCIIO() configure format | error\r\n");
      return FailMatch(u"IsMatch_MPCIIO", u"configure format error");
    }
  }
  *Next = Position;
  Position = First;
  for (UINT32 Index = 0; Index < Conditions; Index++) {
    ReadField(Entry, Length, &Position, &Field);
    for (UINTN Char = 0; Char < Field.Length; Char++) {
      if (Field.Text[Char] >= 'a' && Field.Text[Char] <= 'z') {
        Field.Text[Char] = (CHAR8)(Field.Text[Char] - 'a' + 'A');
      }
    }
    UINTN Ignored;
    if ((StartsWith(Field.Text, "PCI") && IsMatch_PCI(Field.Text, &Ignored)) ||
        (StartsWith(Field.Text, "IO") && IsMatch_IO(Field.Text, &Ignored))) {
      FuncExit(u"IsMatch_MPCIIO", NULL);
      return TRUE;
    }
  }
  return FailMatch(u"IsMatch_MPCIIO", u"not match");
}

BOOLEAN IsMatch_ID(CHAR8 *Entry, UINTN *Next) {
  FuncEnter(u"IsMatch_ID");
  UINTN Length = AsciiStrnLenS(Entry, INI_TEXT_SIZE);
  UINTN Position = ID_FIELDS_AT;
  MULTI_FD_FIELD Model;
  // An empty name would match a BIOS that reports none: that is a broken
  // entry, not a model.
  if (!ReadField(Entry, Length, &Position, &Model) || Model.Length == 0 ||
      !IsFieldWhole(&Model, MULTI_FD_FIELD_CHARS)) {
    DebugPrint(0, u"IsMatch_ID() configure format | error\r\n");
    return FailMatch(u"IsMatch_ID", u"configure format error");
  }
  *Next = Position;
  PLATFORM_INFO Info;
  if (!SMI_GetPlatformInfo(&Info)) {
    DebugPrint(0, u"IsMatch_ID() Model Name (Onboard) | not available\r\n");
    return FailMatch(u"IsMatch_ID", u"platform information failed");
  }
  // The BIOS's name fills its field without a terminator when it is long.
  CHAR16 Onboard[ARRAY_SIZE(Info.ModelName) + 1];
  UINTN OnboardLength = StrnLenS(Info.ModelName, ARRAY_SIZE(Info.ModelName));
  CopyMem(Onboard, Info.ModelName, OnboardLength * sizeof(CHAR16));
  Onboard[OnboardLength] = 0;
  CHAR16 Ini[MULTI_FD_FIELD_CHARS + 1];
  AsciiStrToUnicodeS(Model.Text, Ini, ARRAY_SIZE(Ini));
  DebugPrint(4, u" Model Name (Ini)     [%s]\r\n Model Name (Onboard) [%s]\r\n", Ini, Onboard);
  return EndMatch(u"IsMatch_ID", StrEqualNoCase(Ini, Onboard));
}

static CONST MULTI_FD_HEX_RULE kMemoryRules[] = {
    {VALUE_DIGITS, u"IsMatch_MEMORY() [Phy Addr] | invalid (%s)\r\n"},
    {ANY_DIGITS, u"IsMatch_MEMORY() [mask] | invalid (%s)\r\n"},
    {VALUE_DIGITS, u"IsMatch_MEMORY() [value] | invalid (%s)\r\n"},
};

BOOLEAN IsMatch_MEMORY(CHAR8 *Entry, UINTN *Next) {
  FuncEnter(u"IsMatch_MEMORY");
  UINT32 Field[ARRAY_SIZE(kMemoryRules)];
  UINTN Width;
  if (!ReadHexFields(Entry, MEMORY_FIELDS_AT, kMemoryRules, ARRAY_SIZE(kMemoryRules),
                     u"IsMatch_MEMORY() configure format | error\r\n", NULL, Field, &Width, Next)) {
    return FailMatch(u"IsMatch_MEMORY", u"format error");
  }
  UINT32 Address = Field[0], Mask = Field[1], Value = Field[2];
  DebugPrint(4, u" FD#XX=MEMORY\r\n-------+-----------------\r\nPhyAddr   %X\r\n   mask   %X\r\n  value   %X\r\n",
             Address, Mask, Value);
  UINT8 Bytes[4] = {0, 0, 0, 0};
  // A condition on memory that is not there cannot hold; reading it anyway
  // would fault on a real machine.
  if (!PlatformReadPhysical(Address, Bytes, Width)) {
    DebugPrint(0, u"IsMatch_MEMORY() [Phy Addr] | not backed by memory (0x%X)\r\n", Address);
    return FailMatch(u"IsMatch_MEMORY", u"memory not readable");
  }
  UINT32 Data = Width == 1 ? Bytes[0] : Width == 2 ? ReadUnaligned16(Bytes) : ReadUnaligned32(Bytes);
  DebugPrint(4, u"MEMORY Data |0x%X\r\n", Data);
  return EndMatch(u"IsMatch_MEMORY", (Data & Mask) == Value);
}

// ---- Selection ------------------------------------------------------------------

typedef BOOLEAN (*MULTI_FD_MATCHER)(CHAR8 *Entry, UINTN *Next);

typedef struct {
  CONST CHAR8 *Type;
  MULTI_FD_MATCHER Match;
} MULTI_FD_TYPE;

static CONST MULTI_FD_TYPE kTypes[] = {
    {"PCI", IsMatch_PCI}, {"IO", IsMatch_IO},         {"MPCIIO", IsMatch_MPCIIO},
    {"ID", IsMatch_ID},   {"MEMORY", IsMatch_MEMORY},
};

static MULTI_FD_MATCHER MatcherOf(CONST MULTI_FD_FIELD *Type) {
  for (UINTN Index = 0; Index < ARRAY_SIZE(kTypes); Index++) {
    if (IsFieldWhole(Type, MULTI_FD_FIELD_CHARS) && AsciiStrEqualNoCase(Type->Text, kTypes[Index].Type)) {
      return kTypes[Index].Match;
    }
  }
  return NULL;
}

// A file name field after the condition; FALSE (logged) when it is longer
// than a name may be.
static BOOLEAN IsNameField(CONST MULTI_FD_FIELD *Field, CONST CHAR16 *What) {
  if (Field->Length <= MULTI_FD_NAME_CHARS) {
    return TRUE;
  }
  DebugPrint(0, u" M-FD %s file name longer than %d characters | %a\r\n", What, (UINT32)MULTI_FD_NAME_CHARS,
             Field->Text);
  return FALSE;
}

// Whether the entry in mMultiFd.Entry selects its files on this machine.
static BOOLEAN IsCondiMatch(VOID) {
  CHAR8 *Entry = mMultiFd.Entry;
  UINTN Length = AsciiStrnLenS(Entry, INI_TEXT_SIZE);
  UINTN Position = 0;
  MULTI_FD_FIELD Type;
  if (!ReadField(Entry, Length, &Position, &Type)) {
    return FALSE;
  }
  MULTI_FD_MATCHER Match = MatcherOf(&Type);
  if (Match == NULL || !Match(Entry, &Position)) {
    return FALSE;
  }
  MULTI_FD_FIELD Fd, Me, Ini;
  if (!ReadField(Entry, Length, &Position, &Fd) || Fd.Length == 0 || !IsNameField(&Fd, u"FD")) {
    Print(u"Configure type format error\r\nFD file setting NOT found\r\n\r\n\r\n[Multi_FD]\r\n%a\r\n",
          mMultiFd.Original);
    return FALSE;
  }
  BOOLEAN HasMe = ReadField(Entry, Length, &Position, &Me);
  BOOLEAN HasIni = HasMe && ReadField(Entry, Length, &Position, &Ini);
  if ((HasMe && !IsNameField(&Me, u"ME")) || (HasIni && !IsNameField(&Ini, u"INI"))) {
    return FALSE;
  }
  AsciiStrCpyS(mMultiFd.FdFile, sizeof(mMultiFd.FdFile), Fd.Text);
  AsciiStrCpyS(mMultiFd.MeFile, sizeof(mMultiFd.MeFile), HasMe ? Me.Text : "");
  AsciiStrCpyS(mMultiFd.IniFile, sizeof(mMultiFd.IniFile), HasIni ? Ini.Text : "");
  DebugPrint(0, u" M-FD matched\r\n-------+-----------------\r\n   FD   %a\r\n   ME   %a\r\n  Cfg   %a\r\n",
             mMultiFd.FdFile, mMultiFd.MeFile, mMultiFd.IniFile);
  return TRUE;
}

BOOLEAN SelectMultiFd(VOID) {
  FuncEnter(u"SelectMultiFd");
  mMultiFd.FdFile[0] = 0;
  mMultiFd.MeFile[0] = 0;
  mMultiFd.IniFile[0] = 0;
  for (UINTN Index = 1; Index < INI_MULTI_FD_ENTRIES; Index++) {
    CONST CHAR8 *Text = mIniSettings.MULTI_FD.Fd[Index];
    UINTN Length = AsciiStrnLenS(Text, INI_TEXT_SIZE - 1);
    if (Length == 0) {
      continue;
    }
    CopyMem(mMultiFd.Original, Text, Length);
    mMultiFd.Original[Length] = 0;
    CopyMem(mMultiFd.Entry, mMultiFd.Original, Length + 1);
    DebugPrint(4, u"IsCondi_match() # (%02d) %a\r\n", (UINT32)Index, mMultiFd.Original);
    if (IsCondiMatch()) {
      FuncExit(u"SelectMultiFd", NULL);
      return TRUE;
    }
  }
  FuncExit(u"SelectMultiFd", u"No match");
  return FALSE;
}

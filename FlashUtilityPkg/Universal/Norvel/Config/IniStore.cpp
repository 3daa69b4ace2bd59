#include "Config/IniStore.h"

#include "Base/Trace.h"
#include "BaseLib.h"

INI_STORE mIniStore;

#define RECORD_END_MARK "[55AA]"
#define RECORD_END_MARK_LENGTH 6

VOID IniStoreResetState(VOID) {
  FreePool(mIniStore.Text);
  FreePool(mIniStore.Shadow);
  FreePool(mIniStore.Record);
  ZeroMem(&mIniStore, sizeof(mIniStore));
}

// ---- Cleaning ----

VOID StripCommentLines(CHAR8 *Text, UINT32 *Length) {
  if (Text == NULL || Length == NULL) {
    return;
  }
  UINTN Size = *Length;
  UINTN Comments = 0;
  UINTN LineStart = 0;
  for (UINTN I = 0; I < Size; I++) {
    if (Text[I] == '\n') {
      if (Text[LineStart] == ';') {
        Comments++;
      }
      LineStart = I + 1;
    }
  }
  if (Comments == 0) {
    return;
  }

  // The kept lines are packed in place, as if the text had one more LF at its
  // end: the final fragment becomes a line, and a text that already ends in LF
  // gains an empty line. At least one removed comment line ("; LF", two bytes
  // or more) lies before any write position, so the output never catches up
  // with the input and fits in the original Size bytes.
  UINTN Out = 0;
  LineStart = 0;
  while (LineStart <= Size) {
    UINTN End = LineStart;
    while (End < Size && Text[End] != '\n') {
      End++;
    }
    BOOLEAN Comment = LineStart < Size && Text[LineStart] == ';';
    if (!Comment) {
      CopyMem(Text + Out, Text + LineStart, End - LineStart);
      Out += End - LineStart;
      Text[Out++] = '\n';
    }
    LineStart = End + 1;
  }
  ZeroMem(Text + Out, Size - Out);
  *Length = (UINT32)Out;
}

VOID NormalizeIniLines(CHAR8 *Text, UINT32 *Length) {
  if (Text == NULL || Length == NULL) {
    return;
  }
  // Each output line is at most as long as its input line, so the work is
  // done in place: the write position never passes the read position.
  UINTN Size = *Length;
  UINTN Out = 0;
  UINTN LineStart = 0;
  for (;;) {
    UINTN Lf = LineStart;
    while (Lf < Size && Text[Lf] != '\n') {
      Lf++;
    }
    if (Lf >= Size) {
      break;  // a final fragment without LF is dropped
    }
    UINTN Start = LineStart;
    UINTN End = Lf;
    while (Start < End && Text[Start] == ' ') {
      Start++;
    }
    // Only blanks are stripped: a CR at the end keeps the blanks before it.
    while (End > Start && Text[End - 1] == ' ') {
      End--;
    }
    // Every run of blanks touching an '=' on either side goes.
    CHAR8 Previous = 0;
    UINTN I = Start;
    while (I < End) {
      if (Text[I] != ' ') {
        Previous = Text[I];
        Text[Out++] = Text[I++];
        continue;
      }
      UINTN RunEnd = I;
      while (RunEnd < End && Text[RunEnd] == ' ') {
        RunEnd++;
      }
      BOOLEAN Touches = Previous == '=' || (RunEnd < End && Text[RunEnd] == '=');
      if (!Touches) {
        CopyMem(Text + Out, Text + I, RunEnd - I);
        Out += RunEnd - I;
      }
      I = RunEnd;
    }
    Text[Out++] = '\n';
    LineStart = Lf + 1;
  }
  ZeroMem(Text + Out, Size - Out);
  *Length = (UINT32)Out;
}

// ---- Text installation ----

BOOLEAN SetIniBuffer(CHAR8 *Text, UINT32 Length) {
  // The shadow is made first, so that a failure leaves the current text in force.
  CHAR8 *Shadow = (CHAR8 *)AllocateZeroPool((UINTN)Length + 1);
  if (Shadow == NULL) {
    return FALSE;
  }
  for (UINTN I = 0; I < Length; I++) {
    Shadow[I] = AsciiCharToLower(Text[I]);
  }
  if (mIniStore.Text != Text) {
    FreePool(mIniStore.Text);
  }
  FreePool(mIniStore.Shadow);
  mIniStore.Text = Text;
  mIniStore.Length = Length;
  mIniStore.Shadow = Shadow;
  return TRUE;
}

VOID GetIniBuffer(CHAR8 **Text, UINT32 *Length) {
  if (Text != NULL) {
    *Text = mIniStore.Text;
  }
  if (Length != NULL) {
    *Length = mIniStore.Length;
  }
}

// ---- Read record ----

VOID IniRecordClear(VOID) {
  if (mIniStore.Record == NULL) {
    mIniStore.Record = (CHAR8 *)AllocateZeroPool(INI_RECORD_SIZE);
    return;
  }
  ZeroMem(mIniStore.Record, INI_RECORD_SIZE);
}

CONST CHAR8 *IniRecordString(UINTN Which) {
  if (mIniStore.Record == NULL || Which > INI_RECORD_VALUES) {
    return NULL;
  }
  return mIniStore.Record + Which * INI_RECORD_STRING_SIZE;
}

static VOID AppendBytes(CHAR8 *String, UINTN *Used, CONST CHAR8 *Bytes, UINTN Count) {
  CopyMem(String + *Used, Bytes, Count);
  *Used += Count;
  String[*Used] = 0;
}

// One read setting: a bracketed item on each of the three strings. An entry
// goes in only when all three items fit whole with room left for the end
// mark, so the strings stay aligned item for item and always end properly.
static VOID IniRecordAppend(CONST CHAR8 *Section, CONST CHAR8 *Key, CONST CHAR8 *Value) {
  if (mIniStore.Record == NULL) {
    return;
  }
  CONST CHAR8 *Items[3] = {Section, Key, Value};
  UINTN Used[3];
  UINTN ItemLength[3];
  for (UINTN Which = 0; Which < 3; Which++) {
    CHAR8 *String = mIniStore.Record + Which * INI_RECORD_STRING_SIZE;
    Used[Which] = AsciiStrnLenS(String, INI_RECORD_STRING_SIZE - 1);
    ItemLength[Which] = AsciiStrnLenS(Items[Which], INI_RECORD_STRING_SIZE);
    if (Used[Which] + ItemLength[Which] + 2 + RECORD_END_MARK_LENGTH > INI_RECORD_STRING_SIZE - 1) {
      return;
    }
  }
  for (UINTN Which = 0; Which < 3; Which++) {
    CHAR8 *String = mIniStore.Record + Which * INI_RECORD_STRING_SIZE;
    AppendBytes(String, &Used[Which], "[", 1);
    AppendBytes(String, &Used[Which], Items[Which], ItemLength[Which]);
    AppendBytes(String, &Used[Which], "]", 1);
  }
}

VOID IniRecordFinish(VOID) {
  if (mIniStore.Record == NULL) {
    return;
  }
  for (UINTN Which = 0; Which < 3; Which++) {
    CHAR8 *String = mIniStore.Record + Which * INI_RECORD_STRING_SIZE;
    UINTN Used = AsciiStrnLenS(String, INI_RECORD_STRING_SIZE - 1);
    if (Used + RECORD_END_MARK_LENGTH <= INI_RECORD_STRING_SIZE - 1) {
      AppendBytes(String, &Used, RECORD_END_MARK, RECORD_END_MARK_LENGTH);
    }
  }
}

// ---- Look-up ----

static VOID LowerInPlace(CHAR8 *String) {
  for (; *String != 0; String++) {
    *String = AsciiCharToLower(*String);
  }
}

// The value of Section/Key into Value (INI_VALUE_SIZE bytes, "" on failure).
// "[Section]" or "Key=" from a name whose length was checked against the
// pattern buffer: put together directly, as every look-up builds two.
static UINTN BuildPattern(CHAR8 *Pattern, CONST CHAR8 *Open, CONST CHAR8 *Name, UINTN NameLength, CHAR8 Close) {
  UINTN Length = 0;
  if (Open != NULL) {
    Pattern[Length++] = *Open;
  }
  CopyMem(Pattern + Length, Name, NameLength);
  Length += NameLength;
  Pattern[Length++] = Close;
  Pattern[Length] = 0;
  return Length;
}

static BOOLEAN LookUpValue(CONST CHAR8 *Section, CONST CHAR8 *Key, CHAR8 *Value, BOOLEAN Record) {
  Value[0] = 0;
  if (mIniStore.Text == NULL || mIniStore.Shadow == NULL || Section == NULL || Key == NULL) {
    return FALSE;
  }
  // A name that does not fit its pattern buffer cannot be looked up: a cut
  // pattern would match something else.
  UINTN SectionLength = AsciiStrnLenS(Section, INI_MAX_SECTION_NAME + 1);
  UINTN KeyLength = AsciiStrnLenS(Key, INI_MAX_KEY_NAME + 1);
  if (SectionLength > INI_MAX_SECTION_NAME || KeyLength > INI_MAX_KEY_NAME) {
    return FALSE;
  }
  CHAR8 Header[INI_SECTION_PATTERN_SIZE];
  CHAR8 KeyPattern[INI_KEY_PATTERN_SIZE];
  UINTN HeaderLength = BuildPattern(Header, "[", Section, SectionLength, ']');
  UINTN KeyPatternLength = BuildPattern(KeyPattern, NULL, Key, KeyLength, '=');
  LowerInPlace(Header);
  LowerInPlace(KeyPattern);

  CONST CHAR8 *Text = mIniStore.Text;
  CONST CHAR8 *Shadow = mIniStore.Shadow;
  UINTN Size = mIniStore.Length;
  INTN HeaderAt = FindBytes(Shadow, Size, Header, HeaderLength);
  if (HeaderAt < 0) {
    return FALSE;
  }
  // The section runs from its header to the next '[' or the end of the text.
  UINTN ExtentStart = (UINTN)HeaderAt + HeaderLength;
  UINTN ExtentEnd = ExtentStart;
  while (ExtentEnd < Size && Shadow[ExtentEnd] != '[') {
    ExtentEnd++;
  }
  INTN KeyOffset = FindBytes(Shadow + ExtentStart, ExtentEnd - ExtentStart, KeyPattern, KeyPatternLength);
  if (KeyOffset < 0) {
    return FALSE;
  }
  UINTN KeyAt = ExtentStart + (UINTN)KeyOffset;

  // The key's line, from the key to the LF, cut at the buffer and at a CR.
  CHAR8 Line[INI_LINE_SIZE];
  UINTN LineLength = 0;
  while (KeyAt + LineLength < Size && Text[KeyAt + LineLength] != '\n' && LineLength < INI_LINE_SIZE - 1) {
    Line[LineLength] = Text[KeyAt + LineLength];
    LineLength++;
  }
  Line[LineLength] = 0;
  for (UINTN I = 0; I < LineLength; I++) {
    if (Line[I] == '\r') {
      Line[I] = 0;
      break;
    }
  }

  // Tokens split at '=' (runs of '=' count as one delimiter): the key, then the value.
  CONST CHAR8 *P = Line;
  while (*P == '=') {
    P++;
  }
  if (*P == 0) {
    return FALSE;
  }
  while (*P != 0 && *P != '=') {
    P++;
  }
  while (*P == '=') {
    P++;
  }
  if (*P == 0) {
    return FALSE;
  }
  UINTN ValueLength = 0;
  while (P[ValueLength] != 0 && P[ValueLength] != '=') {
    ValueLength++;
  }
  CopyMem(Value, P, ValueLength);  // at most INI_LINE_SIZE - 1 = INI_VALUE_SIZE - 1
  Value[ValueLength] = 0;

  if (Record) {
    // The names as written in the file, for the record.
    CHAR8 SectionAsWritten[INI_SECTION_PATTERN_SIZE];
    CHAR8 KeyAsWritten[INI_SECTION_PATTERN_SIZE];
    CopyMem(SectionAsWritten, Text + HeaderAt + 1, SectionLength);
    SectionAsWritten[SectionLength] = 0;
    CopyMem(KeyAsWritten, Text + KeyAt, KeyLength);
    KeyAsWritten[KeyLength] = 0;
    IniRecordAppend(SectionAsWritten, KeyAsWritten, Value);
  }
  return TRUE;
}

BOOLEAN GetProfileString(CONST CHAR8 *Section, CONST CHAR8 *Key, CHAR8 *Value, BOOLEAN Record) {
  CHAR8 Scratch[INI_VALUE_SIZE];
  BOOLEAN Found = LookUpValue(Section, Key, Scratch, Record);
  if (Value != NULL) {
    CopyMem(Value, Scratch, AsciiStrnLenS(Scratch, INI_VALUE_SIZE - 1) + 1);
  }
  return Found;
}

UINT32 IniParseDecimal(CONST CHAR8 *Text) {
  while (*Text == ' ' || *Text == '\t') {
    Text++;
  }
  UINT32 Result = 0;
  for (; *Text >= '0' && *Text <= '9'; Text++) {
    Result = Result * 10 + (UINT32)(*Text - '0');
  }
  return Result;
}

UINT32 IniParseHex(CONST CHAR8 *Text) {
  while (*Text == ' ' || *Text == '\t') {
    Text++;
  }
  if (Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    Text += 2;
  }
  UINT32 Result = 0;
  for (; *Text != 0; Text++) {
    UINT32 Digit;
    if (*Text >= '0' && *Text <= '9') {
      Digit = (UINT32)(*Text - '0');
    } else if (*Text >= 'a' && *Text <= 'f') {
      Digit = (UINT32)(*Text - 'a' + 10);
    } else if (*Text >= 'A' && *Text <= 'F') {
      Digit = (UINT32)(*Text - 'A' + 10);
    } else {
      return 0;
    }
    Result = (Result << 4) | Digit;
  }
  return Result;
}

UINT32 GetProfileInt(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT32 Default, BOOLEAN Record) {
  CHAR8 Value[INI_VALUE_SIZE];
  if (!LookUpValue(Section, Key, Value, Record)) {
    return Default;
  }
  return IniParseDecimal(Value);
}

UINT32 GetProfileHex(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT32 Default, BOOLEAN Record) {
  CHAR8 Value[INI_VALUE_SIZE];
  if (!LookUpValue(Section, Key, Value, Record)) {
    return Default;
  }
  return IniParseHex(Value);
}

BOOLEAN GetProfileBool(CONST CHAR8 *Section, CONST CHAR8 *Key, UINT32 Default, BOOLEAN Record) {
  return GetProfileInt(Section, Key, Default, Record) == 1 ? TRUE : FALSE;
}

BOOLEAN IsSectionPresent(CONST CHAR8 *Section) {
  if (mIniStore.Shadow == NULL || Section == NULL) {
    return FALSE;
  }
  UINTN SectionLength = AsciiStrnLenS(Section, INI_MAX_SECTION_NAME + 1);
  if (SectionLength > INI_MAX_SECTION_NAME) {
    return FALSE;
  }
  CHAR8 Header[INI_SECTION_PATTERN_SIZE];
  UINTN HeaderLength = BuildPattern(Header, "[", Section, SectionLength, ']');
  LowerInPlace(Header);
  return FindBytes(mIniStore.Shadow, mIniStore.Length, Header, HeaderLength) >= 0 ? TRUE : FALSE;
}

// ---- Messages ----

CONST CHAR16 *GetMessageString(CONST CHAR8 *Key, CONST CHAR16 *Default) {
  CHAR8 Value[INI_VALUE_SIZE];
  if (!LookUpValue("MessageStringTable", Key, Value, FALSE)) {
    return Default;
  }
  UINTN Length = 0;
  for (UINTN In = 0; Value[In] != 0; In++) {
    if (Value[In] == '\\' && Value[In + 1] == 'r') {
      Value[Length++] = '\r';
      In++;
    } else if (Value[In] == '\\' && Value[In + 1] == 'n') {
      Value[Length++] = '\n';
      In++;
    } else {
      Value[Length++] = Value[In];
    }
  }
  UINTN Start = 0;
  while (Start < Length && Value[Start] == '"') {
    Start++;
  }
  while (Length > Start && Value[Length - 1] == '"') {
    Length--;
  }
  CHAR16 *Message = (CHAR16 *)AllocatePool((Length - Start + 1) * sizeof(CHAR16));
  if (Message == NULL) {
    return Default;
  }
  for (UINTN I = Start; I < Length; I++) {
    Message[I - Start] = (CHAR16)(UINT8)Value[I];
  }
  Message[Length - Start] = 0;
  return Message;
}

// ---- Writing ----

// First occurrence of Needle (compared case-insensitively) in Shadow[From, Size), or -1.
static INTN FindNoCase(UINTN From, CONST CHAR8 *Needle, UINTN NeedleLength) {
  CONST CHAR8 *Shadow = mIniStore.Shadow;
  UINTN Size = mIniStore.Length;
  if (Shadow == NULL || NeedleLength == 0 || From > Size || NeedleLength > Size - From) {
    return -1;
  }
  for (UINTN I = From; I + NeedleLength <= Size; I++) {
    UINTN J = 0;
    while (J < NeedleLength && Shadow[I + J] == AsciiCharToLower(Needle[J])) {
      J++;
    }
    if (J == NeedleLength) {
      return (INTN)I;
    }
  }
  return -1;
}

// Builds a new text from up to four pieces and installs it. FALSE when memory runs out.
typedef struct {
  CONST CHAR8 *Bytes;
  UINTN Length;
} TEXT_PIECE;

static BOOLEAN InstallPieces(CONST TEXT_PIECE *Pieces, UINTN Count) {
  UINT64 Total = 0;
  for (UINTN I = 0; I < Count; I++) {
    Total += Pieces[I].Length;
  }
  if (Total >= 0xFFFFFFFFull) {
    return FALSE;
  }
  CHAR8 *Text = (CHAR8 *)AllocateZeroPool((UINTN)Total + 1);
  if (Text == NULL) {
    return FALSE;
  }
  UINTN At = 0;
  for (UINTN I = 0; I < Count; I++) {
    CopyMem(Text + At, Pieces[I].Bytes, Pieces[I].Length);
    At += Pieces[I].Length;
  }
  if (!SetIniBuffer(Text, (UINT32)Total)) {
    FreePool(Text);
    return FALSE;
  }
  return TRUE;
}

BOOLEAN SetProfileString(CONST CHAR8 *Section, CONST CHAR8 *Key, CONST CHAR8 *Value) {
  FuncEnter(u"SetProfileString");
  if (Section == NULL || Key == NULL || Value == NULL) {
    FuncExit(u"SetProfileString", u"Input buffer is NULL");
    return FALSE;
  }
  CHAR8 *Text = mIniStore.Text;
  UINTN Size = mIniStore.Text != NULL ? mIniStore.Length : 0;
  UINTN SectionLength = AsciiStrLen(Section);
  UINTN KeyLength = AsciiStrLen(Key);
  UINTN ValueLength = AsciiStrLen(Value);

  INTN SectionAt = FindNoCase(0, Section, SectionLength);
  if (SectionAt < 0) {
    TEXT_PIECE Pieces[] = {{Text, Size}, {"\r\n[", 3}, {Section, SectionLength}, {"]\r\n", 3},
                           {Key, KeyLength}, {"=", 1}, {Value, ValueLength}};
    if (!InstallPieces(Pieces, ARRAY_SIZE(Pieces))) {
      FuncExit(u"SetProfileString", u"Allocate memory failed");
      return FALSE;
    }
    FuncExit(u"SetProfileString", u"Section not found");
    return TRUE;
  }
  UINTN SectionEnd = (UINTN)SectionAt + SectionLength;

  // The old value runs from the '=' after the key to the line's end. A key
  // with no '=' after it anywhere is not a key line: it is treated as absent.
  INTN KeyAt = FindNoCase(SectionEnd, Key, KeyLength);
  UINTN ValueStart = 0;
  if (KeyAt >= 0) {
    UINTN Equal = (UINTN)KeyAt + KeyLength;
    while (Equal < Size && Text[Equal] != '=') {
      Equal++;
    }
    if (Equal >= Size) {
      KeyAt = -1;
    } else {
      ValueStart = Equal + 1;
    }
  }
  if (KeyAt < 0) {
    // The new line goes right after the section name and the byte after it (its ']').
    UINTN InsertAt = SectionEnd < Size ? SectionEnd + 1 : Size;
    TEXT_PIECE Pieces[] = {{Text, InsertAt}, {"\r\n", 2},        {Key, KeyLength},
                           {"=", 1},         {Value, ValueLength}, {Text + InsertAt, Size - InsertAt}};
    if (!InstallPieces(Pieces, ARRAY_SIZE(Pieces))) {
      FuncExit(u"SetProfileString", u"Allocate memory failed");
      return FALSE;
    }
    FuncExit(u"SetProfileString", u"Key not found");
    return TRUE;
  }

  // A value ends at a CR or, in a text with bare LF line ends, at the LF:
  // running on to the end of the text would swallow every later line.
  UINTN ValueEnd = ValueStart;
  while (ValueEnd < Size && Text[ValueEnd] != '\r' && Text[ValueEnd] != '\n') {
    ValueEnd++;
  }
  UINTN OldLength = ValueEnd - ValueStart;
  if (ValueLength > OldLength) {
    TEXT_PIECE Pieces[] = {{Text, ValueStart}, {Value, ValueLength}, {Text + ValueEnd, Size - ValueEnd}};
    if (!InstallPieces(Pieces, ARRAY_SIZE(Pieces))) {
      FuncExit(u"SetProfileString", u"Allocate buffer failed");
      return FALSE;
    }
    FuncExit(u"SetProfileString", NULL);
    return TRUE;
  }

  CHAR8 *Shadow = mIniStore.Shadow;
  for (UINTN I = 0; I < ValueLength; I++) {
    Text[ValueStart + I] = Value[I];
    Shadow[ValueStart + I] = AsciiCharToLower(Value[I]);
  }
  if (ValueLength < OldLength) {
    UINTN Gap = OldLength - ValueLength;
    CopyMem(Text + ValueStart + ValueLength, Text + ValueEnd, Size - ValueEnd);
    CopyMem(Shadow + ValueStart + ValueLength, Shadow + ValueEnd, Size - ValueEnd);
    // The freed tail is zeroed: the text stays terminated inside its buffer.
    ZeroMem(Text + Size - Gap, Gap);
    ZeroMem(Shadow + Size - Gap, Gap);
    mIniStore.Length = (UINT32)(Size - Gap);
  }
  FuncExit(u"SetProfileString", NULL);
  return TRUE;
}

#include "Config/EdtArguments.h"

#include "Base/Trace.h"
#include "BaseLib.h"

EXTRA_DATA_STATE mExtraData;

VOID EdtResetState(VOID) { ZeroMem(&mExtraData, sizeof(mExtraData)); }

static BOOLEAN StartsWith(CONST CHAR16 *Text, CONST CHAR16 *Prefix) {
  for (; *Prefix != 0; Text++, Prefix++) {
    if (*Text != *Prefix) {
      return FALSE;
    }
  }
  return TRUE;
}

// Checks Argument (already copied into Work with its first six characters
// folded) for a type code 4..C and a format code f:, s:, w: or dw:.
static BOOLEAN CheckEdtArgument(CONST CHAR16 *Work) {
  CHAR16 Type = Work[3];
  if (!((Type >= u'4' && Type <= u'9') || (Type >= u'a' && Type <= u'c'))) {
    Print(u"Warning - Type code error. (0x4-0xC)\r\n");
    return FALSE;
  }
  CONST CHAR16 *Format = Work + 4;
  if (!StartsWith(Format, u"f:") && !StartsWith(Format, u"s:") && !StartsWith(Format, u"w:") &&
      !StartsWith(Format, u"dw:")) {
    Print(u"Warning - Format code error.\r\n");
    return FALSE;
  }
  return TRUE;
}

BOOLEAN AddEdtArgument(CONST CHAR16 *Argument) {
  FuncEnter(u"AddEdtArgument");
  if (Argument == NULL) {
    FuncExit(u"AddEdtArgument", u"Input buffer is NULL");
    return FALSE;
  }
  DebugPrint(4, u"raw command (%s)\r\n", Argument);
  UINTN Length = StrnLenS(Argument, EDT_ARGUMENT_CHARS);
  if (Length < 6) {
    FuncExit(u"AddEdtArgument", u"Argument too short");
    return FALSE;
  }
  // The table holds 127 characters: a longer argument would lose its value's end.
  if (Length >= EDT_ARGUMENT_CHARS) {
    FuncExit(u"AddEdtArgument", u"Argument too long");
    return FALSE;
  }
  CHAR16 Work[EDT_ARGUMENT_CHARS];
  StrCpyS(Work, EDT_ARGUMENT_CHARS, Argument);
  for (UINTN Index = 0; Index < 6; Index++) {
    Work[Index] = CharToLower(Work[Index]);
  }
  if (!CheckEdtArgument(Work)) {
    FuncExit(u"AddEdtArgument", u"Invalid argument");
    return FALSE;
  }
  if (mExtraData.Count >= EDT_TABLE_ENTRIES) {
    FuncExit(u"AddEdtArgument", u"Extra data table full");
    return FALSE;
  }
  StrCpyS(mExtraData.Table[mExtraData.Count], EDT_ARGUMENT_CHARS, Work);
  mExtraData.Count++;
  FuncExit(u"AddEdtArgument", NULL);
  return TRUE;
}

UINT32 GetEdtArgumentCount(VOID) { return mExtraData.Count; }

CONST CHAR16 *GetEdtArgument(UINT32 Index) {
  return Index < mExtraData.Count ? mExtraData.Table[Index] : NULL;
}

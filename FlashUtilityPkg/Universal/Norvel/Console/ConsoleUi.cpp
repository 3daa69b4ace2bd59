#include "Console/ConsoleUi.h"

#include "Base/Settings.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/IniStore.h"
#include "Platform.h"
#include "Smi/PlatformQueries.h"

// Constant initialisation (no constructor): the bar's "nothing drawn" mark is
// not zero.
CONSOLE_UI_STATE mConsoleUi = {PROGRESS_BAR_NOT_DRAWN, FALSE, {}};

VOID ConsoleUiResetState(VOID) {
  ZeroMem(&mConsoleUi, sizeof(mConsoleUi));
  mConsoleUi.LastFilled = PROGRESS_BAR_NOT_DRAWN;
}

// ---- Keys ------------------------------------------------------------------

CHAR16 GetKey(VOID) {
  SMI_ApHookPoint(HOOK_BEFORE_DIALOG);
  EFI_INPUT_KEY Key;
  ZeroMem(&Key, sizeof(Key));
  while (PlatformConsoleReadKey(&Key) == EFI_NOT_READY) {
  }
  SMI_ApHookPoint(HOOK_AFTER_DIALOG);
  return Key.UnicodeChar;
}

VOID WaitKey(VOID) { (VOID)GetKey(); }

BOOLEAN ConfirmFlash(VOID) {
  ConsolePrint(u"\r\n                Dangerous! Do you want to flash BIOS? (Y/N)\r\n");
  CHAR16 Key = GetKey();
  if (Key == u'Y' || Key == u'y') {
    return TRUE;
  }
  ConsolePrint(u"\r\n                Exit by user.\r\n");
  return FALSE;
}

// ---- Progress bar ------------------------------------------------------------

// Days since 1970-01-01 of a civil date (proleptic Gregorian), 32-bit only.
static INT32 DaysFromCivil(INT32 Year, UINT32 Month, UINT32 Day) {
  Year -= Month <= 2 ? 1 : 0;
  INT32 Era = (Year >= 0 ? Year : Year - 399) / 400;
  UINT32 YearOfEra = (UINT32)(Year - Era * 400);
  UINT32 DayOfYear = (153 * (Month > 2 ? Month - 3 : Month + 9) + 2) / 5 + Day - 1;
  UINT32 DayOfEra = YearOfEra * 365 + YearOfEra / 4 - YearOfEra / 100 + DayOfYear;
  return Era * 146097 + (INT32)DayOfEra - 719468;
}

static UINT32 ValidNanosecond(CONST EFI_TIME *Time) { return Time->Nanosecond < 1000000000u ? Time->Nanosecond : 0; }

// Whole seconds from Start to Now; 0 when the clock went back. Clocks that
// report no nanoseconds simply count whole clock seconds.
static UINT32 SecondsBetween(CONST EFI_TIME *Start, CONST EFI_TIME *Now) {
  INT64 Days = (INT64)DaysFromCivil(Now->Year, Now->Month, Now->Day) -
               DaysFromCivil(Start->Year, Start->Month, Start->Day);
  INT64 Seconds = Days * 86400 + ((INT64)Now->Hour * 3600 + Now->Minute * 60 + Now->Second) -
                  ((INT64)Start->Hour * 3600 + Start->Minute * 60 + Start->Second);
  if (ValidNanosecond(Now) < ValidNanosecond(Start)) {
    Seconds--;
  }
  if (Seconds < 0) {
    return 0;
  }
  return Seconds > 0x7FFFFFFF ? 0x7FFFFFFFu : (UINT32)Seconds;
}

VOID ProgressBarStartTimer(VOID) {
  mConsoleUi.TimerStarted = !EFI_ERROR(PlatformGetTime(&mConsoleUi.StartTime));
}

static UINT32 ElapsedSeconds(VOID) {
  if (!mConsoleUi.TimerStarted) {
    ProgressBarStartTimer();
    return 0;
  }
  EFI_TIME Now;
  if (EFI_ERROR(PlatformGetTime(&Now))) {
    return 0;
  }
  return SecondsBetween(&mConsoleUi.StartTime, &Now);
}

// Prints Count copies of Char (after Lead when Lead is not 0).
static VOID PrintRun(CHAR16 Lead, CHAR16 Char, UINTN Count) {
  CHAR16 Run[PROGRESS_BAR_WIDTH + 2];
  UINTN Length = 0;
  if (Lead != 0) {
    Run[Length++] = Lead;
  }
  for (UINTN Index = 0; Index < Count && Length < PROGRESS_BAR_WIDTH + 1; Index++) {
    Run[Length++] = Char;
  }
  Run[Length] = 0;
  Print(u"%s", Run);
}

VOID ProgressBar(UINTN Percent) {
  BOOLEAN Elapse = mIniSettings.UI.Elapse != 0;
  UINTN Width = Elapse ? PROGRESS_BAR_WIDTH_ELAPSE : PROGRESS_BAR_WIDTH;
  if (Percent > 100) {
    Percent = 100;
  }
  UINT8 Filled = (UINT8)(Percent * Width / 100);

  UINTN Column = 0;
  UINTN Row = 0;
  PlatformConsoleGetCursorPosition(&Column, &Row);
  PlatformConsoleEnableCursor(FALSE);
  PlatformConsoleSetCursorPosition(Width, Row);
  if (Elapse) {
    Print(u"%3d%%,%2dsec", (UINT32)Percent, ElapsedSeconds());
  } else {
    Print(u"%3d%%", (UINT32)Percent);
  }

  if (Filled != mConsoleUi.LastFilled) {
    PlatformConsoleSetCursorPosition(0, Row);
    PlatformConsoleSetAttribute(ATTRIBUTE_BAR_FILLED);
    PrintRun(u'\r', u' ', Filled);
    PlatformConsoleSetAttribute(ATTRIBUTE_BAR_EMPTY);
    PrintRun(0, u' ', Width - Filled);
    mConsoleUi.LastFilled = Filled;
  }
  PlatformConsoleSetAttribute(ATTRIBUTE_NORMAL);
}

// ---- Centred lines -------------------------------------------------------------

static BOOLEAN IsLineBreak(CHAR16 Char) { return Char == u'\r' || Char == u'\n'; }

// Calls Emit(Start, Length) for each slot's worth of text: each line, and each
// Width - 1 piece of a line longer than Width. Returns the slot count.
template <typename EmitFn>
static UINTN ForEachSlot(UINTN Width, CONST CHAR16 *Text, EmitFn Emit) {
  UINTN Piece = Width > 1 ? Width - 1 : 1;
  UINTN Slots = 0;
  CONST CHAR16 *Cursor = Text;
  while (*Cursor != 0) {
    while (IsLineBreak(*Cursor)) {
      Cursor++;
    }
    CONST CHAR16 *Start = Cursor;
    while (*Cursor != 0 && !IsLineBreak(*Cursor)) {
      Cursor++;
    }
    UINTN Length = (UINTN)(Cursor - Start);
    if (Length == 0) {
      break;  // trailing breaks
    }
    if (Length <= Width) {
      Emit(Slots++, Start, Length);
      continue;
    }
    for (UINTN Offset = 0; Offset < Length; Offset += Piece) {
      Emit(Slots++, Start + Offset, Length - Offset < Piece ? Length - Offset : Piece);
    }
  }
  return Slots;
}

CHAR16 *CenterLines(UINTN Width, CONST CHAR16 *Text) {
  if (Text == NULL || Width == 0) {
    return NULL;
  }
  UINTN Slots = ForEachSlot(Width, Text, [](UINTN, CONST CHAR16 *, UINTN) {});
  CHAR16 *Result = (CHAR16 *)AllocatePool((Slots * Width + 1) * sizeof(CHAR16));
  if (Result == NULL) {
    return NULL;
  }
  for (UINTN Index = 0; Index < Slots * Width; Index++) {
    Result[Index] = u' ';
  }
  Result[Slots * Width] = 0;
  ForEachSlot(Width, Text, [&](UINTN Slot, CONST CHAR16 *Start, UINTN Length) {
    CHAR16 *Line = Result + Slot * Width;
    CopyMem(Line + (Width - Length) / 2, Start, Length * sizeof(CHAR16));
    Line[Width - 1] = u'\n';
  });
  return Result;
}

// ---- Coloured screens and frames ---------------------------------------------------

#define AC_WARNING_WIDTH 80
#define AC_WARNING_CURSOR_ROW 6

static CONST CHAR16 mBlankLine79[] =
    u"                                                                               ";

VOID ShowAcWarning(CONST CHAR8 *MessageKey) {
  CONST CHAR16 *Default = u"Please do not remove the AC power!";
  CONST CHAR16 *Message = GetMessageString(MessageKey, Default);
  CHAR16 *Lines = CenterLines(AC_WARNING_WIDTH, Message);
  if (Message != Default) {
    FreePool((VOID *)Message);  // a table text is the caller's to free
  }

  PlatformConsoleClearScreen();
  PlatformConsoleSetAttribute(ATTRIBUTE_WARNING);
  ConsolePrint(u"%s\n", mBlankLine79);
  if (Lines != NULL) {
    // Each slot ends in a bare LF; a LF in an argument is not widened to CR LF,
    // so each slot goes out through the format's own line end.
    UINTN Length = StrLen(Lines);
    for (UINTN Start = 0; Start + AC_WARNING_WIDTH <= Length; Start += AC_WARNING_WIDTH) {
      Lines[Start + AC_WARNING_WIDTH - 1] = 0;
      ConsolePrint(u"%s\n", Lines + Start);
    }
    FreePool(Lines);
  }
  ConsolePrint(u"%s\n", mBlankLine79);
  PlatformConsoleSetCursorPosition(0, AC_WARNING_CURSOR_ROW);
  PlatformConsoleSetAttribute(ATTRIBUTE_NORMAL);
}

#define FRAME_ROW_CHARS FRAME_COLUMNS
#define FRAME_MAX_ROWS 7

static CONST CHAR16 mFrameTop[] = u"#===================================== ERROR ==================================#";
static CONST CHAR16 mFrameBottom[] =
    u"#==============================================================================#";

typedef struct {
  CHAR16 Text[FRAME_MAX_ROWS * FRAME_ROW_CHARS + 1];
  UINTN Rows;
} FRAME;

static VOID FrameAddRow(FRAME *Frame, CONST CHAR16 *Row) {
  CopyMem(Frame->Text + Frame->Rows * FRAME_ROW_CHARS, Row, FRAME_ROW_CHARS * sizeof(CHAR16));
  Frame->Rows++;
  Frame->Text[Frame->Rows * FRAME_ROW_CHARS] = 0;
}

// '#', a blank, Text in 76 columns (right- or left-aligned, cut beyond), a blank, '#'.
static VOID FrameAddTextRow(FRAME *Frame, CONST CHAR16 *Text, BOOLEAN RightAlign) {
  CHAR16 Row[FRAME_ROW_CHARS];
  for (UINTN Index = 0; Index < FRAME_ROW_CHARS; Index++) {
    Row[Index] = u' ';
  }
  Row[0] = u'#';
  Row[FRAME_ROW_CHARS - 1] = u'#';
  UINTN Length = Text == NULL ? 0 : StrnLenS(Text, FRAME_TEXT_COLUMNS);
  UINTN Column = 2 + (RightAlign ? FRAME_TEXT_COLUMNS - Length : 0);
  if (Length != 0) {
    CopyMem(Row + Column, Text, Length * sizeof(CHAR16));
  }
  FrameAddRow(Frame, Row);
}

static VOID FrameAddClosingRows(FRAME *Frame) {
  FrameAddTextRow(Frame, u"ROM update not performed.", FALSE);
  FrameAddTextRow(Frame, u"press any key to exit.", FALSE);
  FrameAddRow(Frame, mFrameBottom);
}

VOID ShowRedFrame(CONST CHAR16 *Frame) {
  PlatformConsoleSetAttribute(ATTRIBUTE_WARNING);
  ConsolePrint(u"%s", Frame);
  PlatformConsoleSetAttribute(ATTRIBUTE_NORMAL);
  ConsolePrint(u"\r\n");
}

VOID ShowErrorBox(CONST CHAR16 *Line1, CONST CHAR16 *Line2) {
  FRAME Frame;
  Frame.Rows = 0;
  FrameAddRow(&Frame, mFrameTop);
  FrameAddTextRow(&Frame, Line1, TRUE);
  FrameAddTextRow(&Frame, Line2, TRUE);
  FrameAddTextRow(&Frame, NULL, FALSE);
  FrameAddClosingRows(&Frame);
  ShowRedFrame(Frame.Text);
  WaitKey();
}

VOID ShowPowerErrorFrame(CONST CHAR16 *Message) {
  FRAME Frame;
  Frame.Rows = 0;
  FrameAddRow(&Frame, mFrameTop);
  FrameAddTextRow(&Frame, Message, FALSE);
  FrameAddTextRow(&Frame, NULL, FALSE);
  FrameAddClosingRows(&Frame);
  ShowRedFrame(Frame.Text);
}

// ---- End of run --------------------------------------------------------------------

VOID EndOfRunPause(VOID) {
  if (mIniSettings.FlashComplete.Pause == 0) {
    return;
  }
  CONST CHAR16 *Default = u"Press any key to continue...";
  CONST CHAR16 *Message = GetMessageString(mIniSettings.FlashComplete.PauseWarning, Default);
  ConsolePrint(u"\n                           %s ", Message);
  if (Message != Default) {
    FreePool((VOID *)Message);
  }
  WaitKey();
}


#include "Base/Trace.h"

#include "Base/Print.h"
#include "Base/RunState.h"
#include "Base/Settings.h"
#include "BaseLib.h"
#include "Platform.h"

TRACE_STATE mTrace;

#define TRACE_BUFFER_BYTES (TRACE_BUFFER_CHARS * sizeof(CHAR16))
#define LOG_LINE_MAX_CHARS 1024
#define PRINT_BUFFER_CHARS 4096
#define CONSOLE_PRINT_BYTES 4096
#define CONSOLE_CHUNK_CHARS 300
#define CONSOLE_WORK_CHARS 400

VOID TraceResetState(VOID) {
  if (mTrace.Buffer != NULL) {
    FreePool(mTrace.Buffer);
  }
  ZeroMem(&mTrace, sizeof(mTrace));
}

VOID SetLogWriter(CONST LOG_WRITER *Writer) { mTrace.Writer = Writer; }

BOOLEAN IsDebugOn(VOID) { return mTrace.DebugFlag != 0 || mIniSettings.Log_file.Flag != 0; }

static UINT8 EffectiveLogLevel(VOID) {
  return mIniSettings.Log_file.Level > 4 ? (UINT8)4 : mIniSettings.Log_file.Level;
}

static BOOLEAN IsLogTaken(UINTN Level) {
  return IsDebugOn() && !(Level > mTrace.DebugLevel && Level > EffectiveLogLevel());
}

BOOLEAN IsTraceTaken(UINTN Level) { return mIniSettings.Log_file.LogOnScreen != 0 || IsLogTaken(Level); }

// Deletes the old log in the current directory. The first trace of a load
// runs before the launcher has set the directory the log is then written in:
// the log is started again there, so no load appends to an older log.
static VOID StartLog(VOID) {
  if (mTrace.Writer == NULL) {
    return;
  }
  StrCpyS(mTrace.LogDirectory, ARRAY_SIZE(mTrace.LogDirectory), mTrace.Writer->CurrentDirectory());
  mTrace.LogStarted = TRUE;
  mTrace.Writer->DeleteFile(mTrace.LogFileName);
}

VOID DebugPrint(UINTN Level, CONST CHAR16 *Format, ...) {
  if (mTrace.Buffer == NULL) {
    mTrace.Buffer = (CHAR16 *)AllocateZeroPool(TRACE_BUFFER_BYTES);
    if (mTrace.Buffer == NULL) {
      return;
    }
    UnicodeSPrint(mTrace.LogFileName, sizeof(mTrace.LogFileName), u"%s", u"VyrFFT-Secure.Log");
    // Each load starts a fresh log.
    StartLog();
  }

  // A trace that neither the screen nor the log takes is not formatted: the
  // block tables alone trace thousands of rows per run.
  BOOLEAN ToScreen = mIniSettings.Log_file.LogOnScreen != 0;
  BOOLEAN ToLog = IsLogTaken(Level);
  if (!ToScreen && !ToLog) {
    return;
  }
  ZeroMem(mTrace.Buffer, TRACE_BUFFER_BYTES);
  va_list Marker;
  va_start(Marker, Format);
  UnicodeVSPrint(mTrace.Buffer, TRACE_BUFFER_BYTES, Format, Marker);
  va_end(Marker);

  if (ToScreen) {
    ConsolePrint(u"%s", mTrace.Buffer);
  }
  if (!ToLog || mTrace.Writer == NULL) {
    return;
  }

  UINTN Length = StrnLenS(mTrace.Buffer, LOG_LINE_MAX_CHARS);
  CHAR8 *Line = (CHAR8 *)AllocatePool(Length + 1);
  if (Line == NULL) {
    return;
  }
  for (UINTN I = 0; I < Length; I++) {
    Line[I] = (CHAR8)(mTrace.Buffer[I] & 0xFF);
  }
  Line[Length] = 0;
  // The file operations may trace themselves and reuse the trace buffer: the
  // 8-bit copy is taken before.
  if (!mTrace.LogStarted || StrCmp(mTrace.LogDirectory, mTrace.Writer->CurrentDirectory()) != 0) {
    StartLog();
  }
  mTrace.Writer->AppendFile(mTrace.LogFileName, Line, (UINT32)Length);
  FreePool(Line);
}

VOID FuncEnter(CONST CHAR16 *Name) {
  DebugPrint(2, u"===> %s", Name);
  DebugPrint(2, u"\r\n");
}

VOID FuncExit(CONST CHAR16 *Name, CONST CHAR16 *Reason) {
  if (Reason == NULL) {
    DebugPrint(2, u"<=== %s\r\n", Name);
  } else {
    DebugPrint(2, u"<=== %s (%s)\r\n", Name, Reason);
  }
}

static BOOLEAN IsDebugWord(CONST CHAR16 *Word) {
  return StrEqualNoCase(Word, u"-dbg") || StrEqualNoCase(Word, u"/dbg");
}

VOID CheckDebugArgument(VOID) {
  for (UINT32 Index = 1; Index < GetArgumentCount(); Index++) {
    CONST CHAR16 *Word = GetArgument(Index);
    if (Word != NULL && IsDebugWord(Word)) {
      mTrace.DebugFlag = 1;
      mTrace.DebugLevel = 4;
    }
  }
}

UINTN Print(CONST CHAR16 *Format, ...) {
  CHAR16 *Buffer = (CHAR16 *)AllocateZeroPool(PRINT_BUFFER_CHARS * sizeof(CHAR16));
  if (Buffer == NULL) {
    return 0;
  }
  va_list Marker;
  va_start(Marker, Format);
  UINTN Length = UnicodeVSPrint(Buffer, PRINT_BUFFER_CHARS * sizeof(CHAR16), Format, Marker);
  va_end(Marker);
  PlatformConsoleOutputString(Buffer);
  FreePool(Buffer);
  return Length;
}

VOID ConsolePrint(CONST CHAR16 *Format, ...) {
  // The CR of each CR LF in the format is dropped (the formatter turns the LF
  // back into CR LF). Done on a copy: the caller's format may be read-only.
  UINTN FormatLength = StrLen(Format);
  CHAR16 *Folded = (CHAR16 *)AllocatePool((FormatLength + 1) * sizeof(CHAR16));
  if (Folded == NULL) {
    return;
  }
  UINTN Out = 0;
  for (UINTN In = 0; In < FormatLength; In++) {
    if (Format[In] == u'\r' && Format[In + 1] == u'\n') {
      continue;
    }
    Folded[Out++] = Format[In];
  }
  Folded[Out] = 0;

  CHAR16 *Text = (CHAR16 *)AllocateZeroPool(CONSOLE_PRINT_BYTES);
  if (Text == NULL) {
    FreePool(Folded);
    return;
  }
  va_list Marker;
  va_start(Marker, Format);
  UnicodeVSPrint(Text, CONSOLE_PRINT_BYTES, Folded, Marker);
  va_end(Marker);

  CHAR16 Work[CONSOLE_WORK_CHARS];
  UINTN Length = StrLen(Text);
  for (UINTN Offset = 0; Offset < Length; Offset += CONSOLE_CHUNK_CHARS) {
    UINTN Piece = Length - Offset < CONSOLE_CHUNK_CHARS ? Length - Offset : CONSOLE_CHUNK_CHARS;
    CopyMem(Work, Text + Offset, Piece * sizeof(CHAR16));
    Work[Piece] = 0;
    Print(u"%s", Work);
  }
  FreePool(Text);
  FreePool(Folded);
}

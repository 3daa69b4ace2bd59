// Trace, log file and console print.
#ifndef VYR_TRACE_H_
#define VYR_TRACE_H_

#include "Base.h"

#define TRACE_BUFFER_CHARS 4096
#define LOG_FILE_NAME_CHARS 512

// Where the log goes: file access registers itself, so the trace needs no
// file code of its own. Without a writer the log is not written.
typedef struct {
  CONST CHAR16 *(*CurrentDirectory)(VOID);
  BOOLEAN (*DeleteFile)(CONST CHAR16 *Name);
  BOOLEAN (*AppendFile)(CONST CHAR16 *Name, CONST VOID *Buffer, UINT32 Size);
} LOG_WRITER;

typedef struct {
  CONST LOG_WRITER *Writer;
  UINT8 DebugFlag;   // -dbg given
  UINT8 DebugLevel;  // 4 with -dbg
  CHAR16 *Buffer;    // 8192 bytes, allocated at the first trace of a load
  CHAR16 LogFileName[LOG_FILE_NAME_CHARS];
  CHAR16 LogDirectory[128];  // where the old log was deleted
  BOOLEAN LogStarted;        // LogDirectory is set
} TRACE_STATE;

extern TRACE_STATE mTrace;

VOID TraceResetState(VOID);
VOID SetLogWriter(CONST LOG_WRITER *Writer);

VOID DebugPrint(UINTN Level, CONST CHAR16 *Format, ...);
VOID FuncEnter(CONST CHAR16 *Name);
VOID FuncExit(CONST CHAR16 *Name, CONST CHAR16 *Reason);
BOOLEAN IsDebugOn(VOID);
// Whether a DebugPrint at Level would reach the screen or the log: traces
// built line by line are left unbuilt when it would not.
BOOLEAN IsTraceTaken(UINTN Level);
// Sets the debug flag when an argument after the program name is -dbg or /dbg (any case).
VOID CheckDebugArgument(VOID);

// The platform library's console print: formats and writes to the console.
UINTN Print(CONST CHAR16 *Format, ...);
// The utility's own console print: CR LF folding and output in 300-character pieces.
VOID ConsolePrint(CONST CHAR16 *Format, ...);

#endif  // VYR_TRACE_H_

#include "Flash/ExtraData.h"

#include "Base/HexDump.h"
#include "Base/Trace.h"
#include "BaseLib.h"
#include "Config/CommandLine.h"
#include "Config/EdtArguments.h"
#include "Console/FileAccess.h"
#include "Smi/ExtraDataRequest.h"
#include "Smi/FwsmiExchange.h"

#define FWSMI_42H_DUMP_LENGTH 32

// The piece goes into buffer 1 (ESI); EDI is a length, not a buffer.
static CONST FWSMI_EXCHANGE k42h = {
    u"Fwsmi_42h", 0x42, 0, 0, u"Input buffer is NULL",
    {{FWSMI_REG_ESI, FWSMI_SIZE_GIVEN, 0, 0}, {FWSMI_REG_NONE, 0, 0, 0}},
    NULL, NULL};

BOOLEAN Fwsmi_42h(UINT8 Continuation, UINT8 Index, CONST VOID *Data, UINT32 Length, UINT8 *Status) {
  UINT8 Unused = 0;
  if (Status == NULL) {
    Status = &Unused;
  }
  *Status = FWSMI_STATUS_NOT_SUPPORTED;
  if (!FwsmiExchangeBegin(&k42h, Data == NULL || Length == 0)) {
    return FALSE;
  }
  DebugPrint(4, u"===== 42h Input buffer (0x%02X) =====\r\n", Length);
  DumpHex(Data, Length < FWSMI_42H_DUMP_LENGTH ? Length : FWSMI_42H_DUMP_LENGTH);
  FWSMI_EXCHANGE_IO Io = {};
  Io.In[0] = Data;
  Io.Size[0] = Length;
  Io.Args.Ecx = (UINT32)Continuation | ((UINT32)Index << 8);
  Io.Args.Edi = Length;
  CONST CHAR16 *Reason = FwsmiExchangePlace(&k42h, &Io);
  if (Reason == NULL) {
    Reason = FwsmiExchangeCall(&k42h, &Io);
    *Status = (UINT8)(Io.Eax & 0xFF);
  }
  return FwsmiExchangeEnd(&k42h, Reason);
}

BOOLEAN FuncFwsmi_42h(UINT8 Continuation, UINT8 Index, CONST VOID *Data, UINT32 Length) {
  FuncEnter(u"FuncFwsmi_42h");
  UINT8 Status = 0;
  if (!Fwsmi_42h(Continuation, Index, Data, Length, &Status)) {
    DebugPrint(4, u"FWSMI 42h failed. (0x%X)\r\n", Status);
    FuncExit(u"FuncFwsmi_42h", u"FWSMI 42h failed");
    return FALSE;
  }
  FuncExit(u"FuncFwsmi_42h", NULL);
  return TRUE;
}

BOOLEAN SMI_WriteCustomizeData(CONST UINT8 *Data, UINT32 Size) {
  FuncEnter(u"SMI_WriteCustomizeData");
  if (Data == NULL) {
    FuncExit(u"SMI_WriteCustomizeData", u"Input buffer is NULL");
    return FALSE;
  }
  UINT32 Count = 1;
  UINT32 Piece = Size;
  if (Size > EXTRA_DATA_ONE_PIECE_MAX) {
    Piece = EXTRA_DATA_PIECE_SIZE;
    Count = Size / EXTRA_DATA_PIECE_SIZE + (Size % EXTRA_DATA_PIECE_SIZE != 0 ? 1 : 0);
  }
  // The index is one byte: a 256th piece would be sent as piece 0 again.
  if (Count > EXTRA_DATA_MAX_PIECES) {
    Print(u"Error: Extra data of 0x%X bytes needs more than %d pieces.\r\n", Size, EXTRA_DATA_MAX_PIECES);
    FuncExit(u"SMI_WriteCustomizeData", u"Extra data too large");
    return FALSE;
  }
  for (UINT32 Index = 0; Index < Count; Index++) {
    BOOLEAN Last = Index + 1 == Count;
    UINT32 Length = Last ? Size - Index * Piece : Piece;
    UINT8 Status = 0;
    if (!Fwsmi_42h(Last ? EXTRA_DATA_LAST : EXTRA_DATA_CONTINUE, (UINT8)Index, Data + (UINTN)Index * Piece, Length,
                   &Status) ||
        Status != 0) {
      FuncExit(u"SMI_WriteCustomizeData", u"Extra data write failed");
      return FALSE;
    }
  }
  FuncExit(u"SMI_WriteCustomizeData", NULL);
  return TRUE;
}

static BOOLEAN StartsWith(CONST CHAR16 *Text, CONST CHAR16 *Prefix) {
  for (; *Prefix != 0; Text++, Prefix++) {
    if (*Text != *Prefix) {
      return FALSE;
    }
  }
  return TRUE;
}

// A number of Width bytes, little-endian.
static BOOLEAN NumberValue(CONST CHAR16 *Value, UINT32 Width, UINT8 **Data, UINT32 *Size) {
  UINT8 *Bytes = (UINT8 *)AllocateZeroPool(4);
  if (Bytes == NULL) {
    return FALSE;
  }
  WriteUnaligned32(Bytes, ParseOptionHex(Value));
  *Data = Bytes;
  *Size = Width;
  return TRUE;
}

BOOLEAN ParseEdtValue(CONST CHAR16 *Argument, UINT8 **Data, UINT32 *Size) {
  FuncEnter(u"ParseEdtValue");
  if (Argument == NULL || Data == NULL || Size == NULL) {
    FuncExit(u"ParseEdtValue", u"Input buffer is NULL");
    return FALSE;
  }
  *Data = NULL;
  *Size = 0;
  CONST CHAR16 *Colon = Argument;
  while (*Colon != 0 && *Colon != u':') {
    Colon++;
  }
  CONST CHAR16 *Value = *Colon == u':' ? Colon + 1 : Colon;
  DebugPrint(4, u"command (%s)\r\nvalue   (%s)\r\n\r\n", Argument, Value);
  if (*Value == 0) {
    FuncExit(u"ParseEdtValue", u"Empty value");
    return FALSE;
  }
  // The format code follows "edt" and the type digit.
  CONST CHAR16 *Format = StrnLenS(Argument, 5) >= 5 ? Argument + 4 : Colon;
  BOOLEAN Done = FALSE;
  if (StartsWith(Format, u"f:")) {
    VOID *File = NULL;
    UINT32 FileSize = 0;
    if (!EfiReadFile(Value, &File, &FileSize)) {
      Print(u"\rLoad file (%s) fail.\n", Value);
      FuncExit(u"ParseEdtValue", u"Load file failed");
      return FALSE;
    }
    *Data = (UINT8 *)File;
    *Size = FileSize;
    Done = TRUE;
  } else if (StartsWith(Format, u"s:")) {
    UINTN Characters = StrLen(Value);
    UINT8 *Text = (UINT8 *)AllocateZeroPool((Characters + 1) * sizeof(CHAR16));
    if (Text != NULL) {
      CopyMem(Text, Value, Characters * sizeof(CHAR16));
      *Data = Text;
      *Size = (UINT32)(Characters * sizeof(CHAR16));
      Done = TRUE;
    }
  } else if (StartsWith(Format, u"dw:")) {
    Done = NumberValue(Value, 4, Data, Size);
  } else if (StartsWith(Format, u"w:")) {
    Done = NumberValue(Value, 2, Data, Size);
  } else {
    DebugPrint(4, u"raw format(%s)\r\n", Format);
    FuncExit(u"ParseEdtValue", u"Format not supported");
    return FALSE;
  }
  if (!Done) {
    FuncExit(u"ParseEdtValue", u"Allocate memory failed");
    return FALSE;
  }
  // An empty file has nothing to announce: the BIOS refuses size 0.
  if (*Size == 0) {
    FreePool(*Data);
    *Data = NULL;
    FuncExit(u"ParseEdtValue", u"Empty value");
    return FALSE;
  }
  FuncExit(u"ParseEdtValue", NULL);
  return TRUE;
}

static UINT8 EdtType(CHAR16 Code) {
  return (UINT8)(Code >= u'a' ? Code - u'a' + 0x0A : Code >= u'A' ? Code - u'A' + 0x0A : Code - u'0');
}

// The announcement of one item: the call and the status word of the answer.
static BOOLEAN AnnounceExtraData(UINT8 Type, UINT32 Size) {
  UINT8 Answer[EXTRA_DATA_ANSWER_SIZE];
  ZeroMem(Answer, sizeof(Answer));
  if (!FuncFwsmi_41h(Type, EXTRA_DATA_SIZE_IN_BYTES, Size, Answer)) {
    return FALSE;
  }
  UINT16 Status = ExtraDataAnswerStatus(Answer);
  if ((Status & EXTRA_DATA_STATUS_NOT_SUPPORTED) != 0) {
    Print(u"Data type not support.\r\n");
    return FALSE;
  }
  if (Status != 0) {
    Print(u"BIOS return data incorrect!\r\n");
    return FALSE;
  }
  return TRUE;
}

BOOLEAN FuncCommand_edt(VOID) {
  FuncEnter(u"FuncCommand_edt");
  for (UINT32 Index = 0; Index < EDT_TABLE_ENTRIES; Index++) {
    CONST CHAR16 *Argument = GetEdtArgument(Index);
    if (Argument == NULL || Argument[0] == 0) {
      break;
    }
    UINT8 Type = EdtType(Argument[3]);
    Print(u"\r                           Update type - 0x%X  \n", Type);
    UINT8 *Data = NULL;
    UINT32 Size = 0;
    if (!ParseEdtValue(Argument, &Data, &Size)) {
      FuncExit(u"FuncCommand_edt", u"Parse value failed");
      return FALSE;
    }
    if (!AnnounceExtraData(Type, Size)) {
      FreePool(Data);
      Print(u"\r\nError: The BIOS did not take extra data type 0x%X.\r\n", Type);
      FuncExit(u"FuncCommand_edt", u"Announce extra data failed");
      return FALSE;
    }
    BOOLEAN Written = SMI_WriteCustomizeData(Data, Size);
    FreePool(Data);
    if (!Written) {
      Print(u"\r\nError: The BIOS did not take extra data type 0x%X.\r\n", Type);
      FuncExit(u"FuncCommand_edt", u"Write extra data failed");
      return FALSE;
    }
  }
  Print(u"\r                           Update Progress: Completed  \n");
  FuncExit(u"FuncCommand_edt", NULL);
  return TRUE;
}

#include "Base/HexDump.h"

#include "Base/Trace.h"

VOID DumpHex(CONST VOID *Data, UINTN Length) {
  if (!IsTraceTaken(4)) {
    return;
  }
  CONST UINT8 *Bytes = (CONST UINT8 *)Data;
  static CONST CHAR16 Digits[] = u"0123456789ABCDEF";
  for (UINTN Row = 0; Row < Length; Row += 16) {
    CHAR16 Hex[16 * 3 + 1];
    CHAR16 Text[16 + 1];
    UINTN HexLength = 0;
    UINTN TextLength = 0;
    for (UINTN Index = Row; Index < Length && Index < Row + 16; Index++) {
      UINT8 Byte = Bytes[Index];
      Hex[HexLength++] = Digits[Byte >> 4];
      Hex[HexLength++] = Digits[Byte & 0x0F];
      Hex[HexLength++] = (Index - Row == 7) ? u'-' : u' ';
      Text[TextLength++] = (Byte >= 32 && Byte <= 122) ? (CHAR16)Byte : u'.';
    }
    Hex[HexLength] = 0;
    Text[TextLength] = 0;
    DebugPrint(4, u"%04X:  %-48s    %s\r\n", (UINT32)Row, Hex, Text);
  }
}

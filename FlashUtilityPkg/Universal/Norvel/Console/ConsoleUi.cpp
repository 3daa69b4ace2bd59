#include "Console/ConsoleUi.h"

#include "BaseLib.h"
#include "Console/Trace.h"
#include "Platform.h"
#include "Smi/PlatformQueries.h"

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

VOID DumpHex(CONST VOID *Data, UINTN Length) {
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

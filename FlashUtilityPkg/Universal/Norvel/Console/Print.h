// The formatter: UEFI print conventions (being written in a parallel branch).
#ifndef VYR_PRINT_H_
#define VYR_PRINT_H_

#include "Base.h"

UINTN UnicodeVSPrint(CHAR16 *Buffer, UINTN BufferSize, CONST CHAR16 *Format, va_list Marker);
UINTN UnicodeSPrint(CHAR16 *Buffer, UINTN BufferSize, CONST CHAR16 *Format, ...);
UINTN AsciiVSPrint(CHAR8 *Buffer, UINTN BufferSize, CONST CHAR8 *Format, va_list Marker);
UINTN AsciiSPrint(CHAR8 *Buffer, UINTN BufferSize, CONST CHAR8 *Format, ...);
CONST CHAR16 *StatusToString(EFI_STATUS Status);

#endif  // VYR_PRINT_H_

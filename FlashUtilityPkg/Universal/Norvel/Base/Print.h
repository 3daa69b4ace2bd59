// The utility's formatter: the UEFI print conventions of EDK2's BasePrintLib.
//
//   %s CHAR16* string        %a CHAR8* string         (NULL prints "<null string>")
//   %c character (UINTN argument, low 16 bits)
//   %d int, %u unsigned int, %x / %X unsigned int in hex (lower / upper case)
//   'l' or 'L' (once or twice) before d u x X reads an INT64 / UINT64 instead
//   %p pointer: upper-case hex, sizeof(UINTN) * 2 digits (EDK2 drops leading zeros)
//   %g EFI_GUID*: "530D4469-5683-4EAD-AF79-54D1882B8A35", upper case where EDK2 prints
//      lower case (NULL prints "<null guid>")
//   %t EFI_TIME*: "MM/DD/YYYY  HH:MM"                   (NULL prints "<null time>")
//   %r EFI_STATUS (UINTN argument) by its EDK2 name; an unknown status as 8 upper-case
//      hex digits, an error status carrying its top bit as bit 31 ("80000055")
//   %% a percent sign
// Flags: '-' left justify, '0' zero pad, '+' and ' ' sign prefixes, ',' thousands
// separators for decimals; width as digits or '*' (UINTN argument); '.N' or '.*' is the
// minimum digit count of a number and the maximum character count of a string.
// %X zero-pads to the width without the '0' flag ("%8X" of 0x1F is "0000001F").
//
// As in EDK2, a precision on a string is also its minimum length (padded with spaces on
// the left), %c of 0 prints a space, and an unknown conversion character prints itself
// (with the width applied), so "%q" prints "q".
//
// Line ends in the FORMAT (never in %s/%a arguments): LF -> CR LF, LF CR -> CR LF,
// CR LF stays CR LF, a lone CR stays CR.
//
// Non-'l' integer conversions read an `int`: callers pass UINT32/INT32 (or narrower)
// values, which is also what the IA32 build's 32-bit UINTN amounts to.
#ifndef VYR_CONSOLE_PRINT_H_
#define VYR_CONSOLE_PRINT_H_

#include "Base.h"

// Formats into Buffer. BufferSize is in BYTES (as in EDK2); the output is cut to fit and
// always NUL-terminated when BufferSize >= 2 (>= 1 for the ASCII forms).
// Returns the number of characters written, the terminator excluded.
UINTN UnicodeVSPrint(CHAR16 *Buffer, UINTN BufferSize, CONST CHAR16 *Format, va_list Marker);
UINTN UnicodeSPrint(CHAR16 *Buffer, UINTN BufferSize, CONST CHAR16 *Format, ...);

// Same conventions with an 8-bit format and 8-bit output; wide arguments keep their low byte.
UINTN AsciiVSPrint(CHAR8 *Buffer, UINTN BufferSize, CONST CHAR8 *Format, va_list Marker);
UINTN AsciiSPrint(CHAR8 *Buffer, UINTN BufferSize, CONST CHAR8 *Format, ...);

// The %r text of a status ("Success", "Not Found", ...), or NULL for an unknown status.
CONST CHAR16 *StatusToString(EFI_STATUS Status);

#endif  // VYR_CONSOLE_PRINT_H_

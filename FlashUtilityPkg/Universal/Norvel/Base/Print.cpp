// The formatter. One engine, instantiated for the wide and the 8-bit format/output pair,
// reproduces BasePrintLib's layout rules (including its quirks) so that texts compare
// byte for byte with what firmware built on EDK2 prints.
#include "Base/Print.h"

#include "BaseLib.h"

namespace {

enum : UINT32 {
  kLeftJustify = 0x001,
  kPrefixZero = 0x002,
  kPrefixSign = 0x004,
  kPrefixBlank = 0x008,
  kComma = 0x010,
  kLong = 0x020,
  kPadToWidth = 0x040,
  kPrecision = 0x080,
  kUnsigned = 0x100,
  kHex = 0x200,
  kUpper = 0x400,
};

// Longest number: 20 decimal digits (or 16 hex); GUID text is 36 characters.
const UINTN kScratchSize = 40;

const CHAR8 kNullString[] = "<null string>";
const CHAR8 kNullGuid[] = "<null guid>";
const CHAR8 kNullTime[] = "<null time>";

const CHAR16 *const kWarningNames[] = {
    u"Success",
    u"Warning Unknown Glyph",
    u"Warning Delete Failure",
    u"Warning Write Failure",
    u"Warning Buffer Too Small",
    u"Warning Stale Data",
};

// Indexed by error code - 1.
const CHAR16 *const kErrorNames[] = {
    u"Load Error",           u"Invalid Parameter",   u"Unsupported",      u"Bad Buffer Size",
    u"Buffer Too Small",     u"Not Ready",           u"Device Error",     u"Write Protected",
    u"Out of Resources",     u"Volume Corrupt",      u"Volume Full",      u"No Media",
    u"Media changed",        u"Not Found",           u"Access Denied",    u"No Response",
    u"No mapping",           u"Time out",            u"Not started",      u"Already started",
    u"Aborted",              u"ICMP Error",          u"TFTP Error",       u"Protocol Error",
    u"Incompatible Version", u"Security Violation",  u"CRC Error",        u"End of Media",
    u"Reserved (29)",        u"Reserved (30)",       u"End of File",      u"Invalid Language",
    u"Compromised Data",     u"IP Address Conflict", u"HTTP Error",
};

inline UINT32 Unit(CONST CHAR8 *P) { return (UINT8)*P; }
inline UINT32 Unit(CONST CHAR16 *P) { return *P; }

inline VOID Store(CHAR8 *P, UINT32 Ch) { *P = (CHAR8)(Ch & 0xFF); }
inline VOID Store(CHAR16 *P, UINT32 Ch) { *P = (CHAR16)Ch; }

// The output window; End is the slot kept for the terminator.
template <typename T>
struct Sink {
  T *Cursor;
  T *End;

  BOOLEAN Full() const { return Cursor >= End; }
  VOID Put(UINT32 Ch) {
    if (Cursor < End) {
      Store(Cursor++, Ch);
    }
  }
  // Count may be a "negative" difference of UINTNs, as when the text is wider than the field.
  VOID Fill(UINT32 Ch, UINTN Count) {
    if ((INTN)Count <= 0) {
      return;
    }
    while (Count-- > 0 && Cursor < End) {
      Store(Cursor++, Ch);
    }
  }
};

// Value / 10 in 16-bit limbs: the IA32 image then needs no 64-bit division helpers.
UINT32 DivRem10(UINT64 *Value) {
  UINT64 Quotient = 0;
  UINT32 Remainder = 0;
  for (INTN Shift = 48; Shift >= 0; Shift -= 16) {
    UINT32 Part = (Remainder << 16) | (UINT32)((*Value >> Shift) & 0xFFFF);
    Quotient |= (UINT64)(Part / 10) << Shift;
    Remainder = Part % 10;
  }
  *Value = Quotient;
  return Remainder;
}

// Writes the digits of Value most significant first; "0" for zero. Returns the count.
UINTN ToDigits(UINT64 Value, BOOLEAN Hex, BOOLEAN Upper, CHAR8 *Out) {
  CONST CHAR8 *Alphabet = Upper ? "0123456789ABCDEF" : "0123456789abcdef";
  CHAR8 Reversed[24];
  UINTN Count = 0;
  do {
    UINT32 Digit;
    if (Hex) {
      Digit = (UINT32)(Value & 0xF);
      Value >>= 4;
    } else {
      Digit = DivRem10(&Value);
    }
    Reversed[Count++] = Alphabet[Digit];
  } while (Value != 0);
  for (UINTN I = 0; I < Count; I++) {
    Out[I] = Reversed[Count - 1 - I];
  }
  return Count;
}

// Exactly Digits upper-case hex digits of Value at Out; returns the position after them.
CHAR8 *PutHex(CHAR8 *Out, UINT64 Value, UINTN Digits) {
  for (UINTN I = Digits; I > 0; I--) {
    Out[I - 1] = "0123456789ABCDEF"[Value & 0xF];
    Value >>= 4;
  }
  return Out + Digits;
}

VOID GuidToText(CONST EFI_GUID *Guid, CHAR8 *Out) {
  CONST UINT8 *Bytes = (CONST UINT8 *)Guid;  // callers may hand unaligned records
  Out = PutHex(Out, ReadUnaligned32(Bytes), 8);
  *Out++ = '-';
  Out = PutHex(Out, ReadUnaligned16(Bytes + 4), 4);
  *Out++ = '-';
  Out = PutHex(Out, ReadUnaligned16(Bytes + 6), 4);
  *Out++ = '-';
  for (UINTN I = 0; I < 8; I++) {
    if (I == 2) {
      *Out++ = '-';
    }
    Out = PutHex(Out, Bytes[8 + I], 2);
  }
  *Out = 0;
}

// One conversion's text: 8-bit or wide, NUL-terminated.
struct Text {
  CONST CHAR8 *Narrow;
  CONST CHAR16 *Wide;

  UINT32 At(UINTN I) const { return Narrow != NULL ? (UINT8)Narrow[I] : Wide[I]; }
};

template <typename FormatChar, typename OutChar>
UINTN FormatCore(OutChar *Buffer, UINTN MaxChars, CONST FormatChar *Format, va_list Marker) {
  if (Buffer == NULL || MaxChars == 0) {
    return 0;
  }
  Sink<OutChar> Out = {Buffer, Buffer + MaxChars - 1};
  if (Format == NULL) {
    *Buffer = 0;
    return 0;
  }

  va_list Args;
  va_copy(Args, Marker);
  while (Unit(Format) != 0 && !Out.Full()) {
    UINT32 Flags = 0;
    UINTN Width = 0;
    UINTN Precision = 1;
    UINT32 Ch = Unit(Format);
    CHAR16 Single[2] = {0, 0};
    CHAR8 Scratch[kScratchSize];
    Text Piece = {NULL, Single};
    BOOLEAN IsNumber = FALSE;
    BOOLEAN IsPointer = FALSE;
    UINT64 Magnitude = 0;
    UINT32 Prefix = 0;

    if (Ch == '%') {
      for (BOOLEAN Done = FALSE; !Done;) {
        Format++;
        Ch = Unit(Format);
        switch (Ch) {
          case '.':
            Flags |= kPrecision;
            break;
          case '-':
            Flags |= kLeftJustify;
            break;
          case '+':
            Flags |= kPrefixSign;
            break;
          case ' ':
            Flags |= kPrefixBlank;
            break;
          case ',':
            Flags |= kComma;
            break;
          case 'l':
          case 'L':
            Flags |= kLong;
            break;
          case '*':
            if ((Flags & kPrecision) != 0) {
              Precision = va_arg(Args, UINTN);
            } else {
              Flags |= kPadToWidth;
              Width = va_arg(Args, UINTN);
            }
            break;
          case '0': case '1': case '2': case '3': case '4':
          case '5': case '6': case '7': case '8': case '9': {
            if (Ch == '0' && (Flags & kPrecision) == 0) {
              Flags |= kPrefixZero;
            }
            UINTN Number = 0;
            while (Ch >= '0' && Ch <= '9') {
              Number = Number * 10 + (Ch - '0');
              Format++;
              Ch = Unit(Format);
            }
            Format--;
            if ((Flags & kPrecision) != 0) {
              Precision = Number;
            } else {
              Flags |= kPadToWidth;
              Width = Number;
            }
            break;
          }
          case 0:
            // The format ended inside a conversion: print nothing of it but its padding,
            // and leave Format so that the step below lands on the terminator.
            Format--;
            Precision = 0;
            Done = TRUE;
            break;
          default:
            Done = TRUE;
            break;
        }
      }

      switch (Ch) {
        case 'p':
          Flags &= ~(UINT32)(kPrefixBlank | kPrefixSign | kLong);
          Flags |= kPrefixZero | kHex | kUpper | kUnsigned;
          Magnitude = (UINTN)va_arg(Args, VOID *);
          IsNumber = TRUE;
          IsPointer = TRUE;
          break;
        case 'X':
        case 'x':
        case 'u':
        case 'd': {
          if (Ch == 'X') {
            Flags |= kPrefixZero | kUpper | kHex;
          } else if (Ch == 'x') {
            Flags |= kHex;
          } else if (Ch == 'u') {
            Flags &= ~(UINT32)kPrefixSign;
            Flags |= kUnsigned;
          }
          INT64 Raw = (Flags & kLong) != 0 ? va_arg(Args, INT64) : (INT64)va_arg(Args, int);
          IsNumber = TRUE;
          if ((Flags & kPrefixBlank) != 0) {
            Prefix = ' ';
          }
          if ((Flags & kPrefixSign) != 0) {
            Prefix = '+';
          }
          if ((Flags & kHex) != 0) {
            Flags &= ~(UINT32)kComma;
            Magnitude = (Flags & kLong) != 0 ? (UINT64)Raw : (UINT32)Raw;
          } else {
            if ((Flags & kComma) != 0) {
              Flags &= ~(UINT32)kPrefixZero;
              Precision = 1;
            }
            if (Raw < 0 && (Flags & kUnsigned) == 0) {
              Prefix = '-';
              Magnitude = 0 - (UINT64)Raw;
            } else if ((Flags & kUnsigned) != 0 && (Flags & kLong) == 0) {
              Magnitude = (UINT32)Raw;
            } else {
              Magnitude = (UINT64)Raw;
            }
          }
          break;
        }
        case 's':
        case 'a':
          if (Ch == 's') {
            Piece.Narrow = NULL;
            Piece.Wide = va_arg(Args, CONST CHAR16 *);
            if (Piece.Wide == NULL) {
              Piece.Narrow = kNullString;
            }
          } else {
            Piece.Narrow = va_arg(Args, CONST CHAR8 *);
            if (Piece.Narrow == NULL) {
              Piece.Narrow = kNullString;
            }
          }
          if ((Flags & kPrecision) == 0) {
            Precision = 0;
          }
          break;
        case 'c':
          Single[0] = (CHAR16)(va_arg(Args, UINTN) & 0xFFFF);
          break;
        case 'g': {
          CONST EFI_GUID *Guid = va_arg(Args, CONST EFI_GUID *);
          if (Guid == NULL) {
            Piece.Narrow = kNullGuid;
          } else {
            GuidToText(Guid, Scratch);
            Piece.Narrow = Scratch;
          }
          break;
        }
        case 't': {
          CONST EFI_TIME *Time = va_arg(Args, CONST EFI_TIME *);
          if (Time == NULL) {
            Piece.Narrow = kNullTime;
          } else {
            AsciiSPrint(Scratch, sizeof(Scratch), "%02d/%02d/%04d  %02d:%02d", Time->Month, Time->Day,
                        Time->Year, Time->Hour, Time->Minute);
            Piece.Narrow = Scratch;
          }
          break;
        }
        case 'r': {
          EFI_STATUS Status = va_arg(Args, EFI_STATUS);
          Piece.Wide = StatusToString(Status);
          if (Piece.Wide == NULL) {
            // 32-bit view of the status, the same on IA32 and X64 images.
            UINT32 Shown = (UINT32)Status;
            if (EFI_ERROR(Status)) {
              Shown = (Shown & 0x7FFFFFFFu) | 0x80000000u;
            }
            *PutHex(Scratch, Shown, 8) = 0;
            Piece.Narrow = Scratch;
          }
          break;
        }
        case '\r':
        case '\n':
          break;  // line ends, below
        default:
          // '%', an unknown conversion (printed as itself), or the terminator (nothing).
          Single[0] = (CHAR16)Ch;
          break;
      }
    } else if (Ch != '\r' && Ch != '\n') {
      Single[0] = (CHAR16)Ch;
    }

    if (Ch == '\r') {
      if (Unit(Format + 1) == '\n') {
        Format++;
        Piece.Narrow = "\r\n";
      } else {
        Piece.Narrow = "\r";
      }
    } else if (Ch == '\n') {
      Piece.Narrow = "\r\n";
      if (Unit(Format + 1) == '\r') {
        Format++;
      }
    }

    BOOLEAN PadBefore = (Flags & (kPadToWidth | kLeftJustify)) == kPadToWidth;
    BOOLEAN PadAfter = (Flags & (kPadToWidth | kLeftJustify)) == (kPadToWidth | kLeftJustify);
    if (IsNumber) {
      CHAR8 Digits[kScratchSize];
      UINTN DigitCount = ToDigits(Magnitude, (Flags & kHex) != 0, (Flags & kUpper) != 0, Digits);
      if (Magnitude == 0 && Precision == 0) {
        DigitCount = 0;
      }
      BOOLEAN Comma = (Flags & kComma) != 0 && DigitCount != 0;
      UINTN Count = DigitCount + (Comma ? (DigitCount - 1) / 3 : 0);
      if (Prefix != 0) {
        Count++;
        Precision++;
      }
      if ((Flags & (kPrefixZero | kLeftJustify | kPadToWidth | kPrecision)) == (kPrefixZero | kPadToWidth)) {
        Precision = Width;
      }
      if (IsPointer && (Flags & kPrecision) == 0 && Precision < sizeof(VOID *) * 2) {
        Precision = sizeof(VOID *) * 2;
      }
      if (Precision < Count) {
        Precision = Count;
      }
      if (PadBefore) {
        Out.Fill(' ', Width - Precision);
      }
      if (Prefix != 0) {
        Out.Put(Prefix);
      }
      Out.Fill('0', Precision - Count);
      for (UINTN I = 0; I < DigitCount; I++) {
        Out.Put((UINT8)Digits[I]);
        if (Comma && I + 1 < DigitCount && (DigitCount - 1 - I) % 3 == 0) {
          Out.Put(',');
        }
      }
    } else {
      UINTN Count = 0;
      while (Piece.At(Count) != 0 && ((Flags & kPrecision) == 0 || Count < Precision)) {
        Count++;
      }
      if (Precision < Count) {
        Precision = Count;
      }
      if (PadBefore) {
        Out.Fill(' ', Width - Precision);
      }
      Out.Fill(' ', Precision - Count);
      for (UINTN I = 0; I < Count; I++) {
        Out.Put(Piece.At(I));
      }
    }
    if (PadAfter) {
      Out.Fill(' ', Width - Precision);
    }
    Format++;
  }
  va_end(Args);

  *Out.Cursor = 0;
  return (UINTN)(Out.Cursor - Buffer);
}

}  // namespace

CONST CHAR16 *StatusToString(EFI_STATUS Status) {
  if (EFI_ERROR(Status)) {
    EFI_STATUS Code = Status & ~MAX_BIT;
    if (Code >= 1 && Code <= ARRAY_SIZE(kErrorNames)) {
      return kErrorNames[Code - 1];
    }
    return NULL;
  }
  if (Status < ARRAY_SIZE(kWarningNames)) {
    return kWarningNames[Status];
  }
  return NULL;
}

UINTN UnicodeVSPrint(CHAR16 *Buffer, UINTN BufferSize, CONST CHAR16 *Format, va_list Marker) {
  return FormatCore(Buffer, BufferSize / sizeof(CHAR16), Format, Marker);
}

UINTN UnicodeSPrint(CHAR16 *Buffer, UINTN BufferSize, CONST CHAR16 *Format, ...) {
  va_list Marker;
  va_start(Marker, Format);
  UINTN Length = UnicodeVSPrint(Buffer, BufferSize, Format, Marker);
  va_end(Marker);
  return Length;
}

UINTN AsciiVSPrint(CHAR8 *Buffer, UINTN BufferSize, CONST CHAR8 *Format, va_list Marker) {
  return FormatCore(Buffer, BufferSize, Format, Marker);
}

UINTN AsciiSPrint(CHAR8 *Buffer, UINTN BufferSize, CONST CHAR8 *Format, ...) {
  va_list Marker;
  va_start(Marker, Format);
  UINTN Length = AsciiVSPrint(Buffer, BufferSize, Format, Marker);
  va_end(Marker);
  return Length;
}

// What the compiler expects of a C runtime that the firmware image does not
// have: the four memory routines it emits calls to for copies and
// initialisers, the IA32 helpers of 64-bit division, and _fltused.
//
// The memory routines are string instructions in assembly, and the rest is
// marked no_builtin: a plain byte loop here could be recognised as an idiom and
// compiled back into a call to the routine itself.
#include "Base.h"

extern "C" {

void *memcpy(void *Destination, const void *Source, size_t Length);
void *memmove(void *Destination, const void *Source, size_t Length);
void *memset(void *Buffer, int Value, size_t Length);
int memcmp(const void *A, const void *B, size_t Length);

// Floating point is not used, but a stray use must still link.
int _fltused = 0;

void *memcpy(void *Destination, const void *Source, size_t Length) {
  void *Result = Destination;
  __asm__ __volatile__("cld\n\trep movsb" : "+D"(Destination), "+S"(Source), "+c"(Length) : : "memory", "cc");
  return Result;
}

void *memmove(void *Destination, const void *Source, size_t Length) {
  void *Result = Destination;
  UINTN To = (UINTN)Destination;
  UINTN From = (UINTN)Source;
  if (To <= From || To - From >= Length) {
    __asm__ __volatile__("cld\n\trep movsb" : "+D"(Destination), "+S"(Source), "+c"(Length) : : "memory", "cc");
  } else if (Length != 0) {
    // The destination overlaps the source's tail: copy from the last byte down.
    void *LastTo = (void *)(To + Length - 1);
    const void *LastFrom = (const void *)(From + Length - 1);
    __asm__ __volatile__("std\n\trep movsb\n\tcld" : "+D"(LastTo), "+S"(LastFrom), "+c"(Length) : : "memory", "cc");
  }
  return Result;
}

void *memset(void *Buffer, int Value, size_t Length) {
  void *Result = Buffer;
  __asm__ __volatile__("cld\n\trep stosb" : "+D"(Buffer), "+c"(Length) : "a"(Value) : "memory", "cc");
  return Result;
}

__attribute__((no_builtin)) int memcmp(const void *A, const void *B, size_t Length) {
  const UINT8 *X = (const UINT8 *)A;
  const UINT8 *Y = (const UINT8 *)B;
  for (size_t Index = 0; Index < Length; Index++) {
    if (X[Index] != Y[Index]) {
      return (int)X[Index] - (int)Y[Index];
    }
  }
  return 0;
}

}  // extern "C"

#if defined(__i386__)
// ---- 64-bit division on IA32 ------------------------------------------------------------
//
// The compiler calls these for every 64-bit '/' and '%' with Microsoft's
// names and convention: stdcall (the callee pops both 64-bit operands), the
// result in EDX:EAX. Asm labels give the exact symbol names. They must not
// divide 64-bit values themselves.

// 32-bit division faults on a zero divisor exactly as the hardware divide the
// helpers stand for would.
static UINT32 DivideByZero(VOID) {
  volatile UINT32 Zero = 0;
  return 1u / Zero;
}

// (High:Low) / Divisor with High < Divisor, by the processor's own divide.
static UINT32 Divide64By32(UINT32 High, UINT32 Low, UINT32 Divisor, UINT32 *Remainder) {
  UINT32 Quotient;
  __asm__("divl %4" : "=a"(Quotient), "=d"(*Remainder) : "a"(Low), "d"(High), "rm"(Divisor) : "cc");
  return Quotient;
}

__attribute__((no_builtin)) static UINT64 DivideU64(UINT64 Dividend, UINT64 Divisor, UINT64 *Remainder) {
  if (Divisor == 0) {
    *Remainder = DivideByZero();
    return 0;
  }
  UINT32 DivisorHigh = (UINT32)(Divisor >> 32);
  if (DivisorHigh == 0) {
    // Long division in two steps of the processor's 64/32 divide.
    UINT32 D = (UINT32)Divisor;
    UINT32 High = (UINT32)(Dividend >> 32);
    UINT32 Rest = 0;
    UINT32 QuotientHigh = Divide64By32(0, High, D, &Rest);
    UINT32 QuotientLow = Divide64By32(Rest, (UINT32)Dividend, D, &Rest);
    *Remainder = Rest;
    return ((UINT64)QuotientHigh << 32) | QuotientLow;
  }
  // A divisor of more than 32 bits leaves a quotient of at most 32: shift and subtract.
  UINT64 Quotient = 0;
  UINT64 Rest = 0;
  for (INT32 Bit = 63; Bit >= 0; Bit--) {
    Rest = (Rest << 1) | ((Dividend >> Bit) & 1);
    if (Rest >= Divisor) {
      Rest -= Divisor;
      Quotient |= (UINT64)1 << Bit;
    }
  }
  *Remainder = Rest;
  return Quotient;
}

static UINT64 Magnitude(INT64 Value) { return Value < 0 ? (UINT64)0 - (UINT64)Value : (UINT64)Value; }

extern "C" {

__attribute__((stdcall)) UINT64 VyrUnsignedDivide(UINT64 Dividend, UINT64 Divisor) __asm__("__aulldiv");
__attribute__((stdcall)) UINT64 VyrUnsignedRemainder(UINT64 Dividend, UINT64 Divisor) __asm__("__aullrem");
__attribute__((stdcall)) INT64 VyrSignedDivide(INT64 Dividend, INT64 Divisor) __asm__("__alldiv");
__attribute__((stdcall)) INT64 VyrSignedRemainder(INT64 Dividend, INT64 Divisor) __asm__("__allrem");

__attribute__((stdcall)) UINT64 VyrUnsignedDivide(UINT64 Dividend, UINT64 Divisor) {
  UINT64 Rest;
  return DivideU64(Dividend, Divisor, &Rest);
}

__attribute__((stdcall)) UINT64 VyrUnsignedRemainder(UINT64 Dividend, UINT64 Divisor) {
  UINT64 Rest;
  DivideU64(Dividend, Divisor, &Rest);
  return Rest;
}

// Truncation toward zero; the remainder takes the dividend's sign.
__attribute__((stdcall)) INT64 VyrSignedDivide(INT64 Dividend, INT64 Divisor) {
  UINT64 Rest;
  UINT64 Quotient = DivideU64(Magnitude(Dividend), Magnitude(Divisor), &Rest);
  return (Dividend < 0) != (Divisor < 0) ? (INT64)((UINT64)0 - Quotient) : (INT64)Quotient;
}

__attribute__((stdcall)) INT64 VyrSignedRemainder(INT64 Dividend, INT64 Divisor) {
  UINT64 Rest;
  DivideU64(Magnitude(Dividend), Magnitude(Divisor), &Rest);
  return Dividend < 0 ? (INT64)((UINT64)0 - Rest) : (INT64)Rest;
}

}  // extern "C"
#endif  // __i386__

#include "Base/Print.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Wide text as 8-bit text for comparisons; non-ASCII shows as \uXXXX.
std::string Narrow(const std::u16string &Wide) {
  std::string Out;
  for (char16_t C : Wide) {
    if (C < 0x80) {
      Out += (char)C;
    } else {
      char Esc[8];
      snprintf(Esc, sizeof(Esc), "\\u%04X", (unsigned)C);
      Out += Esc;
    }
  }
  return Out;
}

// Formats into a large buffer and checks the return value against the text written.
std::string U(const CHAR16 *Format, ...) {
  CHAR16 Buffer[512];
  va_list Marker;
  va_start(Marker, Format);
  UINTN Length = UnicodeVSPrint(Buffer, sizeof(Buffer), Format, Marker);
  va_end(Marker);
  std::u16string Text(Buffer);
  EXPECT_EQ(Text.size(), Length) << Narrow(Text);
  return Narrow(Text);
}

std::string A(const CHAR8 *Format, ...) {
  CHAR8 Buffer[512];
  va_list Marker;
  va_start(Marker, Format);
  UINTN Length = AsciiVSPrint(Buffer, sizeof(Buffer), Format, Marker);
  va_end(Marker);
  EXPECT_EQ(strlen(Buffer), Length) << Buffer;
  return Buffer;
}

struct Case { std::string Got; const char *Want; int Line; };

void CheckAll(const Case *Cases, size_t Count) {
  for (size_t I = 0; I < Count; I++) {
    EXPECT_EQ(Cases[I].Want, Cases[I].Got) << "table row at line " << Cases[I].Line;
  }
}

#define ROW(want, got) \
  { got, want, __LINE__ }

const EFI_GUID kGuid = {0x530D4469, 0x5683, 0x4EAD, {0xAF, 0x79, 0x54, 0xD1, 0x88, 0x2B, 0x8A, 0x35}};

TEST(Print, EveryConversion) {
  const EFI_TIME Time = {2024, 3, 7, 9, 5, 59, 0, 0, 0, 0, 0};
  const Case Cases[] = {
      ROW("[wide]", U(u"[%s]", u"wide")), ROW("[narrow]", U(u"[%a]", "narrow")),
      ROW("<null string>|<null string>", U(u"%s|%a", (CHAR16 *)NULL, (CHAR8 *)NULL)), ROW("Z", U(u"%c", u'Z')),
      ROW("A", U(u"%c", (UINTN)0x10041)),  // low 16 bits only
      ROW("-42 42 0", U(u"%d %d %d", -42, 42, 0)), ROW("4294967295", U(u"%u", (UINT32)0xFFFFFFFF)),
      ROW("-2147483648", U(u"%d", (INT32)0x80000000)),
      ROW("ffffffff 1f 1F", U(u"%x %x %X", (UINT32)0xFFFFFFFF, 0x1F, 0x1F)),
      ROW("123456789abcdef0", U(u"%lx", (UINT64)0x123456789ABCDEF0ULL)),
      ROW("123456789ABCDEF0", U(u"%llX", (UINT64)0x123456789ABCDEF0ULL)),
      ROW("FFFFFFFFFFFFFFFF", U(u"%LX", (UINT64)~0ULL)), ROW("18446744073709551615", U(u"%lu", (UINT64)~0ULL)),
      ROW("-9223372036854775808", U(u"%ld", (INT64)(1ULL << 63))), ROW("10000000000", U(u"%ld", (INT64)10000000000LL)),
      ROW("100%", U(u"100%%")), ROW("530D4469-5683-4EAD-AF79-54D1882B8A35", U(u"%g", &kGuid)),
      ROW("<null guid>", U(u"%g", (EFI_GUID *)NULL)), ROW("03/07/2024  09:05", U(u"%t", &Time)),
      ROW("Not Found", U(u"%r", EFI_NOT_FOUND)),
      // Unknown conversions print themselves; a conversion cut by the end prints nothing.
      ROW("q    q", U(u"%q%5q")), ROW("ab", U(u"ab%")),
      ROW(" ", U(u"%c", 0)),
  };
  CheckAll(Cases, ARRAY_SIZE(Cases));

  std::string Pointer = sizeof(UINTN) == 8 ? "000000000000ABC0" : "0000ABC0";
  EXPECT_EQ(Pointer, U(u"%p", (VOID *)(UINTN)0xABC0));
  CHAR16 Buffer[4];
  EXPECT_EQ(1u, UnicodeSPrint(Buffer, sizeof(Buffer), u"%c", u'\u00C4'));
  EXPECT_EQ(u'\u00C4', Buffer[0]);
}

TEST(Print, WidthsFlagsAndPrecision) {
  const Case Cases[] = {
      ROW("[   42]", U(u"[%5d]", 42)), ROW("[42   ]", U(u"[%-5d]", 42)),
      ROW("[-0042]", U(u"[%05d]", -42)), ROW("[+42] [ 42] [-42]", U(u"[%+d] [% d] [%+d]", 42, 42, -42)),
      ROW("[+0042]", U(u"[%+05d]", 42)),
      ROW("[42   ]", U(u"[%-05d]", 42)),  // left justify wins over zero padding
      ROW("[0000001F] [1F] [1F      ]", U(u"[%8X] [%X] [%-8X]", 0x1F, 0x1F, 0x1F)),
      ROW("[      1f] [0000001f]", U(u"[%8x] [%08x]", 0x1F, 0x1F)),
      ROW("[00000000DEADBEEF]", U(u"[%16lX]", (UINT64)0xDEADBEEFULL)),
      ROW("[042] [  042] [  042]", U(u"[%.3d] [%5.3d] [%05.3d]", 42, 42, 42)), ROW("[] [0]", U(u"[%.0d] [%d]", 0, 0)),
      ROW("[    7] [7    ]", U(u"[%*d] [%-*d]", (UINTN)5, 7, (UINTN)5, 7)),
      ROW("[abc]", U(u"[%.*s]", (UINTN)3, u"abcdef")),
      ROW("[      wide] [narrow    ]", U(u"[%10s] [%-10a]", u"wide", "narrow")),
      ROW("[abc] [abc]", U(u"[%.3s] [%.3a]", u"abcdef", "abcdef")),
      ROW("[ hi]", U(u"[%.3s]", u"hi")),  // a string precision is also a minimum
      ROW("[   ab]", U(u"[%05s]", u"ab")),  // strings pad with spaces only
      ROW("[1,234,567] [-1,234] [999]", U(u"[%,d] [%,d] [%,d]", 1234567, -1234, 999)), ROW("[   %]", U(u"[%4%]")),
  };
  CheckAll(Cases, ARRAY_SIZE(Cases));
}

// The names restate the code's table: its first and last rows, and the codes outside it.
TEST(Print, StatusNames) {
  const Case Cases[] = {
      ROW("Success", U(u"%r", EFI_SUCCESS)), ROW("Compromised Data", U(u"%r", EFI_COMPROMISED_DATA)),
      ROW("Warning Stale Data", U(u"%r", EFI_WARN_STALE_DATA)),
      ROW("80000055", U(u"%r", ENCODE_ERROR(0x55))), ROW("80000000", U(u"%r", ENCODE_ERROR(0))),
      ROW("00001234", U(u"%r", ENCODE_WARNING(0x1234))), ROW("[Not Found     ]", U(u"[%-14r]", EFI_NOT_FOUND)),
      ROW("Open file [a.ini] fail - Not Found\r\n", U(u"Open file [%s] fail - %r\n", u"a.ini", EFI_NOT_FOUND)),
  };
  CheckAll(Cases, ARRAY_SIZE(Cases));
  EXPECT_EQ(NULL, StatusToString(ENCODE_ERROR(36)));
  EXPECT_EQ(NULL, StatusToString(ENCODE_WARNING(6)));
  EXPECT_EQ(std::u16string(u"Load Error"), StatusToString(EFI_LOAD_ERROR));
  EXPECT_EQ(std::u16string(u"HTTP Error"), StatusToString(ENCODE_ERROR(35)));
}

// Line ends come from the format only; the 8-bit forms follow the same rules.
TEST(Print, LineEndsAndAsciiForms) {
  const Case Cases[] = {
      ROW("a\r\nb", U(u"a\nb")), ROW("a\r\nb", U(u"a\r\nb")),
      ROW("a\r\nb", U(u"a\n\rb")), ROW("a\rb", U(u"a\rb")),
      ROW("\r\n\r\n", U(u"\n\n")), ROW("\r\n\r\n", U(u"\n\r\n")),
      ROW("\r\r\n", U(u"\r\r\n")),
      ROW("x\ny|x\ny", U(u"%s|%a", u"x\ny", "x\ny")),  // arguments pass through
      ROW("a\r\nb", A("a\nb")), ROW("a\r\nb\r", A("a\n\rb\r")),
      ROW("[narrow] [wide]", A("[%a] [%s]", "narrow", u"wide")),
      ROW("0x00B2 ffffffffffffffff 3%", A("0x%04X %lx %d%%", 0xB2, (UINT64)~0ULL, 3)),
      ROW("<null string> Z", A("%a %c", (CHAR8 *)NULL, u'Z')),
      ROW("530D4469-5683-4EAD-AF79-54D1882B8A35 Not Found", A("%g %r", &kGuid, EFI_NOT_FOUND)),
  };
  CheckAll(Cases, ARRAY_SIZE(Cases));
}

// The output is cut at BufferSize bytes, terminated, and nothing past BufferSize is touched.
TEST(Print, CutsToTheBufferAndNeverWritesPastIt) {
  struct Cut {
    UINTN BufferSize;
    const char *Want;  // NULL: nothing may be written at all
  };
  const Cut Cuts[] = {{0, NULL}, {1, NULL}, {2, ""}, {3, ""}, {4, "1"}, {7, "12"},
                      {18, "12345-ab"}, {19, "12345-ab"}, {20, "12345-abc"}, {64, "12345-abc"}};
  for (const Cut &C : Cuts) {
    alignas(CHAR16) UINT8 Raw[80];
    memset(Raw, 0xA5, sizeof(Raw));
    UINTN Length = UnicodeSPrint((CHAR16 *)Raw, C.BufferSize, u"%d-%s", 12345, u"abc");
    CHAR16 *Out = (CHAR16 *)Raw;
    if (C.Want == NULL) {
      EXPECT_EQ(0u, Length);
    } else {
      EXPECT_EQ(C.Want, Narrow(Out)) << "size " << C.BufferSize;
      EXPECT_EQ(strlen(C.Want), Length) << "size " << C.BufferSize;
    }
    for (UINTN I = C.BufferSize; I < sizeof(Raw); I++) {
      ASSERT_EQ(0xA5, Raw[I]) << "size " << C.BufferSize << " byte " << I;
    }
  }

  // 8-bit forms: sizes in bytes, a padding run cut in the middle.
  const Cut AsciiCuts[] = {{0, NULL}, {1, ""}, {2, " "}, {6, "     "}, {8, "      4"}, {9, "      42"}, {10, "      42!"}};
  for (const Cut &C : AsciiCuts) {
    char Raw[32];
    memset(Raw, 0x5A, sizeof(Raw));
    UINTN Length = AsciiSPrint(Raw, C.BufferSize, "%8d!", 42);
    if (C.Want == NULL) {
      EXPECT_EQ(0u, Length);
    } else {
      EXPECT_STREQ(C.Want, Raw) << "size " << C.BufferSize;
      EXPECT_EQ(strlen(C.Want), Length);
    }
    for (UINTN I = C.BufferSize; I < sizeof(Raw); I++) {
      ASSERT_EQ(0x5A, Raw[I]) << "size " << C.BufferSize << " byte " << I;
    }
  }

  // A huge '*' width fills only what fits.
  CHAR16 Small[8];
  EXPECT_EQ(7u, UnicodeSPrint(Small, sizeof(Small), u"%*d", (UINTN)1000000, 1));
  EXPECT_EQ("       ", Narrow(Small));
}

TEST(Print, NullFormatGivesEmptyText) {
  CHAR16 Buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(0u, UnicodeSPrint(Buffer, sizeof(Buffer), NULL));
  EXPECT_EQ(0, Buffer[0]);
}

}  // namespace

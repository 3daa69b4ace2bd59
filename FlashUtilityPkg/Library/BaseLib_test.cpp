#include "BaseLib.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(BaseLib, CopyMemHandlesOverlapBothWays) {
  UINT8 Buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  CopyMem(Buf + 2, Buf, 5);
  const UINT8 Forward[8] = {1, 2, 1, 2, 3, 4, 5, 8};
  EXPECT_EQ(0, std::memcmp(Buf, Forward, 8));
  UINT8 Buf2[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  CopyMem(Buf2, Buf2 + 3, 5);
  const UINT8 Backward[8] = {4, 5, 6, 7, 8, 6, 7, 8};
  EXPECT_EQ(0, std::memcmp(Buf2, Backward, 8));
}

TEST(BaseLib, BoundedStringCopiesAlwaysTerminate) {
  CHAR16 Dst[4];
  StrCpyS(Dst, 4, u"abcdef");
  EXPECT_EQ(0, StrCmp(Dst, u"abc"));
  StrCatS(Dst, 4, u"x");  // full: nothing appended past the limit
  EXPECT_EQ(0, StrCmp(Dst, u"abc"));
  CHAR8 A[3];
  AsciiStrCpyS(A, 3, "xyz");
  EXPECT_STREQ("xy", A);
}

TEST(BaseLib, CaseFoldingTouchesOnlyAsciiLetters) {
  EXPECT_TRUE(StrEqualNoCase(u"ShellFlashMain", u"shellflashmain"));
  EXPECT_FALSE(StrEqualNoCase(u"ShellFlash", u"ShellFlashMain"));
  EXPECT_FALSE(StrEqualNoCase(u"ShellFlashMain", u"ShellFlash"));
  EXPECT_FALSE(StrEqualNoCase(u"\u00C4", u"\u00E4"));  // only A-Z fold
  EXPECT_FALSE(StrEqualNoCase(u"[", u"{"));
}

TEST(BaseLib, FindBytesFindsFirstAndRespectsBounds) {
  const char Hay[] = "xx$FWSMIyy$FWSMI";
  EXPECT_EQ(2, FindBytes(Hay, 16, "$FWSMI", 6));
  EXPECT_EQ(-1, FindBytes(Hay, 7, "$FWSMI", 6));  // match would end past the size
  EXPECT_EQ(-1, FindBytes(Hay, 3, "$FWSMI", 6));
}

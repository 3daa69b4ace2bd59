#include "BaseLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

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

// The word-wise scans must agree with a byte loop wherever the match falls:
// in the first word, across a step, in the tail, or nowhere.
TEST(BaseLib, FindFirstOfBytesAgreesWithAByteLoopAtEveryPlace) {
  std::vector<UINT8> Buffer(200, 0xFF);
  const UINT8 Wanted[] = {'$', 'Q', 'p'};
  for (size_t Size : {0u, 1u, 7u, 31u, 32u, 33u, 200u}) {
    for (size_t At = 0; At <= Size; At++) {
      for (UINT8 Byte : Wanted) {
        std::fill(Buffer.begin(), Buffer.end(), 0xFF);
        if (At < Size) Buffer[At] = Byte;
        if (At + 1 < Size) Buffer[At + 1] = '$';  // a later match never wins
        EXPECT_EQ(At, FindFirstOfBytes(Buffer.data(), Size, Wanted, 3)) << "size " << Size << " at " << At;
      }
    }
  }
  // 0x80 and 0x00 next to each other are the borrow cases of the word test.
  const UINT8 Tricky[] = {0x80, 0x00, 0x81, 0x01, 0x7F, 0xFE, 0x01, 0x00, 0x24, 0x00};
  const UINT8 Dollar = 0x24;
  EXPECT_EQ(8u, FindFirstOfBytes(Tricky, sizeof(Tricky), &Dollar, 1));
  const UINT8 One = 0x01;
  EXPECT_EQ(3u, FindFirstOfBytes(Tricky, sizeof(Tricky), &One, 1));
}

TEST(BaseLib, CompareMemGivesTheFirstDifferenceAtEveryPlace) {
  std::vector<UINT8> A(100, 0x5A);
  std::vector<UINT8> B(100, 0x5A);
  EXPECT_EQ(0, CompareMem(A.data(), B.data(), 100));
  struct {
    size_t At;
    UINT8 Value;
    INTN Expected;
  } const Cases[] = {{0, 0x5B, -1}, {7, 0x00, 0x5A}, {8, 0xFF, 0x5A - 0xFF}, {63, 0x59, 1}, {99, 0x5C, -2}};
  for (const auto &C : Cases) {
    B = A;
    B[C.At] = C.Value;
    if (C.At + 3 < B.size()) B[C.At + 3] = 0;  // a later difference does not count
    EXPECT_EQ(C.Expected, CompareMem(A.data(), B.data(), 100)) << "at " << C.At;
    EXPECT_EQ(0, CompareMem(A.data(), B.data(), C.At)) << "before " << C.At;
  }
}

TEST(BaseLib, FindBytesSkipsFalseStartsAndFindsAtTheEnd) {
  std::vector<UINT8> Hay(100, '$');
  std::memcpy(Hay.data() + 95, "$BVDT", 5);
  EXPECT_EQ(95, FindBytes(Hay.data(), Hay.size(), "$BVDT", 5));
  EXPECT_EQ(-1, FindBytes(Hay.data(), 99, "$BVDT", 5));
}

#include "vyrfft/Options.h"

#include <gtest/gtest.h>

using vyr::fft::Options;
using vyr::fft::ParseKeys;
using vyr::fft::ParseOptions;

TEST(VyrfftOptions, UtilityArgumentsStartAtTheFirstUtilityWordOrAfterDoubleDash) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--machine", "m", "--firmware", "new.fd", "-all", "--machine", "x"}, o, error));
  EXPECT_EQ("m", o.machineDir);
  EXPECT_TRUE(o.firmware);
  // After the first utility word even "--machine" belongs to the utility.
  EXPECT_EQ((std::vector<std::string>{"new.fd", "-all", "--machine", "x"}), o.utilityArgs);

  // "--" ends the options; single-dash words are the utility's without it.
  Options p;
  ASSERT_TRUE(ParseOptions({"--report", "r.json", "--", "--odd", "/dbg"}, p, error));
  EXPECT_EQ("r.json", p.report);
  EXPECT_EQ((std::vector<std::string>{"--odd", "/dbg"}), p.utilityArgs);
  Options q;
  ASSERT_TRUE(ParseOptions({"-dbg", "-pq"}, q, error));
  EXPECT_EQ((std::vector<std::string>{"-dbg", "-pq"}), q.utilityArgs);
}

TEST(VyrfftOptions, RefusesUnknownOptionsAndMissingValues) {
  Options o;
  std::string error;
  EXPECT_FALSE(ParseOptions({"--machin", "m"}, o, error));
  EXPECT_NE(std::string::npos, error.find("--machin"));
  EXPECT_FALSE(ParseOptions({"--driver"}, o, error));
  EXPECT_NE(std::string::npos, error.find("needs a value"));
}

TEST(VyrfftOptions, KeyScriptEscapes) {
  std::u16string keys;
  std::string error;
  ASSERT_TRUE(ParseKeys("y\\rN\\e\\\\", keys, error));
  EXPECT_EQ(u"y\rN\x1B\\", keys);
  EXPECT_FALSE(ParseKeys("abc\\", keys, error));
  EXPECT_FALSE(ParseKeys("\\q", keys, error));
  ASSERT_TRUE(ParseKeys("\xC3\xA9\\r", keys, error));
  EXPECT_EQ(u"\u00E9\r", keys) << "one key for a two-byte character";
  EXPECT_FALSE(ParseKeys("\xE9", keys, error));
  EXPECT_EQ("--keys: not valid UTF-8 text", error);
}

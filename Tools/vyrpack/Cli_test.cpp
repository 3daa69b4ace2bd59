#include "vyrpack/Cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TempDir.h"
#include "vyrpack/Payload.h"

namespace vyr::pack {
namespace {

namespace fs = std::filesystem;

class VyrpackCli : public ::testing::Test {
 protected:
  std::string P(const std::string& name) const { return dir_ / name; }
  void Put(const std::string& name, const std::string& text) { std::ofstream(P(name), std::ios::binary) << text; }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return VyrpackMain(args, out_, err_);
  }
  size_t FileCount() const { return std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()); }

  vyr::testing::TempDir dir_;
  std::ostringstream out_, err_;
};

TEST_F(VyrpackCli, StubPayloadInspectRoundTrip) {
  Put("bios.fd", std::string(3000, 'B'));
  Put("platform.ini", "[Main]\r\n");
  Put("ec.bin", "EC");
  ASSERT_EQ(0, Run({"stub", "--out", P("drv.efi"), "--arch=x64"})) << err_.str();
  EXPECT_EQ(0x8664, ParsePe(ReadFileBytes(P("drv.efi"))).machine);
  ASSERT_EQ(0, Run({"payload", "--image", P("drv.efi"), "--out", P("drv.efi"), "--bios", P("bios.fd"), "--ini",
                    P("platform.ini"), "--ec", P("ec.bin")}))
      << err_.str();
  EXPECT_EQ("", err_.str());
  ASSERT_EQ(0, Run({"inspect", P("drv.efi")})) << err_.str();
  const std::string text = out_.str();
  EXPECT_NE(std::string::npos, text.find("PE32+ image: machine 0x8664 (X64), subsystem 11 (EFI boot service driver)"))
      << text;
  EXPECT_NE(std::string::npos, text.find("last section '.data': VA 0x00000180, raw pos 0x00000180")) << text;
  EXPECT_NE(std::string::npos, text.find("  0x000001E0  $_NORVEL_BIOSIMG  size 3000  crc32 ")) << text;
  EXPECT_NE(std::string::npos, text.find("$_NORVEL_EC_IMG_  size 2  crc32 ")) << text;
  EXPECT_NE(std::string::npos, text.find("\n3 records\n")) << text;
  EXPECT_NE(std::string::npos, text.find("the utility's scan of the loaded image finds 3 records\n")) << text;
  EXPECT_EQ(4u, FileCount());  // no temporary file left beside the output
}

TEST_F(VyrpackCli, ExitCodesSeparateUsageErrorsFromFailures) {
  Put("ini", "x");
  Put("bios", "b");
  Put("odd.efi", "MZ but nothing more");
  const struct {
    std::vector<std::string> args;
    int code;
    const char* err;
  } cases[] = {
      {{}, 2, "usage: vyrpack COMMAND"},
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"stub"}, 2, "--out is required"},
      {{"stub", "--out", P("s"), "--arch", "arm"}, 2, "--arch must be ia32 or x64"},
      {{"stub", "--out"}, 2, "--out needs a value"},
      {{"payload", "--image", "stub", "--out", P("o"), "--ini", P("ini")}, 2, "exactly one of --bios"},
      {{"payload", "--image", "stub", "--out", P("o"), "--ini", P("ini"), "--bios", P("bios"), "--empty-bios"},
       2, "exactly one of --bios"},
      {{"payload", "--image", "stub", "--out", P("o"), "--bios", P("bios")}, 2, "--ini is required"},
      {{"payload", "--image", "stub", "--out", P("o"), "--bios", P("bios"), "--ini", P("ini"), "--rom", "x"},
       2, "unknown option --rom"},
      {{"payload", "--image", P("odd.efi"), "--out", P("o"), "--empty-bios", "--ini", P("ini")}, 1, "too small"},
      {{"payload", "--image", "stub", "--out", P("o"), "--bios", P("missing"), "--ini", P("ini")}, 1, "missing"},
      {{"inspect"}, 2, "exactly one FILE"},
      {{"inspect", P("missing")}, 1, "cannot open"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, Run(c.args)) << c.err;
    EXPECT_NE(std::string::npos, err_.str().find(c.err)) << err_.str();
  }
  EXPECT_FALSE(fs::exists(P("o")));  // failures never leave an output file
  EXPECT_FALSE(fs::exists(P("s")));
  EXPECT_EQ(3u, FileCount());
}

TEST_F(VyrpackCli, HelpDocumentsEveryCommandAndRecordOption) {
  ASSERT_EQ(0, Run({"--help"}));
  EXPECT_NE(std::string::npos, out_.str().find("inspect"));
  for (const char* cmd : {"stub", "payload", "inspect"}) {
    EXPECT_EQ(0, Run({cmd, "--help"})) << cmd;
    EXPECT_NE(std::string::npos, out_.str().find(std::string("usage: vyrpack ") + cmd)) << cmd;
  }
  Run({"payload", "--help"});
  for (const RecordTag& t : RecordTags()) {
    EXPECT_NE(std::string::npos, out_.str().find(std::string("--") + t.option + " FILE")) << t.option;
    EXPECT_NE(std::string::npos, out_.str().find(t.tag)) << t.tag;
  }
}

}  // namespace
}  // namespace vyr::pack

#include "vyrpack/Cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "VyrpackCliFixture.h"
#include "vyrpack/Package.h"
#include "vyrpack/Payload.h"

namespace vyr::pack {
namespace {

namespace fs = std::filesystem;

class VyrpackCli : public vyr::testing::VyrpackCliTest {
 protected:
  size_t FileCount() const { return std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()); }
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
  for (const char* cmd : {"stub", "payload", "inspect", "package", "multisku"}) {
    EXPECT_EQ(0, Run({cmd, "--help"})) << cmd;
    EXPECT_NE(std::string::npos, out_.str().find(std::string("usage: vyrpack ") + cmd)) << cmd;
  }
  Run({"payload", "--help"});
  for (const RecordTag& t : RecordTags()) {
    EXPECT_NE(std::string::npos, out_.str().find(std::string("--") + t.option + " FILE")) << t.option;
    EXPECT_NE(std::string::npos, out_.str().find(t.tag)) << t.tag;
  }
}

TEST_F(VyrpackCli, PackageAndInspectShowWhatTheUtilityReads) {
  ASSERT_EQ(0, Run({"bvdt", "--blank", "0x400", "--out", P("a.fd"), "--model", "VyrPC-A", "--version", "V1"}));
  ASSERT_EQ(0, Run({"bvdt", "--blank", "0x200", "--out", P("b.fd"), "--model", "VyrPC-B", "--version", "V1"}));
  Put("c.bin", "C");
  Put("platform.ini", "[MULTI_FD]\r\nFlag=1\r\nFD#02=ID,VyrPC-B,model-b.fd\r\n\r\nName=\x1b]0;x\x07\r\n");
  Put("FwUpdLcl.efi", "tool");
  ASSERT_EQ(0, Run({"package", "--image", "stub", "--out", P("PKG.efi"), "--fd", P("a.fd") + "=model-a.fd",
                    "--fd=" + P("b.fd") + "=model-b.fd", "--fd", P("c.bin"), "--ini", P("platform.ini"), "--options",
                    "/b", "--filter", "/b /u", "--resource", P("FwUpdLcl.efi")}))
      << err_.str();
  EXPECT_EQ("wrote " + P("PKG.efi") +
                ": 2724 bytes, 3 images, ROM pack header at 0x000001C0\n"
                "  0  'model-a.fd'  at 0x00000410  size 1024  (header 0x000001C0)\n"
                "  1  'model-b.fd'  at 0x00000810  size 512  (header 0x00000350)\n"
                "  2  'c.bin'  at 0x00000A10  size 1  (header 0x000003A1)\n"
                "  INI text  at 0x00000A20  size 64\n"
                "  resource 'FwUpdLcl.efi'  at 0x00000A60  size 4\n",
            out_.str());
  ASSERT_EQ(0, Run({"inspect", P("PKG.efi")})) << err_.str();
  EXPECT_EQ(P("PKG.efi") +
                ": 2724 bytes\n"
                "package: ROM pack header at 0x000001C0\n"
                "built-in options: '/b'\n"
                "command filter: '/b /u'\n"
                "extra pack header at 0x00000302: 3 images\n"
                "images:\n"
                "  0  'model-a.fd'  at 0x00000410  size 1024  (header 0x000001C0)\n"
                "  1  'model-b.fd'  at 0x00000810  size 512  (header 0x00000350)\n"
                "  2  'c.bin'  at 0x00000A10  size 1  (header 0x000003A1)\n"
                "INI text: 64 bytes at 0x00000A20 (INI pack header at 0x000003F2)\n"
                "    [MULTI_FD]\n"
                "    Flag=1\n"
                "    FD#02=ID,VyrPC-B,model-b.fd\n"
                "\n"
                "    Name=^[]0;x^G\n"
                "resources:\n"
                "  'FwUpdLcl.efi'  at 0x00000A60  size 4  verify code 0x55AA\n",
            out_.str());

  // One image, nothing else: the extra pack header is still written.
  ASSERT_EQ(0, Run({"package", "--image", "stub", "--arch", "x64", "--out", P("one.efi"), "--fd", P("c.bin")}));
  ASSERT_EQ(0, Run({"inspect", P("one.efi")}));
  EXPECT_NE(std::string::npos, out_.str().find("built-in options: none\n"
                                               "command filter: none (the utility accepts no user option)\n"
                                               "extra pack header at 0x00000322: 1 image\n"
                                               "images:\n"
                                               "  0  'c.bin'  at 0x00000370  size 1  (header 0x000001E0)\n"
                                               "INI text: none\n"
                                               "resources: none\n"))
      << out_.str();

  // Damage: a name with an escape sequence, a further header lost, a bad verify code.
  Bytes file = ReadFileBytes(P("PKG.efi"));
  file[0x361] = 0x1B;
  file[0x3A1] = '#';
  file[0xA60 + 10] = 0;
  WriteFileAtomically(P("bad.efi"), file);
  EXPECT_EQ(1, Run({"inspect", P("bad.efi")}));
  EXPECT_NE(std::string::npos, out_.str().find("  1  '^[odel-b.fd'  at 0x00000810")) << out_.str();
  EXPECT_NE(std::string::npos,
            out_.str().find("resources:\n  'FwUpdLcl.efi'  at 0x00000A60  size 4  verify code 0x5500  verify code wrong\n"
                            "errors:\n"
                            "  image 2: its header \"$ROM_P02_\" is missing\n"
                            "  the resource record at 0x00000A60 ('FwUpdLcl.efi'): verify code 0x5500 is not 0x55AA, so "
                            "the utility skips it\n"))
      << out_.str();
  EXPECT_EQ("vyrpack: inspect: 2 errors in the package\n", err_.str());
}

TEST_F(VyrpackCli, MultiSkuAndInspect) {
  ASSERT_EQ(0, Run({"bvdt", "--blank", "0x100", "--out", P("a.fd"), "--model", "VyrPC-A", "--version", "V1"}));
  ASSERT_EQ(0, Run({"bvdt", "--blank", "0x100", "--out", P("b.fd"), "--model", "VyrPC-B", "--version", "V1"}));
  ASSERT_EQ(0, Run({"multisku", "--out", P("m.fd"), "--image", P("a.fd"), "--image", P("b.fd")})) << err_.str();
  EXPECT_EQ("wrote " + P("m.fd") +
                ": 544 bytes, 2 images\n"
                "  0  at 0x00000020  size 256  model 'VyrPC-A'\n"
                "  1  at 0x00000120  size 256  model 'VyrPC-B'\n",
            out_.str());
  ASSERT_EQ(0, Run({"inspect", P("m.fd")}));
  EXPECT_EQ(P("m.fd") +
                ": 544 bytes\n"
                "multi-SKU image: \"$MULTISC\" at 0x00000000, 2 images\n"
                "  0  at 0x00000020  size 256  model 'VyrPC-A'\n"
                "  1  at 0x00000120  size 256  model 'VyrPC-B'\n",
            out_.str());
}

TEST_F(VyrpackCli, PackageAndMultiSkuRefusalsWriteNothing) {
  ASSERT_EQ(0, Run({"bvdt", "--blank", "0x100", "--out", P("a.fd"), "--model", "VyrPC-A", "--version", "V1"}));
  Put("plain.fd", std::string(0x100, 'p'));
  Bytes app = BuildStubDriverImage(Arch::Ia32);
  std::copy_n("$INI_PACK", 9, app.begin() + 0x180);
  WriteFileAtomically(P("sig.efi"), app);
  const std::vector<std::string> pkg = {"package", "--image", "stub", "--out", P("o")};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> a = pkg;
    a.insert(a.end(), more.begin(), more.end());
    return a;
  };
  const struct {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {pkg, 2, "--fd is required"},
      {{"package", "--image", "stub", "--fd", P("a.fd")}, 2, "--out is required"},
      {{"package", "--out", P("o"), "--fd", P("a.fd")}, 2, "--image is required"},
      {with({"--fd", P("a.fd"), "--arch", "x64", "--image", P("a.fd")}), 2, "option --image given twice"},
      {{"package", "--image", P("sig.efi"), "--arch", "x64", "--out", P("o"), "--fd", P("a.fd")}, 2,
       "--arch applies only to --image stub"},
      {with({"--fd", P("a.fd") + "="}), 2, "bad FILE=NAME"},
      {with({"--fd", P("missing.fd")}), 1, "cannot open"},
      {with({"--fd", P("a.fd") + "=x:y"}), 1, "image name 'x:y': only printable ASCII"},
      {{"package", "--image", P("sig.efi"), "--out", P("o"), "--fd", P("a.fd")}, 1,
       "vyrpack: package: the application image holds \"$INI_PACK\" at offset 0x00000180"},
      {{"multisku", "--out", P("o"), "--image", P("a.fd")}, 2, "give at least two --image FD"},
      {{"multisku", "--image", P("a.fd"), "--image", P("a.fd")}, 2, "--out is required"},
      {{"multisku", "--out", P("o"), "--image", P("a.fd"), "--image", P("plain.fd")}, 1,
       "vyrpack: multisku: '" + P("plain.fd") + "' has no BVDT"},
      {{"multisku", "--out", P("o"), "--image", P("a.fd"), "--image", P("missing")}, 1, "cannot open"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, Run(c.args)) << c.err;
    EXPECT_NE(std::string::npos, err_.str().find(c.err)) << err_.str();
  }
  EXPECT_EQ(3u, FileCount());  // no output, no temporary file
}

}  // namespace
}  // namespace vyr::pack

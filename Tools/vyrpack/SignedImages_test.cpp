#include "vyrpack/SignedImages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "VyrpackCliFixture.h"
#include "vyrpack/Cli.h"

namespace vyr::pack {
namespace {

const std::string kKeys = std::string(VYR_SOURCE_DIR) + "/Tests/keys/";

class SignedImagesCli : public vyr::testing::VyrpackCliTest {
 protected:
  // inspect's lines about the signed image.
  std::string Inspect(const std::string& name, const std::string& key = "") {
    std::vector<std::string> args = {"inspect", P(name)};
    if (!key.empty()) args.insert(args.end(), {"--key", kKeys + key});
    EXPECT_EQ(0, Run(args)) << err_.str();
    const std::string text = out_.str();
    const size_t records = text.find("record");
    return text.substr(text.find('\n', text.find(" record", records)) + 1);
  }
};

TEST_F(SignedImagesCli, BuildsAndInspectsEachImage) {
  Put("bios.fd", std::string(0x100000, 'B'));
  Put("ec.bin", std::string(0x20000, 'E'));
  const std::string key = kKeys + "test-signing.pem";
  ASSERT_EQ(0, Run({"capsule", "--key", key, "--bios", P("bios.fd"), "--ec", P("ec.bin"), "--out", P("c.bin")}))
      << err_.str();
  const struct {
    const char* file;
    const char* key;
    std::string lines;
  } cases[] = {
      {"c.bin", "test-signing.pub.pem",
       "secure capsule, driver signature \"Q#EFI#DRV_\"\n  signature of bytes 0-0x120080: made by the key\n"},
      {"c.bin", "other-signing.pub.pem",
       "secure capsule, driver signature \"Q#EFI#DRV_\"\n  signature of bytes 0-0x120080: NOT made by the key\n"},
      {"c.bin", "", "secure capsule, driver signature \"Q#EFI#DRV_\"\n  signature of bytes 0-0x120080: present (give "
                    "--key to check it)\n"},
  };
  for (const auto& test : cases) EXPECT_EQ(test.lines, Inspect(test.file, test.key)) << test.key;
  EXPECT_NE(std::string::npos, out_.str().find("$_NORVEL_EC_IMG_  size 131072"));

  ASSERT_EQ(0, Run({"rbu", "--key", key, "--fd", P("bios.fd"), "--out", P("r.bin")})) << err_.str();
  EXPECT_EQ("RBU image, header length 32\n  raw FD at 0x154, 0x100000 bytes\n  FD checksum right, entire checksum "
            "right\n  signature: made by the key\n",
            Inspect("r.bin", "test-signing.pub.pem"));
  ASSERT_EQ(0, Run({"pfat", "--key", key, "--fd", P("bios.fd"), "--block-size", "0x40000", "--out", P("p.bin")}))
      << err_.str();
  EXPECT_EQ("PFAT image, FD part 0x100000 bytes\n  4 blocks of 0x40000, headers of 32 bytes\n  checksum right\n"
            "  4 of 4 packets made by the key\n",
            Inspect("p.bin", "test-signing.pub.pem"));
  Bytes pfat = ReadFileBytes(P("p.bin"));
  pfat[0x50000] ^= 1;  // block 1
  WriteFileAtomically(P("p.bin"), pfat);
  EXPECT_EQ("PFAT image, FD part 0x100000 bytes\n  4 blocks of 0x40000, headers of 32 bytes\n  checksum WRONG\n"
            "  3 of 4 packets made by the key\n",
            Inspect("p.bin", "test-signing.pub.pem"));

  ASSERT_EQ(0, Run({"key-modulus", "--key", kKeys + "test-signing.pub.pem"}));
  std::string modulus;
  std::ifstream(kKeys + "test-signing.modulus") >> modulus;
  EXPECT_EQ(modulus + "\n", out_.str());
}

TEST_F(SignedImagesCli, RefusesWhatNoSigningBiosTakes) {
  Put("odd.fd", std::string(0x90000, 'B'));
  const std::string key = kKeys + "test-signing.pem";
  const struct {
    std::vector<std::string> args;
    int status;
    const char* error;
  } cases[] = {
      {{"rbu", "--key", key, "--fd", P("odd.fd"), "--out", P("x")}, 1, "whole 512 KiB blocks"},
      {{"pfat", "--key", key, "--fd", P("odd.fd"), "--block-size", "0x20000", "--out", P("x")}, 1, "must be whole blocks"},
      {{"pfat", "--key", key, "--fd", P("odd.fd"), "--base", "0xFFFF0000", "--out", P("x")}, 1, "past 4 GiB"},
      {{"capsule", "--key", key, "--empty-bios", "--out", P("x")}, 1, "EC or ME record"},
      {{"capsule", "--key", kKeys + "test-signing.pub.pem", "--bios", P("odd.fd"), "--out", P("x")}, 1,
       "not a PEM private RSA key"},
      {{"capsule", "--key", key, "--out", P("x")}, 2, "either --bios or --empty-bios"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(test.status, Run(test.args)) << test.error;
    EXPECT_NE(std::string::npos, err_.str().find(test.error)) << err_.str();
  }
  EXPECT_FALSE(std::ifstream(P("x")).good());
}

}  // namespace
}  // namespace vyr::pack

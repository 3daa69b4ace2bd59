#include "Bios/RsaVerify.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "vyrpack/Signing.h"

namespace {

const std::string kKeys = std::string(VYR_SOURCE_DIR) + "/Tests/keys/";

std::string HexOf(const UINT8 *Bytes, size_t Size) {
  static const char Digits[] = "0123456789abcdef";
  std::string Out;
  for (size_t I = 0; I < Size; I++) Out += std::string{Digits[Bytes[I] >> 4], Digits[Bytes[I] & 15]};
  return Out;
}

std::vector<UINT8> Digest(const std::string &Message) {
  EMU_SHA256 Hash;
  std::vector<UINT8> Out(EMU_SHA256_DIGEST_SIZE);
  EmuSha256Init(&Hash);
  // Fed in uneven pieces, as the handlers do over exchange memory.
  for (size_t At = 0; At < Message.size(); At += 7) {
    EmuSha256Update(&Hash, Message.data() + At, std::min<size_t>(7, Message.size() - At));
  }
  EmuSha256Final(&Hash, Out.data());
  return Out;
}

TEST(Sha256, KnownDigests) {
  const struct {
    std::string Message;
    const char *Digest;
  } Cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const auto &Test : Cases) {
    const std::vector<UINT8> D = Digest(Test.Message);
    EXPECT_EQ(Test.Digest, HexOf(D.data(), D.size())) << Test.Message.size();
  }
}

// Signatures made by libcrypto (what vyrpack signs with) verify with the
// BIOS's own check, and nothing else does.
TEST(RsaVerify, AcceptsLibcryptoSignaturesOnlyForTheirDataAndKey) {
  const vyr::pack::Bytes Modulus = vyr::pack::PublicModulus(kKeys + "test-signing.pub.pem");
  const vyr::pack::Bytes Other = vyr::pack::PublicModulus(kKeys + "other-signing.pem");
  const std::string Message = "the BIOS record of a capsule";
  const vyr::pack::Bytes Signature =
      vyr::pack::Sign(kKeys + "test-signing.pem", vyr::pack::Bytes(Message.begin(), Message.end()));
  ASSERT_EQ(256u, Signature.size());
  const std::vector<UINT8> Good = Digest(Message);
  EXPECT_TRUE(EmuRsaVerifySha256(Modulus.data(), Good.data(), Signature.data()));

  std::string Flipped = Message;
  Flipped[5] ^= 0x01;
  EXPECT_FALSE(EmuRsaVerifySha256(Modulus.data(), Digest(Flipped).data(), Signature.data()));
  for (size_t Byte : {size_t(0), size_t(128), size_t(255)}) {
    vyr::pack::Bytes Bad = Signature;
    Bad[Byte] ^= 0x80;
    EXPECT_FALSE(EmuRsaVerifySha256(Modulus.data(), Good.data(), Bad.data())) << Byte;
  }
  EXPECT_FALSE(EmuRsaVerifySha256(Other.data(), Good.data(), Signature.data()));
  // A "signature" not below the modulus, and an even modulus, are refused outright.
  EXPECT_FALSE(EmuRsaVerifySha256(Modulus.data(), Good.data(), Modulus.data()));
  vyr::pack::Bytes Even = Modulus;
  Even[255] &= 0xFE;
  EXPECT_FALSE(EmuRsaVerifySha256(Even.data(), Good.data(), Signature.data()));

  // The committed modulus file is the key's modulus.
  std::ifstream In(kKeys + "test-signing.modulus");
  std::string Text;
  In >> Text;
  std::string Lower;
  for (char C : Text) Lower += char(std::tolower(static_cast<unsigned char>(C)));
  EXPECT_EQ(Lower, HexOf(Modulus.data(), Modulus.size()));
}

}  // namespace

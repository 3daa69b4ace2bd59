#include "vyrpack/Signing.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace vyr::pack {

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string OpenSslReason() {
  const unsigned long code = ERR_get_error();
  char text[256] = "unknown error";
  if (code != 0) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  return text;
}

// A private key, or with publicOnly allowed a public one, of 2048 bits.
Key LoadKey(const std::string& path, bool publicAllowed) {
  std::unique_ptr<BIO, decltype(&BIO_free)> file(BIO_new_file(path.c_str(), "r"), BIO_free);
  if (!file) throw SigningError("cannot read key '" + path + "'");
  Key key(PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  if (!key && publicAllowed) {
    ERR_clear_error();
    BIO_reset(file.get());
    key.reset(PEM_read_bio_PUBKEY(file.get(), nullptr, nullptr, nullptr));
  }
  if (!key) {
    throw SigningError("'" + path + "' is not a PEM " + (publicAllowed ? "RSA key" : "private RSA key") + " (" +
                       OpenSslReason() + ")");
  }
  if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA || EVP_PKEY_get_bits(key.get()) != 2048) {
    throw SigningError("'" + path + "' is not an RSA-2048 key");
  }
  return key;
}

}  // namespace

Bytes SignPieces(const std::string& keyPath, const std::vector<std::pair<const uint8_t*, size_t>>& pieces) {
  const Key key = LoadKey(keyPath, false);
  std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  size_t length = kSignatureSize;
  Bytes signature(kSignatureSize);
  bool ok = context && EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1;
  for (const auto& piece : pieces) {
    ok = ok && EVP_DigestSignUpdate(context.get(), piece.first, piece.second) == 1;
  }
  ok = ok && EVP_DigestSignFinal(context.get(), signature.data(), &length) == 1 && length == kSignatureSize;
  if (!ok) throw SigningError("signing with '" + keyPath + "' failed (" + OpenSslReason() + ")");
  return signature;
}

Bytes Sign(const std::string& keyPath, const Bytes& message) {
  return SignPieces(keyPath, {{message.data(), message.size()}});
}

bool VerifyPieces(const std::string& keyPath, const std::vector<std::pair<const uint8_t*, size_t>>& pieces,
                  const uint8_t* signature) {
  const Key key = LoadKey(keyPath, true);
  std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  bool ok = context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1;
  for (const auto& piece : pieces) {
    ok = ok && EVP_DigestVerifyUpdate(context.get(), piece.first, piece.second) == 1;
  }
  ok = ok && EVP_DigestVerifyFinal(context.get(), signature, kSignatureSize) == 1;
  ERR_clear_error();
  return ok;
}

Bytes PublicModulus(const std::string& keyPath) {
  const Key key = LoadKey(keyPath, true);
  BIGNUM* n = nullptr;
  if (EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N, &n) != 1) {
    throw SigningError("'" + keyPath + "': no RSA modulus (" + OpenSslReason() + ")");
  }
  Bytes out(kSignatureSize);
  const int written = BN_bn2binpad(n, out.data(), static_cast<int>(out.size()));
  BN_free(n);
  if (written != static_cast<int>(kSignatureSize)) throw SigningError("'" + keyPath + "': modulus is not 2048 bits");
  return out;
}

}  // namespace vyr::pack

// RSA-2048 signatures for the signed images (PKCS#1 v1.5 over SHA-256, the
// scheme the emulated signing BIOS checks), made with OpenSSL's libcrypto
// from a PEM key file.
#ifndef VYRPACK_SIGNING_H_
#define VYRPACK_SIGNING_H_

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "vyrpack/PeImage.h"

namespace vyr::pack {

class SigningError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr size_t kSignatureSize = 256;

// The signature of the concatenated pieces under the private key in
// keyPath. Throws SigningError for a missing, unreadable or non-RSA-2048 key.
Bytes SignPieces(const std::string& keyPath, const std::vector<std::pair<const uint8_t*, size_t>>& pieces);
Bytes Sign(const std::string& keyPath, const Bytes& message);

// Whether signature is that of the pieces under the key in keyPath (public
// or private PEM).
bool VerifyPieces(const std::string& keyPath, const std::vector<std::pair<const uint8_t*, size_t>>& pieces,
                  const uint8_t* signature);

// The 256-byte modulus, most significant byte first, of the key in keyPath
// (public or private PEM): what a machine profile's checks.signingKey holds.
Bytes PublicModulus(const std::string& keyPath);

}  // namespace vyr::pack

#endif  // VYRPACK_SIGNING_H_

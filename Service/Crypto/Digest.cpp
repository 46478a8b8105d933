#include "Crypto/Digest.h"

#include "Crypto/Base64Url.h"
#include "Crypto/OpenSslHandles.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <climits>

namespace orvex::service {

std::string sha256(std::string_view data) {
  std::string digest(32, '\0');
  unsigned int length = 0;
  detail::check(EVP_Digest(data.data(), data.size(), reinterpret_cast<unsigned char*>(digest.data()), &length,
                           EVP_sha256(), nullptr) == 1 &&
                    length == digest.size(),
                "SHA-256");
  return digest;
}

std::string randomBytes(std::size_t count) {
  std::string bytes(count, '\0');
  if (count > 0) {
    detail::check(
        count <= INT_MAX && RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) == 1,
        "random bytes");
  }
  return bytes;
}

std::string randomToken(std::size_t bytes) {
  return base64UrlEncode(randomBytes(bytes));
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  // Lengths are not secret here (hashes and fixed-size secrets); contents are.
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace orvex::service

#include "Crypto/OpenSslHandles.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <stdexcept>

namespace orvex::service::detail {

void throwOpenSslError(const std::string& what) {
  unsigned long code = ERR_get_error();
  std::string reason =
      code != 0 ? ERR_reason_error_string(code) ? ERR_reason_error_string(code) : "unknown error" : "no reason given";
  ERR_clear_error();
  throw std::runtime_error(what + ": " + reason);
}

std::string bioText(BIO* bio) {
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::string privateKeyPem(EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  check(bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "key PEM");
  return bioText(bio.get());
}

} // namespace orvex::service::detail

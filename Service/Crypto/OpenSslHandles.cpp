#include "Crypto/OpenSslHandles.h"

#include <openssl/err.h>

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

} // namespace orvex::service::detail

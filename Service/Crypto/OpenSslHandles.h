// Owning handles for the OpenSSL objects the service creates, and the one way
// an OpenSSL failure becomes an exception (with the library's own reason).
// Internal to the crypto library.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace orvex::service::detail {

template <auto Free>
struct OpenSslFree {
  template <class T>
  void operator()(T* object) const noexcept {
    Free(object);
  }
};

using PKeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO_free_all>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslFree<BN_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using X509ExtensionPtr = std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION_free>>;

// Throws std::runtime_error naming `what` and the oldest queued OpenSSL error,
// and clears the queue so that the next failure is not blamed on this one.
[[noreturn]] void throwOpenSslError(const std::string& what);

// Throws through throwOpenSslError when `ok` is false (OpenSSL's 1/0 convention).
inline void check(bool ok, const char* what) {
  if (!ok)
    throwOpenSslError(what);
}

// Everything written into a memory BIO.
std::string bioText(BIO* bio);

// `key`'s private half as unencrypted PKCS#8 PEM. Throws std::runtime_error.
std::string privateKeyPem(EVP_PKEY* key);

} // namespace orvex::service::detail

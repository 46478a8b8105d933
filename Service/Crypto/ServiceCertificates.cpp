#include "Crypto/ServiceCertificates.h"

#include "Crypto/OpenSslHandles.h"
#include "Platform/AtomicFile.h"

#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <stdexcept>

namespace orvex::service {

namespace {

using detail::check;

constexpr long kDay = 24 * 3600;

// Host names end up inside an OpenSSL configuration text ("DNS:a,DNS:b"), so
// anything but a plain (possibly wildcard) DNS name is refused rather than
// allowed to add entries of its own.
void checkHostName(const std::string& name) {
  bool plain = !name.empty() && name.size() <= 253 && std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '*';
  });
  if (!plain)
    throw std::runtime_error("not a host name for a certificate: \"" + name + "\"");
}

detail::PKeyPtr newEcKey() {
  detail::PKeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  check(key != nullptr, "EC key generation");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  detail::X509ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
  check(extension && X509_add_ext(cert, extension.get(), -1) == 1, "certificate extension");
}

// A certificate for `subjectKey` named `commonName`, valid from an hour ago
// (clocks of client and service may differ a little) for `days`.
detail::X509Ptr newCertificate(EVP_PKEY* subjectKey, const std::string& commonName, long days) {
  detail::X509Ptr cert(X509_new());
  check(cert != nullptr && X509_set_version(cert.get(), X509_VERSION_3) == 1, "certificate");
  // A random serial: every run makes a new CA, and browsers and curl refuse
  // two certificates of one issuer with the same serial.
  detail::BignumPtr serial(BN_new());
  check(serial && BN_rand(serial.get(), 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
            BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) != nullptr,
        "certificate serial");
  check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr &&
            X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * kDay) != nullptr,
        "certificate validity");
  X509_NAME* name = X509_get_subject_name(cert.get());
  check(X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("orvex-service"),
                                   -1, -1, 0) == 1 &&
            X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0) == 1,
        "certificate name");
  check(X509_set_pubkey(cert.get(), subjectKey) == 1, "certificate key");
  return cert;
}

std::string certificatePem(X509* cert) {
  detail::BioPtr bio(BIO_new(BIO_s_mem()));
  check(bio && PEM_write_bio_X509(bio.get(), cert) == 1, "certificate PEM");
  return detail::bioText(bio.get());
}

std::string subjectAltNames(const std::vector<std::string>& hostNames) {
  std::set<std::string> unique(hostNames.begin(), hostNames.end());
  std::string names;
  for (const auto& host : unique) {
    checkHostName(host);
    names += "DNS:" + host + ",";
  }
  return names + "IP:127.0.0.1";
}

} // namespace

TlsMaterial generateTlsMaterial(const std::vector<std::string>& hostNames) {
  std::string altNames = subjectAltNames(hostNames);

  auto caKey = newEcKey();
  auto ca = newCertificate(caKey.get(), "orvex-service local CA", 3650);
  check(X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get())) == 1, "CA issuer");
  addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
  addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
  check(X509_sign(ca.get(), caKey.get(), EVP_sha256()) > 0, "CA signature");

  auto serverKey = newEcKey();
  // 397 days: the longest validity TLS clients accept for a server certificate.
  auto server = newCertificate(serverKey.get(), hostNames.empty() ? "127.0.0.1" : hostNames.front(), 397);
  check(X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get())) == 1, "server issuer");
  addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
  addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature,keyAgreement");
  addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
  addExtension(server.get(), ca.get(), NID_subject_key_identifier, "hash");
  addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
  addExtension(server.get(), ca.get(), NID_subject_alt_name, altNames);
  check(X509_sign(server.get(), caKey.get(), EVP_sha256()) > 0, "server signature");

  return TlsMaterial{certificatePem(ca.get()), certificatePem(server.get()), detail::privateKeyPem(serverKey.get())};
}

std::filesystem::path writeTlsMaterial(const TlsMaterial& material, const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error)
    throw std::runtime_error("cannot create " + folder.string() + ": " + error.message());
  struct Item {
    const char* name;
    const std::string& content;
    mode_t mode;
  };
  for (const Item& item :
       {Item{"ca.pem", material.caCertificatePem, 0644}, Item{"server.pem", material.serverCertificatePem, 0644},
        Item{"server-key.pem", material.serverKeyPem, 0600}}) {
    if (auto failed = writeFileAtomically(folder / item.name, item.content, item.mode)) {
      throw std::runtime_error("cannot write " + (folder / item.name).string() + ": " + failed.message());
    }
  }
  return folder / "ca.pem";
}

} // namespace orvex::service

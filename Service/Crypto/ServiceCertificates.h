// TLS material for the service's single loopback listener: a throw-away CA and
// a server certificate for every host the service answers for, so that the
// client can trust the service by naming only the CA file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orvex::service {

struct TlsMaterial {
  std::string caCertificatePem;
  std::string serverCertificatePem;
  std::string serverKeyPem;
};

// A fresh CA (EC P-256) and a server certificate signed by it, valid for every
// name in `hostNames` (subjectAltName DNS entries; wildcards allowed) and IP
// 127.0.0.1. Throws std::runtime_error.
TlsMaterial generateTlsMaterial(const std::vector<std::string>& hostNames);

// Writes ca.pem, server.pem, server-key.pem (0600) into `folder`, creating it
// when missing; answers the CA file's path. Throws std::runtime_error.
std::filesystem::path writeTlsMaterial(const TlsMaterial& material, const std::filesystem::path& folder);

} // namespace orvex::service

#include "Identity/IdentityFiles.h"

#include "OVLogger.h"
#include "Platform/AtomicFile.h"
#include "Platform/KeepAside.h"
#include "Platform/WholeFile.h"

#include <cstring>
#include <stdexcept>

namespace orvex::service {

namespace {

constexpr const char* kKeyFile = "signing-key.pem";
constexpr const char* kTokensFile = "tokens.json";

void writePrivateFile(const std::filesystem::path& path, const std::string& text) {
  if (std::error_code error = writeFileAtomically(path, text, 0600))
    throw std::runtime_error("cannot write " + path.string() + ": " + error.message());
}

std::string unreadable(int error) {
  return std::string("cannot be read (") + std::strerror(error) + ")";
}

} // namespace

IdentityFiles::IdentityFiles(std::filesystem::path folder, orvex::Clock& clock)
    : folder_(std::move(folder)), clock_(clock) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (!error)
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, error);
  if (error)
    throw std::runtime_error("cannot set up " + folder_.string() + ": " + error.message());
}

RsaKey IdentityFiles::signingKey() {
  const std::filesystem::path path = folder_ / kKeyFile;
  WholeFile file = readWholeFile(path);
  if (file.exists && file.error == 0) {
    if (auto kept = RsaKey::fromPrivatePem(file.text); kept && kept->hasPrivateKey())
      return *kept;
    setAside(path, "is not an RSA private key");
  } else if (file.exists) {
    setAside(path, unreadable(file.error));
  }
  RsaKey key = RsaKey::generate();
  writePrivateFile(path, key.privatePem());
  OVLog(kLogMain, "orvex-service: new token signing key {} in {}", key.keyId(), path.string());
  return key;
}

std::optional<nlohmann::json> IdentityFiles::keptTokens() {
  const std::filesystem::path path = folder_ / kTokensFile;
  WholeFile file = readWholeFile(path);
  if (!file.exists)
    return std::nullopt;
  if (file.error != 0) {
    setAside(path, unreadable(file.error));
    return std::nullopt;
  }
  nlohmann::json tokens = nlohmann::json::parse(file.text, nullptr, false);
  if (tokens.is_discarded()) {
    setAside(path, "is not JSON");
    return std::nullopt;
  }
  return tokens;
}

void IdentityFiles::saveTokens(const nlohmann::json& tokens) {
  const std::filesystem::path path = folder_ / kTokensFile;
  if (std::error_code error = writeFileAtomically(path, tokens.dump(), 0600)) {
    OVLog(kLogMain, "Warning! Cannot save the issued tokens in {}: {}; they will not survive a restart", path.string(),
          error.message());
  }
}

void IdentityFiles::setTokensAside(const std::string& why) {
  setAside(folder_ / kTokensFile, why);
}

void IdentityFiles::setAside(const std::filesystem::path& file, const std::string& why) {
  std::optional<std::filesystem::path> aside = keepFileAside(file, clock_.wallNow(), false);
  if (!aside) {
    int error = errno;
    // Writing over it would lose what it held; the operator has to move it.
    throw std::runtime_error(file.string() + " " + why + " and cannot be moved aside: " + std::strerror(error));
  }
  OVLog(kLogMain, "Warning! {} {}; kept it as {}, starting afresh", file.string(), why, aside->string());
}

} // namespace orvex::service

// The identity provider's folder in the service's state folder: its signing
// key ("signing-key.pem") and the tokens it still honours ("tokens.json"), so
// that a restarted service accepts the tokens its clients saved. The folder is
// made mode 0700 and the files 0600: they hold what forges and replays tokens.
#pragma once

#include "Crypto/RsaKey.h"
#include "Dispatch/Clock.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace orvex::service {

// Owned by the provider; saveTokens runs under IdentityState's mutex, which
// serialises the writes. The other calls happen once, during construction.
class IdentityFiles {
 public:
  // Creates the folder when missing and narrows it to 0700. Throws std::runtime_error.
  IdentityFiles(std::filesystem::path folder, orvex::Clock& clock);

  // The kept key, or a new one written there when there is none. A key file
  // that cannot be read or is not an RSA private key is set aside under a
  // "broken" name, never overwritten. Throws std::runtime_error when the new
  // key cannot be written.
  RsaKey signingKey();
  // The token records saved by an earlier run, or nothing (a file that cannot
  // be read or parsed is set aside like a broken key).
  std::optional<nlohmann::json> keptTokens();
  // Replaces the saved token records; a failure is logged, the tokens stay valid in memory.
  void saveTokens(const nlohmann::json& tokens);
  // Sets a token file aside that IdentityState refused as not its records.
  void setTokensAside(const std::string& why);

 private:
  void setAside(const std::filesystem::path& file, const std::string& why);

  const std::filesystem::path folder_;
  orvex::Clock& clock_;
};

} // namespace orvex::service

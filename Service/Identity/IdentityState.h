// What the provider remembers between requests: users, pending logins,
// authorization codes, refresh tokens and the access tokens still honoured.
// Internal to the identity library.
#pragma once

#include "Identity/IdentityProvider.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvex::service {

// What authorize accepted, carried through the login form to the code.
struct AuthorizationRequest {
  std::string redirectUri;
  std::string state;
  std::string nonce;
  std::string scope;
  std::string codeChallenge; // S256 of the verifier, base64url
  std::string loginHint;
};

// One login's consent. Every token issued from one code, and from the refresh
// tokens that followed it, belongs to the same `family`, so that a replayed
// code can take back everything it led to.
struct Grant {
  std::string email;
  std::string scope;
  std::string nonce; // only for the ID token of the code exchange
  std::int64_t authTime = 0;
  std::uint64_t family = 0;
};

struct CodeRecord {
  AuthorizationRequest request;
  Grant grant;
  std::int64_t expiresAt = 0;
};

// Thread-safe: every member function takes mutex_ for its whole run and none
// calls out while holding it. Times are Unix seconds from the provider's clock.
class IdentityState {
 public:
  IdentityState(std::vector<ServiceUser> users, bool autoApprove);

  std::optional<ServiceUser> findUser(const std::string& email) const;
  // The user when `password` is theirs; nullopt for an unknown e-mail too, so
  // that the form says the same for both.
  std::optional<ServiceUser> checkPassword(const std::string& email, const std::string& password) const;
  // With auto-approve on: the user `loginHint` names, else the only user.
  std::optional<ServiceUser> autoApprovedUser(const std::string& loginHint) const;
  void setUsers(std::vector<ServiceUser> users);
  void setAutoApprove(bool on);

  void recordAcrValues(std::string acrValues);
  std::optional<std::string> lastAcrValues() const;

  // A login form in progress: the accepted request, kept here so that the
  // form's POST cannot alter it. Answers the form's id.
  std::string startLogin(AuthorizationRequest request, std::int64_t now);
  std::optional<AuthorizationRequest> pendingLogin(const std::string& id, std::int64_t now) const;
  // False when the login was already finished (a second POST of the same form).
  bool endLogin(const std::string& id);

  Grant newGrant(const std::string& email, const std::string& scope, const std::string& nonce, std::int64_t now);
  std::string issueCode(AuthorizationRequest request, Grant grant, std::int64_t now);
  // Spends the code: a second presentation finds nothing and revokes every
  // token the first one produced. Nothing for an unknown or expired code.
  std::optional<CodeRecord> redeemCode(const std::string& code, std::int64_t now);

  std::string storeRefreshToken(const Grant& grant, std::int64_t expiresAt);
  // The grant of a live refresh token, leaving it usable.
  std::optional<Grant> peekRefreshToken(const std::string& token, std::int64_t now) const;
  // Spends the refresh token (rotation): the caller stores its successor.
  std::optional<Grant> takeRefreshToken(const std::string& token, std::int64_t now);

  void recordAccessToken(const std::string& jti, const Grant& grant, std::int64_t now, std::int64_t expiresAt);
  // True while the token was neither revoked nor expired by hand and its user exists.
  bool isAccessTokenLive(const std::string& jti, const std::string& email) const;

  void revokeUser(const std::string& email);
  void expireAccessTokens();

  // The tokens still honoured (access token ids, refresh tokens, the next
  // grant family) as JSON, handed to `saver` after every change to them, with
  // the mutex held so that the saves come in the order of the changes.
  using TokenSaver = std::function<void(const nlohmann::json& tokens)>;
  void setTokenSaver(TokenSaver saver);
  // Takes over the records an earlier run saved; false, changing nothing, when
  // `tokens` is not such a record.
  bool restoreTokens(const nlohmann::json& tokens);

 private:
  struct Issued {
    std::string email;
    std::uint64_t family = 0;
    std::int64_t expiresAt = 0;
  };
  struct PendingLogin {
    AuthorizationRequest request;
    std::int64_t expiresAt = 0;
  };
  struct RefreshRecord {
    Grant grant;
    std::int64_t expiresAt = 0;
  };
  struct SpentCode {
    std::uint64_t family = 0;
    std::int64_t forgetAt = 0;
  };

  const ServiceUser* findUserLocked(const std::string& email) const;
  void revokeFamilyLocked(std::uint64_t family);
  void pruneLocked(std::int64_t now);
  void saveTokensLocked() const;
  nlohmann::json tokensJsonLocked() const;

  mutable std::mutex mutex_;
  std::vector<ServiceUser> users_;                     // guarded by mutex_
  bool autoApprove_ = false;                           // guarded by mutex_
  std::optional<std::string> lastAcrValues_;           // guarded by mutex_
  std::map<std::string, PendingLogin> logins_;         // guarded by mutex_
  std::map<std::string, CodeRecord> codes_;            // guarded by mutex_
  std::map<std::string, SpentCode> spentCodes_;        // guarded by mutex_
  std::map<std::string, RefreshRecord> refreshTokens_; // guarded by mutex_, by token
  std::map<std::string, Issued> accessTokens_;         // guarded by mutex_, by jti
  std::uint64_t nextFamily_ = 1;                       // guarded by mutex_
  TokenSaver saver_;                                   // guarded by mutex_
};

} // namespace orvex::service

#include "Identity/IdentityState.h"

#include "Crypto/Digest.h"
#include "Identity/AsciiCase.h"

#include <algorithm>
#include <cctype>

namespace orvex::service {

namespace {

// How long a code and a login form stay usable: long enough for a person or a
// browser hand-off, short enough that a leaked code is soon worthless.
constexpr std::int64_t kCodeLifetime = 60;
constexpr std::int64_t kLoginLifetime = 600;

// The entry under `key` while it has not expired; nullptr otherwise.
template <class Map>
auto* findLive(Map& map, const std::string& key, std::int64_t now) {
  auto it = map.find(key);
  return it == map.end() || it->second.expiresAt <= now ? nullptr : &it->second;
}

template <class Map, class Predicate>
void eraseWhere(Map& map, Predicate predicate) {
  std::erase_if(map, [&](const auto& entry) { return predicate(entry.second); });
}

} // namespace

IdentityState::IdentityState(std::vector<ServiceUser> users, bool autoApprove)
    : users_(std::move(users)), autoApprove_(autoApprove) {}

const ServiceUser* IdentityState::findUserLocked(const std::string& email) const {
  auto it = std::find_if(users_.begin(), users_.end(),
                         [&](const ServiceUser& u) { return equalsIgnoringCase(u.email, email); });
  return it == users_.end() ? nullptr : &*it;
}

std::optional<ServiceUser> IdentityState::findUser(const std::string& email) const {
  std::lock_guard lock(mutex_);
  const ServiceUser* user = findUserLocked(email);
  return user ? std::optional(*user) : std::nullopt;
}

std::optional<ServiceUser> IdentityState::checkPassword(const std::string& email, const std::string& password) const {
  std::lock_guard lock(mutex_);
  const ServiceUser* user = findUserLocked(email);
  if (!user || !constantTimeEquals(sha256(user->password), sha256(password)))
    return std::nullopt;
  return *user;
}

std::optional<ServiceUser> IdentityState::autoApprovedUser(const std::string& loginHint) const {
  std::lock_guard lock(mutex_);
  if (!autoApprove_)
    return std::nullopt;
  if (const ServiceUser* hinted = loginHint.empty() ? nullptr : findUserLocked(loginHint))
    return *hinted;
  if (users_.size() == 1)
    return users_.front();
  return std::nullopt;
}

void IdentityState::setUsers(std::vector<ServiceUser> users) {
  std::lock_guard lock(mutex_);
  users_ = std::move(users);
}

void IdentityState::setAutoApprove(bool on) {
  std::lock_guard lock(mutex_);
  autoApprove_ = on;
}

void IdentityState::recordAcrValues(std::string acrValues) {
  std::lock_guard lock(mutex_);
  lastAcrValues_ = std::move(acrValues);
}

std::optional<std::string> IdentityState::lastAcrValues() const {
  std::lock_guard lock(mutex_);
  return lastAcrValues_;
}

std::string IdentityState::startLogin(AuthorizationRequest request, std::int64_t now) {
  std::string id = randomToken();
  std::lock_guard lock(mutex_);
  pruneLocked(now);
  logins_[id] = PendingLogin{std::move(request), now + kLoginLifetime};
  return id;
}

std::optional<AuthorizationRequest> IdentityState::pendingLogin(const std::string& id, std::int64_t now) const {
  std::lock_guard lock(mutex_);
  const auto* login = findLive(logins_, id, now);
  return login ? std::optional(login->request) : std::nullopt;
}

bool IdentityState::endLogin(const std::string& id) {
  std::lock_guard lock(mutex_);
  return logins_.erase(id) == 1;
}

Grant IdentityState::newGrant(const std::string& email, const std::string& scope, const std::string& nonce,
                              std::int64_t now) {
  std::lock_guard lock(mutex_);
  return Grant{email, scope, nonce, now, nextFamily_++};
}

std::string IdentityState::issueCode(AuthorizationRequest request, Grant grant, std::int64_t now) {
  std::string code = randomToken();
  std::lock_guard lock(mutex_);
  pruneLocked(now);
  codes_[code] = CodeRecord{std::move(request), std::move(grant), now + kCodeLifetime};
  return code;
}

std::optional<CodeRecord> IdentityState::redeemCode(const std::string& code, std::int64_t now) {
  std::lock_guard lock(mutex_);
  if (auto spent = spentCodes_.find(code); spent != spentCodes_.end()) {
    // A replay means the code leaked; whoever holds its tokens may not be the user.
    revokeFamilyLocked(spent->second.family);
    saveTokensLocked();
    return std::nullopt;
  }
  auto it = codes_.find(code);
  if (it == codes_.end())
    return std::nullopt;
  CodeRecord record = std::move(it->second);
  codes_.erase(it);
  // Remembered past its expiry so that a late replay is still recognised.
  spentCodes_[code] = SpentCode{record.grant.family, record.expiresAt + kCodeLifetime};
  if (record.expiresAt <= now)
    return std::nullopt;
  return record;
}

std::string IdentityState::storeRefreshToken(const Grant& grant, std::int64_t expiresAt) {
  std::string token = randomToken();
  std::lock_guard lock(mutex_);
  refreshTokens_[token] = RefreshRecord{grant, expiresAt};
  saveTokensLocked();
  return token;
}

std::optional<Grant> IdentityState::peekRefreshToken(const std::string& token, std::int64_t now) const {
  std::lock_guard lock(mutex_);
  const auto* record = findLive(refreshTokens_, token, now);
  return record ? std::optional(record->grant) : std::nullopt;
}

std::optional<Grant> IdentityState::takeRefreshToken(const std::string& token, std::int64_t now) {
  std::lock_guard lock(mutex_);
  auto it = refreshTokens_.find(token);
  if (it == refreshTokens_.end())
    return std::nullopt;
  RefreshRecord record = std::move(it->second);
  refreshTokens_.erase(it);
  saveTokensLocked();
  if (record.expiresAt <= now || !findUserLocked(record.grant.email))
    return std::nullopt;
  return record.grant;
}

void IdentityState::recordAccessToken(const std::string& jti, const Grant& grant, std::int64_t now,
                                      std::int64_t expiresAt) {
  std::lock_guard lock(mutex_);
  pruneLocked(now);
  accessTokens_[jti] = Issued{grant.email, grant.family, expiresAt};
  saveTokensLocked();
}

bool IdentityState::isAccessTokenLive(const std::string& jti, const std::string& email) const {
  std::lock_guard lock(mutex_);
  auto it = accessTokens_.find(jti);
  return it != accessTokens_.end() && it->second.email == email && findUserLocked(email) != nullptr;
}

void IdentityState::revokeUser(const std::string& email) {
  std::lock_guard lock(mutex_);
  eraseWhere(accessTokens_, [&](const Issued& issued) { return equalsIgnoringCase(issued.email, email); });
  eraseWhere(refreshTokens_,
             [&](const RefreshRecord& record) { return equalsIgnoringCase(record.grant.email, email); });
  eraseWhere(codes_, [&](const CodeRecord& record) { return equalsIgnoringCase(record.grant.email, email); });
  saveTokensLocked();
}

void IdentityState::expireAccessTokens() {
  std::lock_guard lock(mutex_);
  accessTokens_.clear();
  saveTokensLocked();
}

void IdentityState::revokeFamilyLocked(std::uint64_t family) {
  eraseWhere(accessTokens_, [&](const Issued& issued) { return issued.family == family; });
  eraseWhere(refreshTokens_, [&](const RefreshRecord& record) { return record.grant.family == family; });
}

void IdentityState::pruneLocked(std::int64_t now) {
  eraseWhere(logins_, [&](const PendingLogin& login) { return login.expiresAt <= now; });
  eraseWhere(codes_, [&](const CodeRecord& record) { return record.expiresAt <= now; });
  eraseWhere(spentCodes_, [&](const SpentCode& spent) { return spent.forgetAt <= now; });
  eraseWhere(refreshTokens_, [&](const RefreshRecord& record) { return record.expiresAt <= now; });
  eraseWhere(accessTokens_, [&](const Issued& issued) { return issued.expiresAt <= now; });
}

} // namespace orvex::service

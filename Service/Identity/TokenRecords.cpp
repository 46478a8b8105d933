// Saving and restoring the tokens an IdentityState honours, so that a service
// restarted on the same state folder keeps accepting what it issued before.
#include "Identity/IdentityState.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace orvex::service {

void IdentityState::setTokenSaver(TokenSaver saver) {
  std::lock_guard lock(mutex_);
  saver_ = std::move(saver);
}

void IdentityState::saveTokensLocked() const {
  if (saver_)
    saver_(tokensJsonLocked());
}

nlohmann::json IdentityState::tokensJsonLocked() const {
  nlohmann::json access = nlohmann::json::array();
  for (const auto& [jti, issued] : accessTokens_) {
    access.push_back(
        {{"Jti", jti}, {"Email", issued.email}, {"Family", issued.family}, {"ExpiresAt", issued.expiresAt}});
  }
  nlohmann::json refresh = nlohmann::json::array();
  for (const auto& [token, record] : refreshTokens_) {
    const Grant& grant = record.grant;
    refresh.push_back({{"Token", token},
                       {"Email", grant.email},
                       {"Scope", grant.scope},
                       {"AuthTime", grant.authTime},
                       {"Family", grant.family},
                       {"ExpiresAt", record.expiresAt}});
  }
  return {{"NextFamily", nextFamily_}, {"AccessTokens", access}, {"RefreshTokens", refresh}};
}

bool IdentityState::restoreTokens(const nlohmann::json& tokens) {
  std::map<std::string, Issued> access;
  std::map<std::string, RefreshRecord> refresh;
  std::uint64_t nextFamily = 1;
  if (!tokens.is_object() || !tokens.value("AccessTokens", nlohmann::json()).is_array() ||
      !tokens.value("RefreshTokens", nlohmann::json()).is_array()) {
    return false;
  }
  try {
    nextFamily = tokens.at("NextFamily").get<std::uint64_t>();
    for (const auto& item : tokens.at("AccessTokens")) {
      Issued issued{item.at("Email").get<std::string>(), item.at("Family").get<std::uint64_t>(),
                    item.at("ExpiresAt").get<std::int64_t>()};
      nextFamily = std::max(nextFamily, issued.family + 1);
      access[item.at("Jti").get<std::string>()] = std::move(issued);
    }
    for (const auto& item : tokens.at("RefreshTokens")) {
      // The nonce belongs to the code exchange's ID token only; a refresh never sends it.
      Grant grant{item.at("Email").get<std::string>(), item.at("Scope").get<std::string>(), "",
                  item.at("AuthTime").get<std::int64_t>(), item.at("Family").get<std::uint64_t>()};
      nextFamily = std::max(nextFamily, grant.family + 1);
      refresh[item.at("Token").get<std::string>()] =
          RefreshRecord{std::move(grant), item.at("ExpiresAt").get<std::int64_t>()};
    }
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  std::lock_guard lock(mutex_);
  accessTokens_ = std::move(access);
  refreshTokens_ = std::move(refresh);
  // Never below a family handed out here already, so families stay distinct.
  nextFamily_ = std::max(nextFamily_, nextFamily);
  return true;
}

} // namespace orvex::service

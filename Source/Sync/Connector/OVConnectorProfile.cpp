// The profile passes: every domain of the login token, or one domain, each
// profile merged into the share store and followed by catch-up of its shares.
#include "OVLogger.h"
#include "Sync/Connector/CollectedReply.h"
#include "Sync/Connector/OVConnector.h"
#include "Sync/ProfileRecords.h"

#include <variant>

namespace orvex {

namespace {

// The further domains of the "domains" claim: a list, or one text.
std::vector<std::string> furtherDomains(const OVJWTValue& claim) {
  if (const auto* list = std::get_if<std::vector<std::string>>(&claim)) {
    return *list;
  }
  const auto& text = std::get<std::string>(claim);
  return text.empty() ? std::vector<std::string>{} : std::vector<std::string>{text};
}

} // namespace

void OVConnector::getFullProfileForAllDomains() {
  const OVJWTValue primaryClaim = parts_.authorization.getJWTValueWithKey("primary_domain");
  const std::vector<std::string> further = furtherDomains(parts_.authorization.getJWTValueWithKey("domains"));
  const auto* primary = std::get_if<std::string>(&primaryClaim);

  awaitingDomains_.store(static_cast<std::int32_t>(further.size()) + 1);
  // A domain named by both claims is requested twice; both replies count.
  getFullProfileForDomain(primary ? *primary : std::string());
  for (const auto& domain : further) {
    getFullProfileForDomain(domain);
  }
}

void OVConnector::getFullProfilleForSingleDomain(const std::string& domain) {
  std::int32_t outstanding = awaitingDomains_.load();
  do {
    if (outstanding > 0) {
      return;
    }
  } while (!awaitingDomains_.compare_exchange_weak(outstanding, 1));
  getFullProfileForDomain(domain);
}

void OVConnector::getFullProfileForDomain(const std::string& domain) {
  addDomain(domain);
  auto request = parts_.api.fullProfileRequest(domain);
  if (!request) {
    // The builder said why; the pass must not wait for a reply that never comes.
    domainAnswered();
    return;
  }
  sendWithToken(
      std::move(*request), fullProfileQueue_,
      [this, domain](const CollectedReply& reply) { handleProfileReply(domain, reply); },
      [this] {
        OVLog(kLogMain, "Get full profile - Error getting access token");
        // Released, unlike a pass left waiting for good: the next pass or a
        // single-domain pass must still be possible.
        domainAnswered();
      });
}

void OVConnector::handleProfileReply(const std::string& domain, const CollectedReply& reply) {
  if (reply.status == 200 && !reply.body.empty()) {
    const auto profile = FullProfileData::fromJSONText(reply.body);
    if (profile && profile->Data && profile->Data->ManagedShares && !profile->Data->ManagedShares->empty()) {
      applyProfile(domain, *profile->Data);
    } else {
      OVLog(kLogMain, "Failed to parse full profile response");
    }
  } else {
    OVLog(kLogMain, "Failed connection to gateway for domain: {}. Error {}. HTTP status code: {}", domain,
          reply.errorText(), reply.status);
  }
  domainAnswered();
}

void OVConnector::applyProfile(const std::string& domain, const ClientLoginResponse& profile) {
  if (!parts_.realTimeDisabled()) {
    auto channel = srConnectionForDomain(domain);
    channel->setLoginResponce(profile);
    channel->connect();
  }
  parts_.database.updateShares(profile, domain);
  for (const ManagedShare& received : *profile.ManagedShares) {
    if (!received.ShareId) {
      continue;
    }
    // The stored share: its tick, display name and domain are the store's.
    if (auto share = parts_.database.shareWithId(*received.ShareId)) {
      catchUp(*share);
    }
  }
}

void OVConnector::domainAnswered() {
  // Decrease and test in one step, never below 0 (a logout may have ended
  // the pass while replies were on their way), so that exactly one reply
  // finishes the pass.
  std::int32_t outstanding = awaitingDomains_.load();
  while (outstanding > 0) {
    if (awaitingDomains_.compare_exchange_weak(outstanding, outstanding - 1)) {
      if (outstanding == 1) {
        finishedDomainLogin();
      }
      return;
    }
  }
}

void OVConnector::finishedDomainLogin() {
  parts_.database.deleteDomainShares(domains());
}

} // namespace orvex

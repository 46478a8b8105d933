// Fresh access tokens for requests: one refresh at a time, shared by every caller.
#include "OVLogger.h"
#include "Sync/Login/OVAuthorizationQueue.h"

namespace orvex {

void OVAuthorization::fetchUrlRequestWithCompletion(HttpRequest request, RequestCompletion completion) {
  fetchFreshToken([request = std::move(request), completion = std::move(completion)](
                      bool ok, const std::string& tokenOrError) mutable {
    if (!ok) {
      OVLog(kLogMain, "Error fetching fresh tokens: {}", tokenOrError);
      completion(false, std::nullopt);
      return;
    }
    request.headers.add("Authorization", "Bearer " + tokenOrError);
    completion(true, std::move(request));
  });
}

void OVAuthorization::fetchAuthBearerWithCompletion(BearerCompletion completion) {
  fetchFreshToken([completion = std::move(completion)](bool ok, const std::string& tokenOrError) {
    completion(ok, ok ? "Bearer " + tokenOrError : std::string());
  });
}

void OVAuthorization::fetchFreshToken(TokenCompletion completion) {
  std::unique_lock lock(mutex_);
  auto answer = [this, &completion](bool ok, std::string text) {
    parts_.mainQueue.async([completion = std::move(completion), ok, text = std::move(text)] { completion(ok, text); });
  };
  if (!state_ || !state_->isAuthorized())
    return answer(false, "not logged in");
  if (!state_->needsRefresh(parts_.clock.wallNow(), config_.refreshTolerance))
    return answer(true, state_->accessToken);
  if (state_->refreshToken.empty())
    return answer(false, "the access token expired and there is no refresh token");
  waiters_.push_back(std::move(completion));
  if (refreshing_)
    return;
  refreshing_ = true;
  const std::uint64_t generation = generation_;
  const std::string refreshToken = state_->refreshToken;
  lock.unlock();
  onAuthQueue(
      [this, refreshToken] {
        auto configuration = discover(false);
        if (!configuration)
          return OIDCTokenResult{std::nullopt, "no discovery document: " + configuration.error(), false};
        return oidc_.refresh(configuration.value(), refreshToken);
      },
      [this, generation](const OIDCTokenResult& result) { finishRefresh(generation, result); });
}

void OVAuthorization::finishRefresh(std::uint64_t generation, const OIDCTokenResult& result) {
  std::vector<TokenCompletion> waiters;
  std::optional<OIDCAuthState> state;
  {
    std::lock_guard lock(mutex_);
    waiters.swap(waiters_);
    refreshing_ = false;
    // A logout or a new login while the refresh ran: its tokens belong to a
    // login that is gone.
    if (state_ && generation == generation_)
      state = *state_;
  }
  std::string error = result.error;
  if (!state) {
    error = "the login changed while the token was refreshed";
  } else if (result.tokens) {
    state->apply(*result.tokens, parts_.clock.wallNow());
  } else if (result.grantRefused) {
    state->authorizationError = result.error;
  } else {
    state.reset(); // a failure on the way: the login stays as it is, the next caller tries again
  }
  const bool ok = state && result.tokens;
  const std::string token = ok ? state->accessToken : error;
  if (state)
    stateChanged(std::move(*state));
  for (auto& waiter : waiters)
    waiter(ok, token);
}

} // namespace orvex

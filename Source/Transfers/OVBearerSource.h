// Where the transfer queues get the "Authorization" value for their requests:
// "Bearer " followed by a fresh access token, asked for at every scheduling pass.
#pragma once

#include <functional>
#include <string>

namespace orvex {

class OVAuthorization;

// Implementations are thread-safe. The completion may run on any thread (the
// login delivers it on the main thread), possibly before the call returns;
// callers hand its result to their own thread instead of waiting for it.
class OVBearerSource {
 public:
  using Completion = std::function<void(bool ok, std::string bearer)>;

  OVBearerSource() = default;
  OVBearerSource(const OVBearerSource&) = delete;
  OVBearerSource& operator=(const OVBearerSource&) = delete;
  virtual ~OVBearerSource() = default;

  virtual void fetchAuthBearerWithCompletion(Completion completion) = 0;
};

// The login's tokens. The OVAuthorization must outlive this object.
class OVAuthorizationBearer final : public OVBearerSource {
 public:
  explicit OVAuthorizationBearer(OVAuthorization& authorization) : authorization_(authorization) {}
  void fetchAuthBearerWithCompletion(Completion completion) override;

 private:
  OVAuthorization& authorization_;
};

} // namespace orvex

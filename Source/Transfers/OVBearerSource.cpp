#include "Transfers/OVBearerSource.h"

#include "Sync/Login/OVAuthorization.h"

namespace orvex {

void OVAuthorizationBearer::fetchAuthBearerWithCompletion(Completion completion) {
  authorization_.fetchAuthBearerWithCompletion(std::move(completion));
}

} // namespace orvex

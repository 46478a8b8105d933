// The provider's sign-in form: e-mail and password, posted back with the id
// of the authorization request it continues.
#pragma once

#include <string>
#include <string_view>

namespace orvex::service {

// The whole HTML page; `email` refills the field after a failed attempt and
// `error` (may be empty) is shown above the form. Every value is escaped.
std::string loginPage(std::string_view loginId, std::string_view email, std::string_view error);

} // namespace orvex::service

#include "Identity/LoginPage.h"

#include "Identity/OAuthReplies.h"
#include "Identity/RegisteredClient.h"

namespace orvex::service {

std::string loginPage(std::string_view loginId, std::string_view email, std::string_view error) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Sign in</title></head>\n<body>\n"
      "<h1>Sign in</h1>\n";
  if (!error.empty())
    page += "<p class=\"error\" role=\"alert\">" + htmlEscape(error) + "</p>\n";
  page += "<form method=\"post\" action=\"" + std::string(kLoginPath) +
          "\">\n"
          "<input type=\"hidden\" name=\"login\" value=\"" +
          htmlEscape(loginId) +
          "\">\n"
          "<label>E-mail <input type=\"email\" name=\"email\" autocomplete=\"username\" value=\"" +
          htmlEscape(email) +
          "\" required></label>\n"
          "<label>Password <input type=\"password\" name=\"password\" autocomplete=\"current-password\" "
          "required></label>\n"
          "<button type=\"submit\">Sign in</button>\n</form>\n</body></html>\n";
  return page;
}

} // namespace orvex::service

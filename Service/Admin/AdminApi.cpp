#include "Admin/AdminApi.h"

#include "Api/Replies.h"
#include "Config/ConfigReader.h"
#include "OVLogger.h"

#include <httplib.h>

#include <charconv>

namespace orvex::service {

nlohmann::json AdminCall::body() const {
  if (request.body.empty())
    return nlohmann::json::object();
  nlohmann::json json = nlohmann::json::parse(request.body, nullptr, false);
  if (json.is_discarded() || !json.is_object())
    throw ConfigError("the body must be a JSON object");
  return json;
}

std::int64_t AdminCall::queryInteger(const char* name, std::int64_t fallback) const {
  if (!request.has_param(name))
    return fallback;
  const std::string text = request.get_param_value(name);
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    throw ConfigError(std::string("the query parameter \"") + name + "\" must be an integer");
  return value;
}

AdminApi::AdminApi(AdminContext context) : context_(context) {
  addNodeRoutes();
  addShareRoutes();
  addFaultRoutes();
  addInspectionRoutes();
}

void AdminApi::add(std::string method, const std::string& pattern, Handler handler) {
  routes_.push_back(Route{std::move(method), pathSegments(pattern), std::move(handler)});
}

void AdminApi::handle(const httplib::Request& request, httplib::Response& response) const {
  const std::vector<std::string> segments = pathSegments(request.path);
  bool pathKnown = false;
  for (const Route& route : routes_) {
    if (route.segments.size() != segments.size())
      continue;
    AdminCall call{request, response, {}};
    bool matched = true;
    for (std::size_t i = 0; matched && i < segments.size(); ++i) {
      if (route.segments[i].front() == ':')
        call.parameters.push_back(segments[i]);
      else
        matched = route.segments[i] == segments[i];
    }
    if (!matched)
      continue;
    pathKnown = true;
    if (route.method != request.method)
      continue;
    try {
      route.handler(call);
    } catch (const ConfigError& e) {
      replyMessage(response, 400, e.what());
    }
    return;
  }
  if (pathKnown)
    replyMessage(response, 405, request.method + " is not allowed on " + request.path);
  else
    replyMessage(response, 404, "No admin endpoint " + request.path);
}

} // namespace orvex::service

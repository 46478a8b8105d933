// Fault rules over the admin API: add, list, describe, remove, release what a
// rule holds, and wait until a rule holds or has hit enough requests (so that
// tests observe a delayed or stalled request without sleeping).
#include "Admin/AdminApi.h"

#include "Api/Replies.h"
#include "Config/ConfigReader.h"

#include <httplib.h>

#include <charconv>

namespace orvex::service {
namespace {

constexpr std::int64_t kDefaultWaitMilliseconds = 10000;
constexpr std::int64_t kMaxWaitMilliseconds = 600000;

std::int64_t ruleId(const AdminCall& call) {
  const std::string& text = call.parameters[0];
  std::int64_t id = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (error != std::errc() || end != text.data() + text.size())
    throw ConfigError("\"" + text + "\" is not a fault rule id");
  return id;
}

void replyRule(const AdminCall& call, const std::optional<nlohmann::json>& rule) {
  if (rule)
    replyJson(call.response, 200, rule->dump());
  else
    replyMessage(call.response, 404, "No fault rule " + call.parameters[0]);
}

} // namespace

void AdminApi::addFaultRoutes() {
  FaultInjector& faults = context_.faults;

  add("GET", "/faults", [&faults](const AdminCall& call) { replyJson(call.response, 200, faults.list().dump()); });
  add("POST", "/faults", [&faults](const AdminCall& call) {
    FaultRule rule = faults.add(FaultRule::fromJson(call.body()));
    replyJson(call.response, 201, faults.describe(rule.id).value_or(rule.toJson()).dump());
  });
  add("DELETE", "/faults", [&faults](const AdminCall& call) {
    faults.clear();
    replyJson(call.response, 200, "{}");
  });
  add("GET", "/faults/:id", [&faults](const AdminCall& call) { replyRule(call, faults.describe(ruleId(call))); });
  add("DELETE", "/faults/:id", [&faults](const AdminCall& call) {
    if (faults.remove(ruleId(call)))
      replyJson(call.response, 200, "{}");
    else
      replyRule(call, std::nullopt);
  });
  add("POST", "/faults/:id/release", [&faults](const AdminCall& call) {
    const std::int64_t id = ruleId(call);
    replyRule(call, faults.release(id) ? faults.describe(id) : std::nullopt);
  });
  add("GET", "/faults/:id/wait", [&faults](const AdminCall& call) {
    const std::int64_t id = ruleId(call);
    const std::int64_t timeout = call.queryInteger("timeoutMs", kDefaultWaitMilliseconds);
    if (timeout < 0 || timeout > kMaxWaitMilliseconds)
      throw ConfigError("\"timeoutMs\" must be between 0 and " + std::to_string(kMaxWaitMilliseconds));
    std::optional<std::int64_t> held;
    if (call.request.has_param("held"))
      held = call.queryInteger("held", 0);
    auto reached = faults.waitFor(id, held, call.queryInteger("hits", 0), std::chrono::milliseconds(timeout));
    if (reached)
      return replyJson(call.response, 200, reached->dump());
    if (!faults.describe(id))
      return replyRule(call, std::nullopt);
    replyMessage(call.response, 408, "Fault rule " + call.parameters[0] + " did not get there in time");
  });
}

} // namespace orvex::service

#include "Network/ProbeTarget.h"

#include "Network/HttpText.h"

#include <charconv>

namespace orvex {
namespace {

constexpr std::uint16_t kDefaultProxyPort = 1080;

std::string_view trimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

std::string withoutBrackets(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  return std::string(host);
}

// The first set variable of `names`, as curl looks them up.
std::optional<std::string> firstVariable(const XdgEnvironment& env, std::initializer_list<const char*> names) {
  if (!env.variable)
    return std::nullopt;
  for (const char* name : names) {
    if (auto value = env.variable(name); value && !value->empty())
      return value;
  }
  return std::nullopt;
}

std::optional<ProbeTarget> connectToTarget(const Deployment& deployment) {
  for (const auto& entry : deployment.connectTo) {
    auto rule = parseConnectTo(entry);
    if (!rule || !(rule->host.empty() || equalsIgnoringAsciiCase(rule->host, deployment.probeHost)) ||
        !(rule->port == 0 || rule->port == deployment.probePort))
      continue;
    return ProbeTarget{rule->connectHost.empty() ? deployment.probeHost : withoutBrackets(rule->connectHost),
                       rule->connectPort == 0 ? deployment.probePort : rule->connectPort};
  }
  return std::nullopt;
}

} // namespace

std::optional<ProbeTarget> parseProxyAddress(std::string_view text) {
  text = trimSpaces(text);
  if (auto scheme = text.find("://"); scheme != std::string_view::npos)
    text.remove_prefix(scheme + 3);
  text = text.substr(0, text.find('/'));
  if (auto at = text.rfind('@'); at != std::string_view::npos)
    text.remove_prefix(at + 1);
  std::string_view host = text;
  std::uint16_t port = kDefaultProxyPort;
  const size_t bracket = text.rfind(']');
  const size_t colon = text.rfind(':');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    host = text.substr(0, colon);
    std::string_view digits = text.substr(colon + 1);
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (error != std::errc() || end != digits.data() + digits.size() || port == 0)
      return std::nullopt;
  }
  std::string bare = withoutBrackets(host);
  if (bare.empty())
    return std::nullopt;
  return ProbeTarget{std::move(bare), port};
}

bool noProxyCovers(std::string_view noProxy, std::string_view host) {
  while (!noProxy.empty()) {
    const size_t comma = noProxy.find(',');
    std::string_view entry = trimSpaces(noProxy.substr(0, comma));
    noProxy = comma == std::string_view::npos ? std::string_view() : noProxy.substr(comma + 1);
    if (entry == "*")
      return true;
    if (entry.starts_with("."))
      entry.remove_prefix(1);
    if (entry.empty())
      continue;
    if (equalsIgnoringAsciiCase(entry, host))
      return true;
    if (host.size() > entry.size() && host[host.size() - entry.size() - 1] == '.' &&
        equalsIgnoringAsciiCase(host.substr(host.size() - entry.size()), entry))
      return true;
  }
  return false;
}

ProbeTarget probeTargetFor(const Deployment& deployment, const XdgEnvironment& env) {
  if (auto direct = connectToTarget(deployment))
    return *direct;
  const auto noProxy = firstVariable(env, {"no_proxy", "NO_PROXY"});
  if (!noProxy || !noProxyCovers(*noProxy, deployment.probeHost)) {
    // The probe host is reached over https, whose proxy curl takes from these.
    if (auto proxy = firstVariable(env, {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})) {
      if (auto target = parseProxyAddress(*proxy))
        return *target;
    }
  }
  return ProbeTarget{deployment.probeHost, deployment.probePort};
}

} // namespace orvex

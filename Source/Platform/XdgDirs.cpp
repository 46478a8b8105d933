#include "Platform/XdgDirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace orvex {
namespace {

std::optional<std::filesystem::path> absoluteVariable(const XdgEnvironment& env, const std::string& name) {
  std::optional<std::string> value = env.variable(name);
  if (!value || value->empty() || value->front() != '/')
    return std::nullopt;
  return std::filesystem::path(*value);
}

std::optional<std::filesystem::path> underHome(const XdgEnvironment& env, const std::string& variable,
                                               const std::filesystem::path& fallback) {
  if (auto value = absoluteVariable(env, variable))
    return value;
  std::optional<std::filesystem::path> home = homeDir(env);
  if (!home)
    return std::nullopt;
  return *home / fallback;
}

std::optional<std::string> processPasswdHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

} // namespace

XdgEnvironment XdgEnvironment::process() {
  return XdgEnvironment{
      [](const std::string& name) -> std::optional<std::string> {
        // Unsafe only against a concurrent setenv, which this program never calls.
        const char* value = std::getenv(name.c_str()); // NOLINT(concurrency-mt-unsafe)
        if (value == nullptr)
          return std::nullopt;
        return std::string(value);
      },
      processPasswdHome,
  };
}

std::optional<std::filesystem::path> homeDir(const XdgEnvironment& env) {
  if (auto home = absoluteVariable(env, "HOME"))
    return home;
  std::optional<std::string> entry = env.passwdHome();
  if (!entry || entry->empty() || entry->front() != '/')
    return std::nullopt;
  return std::filesystem::path(*entry);
}

std::optional<std::filesystem::path> configHome(const XdgEnvironment& env) {
  return underHome(env, "XDG_CONFIG_HOME", ".config");
}

std::optional<std::filesystem::path> dataHome(const XdgEnvironment& env) {
  return underHome(env, "XDG_DATA_HOME", std::filesystem::path(".local") / "share");
}

std::optional<std::filesystem::path> runtimeDir(const XdgEnvironment& env) {
  return absoluteVariable(env, "XDG_RUNTIME_DIR");
}

} // namespace orvex

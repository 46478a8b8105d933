// The XDG base directories (configuration, data, runtime) and the home folder.
// Pure functions of an environment, so tests never touch the process's own.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace orvex {

// Where the functions below look things up. Copyable; each member must be safe
// to call from the thread using it (the process version is, as long as nobody
// calls setenv concurrently).
struct XdgEnvironment {
  // The value of an environment variable, nullopt when unset.
  std::function<std::optional<std::string>(const std::string& name)> variable;
  // The user's home folder from the password database, nullopt when unknown.
  std::function<std::optional<std::string>()> passwdHome;

  // The running process's environment and password entry.
  static XdgEnvironment process();
};

// $HOME when it is an absolute path, else the password database's entry.
std::optional<std::filesystem::path> homeDir(const XdgEnvironment& env);
// $XDG_CONFIG_HOME when absolute, else ~/.config. Relative values are ignored, as
// the XDG rules require. nullopt only when no home folder is known either.
std::optional<std::filesystem::path> configHome(const XdgEnvironment& env);
// $XDG_DATA_HOME when absolute, else ~/.local/share.
std::optional<std::filesystem::path> dataHome(const XdgEnvironment& env);
// $XDG_RUNTIME_DIR when absolute; it has no standard fallback, callers choose one.
std::optional<std::filesystem::path> runtimeDir(const XdgEnvironment& env);

} // namespace orvex

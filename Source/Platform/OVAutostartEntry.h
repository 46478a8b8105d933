// Starting the program at login: an XDG autostart entry
// "$XDG_CONFIG_HOME/autostart/<title>.desktop" that runs it.
#pragma once

#include "Platform/XdgDirs.h"

#include <filesystem>
#include <optional>
#include <string>

namespace orvex {

// Stateless; any thread, but callers serialise writes of one title.
class OVAutostartEntry {
 public:
  OVAutostartEntry(std::string title, std::string programPath, XdgEnvironment env)
      : title_(std::move(title)), programPath_(std::move(programPath)), env_(std::move(env)) {}

  // nullopt when no configuration folder is known.
  std::optional<std::filesystem::path> path() const;
  bool exists() const;
  // Writes (or removes) the entry; false, with a warning, when that failed.
  bool set(bool on) const;

  // The entry's text: the program, quoted as the desktop-entry format requires.
  std::string contents() const;

 private:
  const std::string title_;
  const std::string programPath_;
  const XdgEnvironment env_;
};

// `argument` as one word of a desktop entry's Exec key.
std::string quoteExecArgument(const std::string& argument);

} // namespace orvex

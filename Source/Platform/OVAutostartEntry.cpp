#include "Platform/OVAutostartEntry.h"

#include "OVLogger.h"
#include "Platform/AtomicFile.h"

namespace orvex {

std::string quoteExecArgument(const std::string& argument) {
  bool plain = !argument.empty() && argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`%=") == std::string::npos;
  if (plain)
    return argument;
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\')
      quoted += '\\';
    // A literal percent sign is doubled: a single one starts a field code.
    if (c == '%')
      quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

std::optional<std::filesystem::path> OVAutostartEntry::path() const {
  auto config = configHome(env_);
  if (!config)
    return std::nullopt;
  return *config / "autostart" / (title_ + ".desktop");
}

bool OVAutostartEntry::exists() const {
  auto entry = path();
  std::error_code error;
  return entry && std::filesystem::exists(*entry, error);
}

std::string OVAutostartEntry::contents() const {
  // The desktop-entry format escapes backslashes once more inside the key's value.
  std::string exec;
  for (char c : quoteExecArgument(programPath_)) {
    exec += c;
    if (c == '\\')
      exec += '\\';
  }
  return "[Desktop Entry]\nType=Application\nName=" + title_ + "\nExec=" + exec +
         "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
}

bool OVAutostartEntry::set(bool on) const {
  auto entry = path();
  if (!entry) {
    OVLog(kLogMain, "Warning! No configuration folder for the autostart entry");
    return false;
  }
  std::error_code error;
  if (!on) {
    std::filesystem::remove(*entry, error);
  } else {
    std::filesystem::create_directories(entry->parent_path(), error);
    if (!error)
      error = writeFileAtomically(*entry, contents(), 0644);
  }
  if (error) {
    OVLog(kLogMain, "Warning! Cannot {} the autostart entry {}: {}", on ? "write" : "remove", entry->string(),
          error.message());
    return false;
  }
  return true;
}

} // namespace orvex

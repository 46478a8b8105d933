// Where applications' save folders really live. While saving, many programs
// create a scratch folder next to the document (".sb-" folders, "A Document
// Being Saved By ..." folders, ".download" folders of browsers). The drive
// moves such a folder into the temporary-files share and remembers the move in
// the archive map (temp key -> redirected path); every callback then runs its
// incoming path through finalPath, so the folder and its direct children are
// found at their new place.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// True when a name (or any text) marks an application's scratch folder:
// it holds "A Document Being Saved By" or ".sb-", or its extension is "download".
bool isTempFolder(std::string_view name);

// True for paths inside the temporary-files share: the first component below
// "/" is ".TempFiles" ("/.TempFiles" itself included).
bool isTempFile(std::string_view path);

// The archive map's key for a path: its components from the first scratch
// folder to the end, joined by "/" ("/S/Docs/a.sb-1/x" -> "a.sb-1/x"); "" when
// no component is a scratch folder.
std::string keyFromPath(std::string_view path);

// Answers the redirected path stored under a temp key, or nothing.
using ArchiveLookup = std::function<std::optional<std::string>(const std::string& key)>;

// The path every callback works on: the root unchanged; else the archive map's
// entry for the path's key, or the entry for its parent's key followed by the
// last component; else the path unchanged.
std::string finalPath(std::string_view path, const ArchiveLookup& archive);

} // namespace orvex

// A ServiceState for tests: in memory, or kept in a folder so that a test can
// build a second state from the same folder (a restart), with a few shares
// and helpers to describe nodes as a client would.
#pragma once

#include "Dispatch/Clock.h"
#include "State/ServiceState.h"
#include "State/SqliteStateStore.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace orvex::service::test {

inline const Actor kAlice{"alice@a.example", "alice-laptop", false};
inline const Actor kBob{"bob@a.example", "bob-desktop", false};

inline std::unique_ptr<ServiceState> makeState(Clock& clock, const std::optional<std::filesystem::path>& folder = {}) {
  if (!folder)
    return std::make_unique<ServiceState>(memoryStateStore(), BlobStore::temporary(), clock);
  return std::make_unique<ServiceState>(std::make_unique<SqliteStateStore>(*folder / "state.db"),
                                        std::make_unique<BlobStore>(*folder / "blobs"), clock);
}

inline ShareInfo shareInfo(const std::string& id, std::int32_t aclType = 1) {
  ShareInfo share;
  share.shareId = id;
  share.name = id;
  share.domain = "a.example";
  share.aclType = aclType;
  share.aclToken = id + "-token";
  return share;
}

inline OVVirtualFile spec(const std::string& id, const std::string& parent, const std::string& name, bool isFile,
                          std::int64_t size = 0) {
  return nodeSpec(id, parent, name, isFile, size, dateFromSecondsSince1970(1700000000));
}

} // namespace orvex::service::test

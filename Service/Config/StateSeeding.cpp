#include "Config/StateSeeding.h"

#include "State/Ids.h"

#include <map>
#include <set>

namespace orvex::service {
namespace {

class Seeder {
 public:
  Seeder(const ServiceConfig& config, ServiceState& state, Clock& clock)
      : config_(config), state_(state), now_(OVDate{clock.wallNow()}) {
    for (const SeedFile& file : config_.files) {
      if (file.folder && file.internalName)
        folderIds_[key(file.shareId, file.path, file.path.size())] = *file.internalName;
    }
  }

  void run() {
    for (const ShareInfo& share : config_.shares) {
      if (!share.isSubfolder())
        check(state_.addShare(share), "share " + share.shareId);
    }
    for (const SeedFile& file : config_.files)
      seed(file);
    for (const ShareInfo& share : config_.shares) {
      if (share.isSubfolder())
        check(state_.addShare(share), "share " + share.shareId);
    }
    state_.markSeeded();
  }

 private:
  static std::string key(const std::string& shareId, const std::vector<std::string>& path, std::size_t depth) {
    std::string text = shareId;
    for (std::size_t i = 0; i < depth; ++i)
      text += "/" + path[i];
    return text;
  }

  template <class T>
  static void check(const StateResult<T>& result, const std::string& what) {
    if (!result)
      throw ConfigError("seeding " + what + " failed: " + result.error().message);
  }

  OVVirtualFile requested(const std::string& id, const std::string& parent, const std::string& name, bool isFile,
                          std::int64_t size) const {
    return nodeSpec(id, parent, name, isFile, size, now_);
  }

  // The id of the folder at path[0..depth), created (with its ancestors) when missing.
  std::string folder(const SeedFile& file, std::size_t depth) {
    if (depth == 0)
      return file.shareId;
    std::string path = key(file.shareId, file.path, depth);
    auto known = folderIds_.find(path);
    std::string id = known != folderIds_.end() ? known->second : derivedId("node:" + path);
    if (created_.insert(path).second) {
      std::string parent = folder(file, depth - 1);
      Actor actor{file.user, "seed", true};
      check(state_.create(file.shareId, requested(id, parent, file.path[depth - 1], false, 0), actor, newGuid()),
            "folder " + path);
    }
    return id;
  }

  void seed(const SeedFile& file) {
    if (file.folder) {
      folder(file, file.path.size());
      return;
    }
    std::string path = key(file.shareId, file.path, file.path.size());
    if (!created_.insert(path).second)
      throw ConfigError("seeding " + path + " failed: two entries of \"Files\" have that path");
    std::string id = file.internalName.value_or(derivedId("node:" + path));
    OVVirtualFile item = requested(id, folder(file, file.path.size() - 1), file.path.back(), true, file.size);
    Actor actor{file.user, "seed", true};
    if (file.text) {
      check(state_.putFile(file.shareId, item, *file.text, actor), "file " + path);
    } else {
      check(state_.putSeeded(file.shareId, item, *file.seed, actor), "file " + path);
    }
    if (file.lockedBy)
      check(state_.setLock(file.shareId, id, true, Actor{*file.lockedBy, file.lockDeviceId, true}, newGuid()),
            "the lock of " + path);
  }

  const ServiceConfig& config_;
  ServiceState& state_;
  const OVDate now_;
  std::map<std::string, std::string> folderIds_; // path -> internal name given in the configuration
  std::set<std::string> created_;                // paths seeded so far
};

} // namespace

void seedState(const ServiceConfig& config, ServiceState& state, Clock& clock) {
  Seeder(config, state, clock).run();
}

} // namespace orvex::service

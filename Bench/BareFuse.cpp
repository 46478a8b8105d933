#include "BareFuse.h"

#include "Drive/OVFuseMount.h"
#include "Drive/OVMountOptions.h"

#include <fuse.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace orvex {
namespace {

const BareFuse& self() {
  return *static_cast<const BareFuse*>(fuse_get_context()->private_data);
}

void fillAttributes(const BareFuse::Entry& entry, struct stat& attributes) {
  attributes = {};
  attributes.st_mode = entry.isFolder ? S_IFDIR | 0700 : S_IFREG | 0600;
  attributes.st_nlink = entry.isFolder ? 2 : 1;
  attributes.st_size = entry.isFolder ? 0 : self().fileSize();
}

int bareGetattr(const char* path, struct stat* attributes, fuse_file_info*) {
  const BareFuse::Entry* entry = self().find(path);
  if (entry == nullptr)
    return -ENOENT;
  fillAttributes(*entry, *attributes);
  return 0;
}

int bareReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info*,
                fuse_readdir_flags) {
  const BareFuse::Entry* folder = self().find(path);
  if (folder == nullptr || !folder->isFolder)
    return -ENOENT;
  const std::string prefix = std::strcmp(path, "/") == 0 ? "/" : std::string(path) + "/";
  struct stat attributes {};
  for (auto next = static_cast<std::size_t>(offset); next < folder->children.size(); ++next) {
    const std::string& name = folder->children[next];
    fillAttributes(*self().find(prefix + name), attributes);
    if (fill(buffer, name.c_str(), &attributes, static_cast<off_t>(next + 1), FUSE_FILL_DIR_PLUS) != 0)
      break;
  }
  return 0;
}

// Asked like the drive is, and answered as the drive answers the security
// labels and access control lists that `ls -l` asks for.
int bareGetxattr(const char*, const char* name, char*, size_t) {
  const std::string_view asked(name);
  return asked.starts_with("security.") || asked.starts_with("system.") ? -EOPNOTSUPP : -ENODATA;
}

void* bareInit(fuse_conn_info* connection, fuse_config*) {
  connection->max_write = std::min(connection->max_write, kDriveMaxTransfer);
  connection->max_read = kDriveMaxTransfer;
  connection->max_readahead = std::min(connection->max_readahead, kDriveMaxTransfer);
  return fuse_get_context()->private_data;
}

fuse_operations bareOperations() {
  fuse_operations operations{};
  operations.getattr = bareGetattr;
  operations.readdir = bareReaddir;
  operations.getxattr = bareGetxattr;
  operations.init = bareInit;
  return operations;
}

} // namespace

BareFuse::BareFuse(std::filesystem::path mountPath, const std::vector<Node>& nodes, off_t fileSize)
    : mountPath_(std::move(mountPath)), fileSize_(fileSize) {
  entries_["/"].isFolder = true;
  for (const Node& node : nodes) {
    const std::string path = "/" + node.path;
    const std::size_t slash = path.rfind('/');
    entries_[path].isFolder = node.isFolder;
    entries_[slash == 0 ? "/" : path.substr(0, slash)].children.push_back(path.substr(slash + 1));
  }
  // The drive's own options (timeouts, request sizes, permission checks).
  std::vector<std::string> words = {"bare"};
  for (const std::string& option : mountOptions("bare", OVMountFacts{}, true)) {
    words.emplace_back("-o");
    words.push_back(option);
  }
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  static const fuse_operations operations = bareOperations();
  fuse_ = fuse_new(&args, &operations, sizeof operations, this);
  if (fuse_ != nullptr && fuse_mount(fuse_, mountPath_.c_str()) != 0) {
    fuse_destroy(fuse_);
    fuse_ = nullptr;
  }
  fuse_opt_free_args(&args);
  if (fuse_ != nullptr) {
    loop_ = std::thread([this] {
      fuse_loop_config* config = fuse_loop_cfg_create();
      fuse_loop_mt(fuse_, config);
      fuse_loop_cfg_destroy(config);
    });
  }
}

const BareFuse::Entry* BareFuse::find(const std::string& path) const {
  auto entry = entries_.find(path);
  return entry == entries_.end() ? nullptr : &entry->second;
}

BareFuse::~BareFuse() {
  if (fuse_ == nullptr)
    return;
  // Detaching the unused mount ends the connection, and with it the loop:
  // its reads of the device fail. The session then closes the device.
  fuse_exit(fuse_);
  (void)unmountDrive(mountPath_.string(), true);
  loop_.join();
  fuse_destroy(fuse_);
}

} // namespace orvex

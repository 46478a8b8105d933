#include "BareFuse.h"

#include "Drive/OVFuseMount.h"
#include "Drive/OVMountOptions.h"

#include <fuse.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace orvex {
namespace {

constexpr off_t kFileSize = 1024;

const BareFuse& self() {
  return *static_cast<const BareFuse*>(fuse_get_context()->private_data);
}

// The folder a path names ("/big"), or the end of the list.
BareFuse::Folders::const_iterator folderOf(std::string_view path) {
  const BareFuse::Folders& folders = self().folders();
  return path.size() > 1 ? folders.find(path.substr(1)) : folders.end();
}

int bareGetattr(const char* path, struct stat* attributes) {
  std::memset(attributes, 0, sizeof *attributes);
  const std::string_view name(path);
  if (name == "/" || folderOf(name) != self().folders().end()) {
    attributes->st_mode = S_IFDIR | 0755;
    attributes->st_nlink = 2;
    return 0;
  }
  // Any name in a folder is a file: nothing is looked up.
  if (folderOf(name.substr(0, name.rfind('/'))) == self().folders().end())
    return -ENOENT;
  attributes->st_mode = S_IFREG | 0644;
  attributes->st_nlink = 1;
  attributes->st_size = kFileSize;
  return 0;
}

int bareReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*) {
  if (std::string_view(path) == "/") {
    for (const auto& [name, count] : self().folders()) {
      if (fill(buffer, name.c_str(), nullptr, 0) != 0)
        return -ENOMEM;
    }
    return 0;
  }
  auto folder = folderOf(path);
  if (folder == self().folders().end())
    return -ENOENT;
  for (int i = 0; i < folder->second; ++i) {
    if (fill(buffer, ("f" + std::to_string(i)).c_str(), nullptr, 0) != 0)
      return -ENOMEM;
  }
  return 0;
}

// Asked like the drive is (`ls -l` asks two per entry), answered like a
// file without attributes.
int bareGetxattr(const char*, const char*, char*, size_t) {
  return -ENODATA;
}

void* bareInit(fuse_conn_info*) {
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

BareFuse::BareFuse(std::filesystem::path mountPath, Folders folders)
    : mountPath_(std::move(mountPath)), folders_(std::move(folders)) {
  std::vector<std::string> words = {"bare", "-o",
                                    "fsname=bare,entry_timeout=" + std::to_string(kDriveEntryTimeout) +
                                        ",attr_timeout=" + std::to_string(kDriveAttributeTimeout) +
                                        ",negative_timeout=0"};
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  static const fuse_operations operations = bareOperations();
  channel_ = fuse_mount(mountPath_.c_str(), &args);
  if (channel_ != nullptr) {
    fuse_ = fuse_new(channel_, &args, &operations, sizeof operations, this);
    if (fuse_ == nullptr) {
      fuse_unmount(mountPath_.c_str(), channel_);
      channel_ = nullptr;
    }
  }
  fuse_opt_free_args(&args);
  if (fuse_ != nullptr)
    loop_ = std::thread([this] { fuse_loop_mt(fuse_); });
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

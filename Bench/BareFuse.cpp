#include "BareFuse.h"

#include "Drive/OVFuseMount.h"
#include "Drive/OVMountOptions.h"

#include <fuse.h>

#include <algorithm>
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

int bareGetattr(const char* path, struct stat* attributes, fuse_file_info*) {
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

void fileAttributes(struct stat& attributes) {
  attributes = {};
  attributes.st_mode = S_IFREG | 0644;
  attributes.st_nlink = 1;
  attributes.st_size = kFileSize;
}

// Pages with real offsets and every entry's attributes, as the drive lists:
// the best a FUSE file system of the high-level API can do.
int bareReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info*,
                fuse_readdir_flags) {
  struct stat attributes {};
  if (std::string_view(path) == "/") {
    attributes.st_mode = S_IFDIR | 0755;
    attributes.st_nlink = 2;
    off_t next = 0;
    for (const auto& [name, count] : self().folders()) {
      if (++next > offset && fill(buffer, name.c_str(), &attributes, next, FUSE_FILL_DIR_PLUS) != 0)
        return 0;
    }
    return 0;
  }
  auto folder = folderOf(path);
  if (folder == self().folders().end())
    return -ENOENT;
  fileAttributes(attributes);
  for (off_t i = offset; i < folder->second; ++i) {
    if (fill(buffer, ("f" + std::to_string(i)).c_str(), &attributes, i + 1, FUSE_FILL_DIR_PLUS) != 0)
      return 0;
  }
  return 0;
}

// Asked like the drive is (`ls -l` asks two per entry), answered like a
// file without attributes.
int bareGetxattr(const char*, const char*, char*, size_t) {
  return -ENODATA;
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

BareFuse::BareFuse(std::filesystem::path mountPath, Folders folders)
    : mountPath_(std::move(mountPath)), folders_(std::move(folders)) {
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

#include "State/BlobStore.h"

#include "OVLogger.h"
#include "State/Ids.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace orvex::service {
namespace {
std::string systemError(int error) {
  return std::error_code(error, std::generic_category()).message();
}
} // namespace

BlobStore::BlobStore(std::filesystem::path folder) : BlobStore(std::move(folder), false) {}

BlobStore::BlobStore(std::filesystem::path folder, bool temporary) : folder_(std::move(folder)), temporary_(temporary) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error)
    throw std::runtime_error("cannot create the blob folder " + folder_.string() + ": " + error.message());
}

std::unique_ptr<BlobStore> BlobStore::temporary() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvex-service-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot create a temporary blob folder: " + systemError(errno));
  return std::unique_ptr<BlobStore>(new BlobStore(pattern, true));
}

BlobStore::~BlobStore() {
  if (temporary_) {
    std::error_code ignored; // nothing to do about a leftover temporary folder
    std::filesystem::remove_all(folder_, ignored);
  }
}

std::optional<std::filesystem::path> BlobStore::pathOf(const std::string& blobId) const {
  if (!isServiceId(blobId))
    return std::nullopt;
  return folder_ / blobId;
}

std::optional<std::string> BlobStore::create(std::string& error) {
  std::string blobId = newServiceId();
  std::string path = pathOf(blobId)->string();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create blob " + path + ": " + systemError(errno);
    return std::nullopt;
  }
  ::close(fd);
  return blobId;
}

bool BlobStore::write(const std::string& blobId, std::int64_t offset, std::string_view bytes, std::string& error) {
  std::optional<std::filesystem::path> path = pathOf(blobId);
  int fd = path ? ::open(path->c_str(), O_WRONLY | O_CLOEXEC) : -1;
  if (fd < 0) {
    error = "cannot open blob " + blobId + ": " + systemError(path ? errno : EINVAL);
    return false;
  }
  bool ok = true;
  while (ok && !bytes.empty()) {
    ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (written < 0 && errno == EINTR)
      continue;
    ok = written > 0;
    if (ok) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      offset += written;
    }
  }
  if (!ok)
    error = "cannot write blob " + blobId + ": " + systemError(errno);
  ::close(fd);
  return ok;
}

std::shared_ptr<const ContentSource> BlobStore::open(const BlobInfo& blob) const {
  if (blob.seed)
    return seededContent(*blob.seed, blob.size);
  std::optional<std::filesystem::path> path = pathOf(blob.blobId);
  return path ? openFileContent(path->string(), blob.size) : nullptr;
}

void BlobStore::remove(const std::string& blobId) {
  std::optional<std::filesystem::path> path = pathOf(blobId);
  std::error_code error;
  if (path && !std::filesystem::remove(*path, error) && error)
    OVLog(kLogMain, "Warning! Cannot remove blob {}: {}", blobId, error.message());
}

} // namespace orvex::service

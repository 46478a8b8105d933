#include "State/ContentSource.h"

#include "State/Ids.h"
#include "State/SeededContent.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace orvex::service {
namespace {

class FileContent final : public ContentSource {
 public:
  FileContent(int fd, std::int64_t size) : fd_(fd), size_(size) {}
  ~FileContent() override { ::close(fd_); }
  FileContent(const FileContent&) = delete;
  FileContent& operator=(const FileContent&) = delete;

  std::int64_t size() const override { return size_; }
  bool read(std::int64_t offset, char* out, std::size_t length) const override {
    while (length > 0) {
      ssize_t got = ::pread(fd_, out, length, offset);
      if (got < 0 && errno == EINTR)
        continue;
      if (got <= 0)
        return false; // an error, or the file is shorter than its record says
      out += got;
      offset += got;
      length -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  const int fd_;
  const std::int64_t size_;
};

class SeedContent final : public ContentSource {
 public:
  SeedContent(std::uint64_t seed, std::int64_t size) : seed_(seed), size_(size) {}
  std::int64_t size() const override { return size_; }
  bool read(std::int64_t offset, char* out, std::size_t length) const override {
    fillSeeded(seed_, static_cast<std::uint64_t>(offset), out, length);
    return true;
  }

 private:
  const std::uint64_t seed_;
  const std::int64_t size_;
};

struct DigestContext {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~DigestContext() { EVP_MD_CTX_free(context); }
  DigestContext() = default;
  DigestContext(const DigestContext&) = delete;
  DigestContext& operator=(const DigestContext&) = delete;
};

} // namespace

std::shared_ptr<const ContentSource> openFileContent(const std::string& path, std::int64_t size) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  return std::make_shared<FileContent>(fd, size);
}

std::shared_ptr<const ContentSource> seededContent(std::uint64_t seed, std::int64_t size) {
  return std::make_shared<SeedContent>(seed, size);
}

std::optional<std::string> contentHash(const ContentSource& content) {
  constexpr std::size_t kPiece = 1 << 20;
  DigestContext digest;
  if (digest.context == nullptr || EVP_DigestInit_ex(digest.context, EVP_sha256(), nullptr) != 1)
    return std::nullopt;
  std::vector<char> buffer(kPiece);
  for (std::int64_t offset = 0; offset < content.size();) {
    std::size_t length = static_cast<std::size_t>(std::min<std::int64_t>(kPiece, content.size() - offset));
    if (!content.read(offset, buffer.data(), length) || EVP_DigestUpdate(digest.context, buffer.data(), length) != 1) {
      return std::nullopt;
    }
    offset += static_cast<std::int64_t>(length);
  }
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int valueLength = 0;
  if (EVP_DigestFinal_ex(digest.context, value, &valueLength) != 1)
    return std::nullopt;
  return hexText(std::string_view(reinterpret_cast<const char*>(value), valueLength));
}

} // namespace orvex::service

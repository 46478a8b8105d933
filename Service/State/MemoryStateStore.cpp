#include "State/StateStore.h"

namespace orvex::service {
namespace {

// A service without a state folder: everything lives in ServiceState only.
class MemoryStateStore final : public StateStore {
 public:
  StateSnapshot load() override { return {}; }
  void begin() override {}
  void commit() override {}
  void saveShare(const ShareInfo&) override {}
  void removeShare(const std::string&) override {}
  void saveNode(const std::string&, const StoredNode&) override {}
  void saveBlob(const BlobInfo&) override {}
  void removeBlob(const std::string&) override {}
  void saveUpload(const UploadSession&) override {}
  void removeUpload(const std::string&) override {}
  void saveLink(const PublicLink&) override {}
  void saveCrossing(const std::string&, const Crossing&) override {}
  void markSeeded() override {}
};

} // namespace

std::unique_ptr<StateStore> memoryStateStore() {
  return std::make_unique<MemoryStateStore>();
}

} // namespace orvex::service

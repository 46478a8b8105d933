#include "Support/MainLogCapture.h"

#include "OVLogger.h"
#include "Support/TempDir.h"

#include <memory>

namespace orvex::test {
namespace {

// Lines reach the GUI handler only once the logger's files are open, so the
// shared logger is opened once for the whole test program in a folder of its own.
void openSharedLoggerOnce() {
  static std::unique_ptr<TempDir> folder = [] {
    auto made = std::make_unique<TempDir>();
    OVLogger::shared().initLogs(made->path());
    return made;
  }();
}

} // namespace

MainLogCapture::MainLogCapture() {
  openSharedLoggerOnce();
  OVLogger& logger = OVLogger::shared();
  logger.flush();
  logger.setGUIHandler([this](const std::string& line, unsigned type) {
    if (type != kLogMain)
      return;
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
  });
  logger.setLogToGUI(true);
}

MainLogCapture::~MainLogCapture() {
  OVLogger& logger = OVLogger::shared();
  logger.flush();
  logger.setLogToGUI(false);
  logger.setGUIHandler(nullptr);
}

std::vector<std::string> MainLogCapture::lines() {
  OVLogger::shared().flush();
  std::lock_guard lock(mutex_);
  return lines_;
}

std::vector<std::string> MainLogCapture::warnings() {
  std::vector<std::string> result;
  for (const std::string& line : lines()) {
    if (line.find(": Warning! ") != std::string::npos)
      result.push_back(line);
  }
  return result;
}

} // namespace orvex::test

#include "Platform/OVDesktopNotices.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

extern char** environ;

namespace orvex {
namespace {

// A private session bus for one test, and a listener on it.
class DesktopNoticesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string address = "unix:path=" + (folder / "bus").string();
    std::string listen = "--address=" + address;
    const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--nopidfile", listen.c_str(), nullptr};
    if (posix_spawnp(&daemon_, "dbus-daemon", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      GTEST_SKIP() << "no dbus-daemon to test against";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    // Polling the daemon's start: it tells nothing else when it is ready.
    while (sd_bus_open_user(&listener_) < 0) {
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "dbus-daemon did not start";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GE(sd_bus_add_match(listener_, nullptr, "type='signal',interface='com.orvex.Drive',member='Notice'",
                               &DesktopNoticesTest::received, this),
              0);
  }
  void TearDown() override {
    if (listener_ != nullptr)
      sd_bus_flush_close_unref(listener_);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (daemon_ > 0) {
      ::kill(daemon_, SIGTERM);
      ::waitpid(daemon_, nullptr, 0);
    }
  }

  static int received(sd_bus_message* message, void* self, sd_bus_error* /*error*/) {
    const char* name = nullptr;
    if (sd_bus_message_read(message, "s", &name) >= 0 && name != nullptr)
      static_cast<DesktopNoticesTest*>(self)->names.emplace_back(std::string(sd_bus_message_get_path(message)) + " " +
                                                                 name);
    return 0;
  }
  // Processes the listener's messages until `count` notices came (bounded).
  void waitForNotices(std::size_t count) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (names.size() < count && std::chrono::steady_clock::now() < until) {
      if (sd_bus_process(listener_, nullptr) > 0)
        continue;
      sd_bus_wait(listener_, 100000);
    }
  }

  test::TempDir folder;
  pid_t daemon_ = -1;
  sd_bus* listener_ = nullptr;
  std::vector<std::string> names;
};

TEST_F(DesktopNoticesTest, NoticesArriveInOrderOnTheDriveObject) {
  OVDBusNotices notices;
  notices.post("com.orvex.clouddrive-started");
  notices.post("com.orvex.drive-mounted");
  waitForNotices(2);
  EXPECT_EQ(names, (std::vector<std::string>{"/com/orvex/Drive com.orvex.clouddrive-started",
                                             "/com/orvex/Drive com.orvex.drive-mounted"}));
}

TEST(DesktopNoticesWithoutBusTest, NoBusWarnsOnceAndDropsTheNotices) {
  test::TempDir folder;
  std::string address = "unix:path=" + (folder / "none").string();
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  test::LogCapture log;
  {
    OVDBusNotices notices;
    notices.post("com.orvex.drive-mounted");
    notices.post("com.orvex.drive-unmounted");
  }
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  auto warnings = log.warnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("No session bus"), std::string::npos) << warnings[0];
}

} // namespace
} // namespace orvex

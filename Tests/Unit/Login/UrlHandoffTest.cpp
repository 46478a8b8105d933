#include "Platform/OVUrlHandoff.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace orvex {
namespace {

struct Received {
  std::mutex mutex;
  std::vector<std::string> urls; // guarded by mutex
  OVUrlHandoff::Handler handler() {
    return [this](std::string url) {
      std::lock_guard lock(mutex);
      urls.push_back(std::move(url));
    };
  }
};

TEST(OVUrlHandoff, AnAddressReachesTheRunningInstanceOnce) {
  test::TempDir folder;
  Received received;
  auto path = folder / "control";
  auto listener = OVUrlHandoff::listen(path, received.handler());
  ASSERT_TRUE(listener);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600);

  EXPECT_TRUE(OVUrlHandoff::send(path, "com.orvex.macclient:/oauth2callback?code=1&state=2"));
  EXPECT_FALSE(OVUrlHandoff::send(path, "two\nlines"));
  EXPECT_FALSE(OVUrlHandoff::send(path, std::string(OVUrlHandoff::kMaxURLLength + 1, 'a')));
  // A second instance must not take the name from the first.
  EXPECT_FALSE(OVUrlHandoff::listen(path, received.handler()));

  listener.reset();
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(OVUrlHandoff::send(path, "x:/y"));
  std::lock_guard lock(received.mutex);
  EXPECT_EQ(received.urls, std::vector<std::string>{"com.orvex.macclient:/oauth2callback?code=1&state=2"});
}

TEST(OVUrlHandoff, ASocketLeftByADeadInstanceIsReplaced) {
  test::TempDir folder;
  auto path = folder / "control";
  int stale = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(stale); // bound, never listened: what a crash leaves behind

  Received received;
  auto listener = OVUrlHandoff::listen(path, received.handler());
  ASSERT_TRUE(listener);
  EXPECT_TRUE(OVUrlHandoff::send(path, "x:/y"));
}

TEST(OVUrlHandoff, TheSocketLivesInTheRuntimeFolderOnly) {
  XdgEnvironment env{[](const std::string& name) {
                       return name == "XDG_RUNTIME_DIR" ? std::optional<std::string>("/run/user/7") : std::nullopt;
                     },
                     [] { return std::optional<std::string>("/home/u"); }};
  EXPECT_EQ(OVUrlHandoff::socketPath(env, "Orvex"), std::filesystem::path("/run/user/7/com.orvex.Orvex.control"));
  env.variable = [](const std::string&) { return std::optional<std::string>(); };
  EXPECT_FALSE(OVUrlHandoff::socketPath(env, "Orvex"));
}

} // namespace
} // namespace orvex

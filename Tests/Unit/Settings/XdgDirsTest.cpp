// Base directories from a fake environment: the rules for unset, empty and
// relative values, and the password-database fallback for the home folder.
#include "Platform/XdgDirs.h"

#include <gtest/gtest.h>

#include <map>

namespace orvex {
namespace {

XdgEnvironment fakeEnvironment(const std::map<std::string, std::string>& variables,
                               const std::optional<std::string>& passwdHome = "/home/from-passwd") {
  return XdgEnvironment{
      [variables](const std::string& name) -> std::optional<std::string> {
        auto found = variables.find(name);
        if (found == variables.end())
          return std::nullopt;
        return found->second;
      },
      [passwdHome] { return passwdHome; },
  };
}

TEST(XdgDirsTest, AbsoluteValuesWin) {
  auto env = fakeEnvironment({{"HOME", "/home/u"},
                              {"XDG_CONFIG_HOME", "/cfg"},
                              {"XDG_DATA_HOME", "/data"},
                              {"XDG_RUNTIME_DIR", "/run/user/1000"}});
  EXPECT_EQ(homeDir(env), "/home/u");
  EXPECT_EQ(configHome(env), "/cfg");
  EXPECT_EQ(dataHome(env), "/data");
  EXPECT_EQ(runtimeDir(env), "/run/user/1000");
}

TEST(XdgDirsTest, UnsetEmptyOrRelativeValuesFallBackUnderHome) {
  for (const char* ignored : {"", "relative/cfg", "./cfg"}) {
    auto env = fakeEnvironment(
        {{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", ignored}, {"XDG_DATA_HOME", ignored}, {"XDG_RUNTIME_DIR", ignored}});
    EXPECT_EQ(configHome(env), "/home/u/.config") << ignored;
    EXPECT_EQ(dataHome(env), "/home/u/.local/share") << ignored;
    EXPECT_EQ(runtimeDir(env), std::nullopt) << ignored;
  }
  EXPECT_EQ(configHome(fakeEnvironment({{"HOME", "/home/u"}})), "/home/u/.config");
}

TEST(XdgDirsTest, HomeComesFromThePasswordDatabaseWhenHomeIsUnusable) {
  EXPECT_EQ(homeDir(fakeEnvironment({})), "/home/from-passwd");
  EXPECT_EQ(homeDir(fakeEnvironment({{"HOME", ""}})), "/home/from-passwd");
  EXPECT_EQ(dataHome(fakeEnvironment({{"HOME", "rel"}})), "/home/from-passwd/.local/share");

  auto homeless = fakeEnvironment({}, std::nullopt);
  EXPECT_EQ(homeDir(homeless), std::nullopt);
  EXPECT_EQ(configHome(homeless), std::nullopt);
  EXPECT_EQ(configHome(fakeEnvironment({{"XDG_CONFIG_HOME", "/cfg"}}, std::nullopt)), "/cfg");
}

} // namespace
} // namespace orvex

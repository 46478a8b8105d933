#include "Platform/OVAutostartEntry.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

XdgEnvironment environmentWithHome(const std::filesystem::path& home) {
  return {[home](const std::string& name) -> std::optional<std::string> {
            if (name == "HOME")
              return home.string();
            return std::nullopt;
          },
          [] { return std::optional<std::string>(); }};
}

TEST(AutostartEntryTest, WritesAndRemovesTheEntryUnderTheConfigurationFolder) {
  test::TempDir home;
  OVAutostartEntry entry("Orvex", "/opt/My Apps/orvex", environmentWithHome(home.path()));
  ASSERT_EQ(entry.path(), home / ".config/autostart/Orvex.desktop");
  EXPECT_FALSE(entry.exists());

  ASSERT_TRUE(entry.set(true));
  EXPECT_TRUE(entry.exists());
  std::string text = test::readFile(*entry.path());
  EXPECT_NE(text.find("Exec=\"/opt/My Apps/orvex\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Name=Orvex\n"), std::string::npos);

  ASSERT_TRUE(entry.set(false));
  EXPECT_FALSE(entry.exists());
  EXPECT_TRUE(entry.set(false)); // already gone
}

TEST(AutostartEntryTest, NoHomeMeansNoEntry) {
  OVAutostartEntry entry(
      "Orvex", "/usr/bin/orvex",
      {[](const std::string&) { return std::optional<std::string>(); }, [] { return std::optional<std::string>(); }});
  EXPECT_FALSE(entry.path());
  EXPECT_FALSE(entry.set(true));
}

TEST(AutostartEntryTest, ExecArgumentsAreQuotedAsTheDesktopFormatRequires) {
  EXPECT_EQ(quoteExecArgument("/usr/bin/orvex"), "/usr/bin/orvex");
  EXPECT_EQ(quoteExecArgument("/opt/a b/orvex"), "\"/opt/a b/orvex\"");
  EXPECT_EQ(quoteExecArgument("/opt/$HOME/`x`"), "\"/opt/\\$HOME/\\`x\\`\"");
  EXPECT_EQ(quoteExecArgument("/opt/100%/orvex"), "\"/opt/100%%/orvex\"");
  EXPECT_EQ(quoteExecArgument("/opt/a\"b"), "\"/opt/a\\\"b\"");
  EXPECT_EQ(quoteExecArgument(""), "\"\"");
}

TEST(AutostartEntryTest, BackslashesAreEscapedTwice) {
  test::TempDir home;
  OVAutostartEntry entry("Orvex", "/opt/a\\b", environmentWithHome(home.path()));
  // Quoting escapes the backslash once, the key's value format once more.
  EXPECT_NE(entry.contents().find("Exec=\"/opt/a\\\\\\\\b\"\n"), std::string::npos) << entry.contents();
}

} // namespace
} // namespace orvex

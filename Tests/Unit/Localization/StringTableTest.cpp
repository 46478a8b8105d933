// Reading .po string tables, the lookup rule, and the shipped tables.
#include "UI/OVLocalization.h"
#include "UI/OVStringTable.h"

#include "Support/TempDir.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

using test::TempDir;
using test::writeFile;

const char* const kHeader = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";

TEST(StringTable, KeepsPlainEntriesAndAppliesTheLookupRule) {
  TempDir dir;
  writeFile(dir / "de.po", std::string(kHeader) +
                               "msgid \"Cancel\"\nmsgstr \"Abbrechen\"\n\n"
                               "msgid \"Untranslated\"\nmsgstr \"\"\n\n"
                               "#, fuzzy\nmsgid \"Exit\"\nmsgstr \"Beenden\"\n\n"
                               "#~ msgid \"Old\"\n#~ msgstr \"Alt\"\n\n"
                               "msgctxt \"menu\"\nmsgid \"Logout\"\nmsgstr \"Abmelden\"\n\n"
                               "msgid \"a\\n\\nb\"\nmsgstr \"ä\\n\\nb\"\n");
  const OVStringTable table = readStringTable(dir / "de.po");

  EXPECT_EQ(lookupString(table, "Cancel"), "Abbrechen");
  EXPECT_EQ(lookupString(table, "a\n\nb"), "ä\n\nb");
  EXPECT_EQ(lookupString(table, "Untranslated"), "Untranslated"); // empty msgstr
  EXPECT_EQ(lookupString(table, "Exit"), "Exit");                 // fuzzy
  EXPECT_EQ(lookupString(table, "Old"), "Old");                   // obsolete
  EXPECT_EQ(lookupString(table, "Logout"), "Logout");             // only with a context
  EXPECT_EQ(lookupString(table, "Unknown"), "Unknown");
  EXPECT_EQ(lookupString(table, ""), "");
  EXPECT_FALSE(table.contains("")); // the header is no entry
}

TEST(StringTable, AnyFaultGivesAnEmptyTable) {
  TempDir dir;
  const std::string good = "msgid \"Cancel\"\nmsgstr \"Abbrechen\"\n";
  writeFile(dir / "syntax.po", good + "msgid \"Exit\"\nmsgstr \"Beenden\n");
  writeFile(dir / "duplicate.po", good + "\nmsgid \"Cancel\"\nmsgstr \"Nein\"\n");
  writeFile(dir / "latin1.po", good + "\nmsgid \"Exit\"\nmsgstr \"Sch\xf6n\"\n");
  std::filesystem::create_directory(dir / "folder.po");

  for (const char* name : {"syntax.po", "duplicate.po", "latin1.po", "folder.po", "missing.po"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(readStringTable(dir / name).empty());
  }
}

// The tables that ship: German translates every English key, and the program
// finds them from its build tree.
TEST(StringTable, ShippedTablesAreCompleteAndFound) {
  const std::filesystem::path folder = OVLocalization::defaultTableFolder();
  EXPECT_EQ(folder, std::filesystem::path(ORVEX_SOURCE_RESOURCES) / "Localization");

  const OVStringTable english = readStringTable(folder / "en.po");
  const OVStringTable german = readStringTable(folder / "de.po");
  ASSERT_FALSE(english.empty());
  EXPECT_EQ(lookupString(german, "Cancel"), "Abbrechen");
  EXPECT_EQ(lookupString(english, "Cancel"), "Cancel");
  EXPECT_EQ(german.size(), english.size());
  for (const auto& [key, text] : english) {
    const auto translated = german.find(key);
    EXPECT_TRUE(translated != german.end() && !translated->second.empty()) << "no German text for: " << key;
  }
}

TEST(StringTable, InstalledFolderWinsOverTheSourceTree) {
  TempDir prefix;
  const std::filesystem::path installed = prefix / "share/orvex/Localization";
  EXPECT_EQ(OVLocalization::locateTableFolder(prefix / "bin/orvex", "/src/Resources"), "/src/Resources/Localization");
  std::filesystem::create_directories(installed);
  EXPECT_EQ(OVLocalization::locateTableFolder(prefix / "bin/orvex", "/src/Resources"), installed);
}

} // namespace
} // namespace orvex

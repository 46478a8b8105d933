// The program as a user runs it: headless, against orvex-service.
#include "ProgramFixture.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

namespace orvex::test {
namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string myName() {
  std::string name = readFile("/proc/self/comm");
  return name.substr(0, name.find('\n'));
}

using LifecycleTest = ProgramFixture;

TEST_F(LifecycleTest, LogsInMountsReadsAndShutsDownCleanly) {
  Program program = start();
  login(program);
  EXPECT_EQ(readFile(mountPath / kShareName / kHelloName), kHelloText);

  EXPECT_EQ(stop(program), 0) << outputOf(program);
  EXPECT_TRUE(contains(mainLog(), "Recording clean shutdown.")) << mainLog();
  EXPECT_TRUE(contains(mainLog(), "Terminating application : saved database."));
  EXPECT_FALSE(mounted());
  EXPECT_EQ(settings().value("cleanShutdown", false), true);
}

TEST_F(LifecycleTest, SecondInstanceOfTheSameTitleIsRefused) {
  Program first = start();
  ASSERT_TRUE(asksForLogin(first)) << outputOf(first);

  Program second = start();
  EXPECT_EQ(waitForExit(second), 2);
  EXPECT_TRUE(contains(outputOf(second), "Cannot start Orvex")) << outputOf(second);
  EXPECT_TRUE(contains(outputOf(second), "pid = " + std::to_string(first.pid))) << outputOf(second);

  // The first instance is untouched: it still takes its login.
  login(first);
  EXPECT_EQ(stop(first), 0);
}

TEST_F(LifecycleTest, QuittingWithAFileOpenAsksAndTakesTheDefaultAnswer) {
  Program program = start();
  login(program);
  int fd = ::open((mountPath / kShareName / kHelloName).c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);

  EXPECT_EQ(stop(program), 0) << outputOf(program);
  ::close(fd);
  std::string output = outputOf(program);
  EXPECT_TRUE(contains(output, "Exit Orvex?")) << output;
  EXPECT_TRUE(contains(output, myName())) << output;
  EXPECT_TRUE(contains(mainLog(), "Recording clean shutdown."));
  EXPECT_FALSE(mounted());
}

TEST_F(LifecycleTest, ALostLoginClearsCachesAndAllSettingsButTheKeptOnes) {
  Program program = start();
  login(program);
  ASSERT_EQ(stop(program), 0);
  nlohmann::json values = settings();
  values["Orvex.storeFiles"] = 7;
  values["Orvex.uploadScreenshots"] = true;
  values["Orvex.createScreenshotLink"] = true;
  values["SUHasLaunchedBefore"] = true;
  // The provider refuses the saved login at its first refresh: a logout.
  values["authState"]["accessTokenExpiration"] = 0;
  values["authState"]["refreshToken"] = "revoked";
  writeFile(settingsFile, values.dump());
  writeFile(dataFolder / "Files" / "team" / "leftover", "cached");

  program = start();
  ASSERT_TRUE(asksForLogin(program)) << outputOf(program);
  ASSERT_TRUE(eventually([&] { return !mounted(); }));
  ASSERT_EQ(stop(program), 0);

  nlohmann::json after = settings();
  for (const char* kept : {"Orvex.runsOnStartup", "Orvex.lastMigratedVersion", "Orvex.deviceId", "Orvex.language"})
    EXPECT_TRUE(after.contains(kept)) << kept;
  EXPECT_EQ(after.value("Orvex.storeFiles", 0), 7);
  for (const char* gone : {"authState", "Orvex.uploadScreenshots", "Orvex.createScreenshotLink"})
    EXPECT_FALSE(after.contains(gone)) << gone;
  EXPECT_FALSE(std::filesystem::exists(dataFolder / "Files" / "team" / "leftover"));
  EXPECT_FALSE(mounted());
}

TEST_F(LifecycleTest, FirstRunMarkerDiscardsASavedLogin) {
  Program program = start();
  login(program);
  ASSERT_EQ(stop(program), 0);
  writeFile(firstRunMarker, "");

  program = start();
  ASSERT_TRUE(asksForLogin(program)) << outputOf(program);
  // The discarded login is ended at the provider...
  ASSERT_TRUE(eventually([&] { return contains(outputOf(program), "/oauth2/logout?"); })) << outputOf(program);
  EXPECT_FALSE(std::filesystem::exists(firstRunMarker));
  EXPECT_FALSE(mounted());
  nlohmann::json discarded = settings().value("authState", nlohmann::json::object());
  EXPECT_TRUE(discarded.empty()) << discarded;
  // ...while the new login on offer stays the only one, and valid.
  login(program);
  const std::string output = outputOf(program);
  EXPECT_EQ(output.find("/authorize?"), output.rfind("/authorize?")) << output;
  ASSERT_EQ(stop(program), 0);
}

TEST_F(LifecycleTest, RestartAfterSigkillRecoversWithPendingChangesKept) {
  Program program = start();
  login(program);
  const std::string notes = "Written just before the crash.\n";
  writeFile(mountPath / kShareName / "Notes.txt", notes);
  EXPECT_EQ(stop(program, SIGKILL), -1);
  EXPECT_TRUE(mounted()); // dead, left behind by the killed process

  program = start();
  // The kernel may answer from its caches of the dead drive for a moment, so
  // only the content proves that the new drive serves.
  EXPECT_TRUE(eventually([&] { return readFile(mountPath / kShareName / kHelloName) == kHelloText; })) << mainLog();
  EXPECT_EQ(readFile(mountPath / kShareName / "Notes.txt"), notes);
  EXPECT_FALSE(settings().contains("cleanShutdown"));
  EXPECT_EQ(stop(program), 0);
  EXPECT_FALSE(mounted());
  EXPECT_EQ(storedStatus("Notes.txt"), 1) << "the new file is no longer waiting for its upload";
}

TEST_F(LifecycleTest, ASecondInterruptEndsAnExitThatWaitsForTheStore) {
  Program program = start();
  login(program);
  // Another program holds the store: the exit waits for it (up to the
  // store's busy timeout of a few seconds) with the drive already going.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((dataFolder / "files.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

  ::kill(program.pid, SIGINT);
  // Once the first has been taken (two pending signals would be one).
  ASSERT_TRUE(eventually([&] { return contains(mainLog(), "Received signal 2"); })) << mainLog();
  ::kill(program.pid, SIGINT);
  EXPECT_EQ(waitForExit(program), 4) << mainLog();
  sqlite3_close(other);
  EXPECT_TRUE(contains(mainLog(), "Terminating application : forced while shutdown is blocked."));
  EXPECT_FALSE(contains(mainLog(), "Recording clean shutdown."));
  EXPECT_FALSE(mounted());
}

TEST_F(LifecycleTest, ARegularFileAtTheMountPathEndsTheProgram) {
  writeFile(mountPath, "not a folder");
  Program program = start();
  approveLogin(program);

  EXPECT_EQ(waitForExit(program), 3) << outputOf(program);
  EXPECT_TRUE(contains(outputOf(program), "Unable to mount drive")) << outputOf(program);
  EXPECT_TRUE(contains(mainLog(), "Recording clean shutdown."));
}

TEST_F(LifecycleTest, UnusableStoreOrFoldersEndTheProgramWithTheirCodes) {
  // The application folder cannot be made: a file is in its way.
  std::filesystem::create_directories(dataFolder.parent_path());
  writeFile(dataFolder, "in the way");
  Program program = start();
  EXPECT_EQ(waitForExit(program), 100) << outputOf(program);
  std::filesystem::remove(dataFolder);

  // A files.db that is no database at all.
  std::filesystem::create_directories(dataFolder);
  writeFile(dataFolder / "files.db", std::string(4096, 'x'));
  program = start();
  EXPECT_EQ(waitForExit(program), 10) << outputOf(program);
  EXPECT_EQ(readFile(dataFolder / "files.db"), std::string(4096, 'x')); // left for inspection
}

} // namespace
} // namespace orvex::test

// kill -9 of the program, again and again, idle and while another process
// reads from the drive. A killed drive must go away at once: nothing may be
// left waiting on it, neither the killed process (a thread of it stuck in the
// kernel would keep its single-instance lock held) nor the reader, and the
// next start mounts the drive again.
#include "ProgramFixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

extern char** environ;

namespace orvex::test {
namespace {

constexpr int kKills = 20;
// Bounds on events that come within a second or two; a hung drive never
// brings them at all, so a loaded machine gets room.
constexpr std::chrono::seconds kRemountDeadline{10};
constexpr std::chrono::seconds kEndDeadline{10};

std::string firstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The state letter of a /proc stat line (R, S, D, Z...), after the command
// name, which may itself hold spaces and parentheses.
char stateOf(const std::string& statLine) {
  const std::size_t end = statLine.rfind(')');
  return end != std::string::npos && end + 2 < statLine.size() ? statLine[end + 2] : '?';
}

// Each thread of process `pid` and its state; empty once the process is reaped.
std::map<pid_t, char> threadStates(pid_t pid) {
  std::map<pid_t, char> states;
  std::error_code error;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  for (std::filesystem::directory_iterator it(tasks, error), end; !error && it != end; it.increment(error)) {
    const std::string line = firstLine(it->path() / "stat");
    if (!line.empty())
      states.emplace(std::stoi(it->path().filename().string()), stateOf(line));
  }
  return states;
}

// Nothing of the process runs or waits any more: at most a zombie is left
// for its parent to reap, holding no file and no lock.
bool endedForGood(pid_t pid) {
  const std::map<pid_t, char> states = threadStates(pid);
  return std::all_of(states.begin(), states.end(), [](const auto& thread) { return thread.second == 'Z'; });
}

// The processes whose parent is `pid`.
std::vector<pid_t> childrenOf(pid_t pid) {
  std::vector<pid_t> children;
  std::error_code error;
  for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(c) != 0; }))
      continue;
    const std::string line = firstLine(it->path() / "stat");
    const std::size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos)
      continue;
    std::istringstream fields(line.substr(nameEnd + 1));
    char state = 0;
    pid_t parent = 0;
    if (fields >> state >> parent && parent == pid)
      children.push_back(std::stoi(name));
  }
  return children;
}

// Every thread of `pid` and of its descendants: state, kernel wait and kernel
// stack. No debugger: attaching to a thread stuck in the kernel hangs too.
std::string describeTree(pid_t pid) {
  std::ostringstream text;
  const std::string process = "/proc/" + std::to_string(pid);
  text << "process " << pid << " (" << firstLine(process + "/comm") << ")\n";
  for (const auto& [thread, state] : threadStates(pid)) {
    const std::string task = process + "/task/" + std::to_string(thread);
    text << "  thread " << thread << " " << firstLine(task + "/comm") << " state " << state << " waits in "
         << firstLine(task + "/wchan") << "\n";
    if (state == 'D') {
      std::ifstream stack(task + "/stack");
      for (std::string frame; std::getline(stack, frame);)
        text << "    " << frame << "\n";
    }
  }
  for (const pid_t child : childrenOf(pid))
    text << describeTree(child);
  return text.str();
}

class KillTest : public ProgramFixture {
 protected:
  // The ends of the program's logs, the drive's included.
  std::string logs() const {
    std::string text;
    std::error_code error;
    for (std::filesystem::directory_iterator it(dataFolder / "Logs", error), end; !error && it != end; ++it) {
      const std::string log = readFile(it->path());
      text += "--- " + it->path().filename().string() + "\n" +
              log.substr(log.size() - std::min<std::size_t>(log.size(), 8000));
    }
    return text;
  }

  // Another process that reads the large file from the drive over and over,
  // and ends at the first read that fails; one line of `progress` per read,
  // and what failed in `errors`.
  pid_t startReader(const std::filesystem::path& progress, const std::filesystem::path& errors) {
    const std::string path = (mountPath / kShareName / kLargeName).string();
    std::vector<std::string> words = {"/bin/sh", "-c", R"(while cat -- "$0" >/dev/null; do echo read; done)", path};
    std::vector<char*> argv;
    for (std::string& word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, progress.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int result = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(result, 0) << std::strerror(result);
    return pid;
  }

  // Waits (bounded) until child `pid` has ended for good, and reaps it. When
  // it does not end, fails with what its threads wait for, then frees them
  // by aborting the drive's connection.
  bool reapsForGood(pid_t pid, const std::string& what) {
    if (!eventually([&] { return endedForGood(pid); }, kEndDeadline)) {
      ADD_FAILURE() << what << " did not end:\n" << describeTree(pid);
      ::umount2(mountPath.c_str(), MNT_FORCE);
      ::umount2(mountPath.c_str(), MNT_DETACH);
      ::kill(pid, SIGKILL);
    }
    return ::waitpid(pid, nullptr, 0) == pid && !::testing::Test::HasFailure();
  }

  // Waits (bounded) until the restarted program serves the share's files.
  bool servesAgain(Program& program) {
    int status = 0;
    bool ended = false;
    const bool done = eventually(
        [&] {
          ended = ::waitpid(program.pid, &status, WNOHANG) == program.pid;
          std::error_code error;
          return ended || (readFile(mountPath / kShareName / kHelloName) == kHelloText &&
                           std::filesystem::file_size(mountPath / kShareName / kLargeName, error) == kLargeSize);
        },
        kRemountDeadline);
    if (ended) {
      program.pid = -1;
      ADD_FAILURE() << "the restart ended with status " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << "\n"
                    << outputOf(program) << "\n"
                    << logs();
      return false;
    }
    if (!done)
      ADD_FAILURE() << "the restart did not mount the drive\n" << logs();
    return done;
  }
};

TEST_F(KillTest, KillsIdleAndDuringReadsLeaveNothingHangingAndEveryRestartMountsAgain) {
  Program program = start();
  login(program);
  // The share list is saved a few seconds after it changed. Killed sooner,
  // every start would take the share for a new one and rebuild its files
  // under the reader: what is tested here is the drive, not that.
  ASSERT_TRUE(eventually([&] {
    return readFile(dataFolder / "shares.db").find(R"("ShareId":"team")") != std::string::npos;
  })) << mainLog();

  for (int round = 1; round <= kKills; ++round) {
    const bool reading = round % 2 == 0;
    SCOPED_TRACE("kill " + std::to_string(round) + (reading ? " during a read" : " while idle"));
    pid_t reader = -1;
    if (reading) {
      const std::filesystem::path progress = folder / ("reads-" + std::to_string(round) + ".txt");
      const std::filesystem::path errors = folder / ("read-errors-" + std::to_string(round) + ".txt");
      reader = startReader(progress, errors);
      ASSERT_TRUE(eventually([&] { return !readFile(progress).empty() || endedForGood(reader); }))
          << "the reader is stuck:\n"
          << describeTree(reader);
      ASSERT_FALSE(readFile(progress).empty()) << "the reader could not read: " << readFile(errors) << "\n" << logs();
    }

    ASSERT_EQ(::kill(program.pid, SIGKILL), 0);
    ASSERT_TRUE(reapsForGood(program.pid, "the killed program"));
    program.pid = -1;
    // Every read of a dead drive fails at once, so the reader ends by itself.
    if (reading)
      ASSERT_TRUE(reapsForGood(reader, "the reader"));

    program = start();
    ASSERT_TRUE(servesAgain(program));
  }

  EXPECT_EQ(stop(program), 0) << outputOf(program);
  EXPECT_FALSE(mounted());
}

} // namespace
} // namespace orvex::test

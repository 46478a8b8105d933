#include "ProgramFixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace orvex::test {
namespace {

nlohmann::json serviceConfig() {
  return nlohmann::json::parse(R"({
    "Domains": ["orvex.example"],
    "Users": [{"Email": "alice@orvex.example", "Password": "pw", "PrimaryDomain": "orvex.example"}],
    "Companies": [{"CompanyId": "c1", "Name": "Team Company", "AssociationType": 1}],
    "Shares": [{"ShareId": "team", "Name": "Team", "Domain": "orvex.example", "CompanyId": "c1",
                "AclType": 2, "AclToken": "team-token", "Users": ["alice@orvex.example"]}],
    "Files": [{"Share": "team", "Path": "Hello.txt", "Text": "Hello from the service.\n"},
              {"Share": "team", "Path": "Large.bin", "Size": 4194304, "Seed": 5}]
  })");
}

// The last login address the program printed.
std::optional<std::string> loginAddress(const std::string& text) {
  std::size_t query = text.rfind("/authorize?");
  std::size_t begin = query == std::string::npos ? query : text.rfind("https://", query);
  if (begin == std::string::npos)
    return std::nullopt;
  std::size_t end = text.find_first_of(" \t\n", query);
  return text.substr(begin, end == std::string::npos ? end : end - begin);
}

// What a program that did not end was doing: each thread's name and kernel
// wait, and its user-space stacks when gdb is at hand.
std::string describeStuckProcess(pid_t pid) {
  std::ostringstream text;
  std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (std::filesystem::directory_iterator it(tasks, error), end; !error && it != end; it.increment(error)) {
    auto field = [&](const char* name) {
      std::ifstream in(it->path() / name);
      std::string value;
      std::getline(in, value);
      return value;
    };
    text << "thread " << it->path().filename().string() << " " << field("comm") << " waits in " << field("wchan")
         << "\n";
  }
  if (std::system("command -v gdb >/dev/null 2>&1") == 0) {
    std::string command = "gdb -p " + std::to_string(pid) + " -batch -nx -ex 'thread apply all bt' 2>&1 </dev/null";
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[4096];
      while (std::size_t read = std::fread(buffer, 1, sizeof buffer, pipe))
        text.write(buffer, static_cast<std::streamsize>(read));
      ::pclose(pipe);
    }
  }
  return text.str();
}

} // namespace

void ProgramFixture::SetUp() {
  home = folder / "home";
  runtime = folder / "run";
  std::filesystem::create_directories(home);
  std::filesystem::create_directories(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  brandFile = folder / "brand.json";
  firstRunMarker = folder / "OVFirstRun";
  mountPath = home / "Orvex";
  dataFolder = home / ".local/share/Orvex";
  settingsFile = home / ".config/Orvex/settings.json";

  service::ServiceOptions options;
  options.config = service::ServiceConfig::fromJson(serviceConfig(), "program test");
  options.certDir = folder / "tls";
  options.autoApprove = true;
  service = std::make_unique<service::OrvexService>(std::move(options));
  std::uint16_t port = service->start();
  browser = std::make_unique<ServiceClient>(port, service->tls().caCertificatePem);
  nlohmann::json brand = service->brandSnippet();
  brand["CFBundleName"] = "Orvex";
  brand["CFBundleShortVersionString"] = "1.0.0";
  writeFile(brandFile, brand.dump(2));
}

void ProgramFixture::TearDown() {
  for (Program& program : started_)
    if (program.pid > 0 && ::kill(program.pid, 0) == 0) {
      ::kill(program.pid, SIGKILL);
      ::waitpid(program.pid, nullptr, 0);
    }
  if (mounted()) {
    ADD_FAILURE() << "the drive was left mounted";
    std::string command = "fusermount3 -uz '" + mountPath.string() + "'";
    [[maybe_unused]] int ignored = std::system(command.c_str());
  }
  browser.reset();
  service.reset();
}

std::vector<std::string> ProgramFixture::environment() const {
  std::vector<std::string> env = {"HOME=" + home.string(), "XDG_RUNTIME_DIR=" + runtime.string(),
                                  "ORVEX_BRAND_FILE=" + brandFile.string(),
                                  "ORVEX_FIRST_RUN_MARKER=" + firstRunMarker.string(), "LANG=C"};
  // Kept from the test's own environment: where programs are, and the sanitizers' settings.
  for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* value = std::getenv(name))
      env.push_back(std::string(name) + "=" + value);
  return env;
}

Program ProgramFixture::start(std::vector<std::string> arguments) {
  Program program;
  program.output = folder / ("output-" + std::to_string(++outputs_) + ".txt");
  std::vector<std::string> argv = {ORVEX_PROGRAM};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> args;
  for (std::string& arg : argv)
    args.push_back(arg.data());
  args.push_back(nullptr);
  std::vector<std::string> env = environment();
  std::vector<char*> envp;
  for (std::string& entry : env)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, program.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  int result = posix_spawn(&program.pid, ORVEX_PROGRAM, &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(result, 0) << std::strerror(result);
  started_.push_back(program);
  return program;
}

int ProgramFixture::waitForExit(Program& program) {
  int status = 0;
  bool ended = eventually([&] { return ::waitpid(program.pid, &status, WNOHANG) == program.pid; });
  if (!ended) {
    ADD_FAILURE() << "the program did not end\n"
                  << describeStuckProcess(program.pid) << "\n--- output\n"
                  << outputOf(program) << "\n--- main log\n"
                  << mainLog();
    return -1;
  }
  program.pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ProgramFixture::stop(Program& program, int signal) {
  ::kill(program.pid, signal);
  return waitForExit(program);
}

bool ProgramFixture::asksForLogin(const Program& program) const {
  return eventually([&] { return loginAddress(outputOf(program)).has_value(); });
}

void ProgramFixture::approveLogin(const Program& program) {
  ASSERT_TRUE(asksForLogin(program)) << outputOf(program);
  std::string url = *loginAddress(outputOf(program));
  const std::string scheme = "https://";
  std::size_t slash = url.find('/', scheme.size());
  HttpReply reply = browser->get(url.substr(scheme.size(), slash - scheme.size()), url.substr(slash));
  ASSERT_TRUE(reply.status == 302 || reply.status == 303) << reply.status << reply.body;
  Program handOver = start({"--open-url", reply.header("Location")});
  ASSERT_EQ(waitForExit(handOver), 0) << outputOf(handOver);
}

void ProgramFixture::login(const Program& program) {
  ASSERT_NO_FATAL_FAILURE(approveLogin(program));
  ASSERT_TRUE(eventually([&] {
    std::error_code error;
    return std::filesystem::exists(mountPath / kShareName / kHelloName, error);
  })) << mainLog();
}

bool ProgramFixture::eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  auto until = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until)
      return false;
    // Polling another process: nothing to wait on but its visible effects.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

std::string ProgramFixture::outputOf(const Program& program) const {
  return std::filesystem::exists(program.output) ? readFile(program.output) : std::string();
}

std::string ProgramFixture::mainLog() const {
  std::string text;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dataFolder / "Logs", error), end; !error && it != end; ++it)
    if (it->path().filename().string().ends_with("main.log"))
      text += readFile(it->path());
  return text;
}

bool ProgramFixture::mounted() const {
  std::ifstream mounts("/proc/mounts");
  std::string device, point;
  std::string rest;
  while (mounts >> device >> point && std::getline(mounts, rest))
    if (point == mountPath.string())
      return true;
  return false;
}

nlohmann::json ProgramFixture::settings() const {
  return nlohmann::json::parse(readFile(settingsFile));
}

std::optional<int> ProgramFixture::storedStatus(const std::string& name) const {
  sqlite3* db = nullptr;
  std::optional<int> status;
  if (sqlite3_open_v2((dataFolder / "files.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT status FROM files WHERE publicName = ? AND deleted = 0", -1, &statement,
                           nullptr) == SQLITE_OK) {
      sqlite3_bind_text(statement, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(statement) == SQLITE_ROW)
        status = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return status;
}

} // namespace orvex::test

// Reading files through the mounted drive from an orvex-service in this
// process over TLS, with the real download queue: a cold sequential read of a
// 512 MiB file, a warm re-read once the cache holds it, and random 4 KiB reads
// of another cold 512 MiB file. The limits they are compared with are taken in
// the same run: curl downloading the same file from the same service (for cold
// reads) and reading the completed cache file directly (for warm reads). Each
// figure is the median of three runs; a cold run starts with no cached content.
// Needs /dev/fuse and the right to mount (root, or fusermount3), and curl.
#include "BenchDrive.h"
#include "BenchFigures.h"
#include "Dispatch/NotificationCenter.h"
#include "Drive/OVDriveTransferStatus.h"
#include "Drive/OVFuseCallback.h"
#include "Network/HttpClient.h"
#include "Network/HttpClientOptions.h"
#include "Network/OVNewAPI.h"
#include "OVLogger.h"
#include "OVSettings.h"
#include "OrvexService.h"
#include "Platform/BrandFile.h"
#include "Platform/SettingsFile.h"
#include "Store/OVDatabase.h"
#include "Transfers/OVDownloadQueue.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

namespace {

using namespace orvex;
using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kFileSize = 512 * kMiB;
constexpr const char* kUser = "bench@orvex.example";
// Random reads go on until either bound is reached: each one fetches a whole
// request from the service, so a fixed count would take minutes on a slow machine.
constexpr int kMaxRandomReads = 2000;
constexpr auto kRandomBudget = std::chrono::seconds(15);

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "read bench: %s\n", what.c_str());
  std::exit(1);
}

nlohmann::json serviceConfig() {
  return nlohmann::json{
      {"Domains", {"orvex.example"}},
      {"Users", {{{"Email", kUser}, {"Password", "pw"}, {"PrimaryDomain", "orvex.example"}}}},
      {"Shares", {{{"ShareId", "docs"}, {"Name", "Documents"}, {"Domain", "orvex.example"}, {"AclType", 2}}}},
      {"Files",
       {{{"Share", "docs"}, {"Path", "sequential.bin"}, {"Size", kFileSize}, {"Seed", 1}},
        {{"Share", "docs"}, {"Path", "random.bin"}, {"Size", kFileSize}, {"Seed", 2}}}}};
}

// The bearer of one token issued by the service at start; enough for a run.
class FixedBearer final : public OVBearerSource {
 public:
  explicit FixedBearer(std::string bearer) : bearer_(std::move(bearer)) {}
  void fetchAuthBearerWithCompletion(Completion completion) override { completion(true, bearer_); }

 private:
  const std::string bearer_;
};

double seconds(Steady::time_point since) {
  return std::chrono::duration<double>(Steady::now() - since).count();
}

// MB/s of a shell command that moves `bytes`.
double rateOf(const std::string& command, std::uint64_t bytes) {
  const auto start = Steady::now();
  if (std::system(command.c_str()) != 0) // NOLINT(concurrency-mt-unsafe): one thread runs commands
    fail("command failed: " + command);
  return static_cast<double>(bytes) / 1e6 / seconds(start);
}

double sequentialRate(const std::string& path) {
  return rateOf(fmt::format("dd if='{}' of=/dev/null bs=1M status=none", path), kFileSize);
}

constexpr int kRuns = 3;

// The median of kRuns runs of `run`, each after `prepare`.
template <class Prepare, class Run>
double medianOf(Prepare prepare, Run run) {
  std::vector<double> rates;
  for (int i = 0; i < kRuns; ++i) {
    prepare();
    rates.push_back(run());
  }
  return median(rates);
}

// The curl command line for the whole content of `file`, with the request
// the download queue would send for it.
std::string curlCommand(const OVNewAPI& api, const OVFile& file, const ManagedShare& share, const std::string& bearer,
                        const service::OrvexService& service, const fs::path& out) {
  auto request = api.newApiDownloadRequestForFile(file, {0, file.fileSize}, share);
  if (!request)
    fail("no download request for " + file.publicName);
  std::string command = fmt::format("curl -sS --fail -o '{}' --cacert '{}'", out.string(), service.caFile()->string());
  for (const std::string& host : service.hosts().hostNames())
    command += fmt::format(" --connect-to {}:443:127.0.0.1:{}", host, service.port());
  for (const auto& [name, value] : request->headers.fields())
    command += fmt::format(" -H '{}: {}'", name, value);
  return command + fmt::format(" -H 'Authorization: {}' '{}'", bearer, request->url);
}

double randomReadsPerSecond(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd == -1)
    fail("cannot open " + path);
  // No read-ahead: each read asks the drive for its own 4 KiB.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  std::mt19937_64 random(7);
  std::uniform_int_distribution<std::uint64_t> page(0, kFileSize / 4096 - 1);
  char buffer[4096];
  int reads = 0;
  const auto start = Steady::now();
  while (reads < kMaxRandomReads && Steady::now() - start < kRandomBudget) {
    if (::pread(fd, buffer, sizeof buffer, static_cast<off_t>(page(random) * 4096)) != sizeof buffer)
      fail("random read failed: error " + std::to_string(errno));
    ++reads;
  }
  const double rate = reads / seconds(start);
  ::close(fd);
  return rate;
}

} // namespace

int main() {
  BenchStore store("read bench");
  const fs::path& folder = store.folder;

  service::ServiceOptions options;
  options.config = service::ServiceConfig::fromJson(serviceConfig(), "read bench");
  options.certDir = folder / "tls";
  service::OrvexService service(std::move(options));
  service.start();
  const auto tokens = service.identity().issueTokens(kUser);
  if (!tokens)
    fail("no token for " + std::string(kUser));
  const std::string bearer = "Bearer " + tokens->accessToken;

  OVDatabase db(store.cache, store.shares, store.eraser, "bench");
  db.load(false);
  db.updateShares(profileWithShare("docs", "Documents"), "orvex.example");
  std::map<std::string, OVFile> files;
  auto nodes = service.state().nodes("docs");
  if (!nodes.ok())
    fail("the service holds no share docs");
  for (const auto& node : *nodes) {
    OVFile row(node);
    db.addFile(row, kFileStatusSynchronized);
    files.emplace(row.publicName, row);
  }
  const ManagedSharePtr share = db.shareWithId("docs");
  const std::string shareName = share->DisplayName.value_or("Documents");

  const auto brand = BrandFile::fromJson(service.brandSnippet(), folder / "brand.json");
  XdgEnvironment noProxy{[](const std::string&) { return std::optional<std::string>(); },
                         [] { return std::optional<std::string>(); }};
  HttpClient http(HttpClientOptions::forDeployment(brand.deployment, noProxy));
  OVNewAPI api(brand.deployment);
  SettingsFile settingsFile(folder / "settings.json", OVSettings::schema(brand.bundleName));
  OVSettings settings(brand, settingsFile);
  NotificationCenter notifications;
  FixedBearer bearerSource(bearer);
  OVDownloadQueue queue({db, store.cache, http, api, bearerSource, notifications, settings});

  OVNoDriveUploads uploads;
  OVNoDriveAccount account;
  OVFuseCallback drive(db, store.cache, queue, uploads, account, queue, {});
  BenchMount mount(drive, store, "OrvexReadBench");
  const std::string& mountPath = mount.path();

  const std::string sequential = mountPath + "/" + shareName + "/sequential.bin";
  const OVFile& sequentialFile = files.at("sequential.bin");
  const double curlRate =
      medianOf([] {},
               [&] {
                 const double rate =
                     rateOf(curlCommand(api, sequentialFile, *share, bearer, service, folder / "curl.bin"), kFileSize);
                 fs::remove(folder / "curl.bin");
                 return rate;
               });
  // Each cold run starts from nothing: no cache file, no partial download,
  // no pages in the kernel.
  const double coldRate = medianOf(
      [&] {
        store.cache.deleteFileCache(sequentialFile);
        store.cache.deleteFileDownload(sequentialFile);
        if (!dropKernelCaches())
          fail("cannot empty the kernel's caches (the benchmark runs as root)");
      },
      [&] { return sequentialRate(sequential); });
  const auto cached = store.cache.pathForFileCache(sequentialFile);
  if (!cached || !fs::exists(*cached))
    fail("the cold read did not leave the file complete in the cache");
  const double localRate = medianOf([] {}, [&] { return sequentialRate(cached->string()); });
  const double warmRate = medianOf([] {}, [&] { return sequentialRate(sequential); });
  const double randomRate = randomReadsPerSecond(mountPath + "/" + shareName + "/random.bin");

  std::printf("file_MiB=%llu\n", static_cast<unsigned long long>(kFileSize / kMiB));
  std::printf("cold_read_MBps=%.1f\n", coldRate);
  std::printf("curl_MBps=%.1f\n", curlRate);
  std::printf("warm_read_MBps=%.1f\n", warmRate);
  std::printf("local_read_MBps=%.1f\n", localRate);
  std::printf("cold_vs_curl_ratio=%.2f\n", coldRate / curlRate);
  std::printf("warm_vs_local_ratio=%.2f\n", warmRate / localRate);
  std::printf("random_4k_reads_per_s=%.1f\n", randomRate);

  mount.unmount();
  db.unload();
  store.remove();
  return 0;
}

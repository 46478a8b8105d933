// The mounted drive at the size of a large account: 100,000 file records, a
// folder of 10,000 files and a tree of 1,000 folders holding the rest.
// Measures `ls -l` of the big folder with the kernel's caches empty (cold) and
// again (warm), and a `find` that stats every file of the tree, against the
// same commands on a local folder of the same shape and on a FUSE file system
// of the same shape that does no work (BareFuse), all in the same run, and the
// cost of a single request through FUSE. Every figure is a median of runs.
// Needs /dev/fuse and the right to mount (root, or fusermount3).
#include "BareFuse.h"
#include "BenchDrive.h"
#include "BenchFigures.h"
#include "Drive/OVDriveContentSource.h"
#include "Drive/OVDriveTransferStatus.h"
#include "Drive/OVFuseCallback.h"
#include "OVLogger.h"
#include "Store/OVDatabase.h"
#include "Store/OVSqlite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

using namespace orvex;
using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr const char* kShareId = "bench-share";
constexpr int kBigFolder = 10000;
constexpr int kTreeTop = 10;
constexpr int kTreeSub = 99; // 10 + 10 x 99 = 1,000 folders
constexpr int kTotalFiles = 100000;
constexpr std::uint64_t kFileSize = 1024;
constexpr int kWarmRuns = 5;
constexpr int kColdRuns = 3;

int treeFolders() {
  return kTreeTop + kTreeTop * kTreeSub;
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "drive bench: %s\n", what.c_str());
  std::exit(1);
}

// One node a layout produces: where it goes and whether it is a folder.
struct Node {
  std::string path; // below the share, "big/file 00001.txt"
  int parent;       // index of the parent folder, -1 for the share's top
  bool isFolder;
};

// The shape both sides are built from, parents before children.
std::vector<Node> layout() {
  std::vector<Node> nodes;
  nodes.push_back({"big", -1, true});
  for (int i = 0; i < kBigFolder; ++i)
    nodes.push_back({fmt::format("big/document {:05}.txt", i), 0, false});
  nodes.push_back({"tree", -1, true});
  const int treeRoot = static_cast<int>(nodes.size()) - 1;
  std::vector<int> leaves;
  for (int top = 0; top < kTreeTop; ++top) {
    nodes.push_back({fmt::format("tree/t{:02}", top), treeRoot, true});
    const int topIndex = static_cast<int>(nodes.size()) - 1;
    leaves.push_back(topIndex);
    for (int sub = 0; sub < kTreeSub; ++sub) {
      nodes.push_back({fmt::format("tree/t{:02}/s{:03}", top, sub), topIndex, true});
      leaves.push_back(static_cast<int>(nodes.size()) - 1);
    }
  }
  const int perFolder = (kTotalFiles - kBigFolder) / treeFolders();
  for (int folder : leaves) {
    for (int i = 0; i < perFolder; ++i)
      nodes.push_back({nodes[static_cast<std::size_t>(folder)].path + fmt::format("/f{:03}.dat", i), folder, false});
  }
  return nodes;
}

std::string nodeId(std::size_t n) {
  return fmt::format("{:032x}", n + 1);
}

// Writes the layout straight into files.db in one transaction, as if the
// store had grown through catch-up; the database is not loaded meanwhile.
void fillStore(const std::string& path, const std::vector<Node>& nodes) {
  std::string error;
  auto db = SqliteConnection::open(path, &error);
  if (!db || !db->execute("BEGIN"))
    fail("cannot fill " + path + ": " + error);
  SqliteStatement* insert = db->statement(
      "INSERT INTO files VALUES "
      "(?,?,'',?,?,'bench@orvex.example','',1,1,1,1,?,1.7e9,1.7e9,1.7e9,?,?,0,?,0,0,'',0,'','')");
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const Node& node = nodes[i];
    const std::string parent = node.parent < 0 ? kShareId : nodeId(static_cast<std::size_t>(node.parent));
    const std::string name = node.path.substr(node.path.rfind('/') + 1);
    insert->bindAll({name, kShareId, nodeId(i), parent, node.isFolder ? std::uint64_t{0} : kFileSize,
                     node.isFolder ? 16 : 128, node.isFolder ? 0700 : 0600, !node.isFolder});
    insert->step();
    insert->reset();
  }
  if (!db->execute("COMMIT"))
    fail("cannot commit: " + db->lastError());
}

void buildLocal(const fs::path& root, const std::vector<Node>& nodes) {
  for (const Node& node : nodes) {
    const fs::path path = root / node.path;
    if (node.isFolder) {
      fs::create_directories(path);
      continue;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd == -1 || ::ftruncate(fd, static_cast<off_t>(kFileSize)) != 0)
      fail("cannot create " + path.string());
    ::close(fd);
  }
}

// Set when a measured command failed; the drive is still unmounted before the bench ends.
bool commandFailed = false;

// Wall time of a shell command, in milliseconds; its output is discarded.
double timeCommand(const std::string& command) {
  const auto start = Steady::now();
  if (std::system((command + " > /dev/null").c_str()) != 0) { // NOLINT(concurrency-mt-unsafe): one thread runs commands
    std::fprintf(stderr, "drive bench: command failed: %s\n", command.c_str());
    commandFailed = true;
  }
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

// Microseconds per attribute read on `path`: a request the kernel never
// caches, which the drive answers without any store work. On the drive this
// is the cost of one round trip through FUSE.
double requestMicros(const std::string& path) {
  constexpr int kRequests = 20000;
  const auto start = Steady::now();
  for (int i = 0; i < kRequests; ++i)
    (void)::getxattr(path.c_str(), "user.orvex.bench", nullptr, 0);
  return std::chrono::duration<double, std::micro>(Steady::now() - start).count() / kRequests;
}

// Microseconds the drive itself spends per file of a `find` of the tree:
// each folder's listing and then one attribute request per file, called
// directly, without FUSE or the kernel.
double callbackMicros(OVFuseCallback& drive, const std::string& sharePath, const std::vector<Node>& nodes) {
  std::vector<std::vector<std::size_t>> children(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (nodes[i].parent >= 0)
      children[static_cast<std::size_t>(nodes[i].parent)].push_back(i);
  }
  int files = 0;
  struct stat attributes {};
  const auto start = Steady::now();
  for (std::size_t folder = 0; folder < nodes.size(); ++folder) {
    if (!nodes[folder].isFolder || !nodes[folder].path.starts_with("tree"))
      continue;
    const std::string folderPath = sharePath + "/" + nodes[folder].path;
    (void)drive.readdir(folderPath.c_str(), 0, 0, [](const char*, const struct stat*, std::int64_t) { return true; });
    for (std::size_t child : children[folder]) {
      if (drive.getattr((sharePath + "/" + nodes[child].path).c_str(), attributes) != 0)
        fail("no attributes for " + nodes[child].path);
      files += nodes[child].isFolder ? 0 : 1;
    }
  }
  return std::chrono::duration<double, std::micro>(Steady::now() - start).count() / files;
}

double warmMedian(const std::string& command) {
  std::vector<double> runs;
  for (int i = 0; i < kWarmRuns; ++i)
    runs.push_back(timeCommand(command));
  return median(runs);
}

double coldMedian(const std::string& command) {
  std::vector<double> runs;
  for (int i = 0; i < kColdRuns; ++i) {
    if (!dropKernelCaches())
      fail("cannot empty the kernel's caches (the benchmark runs as root)");
    runs.push_back(timeCommand(command));
  }
  return median(runs);
}

// The commands of the drive, timed the same way on a FUSE file system of the
// same shape and options that answers without any work.
struct BareTimes {
  double lsCold;
  double lsWarm;
  double find;
};
BareTimes timeOnBareFuse(const fs::path& mountPath, const std::vector<Node>& nodes) {
  fs::create_directories(mountPath);
  std::vector<BareFuse::Node> tree;
  tree.reserve(nodes.size());
  for (const Node& node : nodes)
    tree.push_back({node.path, node.isFolder});
  BareFuse bare(mountPath, tree, static_cast<off_t>(kFileSize));
  if (!bare.mounted())
    fail("cannot mount the bare FUSE file system at " + mountPath.string());
  const std::string path = "'" + mountPath.string() + "'";
  BareTimes times{};
  times.lsCold = coldMedian("ls -l " + path + "/big");
  times.lsWarm = warmMedian("ls -l " + path + "/big");
  times.find = coldMedian("find " + path + "/tree -printf '%s\\n'");
  return times;
}

} // namespace

int main() {
  BenchStore store("drive bench");
  const fs::path& folder = store.folder;

  const std::vector<Node> nodes = layout();
  buildLocal(folder / "Local", nodes);

  {
    OVDatabase creating(store.cache, store.shares, store.eraser, "bench");
    creating.load(false);
    creating.updateShares(profileWithShare(kShareId, "Bench"), "orvex.example");
    creating.unload();
    fillStore(creating.databasePath().string(), nodes);
  }
  OVDatabase db(store.cache, store.shares, store.eraser, "bench");
  db.load(false);
  const std::string shareName = db.shares().at(0)->DisplayName.value_or("Bench");

  OVNoDriveDownloads downloads(store.cache);
  OVNoDriveUploads uploads;
  OVNoDriveAccount account;
  OVNoDownloadSource content;
  OVFuseCallback drive(db, store.cache, downloads, uploads, account, content, {});
  BenchMount mount(drive, store, "OrvexBench");
  const std::string& mountPath = mount.path();

  const std::string driveShare = "'" + mountPath + "/" + shareName + "'";
  const std::string local = "'" + (folder / "Local").string() + "'";
  const std::uint64_t lookupsBefore = drive.requestCounts().pathLookups.load();
  const double lsCold = coldMedian("ls -l " + driveShare + "/big");
  const std::uint64_t lsLookups = (drive.requestCounts().pathLookups.load() - lookupsBefore) / kColdRuns;
  const double lsWarm = warmMedian("ls -l " + driveShare + "/big");
  const double lsLocal = warmMedian("ls -l " + local + "/big");
  const double findDrive = coldMedian("find " + driveShare + "/tree -printf '%s\\n'");
  const double findLocal = warmMedian("find " + local + "/tree -printf '%s\\n'");
  const double findLocalCold = coldMedian("find " + local + "/tree -printf '%s\\n'");
  const BareTimes bare = timeOnBareFuse(folder / "Bare", nodes);
  const double requestDrive = requestMicros(mountPath);
  const double requestLocal = requestMicros((folder / "Local").string());
  const double callbackDrive = callbackMicros(drive, "/" + shareName, nodes);

  std::printf("files=%d\n", kTotalFiles);
  std::printf("ls_10k_cold_ms=%.1f\n", lsCold);
  std::printf("ls_10k_warm_ms=%.1f\n", lsWarm);
  std::printf("ls_10k_local_ms=%.1f\n", lsLocal);
  std::printf("find_tree_s=%.3f\n", findDrive / 1000);
  std::printf("find_tree_local_s=%.3f\n", findLocal / 1000);
  std::printf("ls_vs_local_ratio=%.2f\n", lsWarm / lsLocal);
  std::printf("ls_cold_vs_local_ratio=%.2f\n", lsCold / lsLocal);
  std::printf("find_vs_local_ratio=%.2f\n", findDrive / findLocal);
  // The local folder with its caches emptied too (read back from the disk).
  std::printf("find_tree_local_cold_s=%.3f\n", findLocalCold / 1000);
  std::printf("find_vs_local_cold_ratio=%.2f\n", findDrive / findLocalCold);
  // The same commands on a FUSE file system that only answers: what FUSE
  // itself costs here, and how far above that the drive is.
  std::printf("ls_10k_bare_fuse_ms=%.1f\n", bare.lsWarm);
  std::printf("find_bare_fuse_s=%.3f\n", bare.find / 1000);
  std::printf("ls_10k_bare_fuse_cold_ms=%.1f\n", bare.lsCold);
  std::printf("ls_vs_bare_fuse_ratio=%.2f\n", lsWarm / bare.lsWarm);
  std::printf("ls_cold_vs_bare_fuse_ratio=%.2f\n", lsCold / bare.lsCold);
  // Lookups the drive answered during one cold `ls -l`: the listing carries
  // every entry's attributes, so this stays near zero.
  std::printf("ls_cold_lookups=%llu\n", static_cast<unsigned long long>(lsLookups));
  std::printf("find_vs_bare_fuse_ratio=%.2f\n", findDrive / bare.find);
  // `ls -l` costs three requests per entry (the entry and two attributes no
  // kernel caches), `find` one: these bound what the ratios above can reach.
  std::printf("request_us=%.1f\n", requestDrive);
  std::printf("request_local_us=%.2f\n", requestLocal);
  // The drive's own share of a `find`'s cost per file.
  std::printf("callback_us=%.2f\n", callbackDrive);

  mount.unmount();
  db.unload();
  store.remove();
  return commandFailed ? 1 : 0;
}

#include "Network/CurlLoop.h"

#include "Dispatch/ThreadName.h"
#include "OVLogger.h"

#include <pthread.h>
#include <csignal>
#include <exception>
#include <filesystem>
#include <mutex>

namespace orvex {
namespace {

// The longest the thread sleeps when curl has no earlier deadline; posting a
// job wakes it at once anyway.
constexpr int kMaxPollMs = 1000;
constexpr const char* kSystemCertificateFolder = "/etc/ssl/certs";

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The certificate folder curl was built to use, so that it can be kept when
// a CA file replaces the bundle file.
std::string systemCertificateFolder() {
  CURL* probe = curl_easy_init();
  char* path = nullptr;
  if (probe != nullptr)
    curl_easy_getinfo(probe, CURLINFO_CAPATH, &path);
  std::string folder = path != nullptr ? path : "";
  if (probe != nullptr)
    curl_easy_cleanup(probe);
  std::error_code error;
  if (folder.empty() && std::filesystem::is_directory(kSystemCertificateFolder, error))
    folder = kSystemCertificateFolder;
  return folder;
}

curl_slist* makeList(const std::vector<std::string>& items) {
  curl_slist* list = nullptr;
  for (const auto& item : items) {
    curl_slist* grown = curl_slist_append(list, item.c_str());
    if (grown == nullptr)
      break;
    list = grown;
  }
  return list;
}

} // namespace

CurlLoop::CurlLoop(std::string label, HttpClientOptions options) : label_(std::move(label)) {
  initCurlOnce();
  settings_.options = std::move(options);
  settings_.share = curl_share_init();
  curl_share_setopt(settings_.share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  curl_share_setopt(settings_.share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  settings_.connectTo = makeList(settings_.options.connectTo);
  if (settings_.options.caFile)
    settings_.caPath = systemCertificateFolder();
  multi_ = curl_multi_init();
  curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, settings_.options.maxIdleConnections);
  cookieHandle_ = curl_easy_init();
  curl_easy_setopt(cookieHandle_, CURLOPT_SHARE, settings_.share);
  curl_easy_setopt(cookieHandle_, CURLOPT_COOKIEFILE, "");
}

CurlLoop::~CurlLoop() {
  stop();
  curl_easy_cleanup(cookieHandle_); // detaches it from the share, which can then go
  curl_multi_cleanup(multi_);
  curl_share_cleanup(settings_.share);
  curl_slist_free_all(settings_.connectTo);
}

void CurlLoop::start() {
  thread_ = std::thread([this] { run(); });
}

void CurlLoop::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  curl_multi_wakeup(multi_);
  if (thread_.joinable())
    thread_.join();
  std::deque<Job> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(jobs_);
  }
  // Destroyed outside the lock: a dropped transfer tells a blocked caller.
}

bool CurlLoop::post(Job job) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_)
      return false;
    jobs_.push_back(std::move(job));
  }
  curl_multi_wakeup(multi_);
  return true;
}

bool CurlLoop::takeJobs(std::deque<Job>& into) {
  std::lock_guard lock(mutex_);
  if (stopping_)
    return false;
  into.swap(jobs_);
  return true;
}

void CurlLoop::run() {
  threadId_.store(std::this_thread::get_id());
  setCurrentThreadLabel(label_);
  // A peer closing a TLS connection must not kill the process: writes then fail with EPIPE.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  std::deque<Job> jobs;
  while (takeJobs(jobs)) {
    try {
      for (auto& job : jobs)
        job();
      jobs.clear();
      int running = 0;
      curl_multi_perform(multi_, &running);
      collectFinished();
    } catch (const std::exception& e) {
      jobs.clear();
      OVLog(kLogMain, "Error! HTTP client: {}", e.what());
    }
    curl_multi_poll(multi_, nullptr, 0, kMaxPollMs, nullptr);
  }
  abandonAll();
}

void CurlLoop::add(const std::shared_ptr<CurlTransfer>& transfer) {
  if (auto error = transfer->prepare(settings_)) {
    transfer->fail(std::move(*error));
    return;
  }
  if (CURLMcode code = curl_multi_add_handle(multi_, transfer->easy()); code != CURLM_OK) {
    transfer->fail(HttpError{HttpError::Kind::Transport, 0, curl_multi_strerror(code)});
    return;
  }
  transfers_[transfer->id()] = transfer;
}

void CurlLoop::cancel(std::uint64_t id) {
  auto found = transfers_.find(id);
  if (found == transfers_.end())
    return; // finished already
  curl_multi_remove_handle(multi_, found->second->easy());
  transfers_.erase(found);
}

void CurlLoop::resume(std::uint64_t id) {
  if (auto found = transfers_.find(id); found != transfers_.end())
    curl_easy_pause(found->second->easy(), CURLPAUSE_CONT);
}

void CurlLoop::collectFinished() {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg != CURLMSG_DONE)
      continue;
    // The message dies with the handle's removal: copy what we need first.
    CURL* easy = message->easy_handle;
    const CURLcode code = message->data.result;
    CurlTransfer* raw = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &raw);
    curl_multi_remove_handle(multi_, easy);
    if (raw == nullptr)
      continue;
    auto found = transfers_.find(raw->id());
    if (found == transfers_.end())
      continue;
    auto transfer = std::move(found->second);
    transfers_.erase(found);
    transfer->complete(code);
  }
}

void CurlLoop::abandonAll() {
  for (auto& [id, transfer] : transfers_) {
    curl_multi_remove_handle(multi_, transfer->easy());
    transfer->abandon();
  }
  transfers_.clear();
}

bool CurlLoop::setCookieLine(const std::string& line) {
  return curl_easy_setopt(cookieHandle_, CURLOPT_COOKIELIST, line.c_str()) == CURLE_OK;
}

std::vector<std::string> CurlLoop::cookieLines() {
  std::vector<std::string> lines;
  curl_slist* list = nullptr;
  if (curl_easy_getinfo(cookieHandle_, CURLINFO_COOKIELIST, &list) != CURLE_OK)
    return lines;
  for (curl_slist* item = list; item != nullptr; item = item->next)
    lines.emplace_back(item->data);
  curl_slist_free_all(list);
  return lines;
}

} // namespace orvex

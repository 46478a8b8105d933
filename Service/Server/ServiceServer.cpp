#include "Server/ServiceServer.h"

#include "Api/Replies.h"
#include "OVLogger.h"

#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <stdexcept>

namespace orvex::service {
namespace {

// Clients keep up to 5 chunk and 5 file transfers, 5 uploads and the gateway
// requests open at once, each holding a worker while its connection is kept alive.
constexpr std::size_t kWorkers = 64;
// Enough for a benchmark's run of ranged requests over one connection.
constexpr std::size_t kRequestsPerConnection = 100000;
// Far above the largest chunk a client sends (2 MiB).
constexpr std::size_t kMaxBody = std::size_t{64} * 1024 * 1024;

struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Deleter {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

bool loadTls(SSL_CTX& context, const TlsMaterial& tls) {
  std::unique_ptr<BIO, BioDeleter> certText(
      BIO_new_mem_buf(tls.serverCertificatePem.data(), static_cast<int>(tls.serverCertificatePem.size())));
  std::unique_ptr<BIO, BioDeleter> keyText(
      BIO_new_mem_buf(tls.serverKeyPem.data(), static_cast<int>(tls.serverKeyPem.size())));
  if (!certText || !keyText)
    return false;
  std::unique_ptr<X509, X509Deleter> cert(PEM_read_bio_X509(certText.get(), nullptr, nullptr, nullptr));
  std::unique_ptr<EVP_PKEY, KeyDeleter> key(PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr));
  return cert && key && SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION) == 1 &&
         SSL_CTX_use_certificate(&context, cert.get()) == 1 && SSL_CTX_use_PrivateKey(&context, key.get()) == 1 &&
         SSL_CTX_check_private_key(&context) == 1;
}

} // namespace

ServiceServer::ServiceServer(const TlsMaterial& tls, HostMap hosts, Handler handler, RequestObservers& observers)
    : hosts_(std::move(hosts)), handler_(std::move(handler)), observers_(observers) {
  server_ = std::make_unique<httplib::SSLServer>([&tls](SSL_CTX& context) { return loadTls(context, tls); });
  if (!server_->is_valid())
    throw std::runtime_error("the service's TLS certificate or key cannot be used");
  server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server_->set_keep_alive_max_count(kRequestsPerConnection);
  // A reply's last short segment must not wait for the client's delayed
  // acknowledgement: every ranged read would pay for it.
  server_->set_tcp_nodelay(true);
  server_->set_payload_max_length(kMaxBody);
  auto entry = [this](const httplib::Request& request, httplib::Response& response) { dispatch(request, response); };
  server_->Get(".*", entry);
  server_->Post(".*", entry);
  server_->Put(".*", entry);
  server_->Delete(".*", entry);
  server_->Patch(".*", entry);
  server_->Options(".*", entry);
}

ServiceServer::~ServiceServer() {
  stop();
}

std::uint16_t ServiceServer::start(std::uint16_t port) {
  return listener_.start(*server_, port, "the service");
}

void ServiceServer::stop() {
  listener_.stop(*server_);
}

void ServiceServer::dispatch(const httplib::Request& request, httplib::Response& response) {
  const std::string host = normalizedHost(request.get_header_value("Host"));
  try {
    if (!observers_.beforeHandling(request, host, response))
      route(request, response, host);
  } catch (const std::exception& e) { // no exception reaches the HTTP library's threads
    OVLog(kLogMain, "Error! {} {}{} failed: {}", request.method, host, request.path, e.what());
    replyMessage(response, 500, "Internal error");
  }
  observers_.afterHandling(request, host, response);
}

void ServiceServer::route(const httplib::Request& request, httplib::Response& response, const std::string& host) {
  std::optional<HostRoute> found = hosts_.find(host);
  if (!found) {
    replyMessage(response, 421, "This service does not serve the host \"" + host + "\"");
    return;
  }
  handler_(request, response, *found);
}

} // namespace orvex::service

#include "tools/demo-service/HttpFront.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace chronel::demo {

namespace {
constexpr size_t kMaxBody = 1 << 20;
}

HttpFront::HttpFront(DemoService& service, const SelfSignedIdentity* tls) : service_(service) {
  if (tls)
    server_ = std::make_unique<httplib::SSLServer>(tls->certificate(), tls->key());
  else
    server_ = std::make_unique<httplib::Server>();
  const auto handler = [this](const httplib::Request& req, httplib::Response& res) { serve(req, res); };
  // Every path and method reaches the service, which answers unknown ones.
  server_->Get(".*", handler);
  server_->Post(".*", handler);
  server_->Put(".*", handler);
  server_->Patch(".*", handler);
  server_->Delete(".*", handler);
  server_->Options(".*", handler);
  server_->set_payload_max_length(kMaxBody);
  // Browsers keep connections open; a short idle time lets a stop finish soon.
  server_->set_keep_alive_timeout(1);
}

HttpFront::~HttpFront() {
  if (stopper_.joinable()) stopper_.join();
}

void HttpFront::dropConnection(const httplib::Request& req) {
  // The server library offers no way to leave a request unanswered: find
  // the connection's socket by its two ports and shut it down.
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    sockaddr_in local{}, peer{};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &localLen) != 0) continue;
    if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) continue;
    if (local.sin_family != AF_INET || peer.sin_family != AF_INET) continue;
    if (ntohs(local.sin_port) == req.local_port && ntohs(peer.sin_port) == req.remote_port)
      shutdown(static_cast<int>(fd), SHUT_RDWR);
  }
  closedir(dir);
}

int HttpFront::bind(int port) {
  if (!server_->is_valid()) return -1;
  if (port == 0) return server_->bind_to_any_port("127.0.0.1");
  return server_->bind_to_port("127.0.0.1", port) ? port : -1;
}

bool HttpFront::listen() { return server_->listen_after_bind(); }

void HttpFront::stop() { server_->stop(); }

bool HttpFront::isRunning() const { return server_->is_running(); }

void HttpFront::serve(const httplib::Request& req, httplib::Response& res) {
  if (goingDown_) {
    dropConnection(req);
    res.status = 500;
    return;
  }
  HttpRequest request;
  request.method = req.method;
  request.target = req.target;
  request.contentType = req.get_header_value("Content-Type");
  for (size_t i = 0, n = req.get_header_value_count("Cookie"); i < n; ++i) {
    if (!request.cookie.empty()) request.cookie += "; ";
    request.cookie += req.get_header_value("Cookie", i);
  }
  request.body = req.body;

  if (const int delay = service_.submissionDelayMs(request); delay > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  const HttpResponse response = service_.handle(request);
  if (response.dropConnection) {
    dropConnection(req);
    res.status = 500;
    return;
  }
  if (const int down = service_.takeDownRequest(); down > 0 && !stopper_.joinable()) {
    downMs_ = down;
    // Answer this request first, then stop listening.
    stopper_ = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      goingDown_ = true;
      server_->stop();
    });
  }
  if (const int delay = service_.answerDelayMs(request); delay > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));

  res.status = response.status;
  for (const auto& [name, value] : response.headers) res.set_header(name, value);
  res.set_content(response.body, response.contentType);
}

}  // namespace chronel::demo

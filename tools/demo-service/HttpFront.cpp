#include "tools/demo-service/HttpFront.h"

#include <chrono>
#include <thread>

namespace chronel::demo {

namespace {
constexpr size_t kMaxBody = 1 << 20;
}

HttpFront::HttpFront(DemoService& service) : service_(service) {
  const auto handler = [this](const httplib::Request& req, httplib::Response& res) { serve(req, res); };
  // Every path and method reaches the service, which answers unknown ones.
  server_.Get(".*", handler);
  server_.Post(".*", handler);
  server_.Put(".*", handler);
  server_.Patch(".*", handler);
  server_.Delete(".*", handler);
  server_.Options(".*", handler);
  server_.set_payload_max_length(kMaxBody);
  // Browsers keep connections open; a short idle time lets a stop finish soon.
  server_.set_keep_alive_timeout(1);
}

int HttpFront::bind(int port) {
  if (port == 0) return server_.bind_to_any_port("127.0.0.1");
  return server_.bind_to_port("127.0.0.1", port) ? port : -1;
}

bool HttpFront::listen() { return server_.listen_after_bind(); }

void HttpFront::stop() { server_.stop(); }

bool HttpFront::isRunning() const { return server_.is_running(); }

void HttpFront::serve(const httplib::Request& req, httplib::Response& res) {
  HttpRequest request;
  request.method = req.method;
  request.target = req.target;
  request.contentType = req.get_header_value("Content-Type");
  for (size_t i = 0, n = req.get_header_value_count("Cookie"); i < n; ++i) {
    if (!request.cookie.empty()) request.cookie += "; ";
    request.cookie += req.get_header_value("Cookie", i);
  }
  request.body = req.body;

  const HttpResponse response = service_.handle(request);
  if (const int delay = service_.answerDelayMs(request); delay > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));

  res.status = response.status;
  for (const auto& [name, value] : response.headers) res.set_header(name, value);
  res.set_content(response.body, response.contentType);
}

}  // namespace chronel::demo

// Serves a DemoService over HTTP (or HTTPS) on 127.0.0.1.
#pragma once

#include "tools/demo-service/DemoService.h"
#include "tools/demo-service/SelfSigned.h"

#include <httplib.h>

#include <atomic>
#include <memory>
#include <thread>

namespace chronel::demo {

class HttpFront {
 public:
  // With tls, HTTPS with that certificate; it must outlive the front.
  explicit HttpFront(DemoService& service, const SelfSignedIdentity* tls = nullptr);
  ~HttpFront();

  // Binds 127.0.0.1:port (0 picks a free port); the bound port, or -1.
  int bind(int port);
  // Serves until stop(); false when serving failed.
  bool listen();
  // Safe from any thread; a no-op unless listen() is running.
  void stop();
  bool isRunning() const;
  // After listen() returned: how long the service asked to stay unreachable
  // (0: it was stopped for good).
  int downMs() const { return downMs_; }

 private:
  void serve(const httplib::Request& req, httplib::Response& res);

  // Closes the connection of a request being served, without an answer.
  static void dropConnection(const httplib::Request& req);

  DemoService& service_;
  std::unique_ptr<httplib::Server> server_;
  std::atomic<int> downMs_{0};
  // Set when an outage begins: a service that is down answers nothing, not
  // even on connections the client kept open from before.
  std::atomic<bool> goingDown_{false};
  std::thread stopper_;
};

}  // namespace chronel::demo

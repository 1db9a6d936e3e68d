// Serves a DemoService over HTTP on 127.0.0.1.
#pragma once

#include "tools/demo-service/DemoService.h"

#include <httplib.h>

namespace chronel::demo {

class HttpFront {
 public:
  explicit HttpFront(DemoService& service);

  // Binds 127.0.0.1:port (0 picks a free port); the bound port, or -1.
  int bind(int port);
  // Serves until stop(); false when serving failed.
  bool listen();
  // Safe from any thread; a no-op unless listen() is running.
  void stop();
  bool isRunning() const;

 private:
  void serve(const httplib::Request& req, httplib::Response& res);

  DemoService& service_;
  httplib::Server server_;
};

}  // namespace chronel::demo

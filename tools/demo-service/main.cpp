// chronel-demo-service: a local work-log service for trying Chronel Timer and
// for its end-to-end tests. See README.md.

#include "tools/demo-service/Config.h"
#include "tools/demo-service/DemoService.h"
#include "tools/demo-service/HttpFront.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

using namespace chronel::demo;

namespace {
// A port on 127.0.0.1 that nothing listens on now.
int freeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}
}  // namespace

int main(int argc, char** argv) {
  // SIGINT and SIGTERM are taken by one thread with sigwait(); blocking them
  // here, before any thread exists, keeps them away from the server's threads.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  CommandLine commandLine;
  try {
    commandLine = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::cerr << "chronel-demo-service: " << e.what() << "\nTry 'chronel-demo-service --help'.\n";
    return 2;
  }
  if (commandLine.help) {
    std::cout << usageText();
    return 0;
  }

  std::unique_ptr<SelfSignedIdentity> tls;
  if (commandLine.tlsSelfSigned) {
    try {
      tls = std::make_unique<SelfSignedIdentity>();
    } catch (const std::exception& e) {
      std::cerr << "chronel-demo-service: " << e.what() << "\n";
      return 1;
    }
  }
  const char* scheme = tls ? "https" : "http";

  DemoService service(commandLine.config);
  // One front per listening period; the service outlives outages.
  std::mutex frontMutex;
  std::unique_ptr<HttpFront> front;
  int downMs = service.takeDownRequest();
  int port = commandLine.port;
  if (downMs > 0) {
    // Down from the start: the port is chosen now and refuses connections
    // until the outage is over.
    if (port == 0) port = freeLoopbackPort();
  } else {
    front = std::make_unique<HttpFront>(service, tls.get());
    port = front->bind(commandLine.port);
  }
  if (port <= 0) {
    std::cerr << "chronel-demo-service: cannot listen on 127.0.0.1:" << commandLine.port << "\n";
    return 1;
  }
  std::cout << "PORT " << port << std::endl;
  std::cerr << "chronel-demo-service: serving " << scheme << "://127.0.0.1:" << port << "/ (user '"
            << commandLine.config.accounts.front().user << "')\n";
  if (tls) std::cerr << "chronel-demo-service: self-signed certificate, SHA-256 " << tls->sha256Fingerprint() << "\n";

  std::atomic<bool> listenEnded{false};
  std::atomic<bool> signalled{false};
  std::thread signalThread([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    if (listenEnded) return;  // woken by main after serving ended
    signalled = true;
    // A signal may come before listen() runs, when stop() has nothing to stop.
    while (!listenEnded) {
      {
        std::lock_guard lock(frontMutex);
        if (front) front->stop();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });

  // Waits out an outage in small steps, so that a signal ends it.
  const auto stayDown = [&](int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!signalled && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };

  bool served = true;
  for (;;) {
    if (downMs > 0) {
      std::cerr << "chronel-demo-service: not listening for " << downMs << " ms\n";
      stayDown(downMs);
      if (signalled) break;
      auto next = std::make_unique<HttpFront>(service, tls.get());
      // The port may linger for a moment; keep trying for a while.
      int bound = -1;
      for (int attempt = 0; attempt < 100 && bound < 0 && !signalled; ++attempt) {
        bound = next->bind(port);
        if (bound < 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (bound < 0) {
        if (!signalled) std::cerr << "chronel-demo-service: cannot listen on 127.0.0.1:" << port << " again\n";
        served = signalled;
        break;
      }
      std::lock_guard lock(frontMutex);
      front = std::move(next);
      std::cerr << "chronel-demo-service: listening again\n";
    }
    if (signalled) break;
    served = front->listen();  // stopping it closes the listening socket
    downMs = front->downMs();
    if (signalled || !served || downMs <= 0) break;
    std::lock_guard lock(frontMutex);
    front.reset();
  }
  listenEnded = true;
  if (!signalled) pthread_kill(signalThread.native_handle(), SIGTERM);
  signalThread.join();
  if (signalled) return 0;
  if (!served) std::cerr << "chronel-demo-service: serving failed\n";
  return served ? 0 : 1;
}

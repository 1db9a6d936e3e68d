// chronel-demo-service: a local work-log service for trying Chronel Timer and
// for its end-to-end tests. See README.md.

#include "tools/demo-service/Config.h"
#include "tools/demo-service/DemoService.h"
#include "tools/demo-service/HttpFront.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

using namespace chronel::demo;

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

  DemoService service(commandLine.config);
  HttpFront front(service);
  const int port = front.bind(commandLine.port);
  if (port < 0) {
    std::cerr << "chronel-demo-service: cannot listen on 127.0.0.1:" << commandLine.port << "\n";
    return 1;
  }
  std::cout << "PORT " << port << std::endl;
  std::cerr << "chronel-demo-service: serving http://127.0.0.1:" << port << "/ (user '"
            << commandLine.config.accounts.front().user << "')\n";

  std::atomic<bool> listenEnded{false};
  std::atomic<bool> signalled{false};
  std::thread signalThread([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    if (listenEnded) return;  // woken by main after serving ended
    signalled = true;
    // A signal may come before listen() runs, when stop() has nothing to stop.
    while (!listenEnded) {
      front.stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });

  const bool served = front.listen();
  listenEnded = true;
  if (!signalled) pthread_kill(signalThread.native_handle(), SIGTERM);
  signalThread.join();
  if (signalled) return 0;
  if (!served) std::cerr << "chronel-demo-service: serving failed\n";
  return served ? 0 : 1;
}

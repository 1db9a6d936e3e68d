// The demo work-log service's pages, sessions and work clock, independent of
// the HTTP transport: one request in, one response out.
//
// Pages: index.php (login), time_log.php (timer), reports.php; "/" redirects
// to index.php. Test endpoints under "/__": status, reset, config. See
// README.md for the conventions each page follows.
#pragma once

#include "tools/demo-service/Config.h"

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace chronel::demo {

struct HttpRequest {
  std::string method;
  std::string target;  // path and query exactly as sent
  std::string contentType;
  std::string cookie;  // all Cookie header values, joined with "; "
  std::string body;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/html; charset=utf-8";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool dropConnection = false;  // close the connection instead of answering

  std::string header(std::string_view name) const;  // empty when absent
};

class DemoService {
 public:
  static constexpr const char* kSessionCookie = "WLSESSID";
  static constexpr size_t kMaxLoggedRequests = 10000;

  explicit DemoService(ServiceConfig config);

  // Thread-safe; never throws for bad input, which gets a 4xx answer.
  HttpResponse handle(const HttpRequest& request);

  // How long the answer to `request` is held back; test endpoints never wait.
  int answerDelayMs(const HttpRequest& request) const;

  // How long a start/stop submission waits before the service takes it
  // (as over a slow link); 0 for every other request.
  int submissionDelayMs(const HttpRequest& request) const;

  std::string statusJson() const;

  // A pending request to stop listening (from the start-up options or
  // /__config): its duration in ms, once; 0 when none.
  int takeDownRequest();

 private:
  struct Clock {
    int runningEntry = 0;  // 0 while stopped
    int selected = 0;
  };
  struct Entry {
    int id = 0;
    std::string user;
    int item = 0;
    std::string started, stopped;
  };
  struct Session {
    std::string user;  // configured user name
    std::chrono::steady_clock::time_point lastUsed;
    bool expired = false;  // forgotten; kept only so that a request with it can say so
  };
  struct LoggedRequest {
    long seq = 0;
    std::string method, target, contentType, body, user;
  };
  struct Context {
    const HttpRequest& request;
    std::string_view rawQuery;
    std::string user;  // account of the session; empty without one
    long seq;
  };

  HttpResponse control(const HttpRequest& request, const std::string& path, std::string_view rawQuery);
  HttpResponse indexPage(const Context& ctx);
  HttpResponse attemptLogin(const Context& ctx, const std::string& user, const std::string& password,
                            const char* via);
  HttpResponse timerPage(const Context& ctx);
  HttpResponse reportsPage(const Context& ctx);
  HttpResponse loginPage(std::string_view rawQuery, const std::string& user, bool failed) const;
  // Where a page that needs a session sends a visitor without one.
  HttpResponse toLoginPage(const char* page) const;
  HttpResponse configChange(const HttpRequest& request, std::string_view rawQuery);

  // True when the clock changed.
  bool toggle(const Context& ctx, Clock& clock, const std::string& tid);
  void resetAll();
  // The account of the request's session, which counts as used now; empty
  // without a live one. A forgotten session gives the event "session_expired".
  std::string useSession(const std::string& cookie, long seq);
  const Account* findAccount(const std::string& user) const;
  const std::string& itemName(int id) const;
  Entry* findEntry(int id);
  void addEvent(std::string json);
  std::string optionsJson() const;
  std::string statusJsonLocked() const;
  // How "+" reads in queries and the posted "pw": as the client writes it.
  bool plusIsBlank() const { return config_.options.plusAsBlank; }

  mutable std::mutex mutex_;
  const ServiceConfig startConfig_;
  ServiceConfig config_;
  std::map<std::string, Clock> clocks_;          // by configured user name
  std::map<std::string, Session> sessions_;  // by token
  std::vector<Entry> entries_;
  std::deque<LoggedRequest> requests_;
  std::vector<std::string> events_;  // JSON objects
  long nextSeq_ = 1;
  int nextEntry_ = 1;
  std::mt19937_64 random_;
};

}  // namespace chronel::demo

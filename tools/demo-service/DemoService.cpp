#include "tools/demo-service/DemoService.h"

#include "tools/demo-service/Codec.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>

namespace chronel::demo {

namespace {

const char* const kStyle =
    "body{font:12px sans-serif;margin:3px}"
    "p{margin:3px 0}"
    "select{max-width:124px;font-size:11px}"
    "input.small{font-size:10px;padding:0 4px}"
    "input.big{font-size:15px;padding:3px 14px}"
    ".err{color:#b00}"
    "td,th{padding:0 4px;text-align:left}";

std::string pageHtml(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + htmlEscape(title) +
         "</title>\n<style>" + kStyle + "</style></head>\n<body>\n" + body + "</body></html>\n";
}

HttpResponse htmlResponse(int status, const std::string& title, const std::string& body) {
  HttpResponse r;
  r.status = status;
  r.body = pageHtml(title, body);
  r.headers.emplace_back("Cache-Control", "no-store");
  return r;
}

HttpResponse redirect(const std::string& location) {
  HttpResponse r;
  r.status = 302;
  r.headers.emplace_back("Location", location);
  r.headers.emplace_back("Cache-Control", "no-store");
  r.body = pageHtml("Moved", "<p><a href=\"" + htmlEscape(location) + "\">Continue</a></p>\n");
  return r;
}

HttpResponse jsonResponse(int status, std::string json) {
  HttpResponse r;
  r.status = status;
  r.contentType = "application/json";
  r.headers.emplace_back("Cache-Control", "no-store");
  r.body = std::move(json);
  r.body += '\n';
  return r;
}

HttpResponse jsonError(int status, std::string_view message) {
  return jsonResponse(status, "{\"error\":" + jsonText(message) + "}");
}

HttpResponse methodNotAllowed(const char* allow) {
  HttpResponse r = htmlResponse(405, "Method not allowed", "<p>Method not allowed.</p>\n");
  r.headers.emplace_back("Allow", allow);
  return r;
}

bool isFormBody(std::string_view contentType) {
  const std::string lower = asciiLower(contentType);
  const std::string_view kForm = "application/x-www-form-urlencoded";
  if (lower.compare(0, kForm.size(), kForm) != 0) return false;
  const char next = lower.size() > kForm.size() ? lower[kForm.size()] : ';';
  return next == ';' || next == ' ' || next == '\t';
}

std::optional<int> toInt(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::string localTime(const char* format) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

std::string timestamp() { return localTime("%Y-%m-%dT%H:%M:%S"); }

// The page to go to after logging in: a page of this service only, so the
// login cannot be made to redirect elsewhere; otherwise the timer page.
std::string gotoLocation(const std::string& target) {
  bool safe = !target.empty() && target.rfind("//", 0) != 0;
  for (const char c : target)
    if (c <= 0x20 || c >= 0x7f || c == '\\') safe = false;
  const std::string_view beforeQuery = std::string_view(target).substr(0, target.find_first_of("?#"));
  if (beforeQuery.find(':') != std::string_view::npos) safe = false;
  if (!safe) return "/time_log.php";
  return target.front() == '/' ? target : "/" + target;
}

std::string jsonNullable(const std::string& text) { return text.empty() ? "null" : jsonText(text); }

}  // namespace

std::string HttpResponse::header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (asciiLower(key) == asciiLower(name)) return value;
  return {};
}

DemoService::DemoService(ServiceConfig config)
    : startConfig_(config), config_(std::move(config)), random_(std::random_device{}()) {
  resetAll();
  config_.options.downMs = startConfig_.options.downMs;  // the start-up's own outage
}

void DemoService::resetAll() {
  config_ = startConfig_;
  config_.options.downMs = 0;
  clocks_.clear();
  for (const Account& account : config_.accounts) clocks_[account.user] = Clock{0, config_.selected};
  sessions_.clear();
  entries_.clear();
  requests_.clear();
  events_.clear();
  nextSeq_ = 1;
  nextEntry_ = 1;
}

int DemoService::answerDelayMs(const HttpRequest& request) const {
  if (request.target.rfind("/__", 0) == 0) return 0;
  std::lock_guard lock(mutex_);
  return config_.options.latencyMs;
}

int DemoService::submissionDelayMs(const HttpRequest& request) const {
  const std::string_view target = request.target;
  const size_t qmark = target.find('?');
  if (percentDecode(target.substr(0, qmark), Plus::Literal) != "/time_log.php") return 0;
  RawFields fields = splitFields(qmark == std::string_view::npos ? std::string_view{} : target.substr(qmark + 1));
  if (request.method == "POST" && isFormBody(request.contentType)) {
    const RawFields body = splitFields(request.body);
    fields.insert(fields.end(), body.begin(), body.end());
  }
  if (!findField(fields, "tid", Plus::Literal)) return 0;
  std::lock_guard lock(mutex_);
  return config_.options.submitLatencyMs;
}

HttpResponse DemoService::handle(const HttpRequest& request) {
  std::lock_guard lock(mutex_);
  const std::string_view target = request.target;
  const size_t qmark = target.find('?');
  const std::string_view rawPath = target.substr(0, qmark);
  std::string_view rawQuery = qmark == std::string_view::npos ? std::string_view{} : target.substr(qmark + 1);
  rawQuery = rawQuery.substr(0, rawQuery.find('#'));
  const std::string path = percentDecode(rawPath.substr(0, rawPath.find('#')), Plus::Literal);

  if (path.rfind("/__", 0) == 0) return control(request, path, rawQuery);

  const long seq = nextSeq_++;
  const Context ctx{request, rawQuery, useSession(request.cookie, seq), seq};
  requests_.push_back(
      LoggedRequest{ctx.seq, request.method, request.target, request.contentType, request.body, ctx.user});
  if (requests_.size() > kMaxLoggedRequests) requests_.pop_front();

  if (config_.options.dropConnections) {
    addEvent("{\"request\":" + std::to_string(ctx.seq) + ",\"kind\":\"dropped\"}");
    HttpResponse dropped;
    dropped.dropConnection = true;
    return dropped;
  }
  if (config_.options.failNext > 0) {
    --config_.options.failNext;
    addEvent("{\"request\":" + std::to_string(ctx.seq) + ",\"kind\":\"failed\"}");
    return htmlResponse(500, "Service failure", "<p>The service failed (test switch).</p>\n");
  }
  if (request.method != "GET" && request.method != "HEAD" && request.method != "POST")
    return methodNotAllowed("GET, HEAD, POST");
  if (path == "/") return redirect("/index.php");
  if (path == "/index.php") return indexPage(ctx);
  if (path == "/time_log.php") return timerPage(ctx);
  if (path == "/reports.php") return reportsPage(ctx);
  return htmlResponse(404, "Not found", "<p>No such page.</p>\n<p><a href=\"index.php\">Log in</a></p>\n");
}

std::string DemoService::useSession(const std::string& cookie, long seq) {
  const std::string_view name = kSessionCookie;
  const auto now = std::chrono::steady_clock::now();
  const auto idleLimit = std::chrono::milliseconds(config_.options.sessionIdleMs);
  size_t pos = 0;
  while (pos < cookie.size()) {
    size_t end = cookie.find(';', pos);
    if (end == std::string::npos) end = cookie.size();
    std::string_view part = std::string_view(cookie).substr(pos, end - pos);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    if (part.size() > name.size() && part.substr(0, name.size()) == name && part[name.size()] == '=') {
      const auto found = sessions_.find(std::string(part.substr(name.size() + 1)));
      if (found != sessions_.end()) {
        Session& session = found->second;
        if (!session.expired && idleLimit.count() > 0 && now - session.lastUsed > idleLimit) session.expired = true;
        if (!session.expired) {
          session.lastUsed = now;
          return session.user;
        }
        addEvent("{\"request\":" + std::to_string(seq) + ",\"kind\":\"session_expired\",\"user\":" +
                 jsonText(session.user) + ",\"time\":\"" + timestamp() + "\"}");
      }
    }
    pos = end + 1;
  }
  return {};
}

const Account* DemoService::findAccount(const std::string& user) const {
  const std::string wanted = asciiLower(user);
  for (const Account& account : config_.accounts)
    if (asciiLower(account.user) == wanted) return &account;
  return nullptr;
}

const std::string& DemoService::itemName(int id) const {
  static const std::string unknown = "?";
  for (const WorkItem& item : config_.items)
    if (item.id == id) return item.name;
  return unknown;
}

DemoService::Entry* DemoService::findEntry(int id) {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
    if (it->id == id) return &*it;
  return nullptr;
}

// Each event ends with the wall clock's microseconds, so a client's own stamps
// (e.g. of a click) can be set against the moment the service took the request.
void DemoService::addEvent(std::string json) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const long long us = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
  json.insert(json.size() - 1, ",\"at_us\":" + std::to_string(us));
  events_.push_back(std::move(json));
}

// ---- index.php: login -------------------------------------------------------

HttpResponse DemoService::indexPage(const Context& ctx) {
  const Plus clientPlus = plusIsBlank() ? Plus::Blank : Plus::Literal;
  const RawFields query = splitFields(ctx.rawQuery);
  const std::string queryUser = findField(query, "username_or_email", clientPlus).value_or("");

  if (ctx.request.method == "POST" && isFormBody(ctx.request.contentType)) {
    const RawFields body = splitFields(ctx.request.body);
    // The login form is posted by a browser, which writes a blank as "+".
    if (const auto password = findField(body, "password", Plus::Blank)) {
      const std::string user = findField(body, "username_or_email", Plus::Blank).value_or(queryUser);
      return attemptLogin(ctx, user, *password, "form");
    }
    if (const auto pw = findField(body, "pw", clientPlus)) {
      if (!config_.options.refusePostedPassword) return attemptLogin(ctx, queryUser, *pw, "pw");
      addEvent("{\"request\":" + std::to_string(ctx.seq) + ",\"kind\":\"login\",\"via\":\"pw\",\"user\":" +
               jsonBytes(queryUser) + ",\"result\":\"refused\",\"time\":\"" + timestamp() + "\"}");
    }
  }
  return loginPage(ctx.rawQuery, queryUser, false);
}

HttpResponse DemoService::attemptLogin(const Context& ctx, const std::string& user, const std::string& password,
                                       const char* via) {
  const Account* account = findAccount(user);
  const bool ok = account && account->password == password;
  addEvent("{\"request\":" + std::to_string(ctx.seq) + ",\"kind\":\"login\",\"via\":\"" + via +
           "\",\"user\":" + jsonBytes(user) + ",\"result\":\"" + (ok ? "ok" : "wrong") + "\",\"time\":\"" +
           timestamp() + "\"}");
  if (!ok) {
    // Some services answer a refusal by sending the browser back to the bare login page.
    if (config_.options.wrongPasswordRedirect) return redirect("/index.php");
    HttpResponse refused = loginPage(ctx.rawQuery, user, true);
    refused.status = config_.options.wrongPasswordStatus;
    // A login by form, not by HTTP authentication: a scheme no browser answers.
    if (refused.status == 401) refused.headers.emplace_back("WWW-Authenticate", "Form realm=\"Work log\"");
    return refused;
  }

  char token[33];
  std::snprintf(token, sizeof token, "%016llx%016llx", static_cast<unsigned long long>(random_()),
                static_cast<unsigned long long>(random_()));
  sessions_[token] = Session{account->user, std::chrono::steady_clock::now()};

  const Plus clientPlus = plusIsBlank() ? Plus::Blank : Plus::Literal;
  const std::string target = findField(splitFields(ctx.rawQuery), "goto", clientPlus).value_or("");
  HttpResponse r = redirect(gotoLocation(target));
  r.headers.emplace_back("Set-Cookie",
                         std::string(kSessionCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Lax");
  return r;
}

HttpResponse DemoService::loginPage(std::string_view rawQuery, const std::string& user, bool failed) const {
  // The form posts back to the same URL, so "goto" and the rest survive.
  std::string action = "index.php";
  if (!rawQuery.empty()) action += "?" + std::string(rawQuery);
  std::string body = "<form name=\"frmLogin\" method=\"post\" action=\"" + htmlEscape(action) + "\">\n";
  if (failed) body += "<p class=\"err\">Wrong user name or password.</p>\n";
  body +=
      "<p><input type=\"text\" name=\"username_or_email\" size=\"14\" placeholder=\"User or e-mail\" value=\"" +
      htmlEscape(user) +
      "\"></p>\n"
      "<p><input type=\"password\" name=\"password\" size=\"14\" placeholder=\"Password\"></p>\n"
      "<p><input type=\"submit\" class=\"small\" value=\"Log in\"></p>\n"
      "</form>\n";
  return htmlResponse(200, "Work log - Log in", body);
}

// ---- time_log.php: the timer -----------------------------------------------

HttpResponse DemoService::timerPage(const Context& ctx) {
  if (ctx.user.empty()) return toLoginPage("time_log.php%3Fsmallbtn%3D1");
  Clock& clock = clocks_[ctx.user];

  const Plus plus = plusIsBlank() ? Plus::Blank : Plus::Literal;
  RawFields fields = splitFields(ctx.rawQuery);
  if (ctx.request.method == "POST" && isFormBody(ctx.request.contentType)) {
    const RawFields body = splitFields(ctx.request.body);
    fields.insert(fields.end(), body.begin(), body.end());
  }
  if (const auto item = findField(fields, "item", plus)) {
    // An unknown item keeps the previous choice, as a stale page may send one.
    if (const auto id = toInt(*item); id && config_.hasItem(*id)) clock.selected = *id;
  }
  const auto tid = findField(fields, "tid", plus);
  if (tid && ctx.request.method != "HEAD" && config_.options.noContentNext > 0) {
    // Neither taken nor answered with a page, as behind a misconfigured proxy.
    --config_.options.noContentNext;
    addEvent("{\"request\":" + std::to_string(ctx.seq) + ",\"kind\":\"no_content\"}");
    HttpResponse empty;
    empty.status = 204;
    empty.headers.emplace_back("Cache-Control", "no-store");
    return empty;
  }
  if (tid && ctx.request.method != "HEAD" && toggle(ctx, clock, *tid) && config_.options.loseNext > 0) {
    // Taken, but the answer never arrives, as behind a failing proxy.
    --config_.options.loseNext;
    const bool drop = config_.options.loseByDrop;
    addEvent("{\"request\":" + std::to_string(ctx.seq) + ",\"kind\":\"answer_lost\",\"with\":\"" +
             (drop ? "drop" : "500") + "\"}");
    if (drop) {
      HttpResponse dropped;
      dropped.dropConnection = true;
      return dropped;
    }
    return htmlResponse(500, "Service failure", "<p>The service failed after saving (test switch).</p>\n");
  }
  const bool compact = findField(fields, "smallbtn", plus) == "1";
  const bool withForm = !config_.options.noStartStopForm && findField(fields, "noform", plus) != "1";

  std::string select = "<select name=\"item\">\n";
  for (const WorkItem& item : config_.items) {
    // One option a line: a reader that scans line by line sees each alone.
    select += "<option value=\"" + std::to_string(item.id) + "\"" + (item.id == clock.selected ? " selected" : "") +
              ">" + htmlEscape(item.name) + "</option>\n";
  }
  select += "</select>\n";

  const bool running = clock.runningEntry != 0;
  std::string body;
  if (withForm) {
    // Fields in this order make the browser's URL read "tid=&item=..." for a
    // start and "tid=<entry>&item=..." for a stop.
    body += "<form name=\"frmStartStop\" method=\"get\" action=\"time_log.php\">\n";
    body += "<input type=\"hidden\" name=\"tid\" value=\"" +
            (running ? std::to_string(clock.runningEntry) : std::string()) + "\">\n";
    body += select;
    if (compact) body += "<input type=\"hidden\" name=\"smallbtn\" value=\"1\">\n";
    body += "<input type=\"submit\" class=\"" + std::string(compact ? "small" : "big") + "\" value=\"" +
            (running ? "Stop" : "Start") + "\">\n</form>\n";
  } else {
    body += select + "<p>Start and stop are not available on this page.</p>\n";
  }
  if (running) {
    const Entry* entry = findEntry(clock.runningEntry);
    body += "<p>Running since " + htmlEscape(entry ? entry->started.substr(11, 5) : "?") + " on " +
            htmlEscape(itemName(entry ? entry->item : 0)) + ".</p>\n";
  } else {
    body += "<p>Stopped.</p>\n";
  }
  body +=
      "<p><a href=\"reports.php\">Reports</a> | <a href=\"https://www.example.com/\">Web</a> | "
      "<a href=\"mailto:support@example.com\">Mail</a></p>\n";
  body += config_.timerPageHtml;
  return htmlResponse(200, running ? "Work log - Working" : "Work log - Timer", body);
}

bool DemoService::toggle(const Context& ctx, Clock& clock, const std::string& tid) {
  // A toggle acts only when the tid fits the clock, so reloading the URL of
  // a start or a stop changes nothing.
  if (tid.empty()) {
    if (clock.runningEntry != 0) return false;
    Entry entry{nextEntry_++, ctx.user, clock.selected, timestamp(), {}};
    clock.runningEntry = entry.id;
    addEvent("{\"request\":" + std::to_string(ctx.seq) + ",\"kind\":\"start\",\"user\":" + jsonText(ctx.user) +
             ",\"entry\":" + std::to_string(entry.id) + ",\"item\":" + std::to_string(entry.item) +
             ",\"item_name\":" + jsonText(itemName(entry.item)) + ",\"time\":\"" + entry.started + "\"}");
    entries_.push_back(std::move(entry));
    return true;
  }
  if (clock.runningEntry == 0 || tid != std::to_string(clock.runningEntry)) return false;
  Entry* entry = findEntry(clock.runningEntry);
  clock.runningEntry = 0;
  if (!entry) return true;
  entry->stopped = timestamp();
  addEvent("{\"request\":" + std::to_string(ctx.seq) + ",\"kind\":\"stop\",\"user\":" + jsonText(ctx.user) +
           ",\"entry\":" + std::to_string(entry->id) + ",\"item\":" + std::to_string(entry->item) +
           ",\"item_name\":" + jsonText(itemName(entry->item)) + ",\"time\":\"" + entry->stopped + "\"}");
  return true;
}

// ---- reports.php -------------------------------------------------------------

HttpResponse DemoService::toLoginPage(const char* page) const {
  // Like most services, to the bare login page; or, like others, to one that
  // names the page to come back to.
  if (config_.options.expiredRedirectQuery) return redirect(std::string("/index.php?goto=") + page);
  return redirect("/index.php");
}

HttpResponse DemoService::reportsPage(const Context& ctx) {
  if (ctx.user.empty()) return toLoginPage("reports.php");
  std::string body = "<p><b>Time log of " + htmlEscape(ctx.user) + "</b></p>\n<table>\n";
  body += "<tr><th>#</th><th>Item</th><th>Start</th><th>Stop</th></tr>\n";
  for (const Entry& entry : entries_) {
    if (entry.user != ctx.user) continue;
    body += "<tr><td>" + std::to_string(entry.id) + "</td><td>" + htmlEscape(itemName(entry.item)) + "</td><td>" +
            entry.started + "</td><td>" + (entry.stopped.empty() ? "running" : entry.stopped) + "</td></tr>\n";
  }
  body += "</table>\n<p><a href=\"time_log.php\">Timer</a></p>\n";
  return htmlResponse(200, "Work log - Reports", body);
}

// ---- test endpoints ----------------------------------------------------------

HttpResponse DemoService::control(const HttpRequest& request, const std::string& path, std::string_view rawQuery) {
  const bool get = request.method == "GET" || request.method == "HEAD";
  const bool post = request.method == "POST";
  if (path == "/__status") {
    if (!get) return jsonError(405, "use GET");
    return jsonResponse(200, statusJsonLocked());
  }
  if (path == "/__reset") {
    if (!post) return jsonError(405, "use POST");
    const std::string what = findField(splitFields(rawQuery), "what", Plus::Literal).value_or("all");
    if (what == "all") {
      resetAll();
    } else if (what == "log") {
      requests_.clear();
      events_.clear();
    } else {
      return jsonError(400, "what: expected 'all' or 'log'");
    }
    return jsonResponse(200, "{\"reset\":" + jsonText(what) + "}");
  }
  if (path == "/__config") {
    if (post) return configChange(request, rawQuery);
    if (!get) return jsonError(405, "use GET or POST");
    return jsonResponse(200, optionsJson());
  }
  return jsonError(404, "no such test endpoint");
}

HttpResponse DemoService::configChange(const HttpRequest& request, std::string_view rawQuery) {
  RawFields fields = splitFields(rawQuery);
  if (isFormBody(request.contentType)) {
    const RawFields body = splitFields(request.body);
    fields.insert(fields.end(), body.begin(), body.end());
  }
  // All or nothing: a bad key leaves every option as it was.
  RuntimeOptions options = config_.options;
  std::optional<int> selected;
  bool expire = false;
  try {
    for (const auto& [rawKey, rawValue] : fields) {
      const std::string key = percentDecode(rawKey, Plus::Blank);
      const std::string value = percentDecode(rawValue, Plus::Blank);
      if (key == "selected") {
        selected = parseNumber(value, 1, 1000000, "selected");
        if (!config_.hasItem(*selected)) throw UsageError("selected: there is no item " + value);
      } else if (key == "expire_sessions") {
        expire = parseFlag(value, key);
      } else {
        setRuntimeOption(options, key, value);
      }
    }
  } catch (const UsageError& e) {
    return jsonError(400, e.what());
  }
  config_.options = options;
  if (expire)
    for (auto& [token, session] : sessions_) session.expired = true;
  if (selected)
    for (auto& [user, clock] : clocks_) clock.selected = *selected;
  return jsonResponse(200, optionsJson());
}

std::string DemoService::optionsJson() const {
  const RuntimeOptions& o = config_.options;
  const auto flag = [](bool b) { return b ? "true" : "false"; };
  return std::string("{\"refuse_posted_password\":") + flag(o.refusePostedPassword) +
         ",\"latency_ms\":" + std::to_string(o.latencyMs) + ",\"noform\":" + flag(o.noStartStopForm) +
         ",\"plus_as_blank\":" + flag(o.plusAsBlank) + ",\"fail_next\":" + std::to_string(o.failNext) +
         ",\"drop_connections\":" + flag(o.dropConnections) + ",\"session_idle_ms\":" +
         std::to_string(o.sessionIdleMs) + ",\"wrong_password_status\":" + std::to_string(o.wrongPasswordStatus) +
         ",\"lose_next\":" + std::to_string(o.loseNext) + ",\"lose_with\":\"" + (o.loseByDrop ? "drop" : "500") +
         "\",\"wrong_password_redirect\":" + flag(o.wrongPasswordRedirect) +
         ",\"expired_redirect_query\":" + flag(o.expiredRedirectQuery) +
         ",\"submit_latency_ms\":" + std::to_string(o.submitLatencyMs) +
         ",\"no_content_next\":" + std::to_string(o.noContentNext) + "}";
}

int DemoService::takeDownRequest() {
  std::lock_guard lock(mutex_);
  return std::exchange(config_.options.downMs, 0);
}

std::string DemoService::statusJson() const {
  std::lock_guard lock(mutex_);
  return statusJsonLocked();
}

std::string DemoService::statusJsonLocked() const {
  bool anyRunning = false;
  std::string clocks;
  for (const auto& [user, clock] : clocks_) {
    const bool running = clock.runningEntry != 0;
    anyRunning = anyRunning || running;
    std::string since;
    if (running)
      for (const Entry& entry : entries_)
        if (entry.id == clock.runningEntry) since = entry.started;
    if (!clocks.empty()) clocks += ',';
    clocks += jsonText(user) + ":{\"running\":" + (running ? "true" : "false") +
              ",\"entry\":" + (running ? std::to_string(clock.runningEntry) : "null") +
              ",\"selected\":" + std::to_string(clock.selected) +
              ",\"selected_name\":" + jsonText(itemName(clock.selected)) + ",\"since\":" + jsonNullable(since) + "}";
  }
  std::string requests;
  for (const LoggedRequest& r : requests_) {
    if (!requests.empty()) requests += ",\n";
    requests += "{\"seq\":" + std::to_string(r.seq) + ",\"method\":" + jsonBytes(r.method) +
                ",\"target\":" + jsonBytes(r.target) + ",\"content_type\":" + jsonBytes(r.contentType) +
                ",\"body\":" + jsonBytes(r.body) + ",\"user\":" + jsonNullable(r.user) + "}";
  }
  std::string events;
  for (const std::string& e : events_) {
    if (!events.empty()) events += ",\n";
    events += e;
  }
  return std::string("{\"running\":") + (anyRunning ? "true" : "false") + ",\n\"clocks\":{" + clocks +
         "},\n\"options\":" + optionsJson() + ",\n\"events\":[" + events + "],\n\"requests\":[" + requests + "]}";
}

}  // namespace chronel::demo

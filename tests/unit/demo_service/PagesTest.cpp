// The page conventions the client relies on, driven through the service's
// request handling without sockets.
#include "tools/demo-service/DemoService.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <regex>
#include <thread>

using namespace chronel::demo;

namespace {

const char* const kForm = "application/x-www-form-urlencoded";
const char* const kLoginUrl = "/index.php?mobile=1&username_or_email=demo&goto=time_log.php%3fsmallbtn=1";

// The item a reader of the page takes: the client's pattern, first match,
// with the references the client decodes.
std::string selectedItemAsRead(const std::string& html) {
  static const std::regex pattern(R"(<\s*?option .*?(selected)[^>]*?>([^<]+)</option>)", std::regex::icase);
  std::smatch m;
  if (!std::regex_search(html, m, pattern)) return "<none>";
  std::string text = m[2];
  for (const auto& [ref, ch] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}})
    for (size_t pos; (pos = text.find(ref)) != std::string::npos;) text.replace(pos, std::string(ref).size(), ch);
  return text;
}

// The URL a browser builds when it submits the GET form frmStartStop.
std::string startStopUrl(const std::string& html) {
  const size_t begin = html.find("<form name=\"frmStartStop\" method=\"get\" action=\"time_log.php\">");
  const size_t end = html.find("</form>", begin);
  if (begin == std::string::npos || end == std::string::npos) return "<no form>";
  const std::string form = html.substr(begin, end - begin);
  static const std::regex control(
      R"re(<input type="hidden" name="(\w+)" value="([^"]*)">|<select name="(\w+)">|<option value="(\d+)" selected>)re");
  std::string query;
  for (std::sregex_iterator it(form.begin(), form.end(), control), stop; it != stop; ++it) {
    const std::smatch& m = *it;
    if (m[1].matched) query += (query.empty() ? "" : "&") + m[1].str() + "=" + m[2].str();
    if (m[3].matched) query += (query.empty() ? "" : "&") + m[3].str() + "=";
    if (m[4].matched) query += m[4].str();
  }
  return "/time_log.php?" + query;
}

class DemoPages : public testing::Test {
 protected:
  explicit DemoPages(ServiceConfig config = ServiceConfig::builtIn()) : service(std::move(config)) {}

  HttpResponse get(const std::string& target, const std::string& cookie = {}) {
    return service.handle(HttpRequest{"GET", target, "", cookie, ""});
  }
  HttpResponse post(const std::string& target, const std::string& body, const std::string& cookie = {},
                    const std::string& contentType = kForm) {
    return service.handle(HttpRequest{"POST", target, contentType, cookie, body});
  }
  static std::string cookieOf(const HttpResponse& r) {
    const std::string set = r.header("Set-Cookie");
    return set.substr(0, set.find(';'));
  }
  std::string login() {
    const HttpResponse r = post(kLoginUrl, "pw=demo");
    EXPECT_EQ(r.status, 302);
    return cookieOf(r);
  }
  const QJsonObject status() { return QJsonDocument::fromJson(QByteArray::fromStdString(service.statusJson())).object(); }
  bool running() { return status()["clocks"].toObject()["demo"].toObject()["running"].toBool(); }

  DemoService service;
};

bool isLoginPage(const HttpResponse& r) {
  return r.status == 200 && r.body.find("<form name=\"frmLogin\"") != std::string::npos &&
         r.body.find("name=\"password\"") != std::string::npos;
}

}  // namespace

TEST_F(DemoPages, PostedPasswordLogsInAndRedirectsToGoto) {
  const HttpResponse r = post(kLoginUrl, "pw=demo");
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.header("Location"), "/time_log.php?smallbtn=1");
  const std::string cookie = cookieOf(r);
  EXPECT_EQ(cookie.rfind("WLSESSID=", 0), 0u);
  EXPECT_EQ(get("/time_log.php?smallbtn=1", cookie).status, 200);
  EXPECT_EQ(get("/reports.php", cookie).status, 200);
  EXPECT_EQ(get("/time_log.php?smallbtn=1", "other=1; WLSESSID=forged").status, 302);
}

TEST_F(DemoPages, FailedPostShowsTheLoginPageAgain) {
  EXPECT_TRUE(isLoginPage(post(kLoginUrl, "pw=wrong")));
  EXPECT_TRUE(isLoginPage(post(kLoginUrl, "pw=")));
  EXPECT_TRUE(isLoginPage(post(kLoginUrl, "")));
  EXPECT_TRUE(isLoginPage(get(kLoginUrl)));
  EXPECT_TRUE(isLoginPage(post(kLoginUrl, "pw=demo", "", "text/plain")));  // not a form post
  EXPECT_TRUE(isLoginPage(post("/index.php?mobile=1&username_or_email=nobody&goto=x", "pw=demo")));
  for (const QJsonValue& e : status()["events"].toArray()) EXPECT_NE(e["result"].toString(), "ok");
  EXPECT_EQ(get("/time_log.php?smallbtn=1").header("Location"), "/index.php");
}

TEST_F(DemoPages, LoginFormKeepsTheQueryAndLogsIn) {
  const HttpResponse page = get(kLoginUrl);
  EXPECT_NE(page.body.find("action=\"index.php?mobile=1&amp;username_or_email=demo&amp;goto=time_log.php%3fsmallbtn=1\""),
            std::string::npos);
  EXPECT_NE(page.body.find("value=\"demo\""), std::string::npos);
  // What the browser sends when a script fills in the password and submits.
  const HttpResponse r = post(kLoginUrl, "username_or_email=demo&password=demo");
  EXPECT_EQ(r.header("Location"), "/time_log.php?smallbtn=1");
  EXPECT_EQ(get("/time_log.php?smallbtn=1", cookieOf(r)).status, 200);
  EXPECT_TRUE(isLoginPage(post(kLoginUrl, "username_or_email=demo&password=nope")));
}

TEST_F(DemoPages, GotoStaysOnThisService) {
  EXPECT_EQ(post("/index.php?username_or_email=demo&goto=https://evil.example/", "pw=demo").header("Location"),
            "/time_log.php");
  EXPECT_EQ(post("/index.php?username_or_email=demo&goto=a%0d%0aX:1", "pw=demo").header("Location"), "/time_log.php");
  EXPECT_EQ(post("/index.php?username_or_email=demo&goto=reports.php", "pw=demo").header("Location"), "/reports.php");
}

class DemoPagesOwnAccount : public DemoPages {
 protected:
  static ServiceConfig config() {
    ServiceConfig c = ServiceConfig::builtIn();
    c.accounts = {{"ann+smith@example.com", "p a+ss%<\xc3\xa9&x"}};
    return c;
  }
  DemoPagesOwnAccount() : DemoPages(config()) {}
};

TEST_F(DemoPagesOwnAccount, CredentialsDecodeAsEachSenderEncodes) {
  // The client writes %XX for a blank, "%", "<", ">" and high bytes and
  // leaves "+" as it is; a form body still ends a value at "&".
  const std::string url = "/index.php?mobile=1&username_or_email=ANN+smith@example.com&goto=time_log.php%3fsmallbtn=1";
  EXPECT_TRUE(isLoginPage(post(url, "pw=p%20a+ss%25%3C%C3%A9&x")));
  EXPECT_EQ(post(url, "pw=p%20a+ss%25%3C%C3%A9%26x").status, 302);  // user name case is ignored
  // A browser's form writes a blank as "+" and a "+" as %2B.
  EXPECT_EQ(post(url, "username_or_email=ann%2Bsmith%40example.com&password=p+a%2Bss%25%3C%C3%A9%26x").status, 302);
  EXPECT_TRUE(isLoginPage(post(url, "username_or_email=ann+smith%40example.com&password=p+a%2Bss%25%3C%C3%A9%26x")));
  // A service on a stock form decoder reads every "+" as a blank.
  EXPECT_EQ(post("/__config", "plus_as_blank=1").status, 200);
  const std::string plainUrl = "/index.php?username_or_email=ann%2Bsmith@example.com&goto=time_log.php";
  EXPECT_TRUE(isLoginPage(post(plainUrl, "pw=p%20a+ss%25%3C%C3%A9%26x")));
  EXPECT_EQ(post(plainUrl, "pw=p+a%2Bss%25%3C%C3%A9%26x").status, 302);
}

TEST_F(DemoPages, RefusedPostLeavesOnlyTheLoginForm) {
  EXPECT_EQ(post("/__config", "refuse_posted_password=1").status, 200);
  EXPECT_TRUE(isLoginPage(post(kLoginUrl, "pw=demo")));
  EXPECT_EQ(post(kLoginUrl, "username_or_email=demo&password=demo").status, 302);
  const QJsonArray events = status()["events"].toArray();
  ASSERT_EQ(events.size(), 2);
  EXPECT_EQ(events[0]["result"].toString(), "refused");
  EXPECT_EQ(events[1]["via"].toString(), "form");
  EXPECT_EQ(events[1]["result"].toString(), "ok");
}

TEST_F(DemoPages, StartAndStopThroughTheForm) {
  const std::string cookie = login();
  EXPECT_EQ(get("/time_log.php?tid=&smallbtn=1").status, 302);  // no session: nothing starts
  EXPECT_FALSE(running());

  HttpResponse page = get("/time_log.php?smallbtn=1", cookie);
  EXPECT_NE(page.body.find("value=\"Start\""), std::string::npos);
  const std::string startUrl = startStopUrl(page.body);
  EXPECT_EQ(startUrl, "/time_log.php?tid=&item=3&smallbtn=1");
  page = get(startUrl, cookie);
  EXPECT_TRUE(running());
  EXPECT_NE(page.body.find("value=\"Stop\""), std::string::npos);
  EXPECT_EQ(get(startUrl, cookie).status, 200);  // a reload does not start twice

  const std::string stopUrl = startStopUrl(page.body);
  EXPECT_EQ(stopUrl, "/time_log.php?tid=1&item=3&smallbtn=1");
  EXPECT_EQ(get("/time_log.php?tid=99&smallbtn=1", cookie).status, 200);  // not the running entry
  EXPECT_TRUE(running());
  page = get(stopUrl, cookie);
  EXPECT_FALSE(running());
  get(stopUrl, cookie);
  EXPECT_EQ(startStopUrl(page.body), startUrl);

  // Choosing another item in the drop-down starts the clock for it.
  get("/time_log.php?tid=&item=5&smallbtn=1", cookie);
  get("/time_log.php?tid=2&item=5&smallbtn=1", cookie);
  const QJsonArray events = status()["events"].toArray();
  ASSERT_EQ(events.size(), 5);  // login, start, stop, start, stop
  EXPECT_EQ(events[1]["kind"].toString(), "start");
  EXPECT_EQ(events[1]["item_name"].toString(), "Website redesign");
  EXPECT_EQ(events[2]["kind"].toString(), "stop");
  EXPECT_EQ(events[3]["item_name"].toString(), QString::fromUtf8("Caf\xc3\xa9 M\xc3\xb8ller"));
  EXPECT_EQ(events[4]["entry"].toInt(), 2);
  EXPECT_FALSE(events[4]["time"].toString().isEmpty());

  // Each event line ends with its wall-clock stamp, in the order recorded;
  // line-wise greps for the other fields still match.
  qint64 previous = 0;
  for (const QJsonValue& e : events) {
    EXPECT_GE(e["at_us"].toInteger(), previous);
    previous = e["at_us"].toInteger();
  }
  EXPECT_GT(previous, 0);
  const std::string text = service.statusJson();
  static const std::regex stopLine(R"(\{"request":\d+,"kind":"stop",.*"time":"[^"]+","at_us":\d+\}\]?,?)");
  size_t stopLines = 0;
  for (size_t pos = 0, end; pos < text.size(); pos = end + 1) {
    end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    if (line.find("\"kind\":\"stop\"") != std::string::npos) {
      ++stopLines;
      EXPECT_TRUE(std::regex_match(line, stopLine)) << line;
    }
  }
  EXPECT_EQ(stopLines, 2u);
}

TEST_F(DemoPages, PostedStartStopFormAndHeadRequests) {
  const std::string cookie = login();
  service.handle(HttpRequest{"HEAD", "/time_log.php?tid=&smallbtn=1", "", cookie, ""});
  EXPECT_FALSE(running());
  post("/time_log.php", "tid=&smallbtn=1", cookie);
  EXPECT_TRUE(running());
}

TEST_F(DemoPages, SelectedItemReadsBackExactly) {
  const std::string cookie = login();
  const ServiceConfig c = ServiceConfig::builtIn();
  for (const WorkItem& item : c.items) {
    const HttpResponse page = get("/time_log.php?item=" + std::to_string(item.id) + "&smallbtn=1", cookie);
    EXPECT_EQ(selectedItemAsRead(page.body), item.name);
    EXPECT_NE(page.body.find("<option value=\"" + std::to_string(item.id) + "\" selected>"), std::string::npos);
  }
  const std::string page = get("/time_log.php?item=3", cookie).body;
  EXPECT_NE(page.find("<option value=\"1\">Fish &amp; Chips</option>"), std::string::npos);
  EXPECT_NE(page.find("<option value=\"2\">Bugs &lt;critical&gt;</option>"), std::string::npos);
  EXPECT_NE(page.find("<option value=\"4\">&quot;Quoted&quot; work</option>"), std::string::npos);
  EXPECT_NE(page.find("<option value=\"5\">Caf\xc3\xa9 M\xc3\xb8ller</option>"), std::string::npos);
  EXPECT_EQ(page.find(" selected>"), page.rfind(" selected>"));  // one entry only
  EXPECT_NE(page.find("<a href=\"reports.php\">"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"https://www.example.com/\">"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"mailto:"), std::string::npos);
}

TEST_F(DemoPages, PagesWithoutTheStartStopForm) {
  const std::string cookie = login();
  std::string page = get("/time_log.php?noform=1&smallbtn=1", cookie).body;
  EXPECT_EQ(page.find("frmStartStop"), std::string::npos);
  EXPECT_EQ(selectedItemAsRead(page), "Website redesign");
  EXPECT_NE(get("/time_log.php?smallbtn=1", cookie).body.find("frmStartStop"), std::string::npos);
  post("/__config", "noform=1");
  EXPECT_EQ(get("/time_log.php?smallbtn=1", cookie).body.find("frmStartStop"), std::string::npos);
}

TEST_F(DemoPages, StatusRecordsRequestBytesExactly) {
  const std::string body = std::string("pw=a\"b\\c\x01\n\xe9\x00+%20", 16);
  post(kLoginUrl, body, "", "application/x-www-form-urlencoded; charset=UTF-8");
  get("/__status");  // the test endpoints are not recorded
  post("/__config", "latency_ms=0");
  const QJsonArray requests = status()["requests"].toArray();
  ASSERT_EQ(requests.size(), 1);
  const QJsonObject r = requests[0].toObject();
  EXPECT_EQ(r["method"].toString(), "POST");
  EXPECT_EQ(r["target"].toString().toStdString(), kLoginUrl);
  EXPECT_EQ(r["content_type"].toString(), "application/x-www-form-urlencoded; charset=UTF-8");
  EXPECT_EQ(r["body"].toString().toLatin1().toStdString(), body);
  EXPECT_TRUE(r["user"].isNull());
}

TEST_F(DemoPages, ConfigChangesAreAllOrNothingAndResetRestores) {
  const std::string cookie = login();
  get("/time_log.php?tid=&smallbtn=1", cookie);
  EXPECT_EQ(post("/__config", "noform=1&latency_ms=lots").status, 400);
  EXPECT_EQ(post("/__config?colour=red", "").status, 400);
  EXPECT_EQ(post("/__config?selected=9", "").status, 400);
  EXPECT_FALSE(status()["options"]["noform"].toBool());
  EXPECT_EQ(post("/__config?latency_ms=40&selected=2", "").status, 200);
  EXPECT_EQ(service.answerDelayMs(HttpRequest{"GET", "/index.php", "", "", ""}), 40);
  EXPECT_EQ(service.answerDelayMs(HttpRequest{"GET", "/__status", "", "", ""}), 0);
  EXPECT_EQ(status()["clocks"]["demo"]["selected"].toInt(), 2);

  EXPECT_EQ(post("/__reset?what=log", "").status, 200);
  EXPECT_TRUE(status()["requests"].toArray().isEmpty());
  EXPECT_TRUE(running());
  EXPECT_EQ(post("/__reset?what=everything", "").status, 400);
  EXPECT_EQ(get("/__reset").status, 405);
  EXPECT_EQ(post("/__reset", "").status, 200);
  EXPECT_FALSE(running());
  EXPECT_EQ(status()["options"]["latency_ms"].toInt(), 0);
  EXPECT_EQ(get("/time_log.php", cookie).status, 302);  // sessions are gone too
}

TEST_F(DemoPages, UnknownPagesAndMethods) {
  EXPECT_EQ(get("/").header("Location"), "/index.php");
  EXPECT_EQ(get("/nothing.php").status, 404);
  EXPECT_EQ(get("/__nothing").status, 404);
  EXPECT_EQ(service.handle(HttpRequest{"DELETE", "/index.php", "", "", ""}).status, 405);
  EXPECT_TRUE(isLoginPage(get("/index.php?%zz=%&&=&goto")));
}

TEST_F(DemoPages, SessionsExpireAtOnceOrWhenIdle) {
  std::string cookie = login();
  get("/time_log.php?tid=&smallbtn=1", cookie);
  ASSERT_TRUE(running());
  EXPECT_EQ(post("/__config?expire_sessions=maybe", "").status, 400);
  EXPECT_EQ(get("/time_log.php?smallbtn=1", cookie).status, 200);
  EXPECT_EQ(post("/__config?expire_sessions=1", "").status, 200);
  // A stop with the forgotten session gets the bare login page and stops nothing.
  const HttpResponse stop = get("/time_log.php?tid=1&item=3&smallbtn=1", cookie);
  EXPECT_EQ(stop.status, 302);
  EXPECT_EQ(stop.header("Location"), "/index.php");
  EXPECT_TRUE(running());
  QJsonArray events = status()["events"].toArray();
  ASSERT_FALSE(events.isEmpty());
  EXPECT_EQ(events.last()["kind"].toString(), "session_expired");
  EXPECT_EQ(events.last()["user"].toString(), "demo");
  EXPECT_EQ(events.last()["request"].toInt(), status()["requests"].toArray().last()["seq"].toInt());
  EXPECT_TRUE(status()["requests"].toArray().last()["user"].isNull());

  // Idle time-out: use keeps a session alive; a later, shorter limit counts from the last use.
  cookie = login();
  EXPECT_EQ(post("/__config?session_idle_ms=60000", "").status, 200);
  EXPECT_EQ(get("/time_log.php", cookie).status, 200);
  EXPECT_EQ(get("/reports.php", cookie).status, 200);
  EXPECT_EQ(post("/__config?session_idle_ms=1", "").status, 200);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(get("/time_log.php", cookie).status, 302);
  EXPECT_EQ(post("/__config?session_idle_ms=0", "").status, 200);
  EXPECT_EQ(get("/time_log.php", cookie).status, 302);  // forgotten stays forgotten
  EXPECT_EQ(get("/time_log.php", login()).status, 200);
  EXPECT_EQ(post("/__config?session_idle_ms=86400001", "").status, 400);
}

TEST_F(DemoPages, LostAnswersComeAfterTheClockChanged) {
  const std::string cookie = login();
  EXPECT_EQ(post("/__config?lose_with=never", "").status, 400);
  EXPECT_EQ(post("/__config?lose_next=2", "").status, 200);
  // Only a submission that changes the clock uses one up.
  EXPECT_EQ(get("/time_log.php?smallbtn=1", cookie).status, 200);
  EXPECT_EQ(get("/time_log.php?tid=7&smallbtn=1", cookie).status, 200);
  const HttpResponse start = get("/time_log.php?tid=&item=3&smallbtn=1", cookie);
  EXPECT_EQ(start.status, 500);
  EXPECT_FALSE(start.dropConnection);
  EXPECT_TRUE(running());
  EXPECT_EQ(get("/time_log.php?tid=&item=3&smallbtn=1", cookie).status, 200);  // the reload changes nothing

  EXPECT_EQ(post("/__config?lose_with=drop", "").status, 200);
  EXPECT_TRUE(get("/time_log.php?tid=1&item=3&smallbtn=1", cookie).dropConnection);
  EXPECT_FALSE(running());
  EXPECT_EQ(get("/time_log.php?tid=&item=3&smallbtn=1", cookie).status, 200);
  EXPECT_TRUE(running());

  const QJsonObject s = status();
  EXPECT_EQ(s["options"]["lose_next"].toInt(), 0);
  EXPECT_EQ(s["options"]["lose_with"].toString(), "drop");
  QStringList kinds;
  for (const QJsonValue& e : s["events"].toArray()) kinds << e["kind"].toString() + ":" + e["with"].toString();
  EXPECT_EQ(kinds.join(' '), "login: start: answer_lost:500 stop: answer_lost:drop start:");
}

TEST_F(DemoPages, WrongPasswordsAnsweredWithTheRefusalStatus) {
  EXPECT_EQ(post("/__config?wrong_password_status=404", "").status, 400);
  for (const int refusal : {403, 401}) {
    EXPECT_EQ(post("/__config?wrong_password_status=" + std::to_string(refusal), "").status, 200);
    for (const HttpResponse& r : {post(kLoginUrl, "pw=wrong"), post(kLoginUrl, "username_or_email=demo&password=x"),
                                  post("/index.php?username_or_email=nobody", "pw=demo")}) {
      EXPECT_EQ(r.status, refusal);
      EXPECT_NE(r.body.find("<form name=\"frmLogin\""), std::string::npos);
      EXPECT_EQ(r.header("WWW-Authenticate").empty(), refusal == 403);
    }
    EXPECT_TRUE(isLoginPage(get(kLoginUrl)));  // only a refusal gets the status
    EXPECT_EQ(post(kLoginUrl, "pw=demo").status, 302);
  }
  // Ignoring the posted password is not a refusal of it.
  post("/__config?refuse_posted_password=1", "");
  EXPECT_TRUE(isLoginPage(post(kLoginUrl, "pw=demo")));
  EXPECT_EQ(status()["options"]["wrong_password_status"].toInt(), 401);
}

// Answers some services give where others show a page: a refusal or an
// expiry by redirect, a submission answered with no content, a slow submission.
TEST_F(DemoPages, RedirectsNoContentAndSlowSubmissions) {
  EXPECT_EQ(post("/__config?wrong_password_redirect=1", "").status, 200);
  for (const HttpResponse& r : {post(kLoginUrl, "pw=wrong"), post(kLoginUrl, "username_or_email=demo&password=x")}) {
    EXPECT_EQ(r.status, 302);
    EXPECT_EQ(r.header("Location"), "/index.php");
    EXPECT_TRUE(r.header("Set-Cookie").empty());
  }
  std::string cookie = login();

  EXPECT_EQ(post("/__config?expired_redirect_query=1&expire_sessions=1", "").status, 200);
  const HttpResponse expired = get("/time_log.php?tid=&item=3&smallbtn=1", cookie);
  EXPECT_EQ(expired.status, 302);
  EXPECT_EQ(expired.header("Location"), "/index.php?goto=time_log.php%3Fsmallbtn%3D1");
  EXPECT_EQ(get("/reports.php").header("Location"), "/index.php?goto=reports.php");
  EXPECT_FALSE(running());
  // The redirect's target is the login page, and logging in there leads back to the timer.
  EXPECT_TRUE(isLoginPage(get(expired.header("Location"))));
  const HttpResponse again = post(expired.header("Location") + "&username_or_email=demo", "pw=demo");
  EXPECT_EQ(again.header("Location"), "/time_log.php?smallbtn=1");
  cookie = cookieOf(again);

  EXPECT_EQ(post("/__config?no_content_next=x", "").status, 400);
  EXPECT_EQ(post("/__config?no_content_next=1", "").status, 200);
  EXPECT_EQ(get("/time_log.php?smallbtn=1", cookie).status, 200);  // only a submission uses it up
  const HttpResponse empty = get("/time_log.php?tid=&item=3&smallbtn=1", cookie);
  EXPECT_EQ(empty.status, 204);
  EXPECT_TRUE(empty.body.empty());
  EXPECT_FALSE(running());
  EXPECT_EQ(get("/time_log.php?tid=&item=3&smallbtn=1", cookie).status, 200);
  EXPECT_TRUE(running());

  EXPECT_EQ(post("/__config?submit_latency_ms=60001", "").status, 400);
  EXPECT_EQ(post("/__config?submit_latency_ms=3000", "").status, 200);
  EXPECT_EQ(service.submissionDelayMs(HttpRequest{"GET", "/time_log.php?tid=1&item=3", "", cookie, ""}), 3000);
  EXPECT_EQ(service.submissionDelayMs(HttpRequest{"POST", "/time_log.php", kForm, cookie, "tid=1"}), 3000);
  EXPECT_EQ(service.submissionDelayMs(HttpRequest{"GET", "/time_log.php?smallbtn=1", "", cookie, ""}), 0);
  EXPECT_EQ(service.submissionDelayMs(HttpRequest{"POST", kLoginUrl, kForm, "", "pw=demo"}), 0);
  EXPECT_EQ(service.answerDelayMs(HttpRequest{"GET", "/time_log.php?tid=1", "", cookie, ""}), 0);

  const QJsonObject s = status();
  EXPECT_EQ(s["options"]["no_content_next"].toInt(), 0);
  EXPECT_EQ(s["options"]["submit_latency_ms"].toInt(), 3000);
  EXPECT_TRUE(s["options"]["wrong_password_redirect"].toBool());
  EXPECT_TRUE(s["options"]["expired_redirect_query"].toBool());
  QStringList kinds;
  for (const QJsonValue& e : s["events"].toArray()) kinds << e["kind"].toString() + ":" + e["result"].toString();
  EXPECT_EQ(kinds.join(' '), "login:wrong login:wrong login:ok session_expired: login:ok no_content: start:");
}

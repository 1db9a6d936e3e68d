// The real program: port announcement, a login and a toggle over HTTP,
// termination by signal, and bad options.
#include <httplib.h>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    args.insert(args.begin(), DEMO_SERVICE_BINARY);
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, DEMO_SERVICE_BINARY, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Program() {
    if (pid_ > 0 && exitCode_ == kRunning) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }

  // A line of stdout; empty at end of output or when none comes in time.
  std::string readLine() {
    std::string line;
    char c;
    while (poll(std::vector<pollfd>{{out_, POLLIN, 0}}.data(), 1, 10000) > 0 && read(out_, &c, 1) == 1) {
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }
  std::string readErr() {
    std::string text;
    char buf[512];
    for (ssize_t n; (n = read(err_, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    return text;
  }
  // The exit code; -1 for a death by signal, and the program is killed when
  // it has not ended after a generous wait.
  int waitExit() {
    for (int i = 0; i < 500 && exitCode_ == kRunning; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_)
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return exitCode_;
  }
  pid_t pid() const { return pid_; }

 private:
  static constexpr int kRunning = -1000;
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  int exitCode_ = kRunning;
};

int portOf(const std::string& line) { return line.rfind("PORT ", 0) == 0 ? std::stoi(line.substr(5)) : -1; }

}  // namespace

TEST(DemoProgram, LoginAndToggleOverHttpThenSigterm) {
  Program program({"--port", "0"});
  ASSERT_GT(program.pid(), 0);
  const int port = portOf(program.readLine());
  ASSERT_GT(port, 0);

  httplib::Client client("127.0.0.1", port);
  client.set_url_encode(false);  // send targets exactly as written
  const auto login = client.Post("/index.php?mobile=1&username_or_email=demo&goto=time_log.php%3fsmallbtn=1",
                                 "pw=demo", "application/x-www-form-urlencoded");
  ASSERT_TRUE(login);
  EXPECT_EQ(login->status, 302);
  EXPECT_EQ(login->get_header_value("Location"), "/time_log.php?smallbtn=1");
  const std::string setCookie = login->get_header_value("Set-Cookie");
  const httplib::Headers cookie{{"Cookie", setCookie.substr(0, setCookie.find(';'))}};

  const auto timer = client.Get("/time_log.php?smallbtn=1", cookie);
  ASSERT_TRUE(timer);
  EXPECT_NE(timer->body.find("name=\"frmStartStop\""), std::string::npos);
  EXPECT_EQ(timer->get_header_value("Content-Type"), "text/html; charset=utf-8");
  ASSERT_TRUE(client.Get("/time_log.php?tid=&item=3&smallbtn=1", cookie));

  const auto status = client.Get("/__status");
  ASSERT_TRUE(status);
  const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(status->body)).object();
  EXPECT_TRUE(json["running"].toBool());
  EXPECT_EQ(json["requests"].toArray().size(), 3);

  // The client keeps its connection open; the program ends all the same.
  kill(program.pid(), SIGTERM);
  EXPECT_EQ(program.waitExit(), 0);
}

TEST(DemoProgram, TlsSelfSignedServesHttpsWithACertificateNobodyTrusts) {
  Program program({"--port", "0", "--tls-self-signed"});
  const int port = portOf(program.readLine());
  ASSERT_GT(port, 0);

  // Verified as a browser does: refused, and no request reaches the service.
  httplib::SSLClient verifying("127.0.0.1", port);
  verifying.enable_server_certificate_verification(true);
  EXPECT_FALSE(verifying.Get("/__status"));
  EXPECT_EQ(verifying.get_openssl_verify_result(), X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT);

  // Taken as it is, it is the same service.
  httplib::SSLClient client("127.0.0.1", port);
  client.enable_server_certificate_verification(false);
  const auto status = client.Get("/__status");
  ASSERT_TRUE(status);
  const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(status->body)).object();
  EXPECT_FALSE(json["running"].toBool());
  EXPECT_EQ(json["requests"].toArray().size(), 0);
  kill(program.pid(), SIGTERM);
  EXPECT_EQ(program.waitExit(), 0);
  const std::string err = program.readErr();
  EXPECT_NE(err.find("serving https://127.0.0.1:" + std::to_string(port) + "/"), std::string::npos) << err;
  EXPECT_NE(err.find("self-signed certificate, SHA-256 "), std::string::npos) << err;
}

TEST(DemoProgram, FailureSwitchesAtStartAndAtRunTime) {
  Program program({"--port", "0", "--down-ms", "400", "--fail-next", "1", "--lose-next", "1", "--lose-with", "drop"});
  const int port = portOf(program.readLine());
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(2);
  client.set_read_timeout(5);
  // Refused while down; the first answer after it is the failure asked for.
  const auto refused = client.Get("/index.php");
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), httplib::Error::Connection);
  int firstStatus = 0;
  for (int i = 0; i < 250 && !firstStatus; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (const auto r = client.Get("/index.php")) firstStatus = r->status;
  }
  EXPECT_EQ(firstStatus, 500);
  EXPECT_EQ(client.Get("/index.php")->status, 200);

  // Run time: two failures, nothing done for them; the test endpoints keep answering.
  ASSERT_EQ(client.Post("/__config?fail_next=2&drop_connections=1", "", "text/plain")->status, 200);
  const auto dropped = client.Get("/time_log.php?tid=&item=3");
  ASSERT_FALSE(dropped);
  EXPECT_EQ(client.Get("/__config")->status, 200);
  ASSERT_EQ(client.Post("/__config?drop_connections=0", "", "text/plain")->status, 200);
  EXPECT_EQ(client.Get("/index.php")->status, 500);
  EXPECT_EQ(client.Get("/index.php")->status, 500);
  EXPECT_EQ(client.Get("/index.php")->status, 200);

  // Down for a while at run time, then back on the same port.
  ASSERT_EQ(client.Post("/__config?down_ms=1000", "", "text/plain")->status, 200);
  bool wentDown = false;
  for (int i = 0; i < 100 && !wentDown; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    httplib::Client probe("127.0.0.1", port);
    probe.set_connection_timeout(1);
    wentDown = !probe.Get("/__status");
  }
  EXPECT_TRUE(wentDown);
  std::string back;
  for (int i = 0; i < 250 && back.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    httplib::Client probe("127.0.0.1", port);
    if (const auto r = probe.Get("/__status")) back = r->body;
  }
  ASSERT_FALSE(back.empty());
  QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(back)).object();
  EXPECT_FALSE(json["running"].toBool());  // the dropped start did nothing

  // A start taken, its answer lost with the connection.
  const auto login = client.Post("/index.php?username_or_email=demo", "pw=demo", "application/x-www-form-urlencoded");
  ASSERT_TRUE(login);
  const std::string setCookie = login->get_header_value("Set-Cookie");
  const httplib::Headers cookie{{"Cookie", setCookie.substr(0, setCookie.find(';'))}};
  EXPECT_FALSE(client.Get("/time_log.php?tid=&item=3", cookie));
  json = QJsonDocument::fromJson(QByteArray::fromStdString(client.Get("/__status")->body)).object();
  EXPECT_TRUE(json["running"].toBool());

  // A slow submission is taken only after its delay; a 204 travels as such.
  ASSERT_EQ(client.Post("/__config?submit_latency_ms=300&no_content_next=1", "", "text/plain")->status, 200);
  const auto noContent = client.Get("/time_log.php?tid=1&item=3", cookie);
  ASSERT_TRUE(noContent);
  EXPECT_EQ(noContent->status, 204);
  const auto sentUs = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count();
  ASSERT_EQ(client.Get("/time_log.php?tid=1&item=3", cookie)->status, 200);
  json = QJsonDocument::fromJson(QByteArray::fromStdString(client.Get("/__status")->body)).object();
  EXPECT_FALSE(json["running"].toBool());
  const QJsonObject stop = json["events"].toArray().last().toObject();
  EXPECT_EQ(stop["kind"].toString(), "stop");
  EXPECT_GE(static_cast<long long>(stop["at_us"].toDouble()), sentUs + 300000);
  kill(program.pid(), SIGTERM);
  EXPECT_EQ(program.waitExit(), 0);
}

TEST(DemoProgram, SigintEndsItCleanly) {
  Program program({"--port=0", "--latency-ms", "1"});
  ASSERT_GT(portOf(program.readLine()), 0);
  kill(program.pid(), SIGINT);
  EXPECT_EQ(program.waitExit(), 0);
}

TEST(DemoProgram, BadOptionsAndHelp) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--port", "x"}, "--port: expected a number"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"--config", "/nonexistent/demo.conf"}, "cannot read configuration file"},
  };
  for (const auto& [args, message] : cases) {
    Program program(args);
    EXPECT_EQ(program.readLine(), "");  // never announces a port
    EXPECT_EQ(program.waitExit(), 2);
    const std::string err = program.readErr();
    EXPECT_EQ(err.rfind("chronel-demo-service: " + message, 0), 0u) << err;
  }
  Program help({"--help"});
  EXPECT_EQ(help.readLine().rfind("Usage: chronel-demo-service", 0), 0u);
  EXPECT_EQ(help.waitExit(), 0);
}

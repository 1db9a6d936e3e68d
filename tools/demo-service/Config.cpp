#include "tools/demo-service/Config.h"

#include "tools/demo-service/Codec.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace chronel::demo {

namespace {

std::string_view trim(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

bool parseFlag(std::string_view text, const std::string& what) {
  if (text == "1" || text == "true" || text == "yes" || text == "on") return true;
  if (text == "0" || text == "false" || text == "no" || text == "off") return false;
  throw UsageError(what + ": expected 1 or 0, got '" + std::string(text) + "'");
}

namespace {

int parseWrongPasswordStatus(std::string_view text, const std::string& what) {
  const int status = parseNumber(text, 200, 403, what);
  if (status != 200 && status != 401 && status != 403)
    throw UsageError(what + ": expected 200, 401 or 403, got '" + std::string(text) + "'");
  return status;
}

// How a lost answer is lost: true for a closed connection.
bool parseLoseWith(std::string_view text, const std::string& what) {
  if (text == "500") return false;
  if (text == "drop") return true;
  throw UsageError(what + ": expected 500 or drop, got '" + std::string(text) + "'");
}

// encoded: USER and PASSWORD hold %XX escapes, so that the UTF-8 file can
// name an account whose bytes are in another code page.
void addAccount(ServiceConfig& config, std::string_view value, bool encoded = false) {
  const size_t colon = value.find(':');
  if (colon == std::string_view::npos || colon == 0)
    throw UsageError("account: expected USER:PASSWORD");
  Account account{std::string(value.substr(0, colon)), std::string(value.substr(colon + 1))};
  if (encoded) {
    account.user = percentDecode(account.user, Plus::Literal);
    account.password = percentDecode(account.password, Plus::Literal);
  }
  for (const Account& other : config.accounts)
    if (asciiLower(other.user) == asciiLower(account.user))
      throw UsageError("account: user '" + account.user + "' given twice");
  config.accounts.push_back(std::move(account));
}

void addItem(ServiceConfig& config, std::string_view value) {
  if (value.empty()) throw UsageError("item: the name is empty");
  const int id = static_cast<int>(config.items.size()) + 1;
  config.items.push_back(WorkItem{id, std::string(value)});
}

}  // namespace

ServiceConfig ServiceConfig::builtIn() {
  ServiceConfig config;
  config.accounts = {{"demo", "demo"}};
  config.items = {
      {1, "Fish & Chips"},
      {2, "Bugs <critical>"},
      {3, "Website redesign"},
      {4, "\"Quoted\" work"},
      {5, "Caf\xc3\xa9 M\xc3\xb8ller"},
  };
  config.selected = 3;
  return config;
}

bool ServiceConfig::hasItem(int id) const {
  for (const WorkItem& item : items)
    if (item.id == id) return true;
  return false;
}

int parseNumber(std::string_view text, int min, int max, const std::string& what) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end)
    throw UsageError(what + ": expected a number, got '" + std::string(text) + "'");
  if (value < min || value > max)
    throw UsageError(what + ": " + std::to_string(value) + " is not within " + std::to_string(min) + ".." +
                     std::to_string(max));
  return value;
}

void setRuntimeOption(RuntimeOptions& options, std::string_view key, std::string_view value) {
  const std::string what(key);
  if (key == "refuse_posted_password")
    options.refusePostedPassword = parseFlag(value, what);
  else if (key == "latency_ms")
    options.latencyMs = parseNumber(value, 0, kMaxLatencyMs, what);
  else if (key == "noform")
    options.noStartStopForm = parseFlag(value, what);
  else if (key == "plus_as_blank")
    options.plusAsBlank = parseFlag(value, what);
  else if (key == "fail_next")
    options.failNext = parseNumber(value, 0, kMaxFailNext, what);
  else if (key == "drop_connections")
    options.dropConnections = parseFlag(value, what);
  else if (key == "down_ms")
    options.downMs = parseNumber(value, 0, kMaxDownMs, what);
  else if (key == "session_idle_ms")
    options.sessionIdleMs = parseNumber(value, 0, kMaxSessionIdleMs, what);
  else if (key == "wrong_password_status")
    options.wrongPasswordStatus = parseWrongPasswordStatus(value, what);
  else if (key == "lose_next")
    options.loseNext = parseNumber(value, 0, kMaxFailNext, what);
  else if (key == "lose_with")
    options.loseByDrop = parseLoseWith(value, what);
  else if (key == "wrong_password_redirect")
    options.wrongPasswordRedirect = parseFlag(value, what);
  else if (key == "expired_redirect_query")
    options.expiredRedirectQuery = parseFlag(value, what);
  else if (key == "submit_latency_ms")
    options.submitLatencyMs = parseNumber(value, 0, kMaxLatencyMs, what);
  else if (key == "no_content_next")
    options.noContentNext = parseNumber(value, 0, kMaxFailNext, what);
  else
    throw UsageError("unknown option '" + what + "'");
}

void applyConfigText(ServiceConfig& config, std::string_view text, const std::string& origin) {
  // The file's first account and first item replace the built-in ones.
  bool ownAccounts = false;
  bool ownItems = false;
  bool ownSelected = false;
  int lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNo;
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    try {
      if (!isValidUtf8(line)) throw UsageError("the line is not UTF-8");
      const size_t eq = line.find('=');
      if (eq == std::string_view::npos) throw UsageError("expected KEY = VALUE");
      const std::string_view key = trim(line.substr(0, eq));
      const std::string_view value = trim(line.substr(eq + 1));
      if (key == "account") {
        if (!ownAccounts) config.accounts.clear();
        ownAccounts = true;
        addAccount(config, value);
      } else if (key == "account_encoded") {
        if (!ownAccounts) config.accounts.clear();
        ownAccounts = true;
        addAccount(config, value, true);
      } else if (key == "item") {
        if (!ownItems) config.items.clear();
        ownItems = true;
        addItem(config, value);
      } else if (key == "selected") {
        config.selected = parseNumber(value, 1, 1000000, "selected");
        ownSelected = true;
      } else if (key == "timer_page_html") {
        config.timerPageHtml += std::string(value) + "\n";
      } else {
        setRuntimeOption(config.options, key, value);
      }
    } catch (const UsageError& e) {
      throw UsageError(origin + ":" + std::to_string(lineNo) + ": " + e.what());
    }
  }
  if (ownItems && !ownSelected) config.selected = config.items.front().id;
  if (!config.hasItem(config.selected))
    throw UsageError(origin + ": selected: there is no item " + std::to_string(config.selected));
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  result.config = ServiceConfig::builtIn();

  struct Given {
    std::string name, value;
  };
  std::vector<Given> given;
  std::string configPath;
  bool haveConfig = false;

  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool inlineValue = false;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inlineValue = true;
    }
    const bool takesValue =
        name == "--port" || name == "--config" || name == "--selected" || name == "--latency-ms" ||
        name == "--fail-next" || name == "--down-ms" || name == "--session-idle-ms" ||
        name == "--wrong-password-status" || name == "--lose-next" || name == "--lose-with" ||
        name == "--submit-latency-ms" || name == "--no-content-next";
    const bool isFlag = name == "--help" || name == "-h" || name == "--refuse-posted-password" ||
                        name == "--no-start-stop-form" || name == "--plus-as-blank" || name == "--drop-connections" ||
                        name == "--wrong-password-redirect" || name == "--expired-redirect-query" ||
                        name == "--tls-self-signed";
    if (!takesValue && !isFlag) throw UsageError("unknown option '" + args[i] + "'");
    if (isFlag && inlineValue) throw UsageError("option " + name + " takes no value");
    if (takesValue && !inlineValue) {
      if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
      value = args[++i];
    }
    if (name == "--config") {
      if (haveConfig) throw UsageError("option --config given twice");
      haveConfig = true;
      configPath = value;
    } else {
      given.push_back({name, value});
    }
  }

  if (haveConfig) {
    std::ifstream in(configPath, std::ios::binary);
    if (!in) throw UsageError("cannot read configuration file '" + configPath + "'");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw UsageError("cannot read configuration file '" + configPath + "'");
    applyConfigText(result.config, text.str(), configPath);
  }

  for (const Given& g : given) {
    if (g.name == "--help" || g.name == "-h")
      result.help = true;
    else if (g.name == "--tls-self-signed")
      result.tlsSelfSigned = true;
    else if (g.name == "--port")
      result.port = parseNumber(g.value, 0, 65535, "--port");
    else if (g.name == "--selected")
      result.config.selected = parseNumber(g.value, 1, 1000000, "--selected");
    else if (g.name == "--latency-ms")
      result.config.options.latencyMs = parseNumber(g.value, 0, kMaxLatencyMs, "--latency-ms");
    else if (g.name == "--refuse-posted-password")
      result.config.options.refusePostedPassword = true;
    else if (g.name == "--no-start-stop-form")
      result.config.options.noStartStopForm = true;
    else if (g.name == "--plus-as-blank")
      result.config.options.plusAsBlank = true;
    else if (g.name == "--fail-next")
      result.config.options.failNext = parseNumber(g.value, 0, kMaxFailNext, "--fail-next");
    else if (g.name == "--drop-connections")
      result.config.options.dropConnections = true;
    else if (g.name == "--down-ms")
      result.config.options.downMs = parseNumber(g.value, 0, kMaxDownMs, "--down-ms");
    else if (g.name == "--session-idle-ms")
      result.config.options.sessionIdleMs = parseNumber(g.value, 0, kMaxSessionIdleMs, "--session-idle-ms");
    else if (g.name == "--wrong-password-status")
      result.config.options.wrongPasswordStatus = parseWrongPasswordStatus(g.value, "--wrong-password-status");
    else if (g.name == "--lose-next")
      result.config.options.loseNext = parseNumber(g.value, 0, kMaxFailNext, "--lose-next");
    else if (g.name == "--lose-with")
      result.config.options.loseByDrop = parseLoseWith(g.value, "--lose-with");
    else if (g.name == "--wrong-password-redirect")
      result.config.options.wrongPasswordRedirect = true;
    else if (g.name == "--expired-redirect-query")
      result.config.options.expiredRedirectQuery = true;
    else if (g.name == "--submit-latency-ms")
      result.config.options.submitLatencyMs = parseNumber(g.value, 0, kMaxLatencyMs, "--submit-latency-ms");
    else if (g.name == "--no-content-next")
      result.config.options.noContentNext = parseNumber(g.value, 0, kMaxFailNext, "--no-content-next");
  }
  if (!result.config.hasItem(result.config.selected))
    throw UsageError("--selected: there is no item " + std::to_string(result.config.selected) + " (items are 1.." +
                     std::to_string(result.config.items.size()) + ")");
  return result;
}

std::string usageText() {
  return "Usage: chronel-demo-service [OPTION]...\n"
         "A local work-log service for trying Chronel Timer and for its end-to-end tests.\n"
         "Listens on 127.0.0.1 only.\n"
         "\n"
         "  --port N                  listen on port N (default 18080; 0 chooses a free port);\n"
         "                            the port is printed on stdout as 'PORT N'\n"
         "  --config FILE             accounts, work items and options from FILE (key = value lines)\n"
         "  --selected N              work item N is selected in the drop-down (default 3)\n"
         "  --latency-ms N            delay every page answer by N ms (0.." +
         std::to_string(kMaxLatencyMs) +
         ")\n"
         "  --refuse-posted-password  ignore the posted 'pw=' login, so only the login form logs in\n"
         "  --no-start-stop-form      timer pages lack the start/stop form\n"
         "  --plus-as-blank           decode '+' as a blank in queries and the posted 'pw' too\n"
         "  --fail-next N             answer the next N page requests with HTTP 500, doing nothing\n"
         "  --drop-connections        close page requests' connections without answering\n"
         "  --down-ms N               print the port, then refuse connections for N ms before serving\n"
         "  --session-idle-ms N       forget a session unused for N ms (0, the default: never)\n"
         "  --wrong-password-status N answer a wrong password's login page with 200 (default), 401 or 403\n"
         "  --lose-next N             the next N start/stop submissions change the clock, then lose the answer\n"
         "  --lose-with 500|drop      lose it as HTTP 500 (default) or as a closed connection\n"
         "  --wrong-password-redirect answer a wrong password with 302 to the bare index.php\n"
         "  --expired-redirect-query  a page without a live session redirects to index.php?goto=...\n"
         "  --submit-latency-ms N     take each start/stop submission only after N ms\n"
         "  --no-content-next N       answer the next N start/stop submissions with HTTP 204, doing nothing\n"
         "  --tls-self-signed         serve HTTPS with a self-signed certificate made at start\n"
         "                            (for 127.0.0.1 and localhost; no browser trusts it)\n"
         "  -h, --help                show this help and exit\n"
         "\n"
         "Built-in account: user 'demo', password 'demo'.\n"
         "Test endpoints: GET /__status, POST /__reset, GET|POST /__config?KEY=VALUE.\n";
}

}  // namespace chronel::demo

// Configuration of the demo work-log service: accounts, work items and the
// options that tests may change while it runs; read from the command line
// and an optional key = value file.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace chronel::demo {

// Bad input from the command line, the configuration file or a run-time
// option change. The message is meant for the user as it stands.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Account {
  std::string user;      // compared without regard to ASCII letter case
  std::string password;  // compared byte for byte
};

struct WorkItem {
  int id = 0;  // the drop-down value; 1, 2, ... in configuration order
  std::string name;  // UTF-8
};

// Options that can also be changed at run time (POST /__config).
struct RuntimeOptions {
  bool refusePostedPassword = false;  // ignore the "pw=" post, keep the login form
  int latencyMs = 0;                  // delay of every page answer
  bool noStartStopForm = false;       // timer pages without the start/stop form
  bool plusAsBlank = false;           // "+" is a blank in queries and "pw" too
  int sessionIdleMs = 0;              // a session unused for this long is forgotten; 0: never
  int wrongPasswordStatus = 200;      // status of the login page after a wrong password: 200, 401 or 403
  bool wrongPasswordRedirect = false; // answer a wrong password with 302 to the bare index.php instead
  bool expiredRedirectQuery = false;  // a page without a live session redirects to index.php?goto=...
  int submitLatencyMs = 0;            // delay taking each start/stop submission (then answering it)
  // Failure switches; test endpoints never fail.
  int failNext = 0;              // answer the next N page requests with HTTP 500, doing nothing
  bool dropConnections = false;  // close page requests' connections without answering
  int downMs = 0;                // stop listening for N ms, then come back (an action, not kept)
  int loseNext = 0;              // the next N start/stop submissions change the clock, then the answer is lost
  bool loseByDrop = false;       // ... by closing the connection instead of answering HTTP 500
  int noContentNext = 0;         // answer the next N start/stop submissions with HTTP 204, doing nothing
};

struct ServiceConfig {
  std::vector<Account> accounts;
  std::vector<WorkItem> items;
  int selected = 0;  // id of the item selected in the drop-down at start
  std::string timerPageHtml;  // markup added at the end of the timer page (links for tests)
  RuntimeOptions options;

  // User "demo" with password "demo"; items whose names need HTML escaping
  // or are not ASCII, the selected one a plain name.
  static ServiceConfig builtIn();

  bool hasItem(int id) const;
};

struct CommandLine {
  ServiceConfig config;
  int port = 18080;
  bool help = false;
  // Serve HTTPS with a certificate made at start, which nobody trusts.
  bool tlsSelfSigned = false;
};

constexpr int kMaxLatencyMs = 60000;
constexpr int kMaxFailNext = 1000000;
constexpr int kMaxDownMs = 600000;
constexpr int kMaxSessionIdleMs = 86400000;

// Throws UsageError on an unknown option, a missing or malformed value or a
// bad configuration file. The configuration file is read first; the other
// options override it wherever they appear.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// Applies a configuration text (see README.md); `origin` names it in
// messages ("file:line: ..."). Throws UsageError.
void applyConfigText(ServiceConfig& config, std::string_view text, const std::string& origin);

// One run-time option by its configuration key (see README.md). Throws UsageError.
void setRuntimeOption(RuntimeOptions& options, std::string_view key, std::string_view value);

// 1/0, true/false, yes/no, on/off; throws UsageError naming `what`.
bool parseFlag(std::string_view text, const std::string& what);

// Parses a whole decimal number within [min, max]; throws UsageError naming `what`.
int parseNumber(std::string_view text, int min, int max, const std::string& what);

std::string usageText();

}  // namespace chronel::demo

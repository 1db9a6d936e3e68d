#include "tools/demo-service/Codec.h"
#include "tools/demo-service/Config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace chronel::demo;

TEST(DemoCodec, PercentDecodingAndPlus) {
  EXPECT_EQ(percentDecode("ann%20smith", Plus::Literal), "ann smith");
  EXPECT_EQ(percentDecode("%3c%3E%25", Plus::Literal), "<>%");
  EXPECT_EQ(percentDecode("%C3%A9", Plus::Literal), "\xc3\xa9");
  // The client leaves "+" alone; a browser form means a blank by it.
  EXPECT_EQ(percentDecode("a+b", Plus::Literal), "a+b");
  EXPECT_EQ(percentDecode("a+b%2B", Plus::Blank), "a b+");
  // Broken escapes stay as they are.
  EXPECT_EQ(percentDecode("100%", Plus::Literal), "100%");
  EXPECT_EQ(percentDecode("%4", Plus::Literal), "%4");
  EXPECT_EQ(percentDecode("%zz%4g", Plus::Literal), "%zz%4g");
}

TEST(DemoCodec, FieldsSplitAtAmpersandAndFirstEquals) {
  const RawFields fields = splitFields("goto=time_log.php%3fsmallbtn=1&&flag&pw=a=b&pw=second");
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(findField(fields, "goto", Plus::Literal), "time_log.php?smallbtn=1");
  EXPECT_EQ(findField(fields, "flag", Plus::Literal), "");
  EXPECT_EQ(findField(fields, "pw", Plus::Literal), "a=b");  // the first one wins
  EXPECT_FALSE(findField(fields, "missing", Plus::Literal).has_value());
}

TEST(DemoCodec, HtmlAndJsonEscaping) {
  EXPECT_EQ(htmlEscape("\"Fish\" & <Chips>'"), "&quot;Fish&quot; &amp; &lt;Chips&gt;'");
  // Every byte is one character, so bytes come back exactly.
  EXPECT_EQ(jsonBytes(std::string("a\"\\\n\x01\x7f\xe9\xff", 8)), "\"a\\\"\\\\\\n\\u0001\\u007f\\u00e9\\u00ff\"");
  EXPECT_EQ(jsonBytes(std::string("\0", 1)), "\"\\u0000\"");
  EXPECT_EQ(jsonText("Caf\xc3\xa9"), "\"Caf\xc3\xa9\"");
  EXPECT_EQ(jsonText("bad\xc3 \xed\xa0\x80"), "\"bad\\ufffd \\ufffd\\ufffd\\ufffd\"");  // truncated, surrogate
  EXPECT_FALSE(isValidUtf8("\xc0\xaf"));                                          // overlong
  EXPECT_TRUE(isValidUtf8("M\xc3\xb8ller \xf0\x9f\x98\x80"));
}

TEST(DemoConfig, EncodedAccountHoldsBytesOfAnotherCodePage) {
  ServiceConfig c = ServiceConfig::builtIn();
  applyConfigText(c, "account_encoded = J%FCrgen:p%E9ss%3A\naccount = demo:demo\n", "x.conf");
  ASSERT_EQ(c.accounts.size(), 2u);
  EXPECT_EQ(c.accounts[0].user, "J\xFCrgen");
  EXPECT_EQ(c.accounts[0].password, "p\xE9ss:");
  EXPECT_EQ(c.accounts[1].user, "demo");
}

TEST(DemoConfig, FileReplacesAccountsAndItems) {
  ServiceConfig c = ServiceConfig::builtIn();
  applyConfigText(c,
                  "# comment\r\n"
                  "account = ann smith : p:w d \r\n"
                  "account=bob:\n"
                  "; another comment\n"
                  "item = One & Two\n"
                  "item = Zwei\n"
                  "latency_ms = 250\n"
                  "refuse_posted_password = yes\n"
                  "session_idle_ms = 1500\n"
                  "wrong_password_status = 401\n"
                  "lose_next = 3\n"
                  "lose_with = drop\n"
                  "wrong_password_redirect = on\n"
                  "expired_redirect_query = 1\n"
                  "submit_latency_ms = 3000\n"
                  "no_content_next = 2\n",
                  "x.conf");
  ASSERT_EQ(c.accounts.size(), 2u);
  EXPECT_EQ(c.accounts[0].user, "ann smith ");
  EXPECT_EQ(c.accounts[0].password, " p:w d");
  EXPECT_EQ(c.accounts[1].password, "");
  ASSERT_EQ(c.items.size(), 2u);
  EXPECT_EQ(c.items[1].id, 2);
  EXPECT_EQ(c.selected, 1);  // own items without "selected": the first one
  EXPECT_EQ(c.options.latencyMs, 250);
  EXPECT_TRUE(c.options.refusePostedPassword);
  EXPECT_EQ(c.options.sessionIdleMs, 1500);
  EXPECT_EQ(c.options.wrongPasswordStatus, 401);
  EXPECT_EQ(c.options.loseNext, 3);
  EXPECT_TRUE(c.options.loseByDrop);
  EXPECT_TRUE(c.options.wrongPasswordRedirect);
  EXPECT_TRUE(c.options.expiredRedirectQuery);
  EXPECT_EQ(c.options.submitLatencyMs, 3000);
  EXPECT_EQ(c.options.noContentNext, 2);
}

TEST(DemoConfig, FileErrorsNameTheLine) {
  const auto errorOf = [](const char* text) {
    ServiceConfig c = ServiceConfig::builtIn();
    try {
      applyConfigText(c, text, "x.conf");
    } catch (const UsageError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(errorOf("\n\njust text\n"), "x.conf:3: expected KEY = VALUE");
  EXPECT_EQ(errorOf("account = nopassword"), "x.conf:1: account: expected USER:PASSWORD");
  EXPECT_EQ(errorOf("account = a:1\naccount = A:2"), "x.conf:2: account: user 'A' given twice");
  EXPECT_EQ(errorOf("colour = red"), "x.conf:1: unknown option 'colour'");
  EXPECT_EQ(errorOf("item = \xff"), "x.conf:1: the line is not UTF-8");
  EXPECT_EQ(errorOf("item = a\nselected = 2"), "x.conf: selected: there is no item 2");
}

TEST(DemoCommandLine, OptionsAndOverrides) {
  const std::string path = testing::TempDir() + "demo_service_cmdline.conf";
  std::ofstream(path) << "item = A\nitem = B\nitem = C\nselected = 2\nlatency_ms = 5\n";
  // The file is read first whatever its place; the options override it.
  const CommandLine cl = parseCommandLine(
      {"--latency-ms=7", "--port", "0", "--config", path, "--refuse-posted-password", "--selected", "3",
       "--wrong-password-status=403", "--session-idle-ms", "20", "--lose-next", "1", "--lose-with=500",
       "--wrong-password-redirect", "--expired-redirect-query", "--submit-latency-ms=40", "--no-content-next", "4"});
  EXPECT_EQ(cl.port, 0);
  EXPECT_EQ(cl.config.items.size(), 3u);
  EXPECT_EQ(cl.config.selected, 3);
  EXPECT_EQ(cl.config.options.latencyMs, 7);
  EXPECT_TRUE(cl.config.options.refusePostedPassword);
  EXPECT_EQ(cl.config.options.wrongPasswordStatus, 403);
  EXPECT_EQ(cl.config.options.sessionIdleMs, 20);
  EXPECT_EQ(cl.config.options.loseNext, 1);
  EXPECT_FALSE(cl.config.options.loseByDrop);
  EXPECT_TRUE(cl.config.options.wrongPasswordRedirect);
  EXPECT_TRUE(cl.config.options.expiredRedirectQuery);
  EXPECT_EQ(cl.config.options.submitLatencyMs, 40);
  EXPECT_EQ(cl.config.options.noContentNext, 4);
  EXPECT_FALSE(cl.help);
  EXPECT_TRUE(parseCommandLine({"--help"}).help);
  std::remove(path.c_str());
}

TEST(DemoCommandLine, BadOptionsAreUsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},          {"-p", "1"},           {"--port"},          {"--port", "x"},
      {"--port", "65536"},  {"--port", "-1"},      {"--port", "80x"},   {"--port=", "1"},
      {"--latency-ms", "-5"}, {"--selected", "0"}, {"--selected", "6"}, {"--help=yes"},
      {"--config", "/nonexistent/demo.conf"},      {"--config", "a", "--config", "b"},
      {"8080"},             {"--wrong-password-status", "404"},          {"--lose-with", "close"},
      {"--session-idle-ms", "-1"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_THROW(parseCommandLine(args), UsageError) << joined;
  }
}

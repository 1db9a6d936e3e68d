// The service's addresses as the session reads them: built without the
// toolkit, so an engine's spelling is given to it as a function.
#include <gtest/gtest.h>

#include "session/ServiceUrls.h"

namespace {

// What the engine does to an address that matters here: host in lower case.
std::string Spelled(const std::string& url)
{
    std::string out = url;
    const std::size_t host = out.find("://");
    for (std::size_t i = host + 3; i < out.size() && out[i] != '/'; ++i)
        out[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[i])));
    return out;
}

TEST(ServiceUrls, EachAddressIsWhatTheServiceMeansByIt)
{
    const TServiceUrls urls("http://Worklog.Example:8080/app/", Spelled);
    EXPECT_EQ(urls.Login("ann b"),
              "http://Worklog.Example:8080/app/index.php?mobile=1&username_or_email=ann%20b&goto=time_log.php%3fsmallbtn=1");
    EXPECT_EQ(TServiceUrls::LoginPost("p&w=\xc3\xa9"), "pw=p%26w%3D%C3%A9");
    EXPECT_EQ(urls.TimerPage(), "http://Worklog.Example:8080/app/time_log.php?smallbtn=1");
    const struct {
        const char* url;
        TServicePage kind;
    } cases[] = {
        {"http://worklog.example:8080/app/time_log.php?smallbtn=1", TServicePage::TimerPage},
        {"http://worklog.example:8080/app/time_log.php", TServicePage::TimerPage},
        {"http://worklog.example:8080/app/time_log.php?tid=&smallbtn=1", TServicePage::Start},
        {"http://worklog.example:8080/app/time_log.php?smallbtn=1&tid=", TServicePage::Start},
        {"http://worklog.example:8080/app/time_log.php?tid=17&smallbtn=1", TServicePage::Stop},
        // A parameter that merely ends in "tid" is no submission.
        {"http://worklog.example:8080/app/time_log.php?xtid=4", TServicePage::TimerPage},
        // The login page however it is reached: bare, the login address, or
        // an expired session's redirect that names where to go next.
        {"http://worklog.example:8080/app/index.php", TServicePage::LoginPage},
        {"http://worklog.example:8080/app/index.php?goto=time_log.php%3Fsmallbtn%3D1", TServicePage::LoginPage},
        {"http://worklog.example:8080/app/index.php?mobile=1&username_or_email=ann", TServicePage::LoginPage},
        // Look-alikes are not the service's pages.
        {"http://worklog.example:8080/app/time_log.php.evil/x", TServicePage::Other},
        {"http://worklog.example:8080/app/index.phpx", TServicePage::Other},
        {"http://worklog.example:8080/other/index.php", TServicePage::Other},
        {"http://elsewhere.example/app/index.php", TServicePage::Other},
    };
    for (const auto& c : cases) EXPECT_EQ(urls.Classify(c.url), c.kind) << c.url;
}

TEST(ServiceUrls, ScriptsHoldTextSafely)
{
    const std::string fill = TServiceUrls::FillLoginScript("it's </script>\n");
    EXPECT_EQ(fill.find("</script>"), std::string::npos);
    EXPECT_NE(fill.find("'it\\'s \\x3C/script\\x3E\\n'"), std::string::npos) << fill;
    // The focus goes to the field only where the page has the login form.
    EXPECT_NE(std::string(TServiceUrls::FocusPasswordScript()).find("if (document.frmLogin && document.frmLogin.password)"),
              std::string::npos);
}

}  // namespace

// The engine's failures in words, and which of them the link holds instead of retrying.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "platform/CoreServices.h"
#include "session/EngineErrors.h"
#include "session/ServiceLink.h"

namespace {
TNavigateErrorArgs Engine(const std::string& url, TNavigateErrorDomain domain, int code, const std::string& name)
{
    TNavigateErrorArgs e;
    e.URL = url;
    e.Domain = domain;
    e.Code = code;
    e.Name = name;
    e.Reason = name;
    return e;
}

TNavigateErrorArgs Certificate(int code, const std::string& name, const std::string& host, const std::string& why)
{
    TNavigateErrorArgs e = Engine("https://" + host + ":8443/login", TNavigateErrorDomain::Certificate, code, name);
    e.CertificateHost = host;
    e.CertificateReason = why;
    return e;
}

TNavigateErrorArgs Reason(const std::string& url, int status, const std::string& reason)
{
    TNavigateErrorArgs e;
    e.URL = url;
    e.StatusCode = status;
    e.Reason = reason;
    return e;
}

TEST(EngineErrors, EachClassSaysWhatHappenedToTheHostAndWhetherARetryCanMendIt)
{
    using D = TNavigateErrorDomain;
    const std::string local = "http://127.0.0.1:8080/time_log.php";
    const struct {
        TNavigateErrorArgs error;
        std::string text;  // the whole text, the code in brackets included
        bool permanent;
    } cases[] = {
        {Engine("http://127.0.0.1:9/", D::Http, -312, "net::ERR_UNSAFE_PORT"),
         "The address 127.0.0.1:9 uses a port that web pages may not use. (net::ERR_UNSAFE_PORT)", true},
        {Engine("http://WorkLog.example.org:8080/x", D::Connection, -105, "net::ERR_NAME_NOT_RESOLVED"),
         "The name worklog.example.org could not be found. (net::ERR_NAME_NOT_RESOLVED)", false},
        {Engine(local, D::Connection, -102, "net::ERR_CONNECTION_REFUSED"),
         "127.0.0.1:8080 refused the connection. (net::ERR_CONNECTION_REFUSED)", false},
        {Engine(local, D::Internal, -7, "net::ERR_TIMED_OUT"),
         "The connection to 127.0.0.1:8080 timed out. (net::ERR_TIMED_OUT)", false},
        {Engine(local, D::Connection, -101, "net::ERR_CONNECTION_RESET"),
         "The connection to 127.0.0.1:8080 was reset. (net::ERR_CONNECTION_RESET)", false},
        {Engine(local, D::Http, -324, "net::ERR_EMPTY_RESPONSE"),
         "127.0.0.1:8080 closed the connection without an answer. (net::ERR_EMPTY_RESPONSE)", false},
        {Engine(local, D::Http, -370, "net::ERR_INVALID_HTTP_RESPONSE"),
         "127.0.0.1:8080 sent an answer that could not be read. (net::ERR_INVALID_HTTP_RESPONSE)", false},
        {Engine(local, D::Http, -310, "net::ERR_TOO_MANY_REDIRECTS"),
         "127.0.0.1:8080 redirected too many times, in a loop. (net::ERR_TOO_MANY_REDIRECTS)", true},
        {Engine(local, D::Http, -375, "net::ERR_TOO_MANY_RETRIES"),
         "127.0.0.1:8080 asks for a sign-in of its own (HTTP authentication) that this program cannot give. "
         "(net::ERR_TOO_MANY_RETRIES)",
         true},
        {Engine("chronel:x", D::None, 0, "net::ERR_INVALID_URL"),
         "The address chronel:x is not one this program can load. (net::ERR_INVALID_URL)", true},
        {Engine(local, D::Connection, -113, "net::ERR_SSL_VERSION_OR_CIPHER_MISMATCH"),
         "127.0.0.1:8080 offers no secure connection that this program accepts. "
         "(net::ERR_SSL_VERSION_OR_CIPHER_MISMATCH)",
         true},
        {Certificate(-202, "net::ERR_CERT_AUTHORITY_INVALID", "worklog.example.org", "Server's certificate is not trusted."),
         "The service's certificate for worklog.example.org is not trusted: it was not issued by an authority this "
         "computer trusts. (net::ERR_CERT_AUTHORITY_INVALID)",
         true},
        {Certificate(-201, "net::ERR_CERT_DATE_INVALID", "worklog.example.org", ""),
         "The service's certificate for worklog.example.org is not trusted: it has expired or is not valid yet. "
         "(net::ERR_CERT_DATE_INVALID)",
         true},
        // A certificate error this table does not know: the engine's own words.
        {Certificate(-299, "", "10.1.2.3", "Server's certificate was made by a stranger."),
         "The service's certificate for 10.1.2.3 is not trusted: server's certificate was made by a stranger. "
         "(net error -299)",
         true},
        {Reason(local, 500, "HTTP 500"), "The service at 127.0.0.1:8080 answered HTTP 500.", false},
        // A number the table does not know: said with the engine's name, and tried again.
        {Engine(local, D::Connection, -9999, "net::ERR_SOMETHING_NEW"),
         "127.0.0.1:8080 could not be loaded. (net::ERR_SOMETHING_NEW)", false},
        // Only the control's short reason, or the engine's text as the reason.
        {Reason(local, 0, "connection refused"), "127.0.0.1:8080 refused the connection.", false},
        {Reason("https://[::1]:8443/", 0, "name not resolved"), "The name [::1] could not be found.", false},
        {Reason("http://127.0.0.1:9/", 0, "net::ERR_UNSAFE_PORT"),
         "The address 127.0.0.1:9 uses a port that web pages may not use. (net::ERR_UNSAFE_PORT)", true},
        {Reason("https://127.0.0.1:8443/", 0, "net::ERR_CERT_AUTHORITY_INVALID"),
         "The service's certificate for 127.0.0.1 is not trusted: it was not issued by an authority this computer "
         "trusts. (net::ERR_CERT_AUTHORITY_INVALID)",
         true},
        {Reason(local, 0, "no page came within 45 seconds"),
         "127.0.0.1:8080 could not be loaded: no page came within 45 seconds.", false},
    };
    for (const auto& c : cases) {
        const TLoadFailure failure = DescribeLoadFailure(c.error);
        EXPECT_EQ(failure.Text(), c.text) << c.error.URL << " " << c.error.Name;
        EXPECT_EQ(failure.Permanent, c.permanent) << c.text;
    }
    // Nothing reached the service: it was refused, unnamed or untrusted before a request went.
    EXPECT_TRUE(DescribeLoadFailure(cases[2].error).NothingSent);
    EXPECT_TRUE(DescribeLoadFailure(cases[11].error).NothingSent);
    EXPECT_FALSE(DescribeLoadFailure(cases[5].error).NothingSent);
}

// The platform seam's timers and clock, without a toolkit.
class FakeWindows : public IMessageWindows {
public:
    HWND AllocateHWnd(TWndMethod method) override
    {
        method_ = std::move(method);
        return 1;
    }
    void DeallocateHWnd(HWND) override {}
    bool IsWindow(HWND) override { return true; }
    bool PostMessage(HWND, UINT, WPARAM, LPARAM) override { return true; }
    LRESULT SendMessage(HWND, UINT, WPARAM, LPARAM) override { return 0; }
    bool SetTimer(HWND, UINT_PTR id, UINT) override { return timers.insert(id), true; }
    bool KillTimer(HWND, UINT_PTR id) override { return timers.erase(id) > 0; }
    UINT RegisterWindowMessage(const std::string&) override { return 0xC000; }
    void BroadcastMessage(UINT, WPARAM, LPARAM) override {}
    std::set<UINT_PTR> timers;

private:
    TWndMethod method_;
};

class FakeClock : public IClock {
public:
    double Now() override { return 46000.5; }
    std::uint32_t GetTickCount() override { return 1000; }
};

TEST(EngineErrors, APermanentFailureIsHeldWithoutATimerAndATransientOneIsRetried)
{
    FakeWindows windows;
    FakeClock clock;
    static IClock* clockPtr;
    static IMessageWindows* windowsPtr;
    clockPtr = &clock;
    windowsPtr = &windows;
    SetCoreServices(&clockPtr, &windowsPtr);
    {
        TServiceLink link;
        int logins = 0;
        std::string page;
        link.OnLogin = [&] { ++logins; };
        link.OnShowPage = [&](const std::string& html) { page = html; };

        ASSERT_TRUE(link.Begin("http://127.0.0.1:9/", true));
        link.LoginSent();
        link.LoadFailed(Engine("http://127.0.0.1:9/", TNavigateErrorDomain::Http, -312, "net::ERR_UNSAFE_PORT"));
        EXPECT_EQ(link.State(), TLinkState::Held);
        EXPECT_TRUE(windows.timers.empty()) << "a timer is armed for a failure no retry mends";
        EXPECT_EQ(link.NextTryTick(), 0u);
        EXPECT_EQ(link.Hint(), "The address 127.0.0.1:9 uses a port that web pages may not use. (net::ERR_UNSAFE_PORT)");
        EXPECT_NE(page.find("id=\"try-now\""), std::string::npos) << page;
        EXPECT_NE(page.find("id=\"preferences\""), std::string::npos) << page;
        EXPECT_EQ(page.find("Next try"), std::string::npos) << page;
        // The code breaks only at its separators; the words not at all.
        EXPECT_NE(page.find("(net:<wbr>:<wbr>ERR_<wbr>UNSAFE_<wbr>PORT)"), std::string::npos) << page;
        EXPECT_EQ(page.find("anywhere"), std::string::npos) << page;

        // The user's "Try now" goes; a refused connection then is tried again by itself.
        link.TryNow();
        EXPECT_EQ(logins, 2);
        link.LoadFailed(Engine("http://127.0.0.1:9/", TNavigateErrorDomain::Connection, -102,
                               "net::ERR_CONNECTION_REFUSED"));
        EXPECT_EQ(link.State(), TLinkState::Reconnecting);
        EXPECT_EQ(windows.timers.size(), 1u);
        EXPECT_EQ(link.NextTryTick(), 1000u + TServiceLink::RetryDelayMs(1));
        EXPECT_NE(page.find("Next try at"), std::string::npos) << page;

        // An address that is not valid says so, with the way to the preferences.
        link.Begin("ftp://127.0.0.1/", false);
        EXPECT_EQ(link.State(), TLinkState::Refused);
        EXPECT_NE(page.find("id=\"preferences\""), std::string::npos) << page;
        EXPECT_EQ(page.find("id=\"try-now\""), std::string::npos) << page;
    }
    SetCoreServices(nullptr, nullptr);
}
}  // namespace

#include <gtest/gtest.h>
#include <stdexcept>

#include "components/CppWebBrowser.h"
#include "components/Exceptions.h"
#include "platform/sim/SimPlatform.h"

namespace {

struct Navigation {
    std::string url, target, post, headers;
    int flags;
};

class WebBrowser : public ::testing::Test {
protected:
    WebBrowser()
    {
        browser.OnBeforeNavigate2 = [this](TCppWebBrowser* sender, const std::string& url, int flags,
                                           const std::string& target, const std::string& post,
                                           const std::string& headers, bool& cancel) {
            EXPECT_EQ(sender, &browser);
            before.push_back({url, target, post, headers, flags});
            if (url.find("cancel") != std::string::npos) cancel = true;
            if (url.find("throw") != std::string::npos) {
                cancel = true;
                throw std::runtime_error("handler failed");
            }
        };
        browser.OnDocumentComplete = [this](TCppWebBrowser* sender, const std::string& url) {
            EXPECT_EQ(sender, &browser);
            completed.push_back(url);
        };
    }
    SimBrowserView& View() { return *sim.browsers.created.back(); }

    SimPlatform sim;
    TCppWebBrowser browser{nullptr};
    std::vector<Navigation> before;
    std::vector<std::string> completed;
};

}  // namespace

TEST_F(WebBrowser, NavigateReportsEveryArgumentThenCompletes)
{
    EXPECT_NE(browser.Widget(), nullptr);
    EXPECT_EQ(browser.Document(), nullptr);
    EXPECT_FALSE(browser.Busy());
    browser.Navigate("http://svc/index.php", 2, "main", "pw=x", "X-A: 1\r\n");
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].url, "http://svc/index.php");
    EXPECT_EQ(before[0].flags, 2);
    EXPECT_EQ(before[0].target, "main");
    EXPECT_EQ(before[0].post, "pw=x");
    EXPECT_EQ(before[0].headers, "X-A: 1\r\n");
    EXPECT_TRUE(browser.Busy());
    EXPECT_TRUE(completed.empty());

    View().pages["http://svc/index.php"] = "<html><body>login</body></html>";
    View().CompleteNavigation();
    EXPECT_FALSE(browser.Busy());
    EXPECT_EQ(completed, std::vector<std::string>{"http://svc/index.php"});
    ASSERT_NE(browser.Document(), nullptr);
    std::string html;
    EXPECT_TRUE(browser.Document()->SaveHtml(html));
    EXPECT_EQ(html, "<html><body>login</body></html>");
}

TEST_F(WebBrowser, ACancelledNavigationKeepsThePage)
{
    browser.Navigate("http://svc/index.php");
    View().CompleteNavigation();
    IHtmlDocument* doc = browser.Document();

    browser.Navigate("http://elsewhere/cancel");
    EXPECT_FALSE(browser.Busy());
    View().CompleteNavigation();
    EXPECT_EQ(completed.size(), 1u);
    EXPECT_EQ(browser.Document(), doc);

    // The page's own navigations are asked about the same way.
    View().PageNavigate("http://elsewhere/cancel-link");
    EXPECT_FALSE(browser.Busy());
    View().PageNavigate("http://svc/time_log.php?tid=&x=1", "a=b");
    ASSERT_EQ(before.size(), 4u);
    EXPECT_EQ(before[3].post, "a=b");
    EXPECT_TRUE(browser.Busy());
    View().CompleteNavigation();
    EXPECT_EQ(completed.back(), "http://svc/time_log.php?tid=&x=1");
}

TEST_F(WebBrowser, AHandlerThatThrowsIsReportedAndItsCancelHolds)
{
    browser.Navigate("http://svc/throw");
    EXPECT_FALSE(browser.Busy());
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_NE(sim.messageBox.shown[0].text.find("handler failed"), std::string::npos);
    EXPECT_EQ(sim.messageBox.shown[0].type & MB_ICON_MASK, MB_ICONERROR);

    browser.OnDocumentComplete = [](TCppWebBrowser*, const std::string&) { throw Exception("page unreadable"); };
    browser.Navigate("http://svc/index.php");
    View().CompleteNavigation();
    EXPECT_EQ(sim.messageBox.shown.size(), 2u);
    EXPECT_FALSE(browser.Busy());
}

TEST_F(WebBrowser, AFailedLoadReportsItsReasonInsteadOfCompletingAndAnOwnPageCompletesLocally)
{
    std::vector<std::string> errors;
    browser.OnNavigateError = [&](TCppWebBrowser* sender, const std::string& url, int status,
                                  const std::string& reason) {
        EXPECT_EQ(sender, &browser);
        EXPECT_FALSE(browser.Busy());
        errors.push_back(url + " " + std::to_string(status) + " " + reason);
    };
    browser.Navigate("http://svc/timer.php");
    View().FailNavigation(500, "HTTP 500");
    EXPECT_EQ(errors, std::vector<std::string>{"http://svc/timer.php 500 HTTP 500"});
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(browser.Document(), nullptr);

    const std::size_t navigationsBefore = before.size();
    browser.LoadHtml("<html><body>Cannot reach svc</body></html>");
    EXPECT_TRUE(browser.Busy());
    View().FailNavigation(0, "connection refused");  // a local page does not fail
    View().CompleteNavigation();
    EXPECT_EQ(before.size(), navigationsBefore);
    EXPECT_EQ(completed, std::vector<std::string>{kLocalPageUrl});
    std::string html;
    ASSERT_TRUE(browser.Document()->SaveHtml(html));
    EXPECT_EQ(html, "<html><body>Cannot reach svc</body></html>");
    EXPECT_EQ(errors.size(), 1u);

    // A host that wants all the engine said gets it, and only that way.
    std::vector<TNavigateErrorArgs> full;
    browser.OnNavigateFailed = [&](TCppWebBrowser*, const TNavigateErrorArgs& e) { full.push_back(e); };
    browser.Navigate("https://svc/");
    TNavigateErrorArgs refused("", 0, "net::ERR_CERT_DATE_INVALID");
    refused.Domain = TNavigateErrorDomain::Certificate;
    refused.Code = -201;
    refused.Name = "net::ERR_CERT_DATE_INVALID";
    refused.CertificateHost = "svc";
    View().FailNavigation(refused);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].URL, "https://svc/");
    EXPECT_EQ(full[0].Code, -201);
    EXPECT_EQ(full[0].CertificateHost, "svc");
    EXPECT_EQ(errors.size(), 1u);
}

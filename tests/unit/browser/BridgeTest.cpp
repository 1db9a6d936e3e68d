#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

#include "browser/TCppWebBrowserUtils.h"
#include "components/CppWebBrowser.h"
#include "platform/sim/SimPlatform.h"

// Allocation failure on demand: the nth allocation after arming throws.
namespace {
thread_local int g_allocationsBeforeFailure = -1;

struct FailAllocation {
    explicit FailAllocation(int nth) { g_allocationsBeforeFailure = nth - 1; }
    ~FailAllocation() { g_allocationsBeforeFailure = -1; }
};
}  // namespace

void* operator new(std::size_t size)
{
    if (g_allocationsBeforeFailure >= 0 && g_allocationsBeforeFailure-- == 0) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

const std::string kFormHeader = "Content-Type: application/x-www-form-urlencoded\r\n";

class Bridge : public ::testing::Test {
protected:
    SimBrowserView& View() { return *sim.browsers.created.back(); }
    // Loads a page and returns its document for the test to shape.
    SimDocument& Load(const std::string& url, const std::string& html = "<html><body></body></html>")
    {
        View().pages[url] = html;
        browser.Navigate(url);
        View().CompleteNavigation();
        return *View().document;
    }

    SimPlatform sim;
    TCppWebBrowser browser{nullptr};
};

}  // namespace

TEST_F(Bridge, BeforeAnyPageTheDocumentRoutinesDoNothing)
{
    EXPECT_EQ(browser.Document(), nullptr);
    WebBrowserRemoveBorder(&browser, true);
    WebBrowserExecScript(&browser, "document.title='x';");
    EXPECT_EQ(WebBrowserGetHtml(&browser), "");
    EXPECT_TRUE(View().navigations.empty());
    EXPECT_TRUE(sim.messageBox.shown.empty());

    // Nor does a missing browser.
    WebBrowserRemoveBorder(nullptr, false);
    WebBrowserExecScript(nullptr, "x");
    WebBrowserNavigatePost(nullptr, "http://svc/", "pw=");
    EXPECT_EQ(WebBrowserGetHtml(nullptr), "");
}

TEST_F(Bridge, RemoveBorderStylesOnlyAPlainBody)
{
    SimDocument& plain = Load("http://svc/index.php");
    WebBrowserRemoveBorder(&browser, false);
    EXPECT_EQ(plain.borderStyle, "none");
    EXPECT_EQ(plain.scroll, "") << "scroll bars are left alone";
    WebBrowserRemoveBorder(&browser, true);
    EXPECT_EQ(plain.scroll, "no");

    SimDocument& bodiless = Load("http://svc/image.png");
    bodiless.hasBody = false;
    WebBrowserRemoveBorder(&browser, true);
    EXPECT_EQ(bodiless.borderStyle, "");
    EXPECT_EQ(bodiless.scroll, "");

    SimDocument& frames = Load("http://svc/frames.html", "<html><frameset><frame src=a></frameset></html>");
    frames.bodyIsBodyElement = false;
    WebBrowserRemoveBorder(&browser, true);
    EXPECT_EQ(frames.borderStyle, "");
    EXPECT_EQ(frames.scroll, "");
}

TEST_F(Bridge, ExecScriptHandsTheTextOverUnchanged)
{
    SimDocument& doc = Load("http://svc/time_log.php");
    // UTF-8 is the system code page here: the bytes reach the page as they are.
    const std::string script = "document.title = 'Gr\xC3\xB6\xC3\x9F" "e \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC \xE2\x98\x95';";
    WebBrowserExecScript(&browser, script);
    const std::string empty;
    WebBrowserExecScript(&browser, empty);
    ASSERT_EQ(doc.scripts.size(), 2u);
    EXPECT_EQ(doc.scripts[0], script);
    EXPECT_EQ(doc.scripts[1], "");

    // Also in a document without a body, or a frameset: the window runs it.
    SimDocument& frames = Load("http://svc/frames.html");
    frames.bodyIsBodyElement = false;
    WebBrowserExecScript(&browser, "1;");
    EXPECT_EQ(frames.scripts.size(), 1u);
}

TEST_F(Bridge, GetHtmlReturnsTheDocumentBytesOrNothing)
{
    const std::string html = std::string("<html><body>Fish &amp; Chips \xC3\xA4\0tail</body></html>", 48);
    SimDocument& doc = Load("http://svc/time_log.php", html);
    EXPECT_EQ(WebBrowserGetHtml(&browser), html);
    doc.saveFails = true;
    EXPECT_EQ(WebBrowserGetHtml(&browser), "");
}

TEST_F(Bridge, NavigatePostHandsOverExactlyThePostedBytesWithTheFormHeader)
{
    std::vector<TBeforeNavigateArgs> seen;
    browser.OnBeforeNavigate2 = [&](TCppWebBrowser*, const std::string& url, int flags, const std::string& target,
                                    const std::string& post, const std::string& headers, bool&) {
        seen.push_back({url, flags, target, post, headers, false});
    };
    const std::string six("pw=a\0\xFF", 6);
    WebBrowserNavigatePost(&browser, "http://svc/index.php?mobile=1&goto=time_log.php%3fsmallbtn=1", six);
    ASSERT_EQ(View().navigations.size(), 1u);
    const auto& n = View().navigations[0];
    EXPECT_EQ(n.url, "http://svc/index.php?mobile=1&goto=time_log.php%3fsmallbtn=1");
    EXPECT_EQ(n.postData.size(), 6u) << "no terminating zero";
    EXPECT_EQ(n.postData, six);
    EXPECT_EQ(n.headers, kFormHeader);
    EXPECT_EQ(n.flags, 0);
    EXPECT_EQ(n.target, "");
    EXPECT_TRUE(browser.Busy());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].PostData, six);
    EXPECT_EQ(seen[0].Headers, kFormHeader);

    // Empty post data and an empty URL are handed over as they are.
    WebBrowserNavigatePost(&browser, "", "");
    ASSERT_EQ(View().navigations.size(), 2u);
    EXPECT_EQ(View().navigations[1].url, "");
    EXPECT_EQ(View().navigations[1].postData, "");
    EXPECT_EQ(View().navigations[1].headers, kFormHeader);
    EXPECT_TRUE(sim.messageBox.shown.empty());
}

TEST_F(Bridge, NavigatePostWithoutMemoryDoesNotNavigate)
{
    const std::string url = "http://svc/index.php?mobile=1";
    const std::string body = "pw=a%20rather%20long%20password%20that%20needs%20the%20heap";
    {
        FailAllocation first(1);  // the header text
        WebBrowserNavigatePost(&browser, url, body);
    }
    EXPECT_TRUE(View().navigations.empty());
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].text, "Could not allocate bstrHeaders");
    EXPECT_EQ(sim.messageBox.shown[0].caption, "Warning");
    EXPECT_EQ(sim.messageBox.shown[0].type, MB_OK | MB_ICONWARNING);

    {
        FailAllocation second(2);  // the post data
        WebBrowserNavigatePost(&browser, url, body);
    }
    EXPECT_TRUE(View().navigations.empty());
    EXPECT_EQ(sim.messageBox.shown.size(), 1u) << "silent";
    EXPECT_FALSE(browser.Busy());

    WebBrowserNavigatePost(&browser, url, body);
    ASSERT_EQ(View().navigations.size(), 1u) << "with memory again it posts";
    EXPECT_EQ(View().navigations[0].postData, body);
}

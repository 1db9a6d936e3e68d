// The browser control on Qt WebEngine against a local HTTP service, under a
// real X server: what the page receives and what the control reports.
#include <httplib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QStandardPaths>
#include <QWindow>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "browser/MyDocHandler.h"
#include "browser/TCppWebBrowserUtils.h"
#include "components/CppWebBrowser.h"
#include "components/Menus.h"
#include "platform/Platform.h"
#include "platform/desktop/WebEngineBrowser.h"

namespace {

// ---- the local service ------------------------------------------------------

struct Request {
    std::string method, target, contentType, body;
};

class Service {
public:
    Service()
    {
        server_.set_logger([this](const httplib::Request& req, const httplib::Response&) {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back({req.method, req.target, req.get_header_value("Content-Type"), req.body});
        });
        server_.Get("/page", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("<!DOCTYPE html>\n<html><head><title>Page</title></head>"
                            "<body style=\"border: 4px solid red\">marker-" +
                                req.get_param_value("n") + "</body></html>",
                            "text/html; charset=utf-8");
        });
        server_.Post("/echo", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body>posted</body></html>", "text/html");
        });
        // The login form posts back to the URL it came from.
        server_.Get("/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body><form name=\"frmLogin\" method=\"post\" action=\"\">"
                            "<input type=\"password\" name=\"password\"></form></body></html>",
                            "text/html");
        });
        server_.Post("/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/page?n=after-login");
        });
        server_.Get("/frames", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><frameset cols=\"*\"><frame src=\"/page?n=inner\"></frameset></html>", "text/html");
        });
        server_.Get("/links", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body style=\"margin:0\"><a id=\"out\" target=\"_blank\" href=\"/page?n=new-window\" "
                            "style=\"display:block;width:200px;height:100px\">out</a></body></html>",
                            "text/html");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~Service()
    {
        server_.stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    void ClearRequests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
    }
    std::vector<Request> Requests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    bool Received(const std::string& target)
    {
        for (const Request& r : Requests())
            if (r.target == target) return true;
        return false;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::vector<Request> requests_;
};

// ---- the platform: the real browser; message boxes are recorded ------------

class RecordingMessageBox : public IMessageBox {
public:
    int Show(const std::string& text, const std::string&, UINT) override
    {
        shown.push_back(text);
        return IDOK;
    }
    std::vector<std::string> shown;
};

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 30000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Lets the engine do whatever it would do next, for a while.
void Settle(int ms = 500)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Records the context-menu calls and answers as the real object does.
class RecordingHandler : public MyDocHandler {
public:
    HRESULT ShowContextMenu(DWORD dwID, const TPoint* ppt, void* cmdTarget, void* object) override
    {
        calls.push_back(ppt ? *ppt : TPoint{-1, -1});
        kinds.push_back(dwID);
        return MyDocHandler::ShowContextMenu(dwID, ppt, cmdTarget, object);
    }
    std::vector<TPoint> calls;
    std::vector<DWORD> kinds;

protected:
    ~RecordingHandler() override = default;
};

class Browser : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        service = new Service;
        browsers = new WebEngineBrowsers;
        platform.Browsers = browsers;
        platform.MessageBox = &messageBox;
        SetCurrentPlatform(&platform);
    }
    static void TearDownTestSuite()
    {
        SetCurrentPlatform(nullptr);
        delete browsers;
        delete service;
    }

    Browser()
    {
        service->ClearRequests();
        browser.OnBeforeNavigate2 = [this](TCppWebBrowser*, const std::string& url, int, const std::string&,
                                           const std::string& post, const std::string&, bool& cancel) {
            before.push_back(url);
            beforePost.push_back(post);
            if (cancelWhen && cancelWhen(url)) cancel = true;
        };
        browser.OnDocumentComplete = [this](TCppWebBrowser*, const std::string& url) {
            completed.push_back(url);
            htmlAtCompletion.push_back(WebBrowserGetHtml(&browser));
        };
        QWidget* w = browser.Widget();
        w->setWindowTitle("browser under test");
        w->setGeometry(100, 100, 640, 480);
        w->show();
        EXPECT_TRUE(WaitUntil([w] { return w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed(); }));
    }
    ~Browser() override
    {
        if (handler) handler->Release();
    }

    // Navigates and waits for the page's document.
    void Load(const std::string& url)
    {
        const std::size_t before = completed.size();
        browser.Navigate(url);
        ASSERT_TRUE(WaitUntil([&] { return completed.size() > before && !browser.Busy(); })) << url;
    }
    QVariant Eval(const QString& script)
    {
        auto* view = static_cast<WebEngineBrowserView*>(browser.View());
        QVariant result;
        bool done = false;
        view->Page()->runJavaScript(script, [&](const QVariant& v) {
            result = v;
            done = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return done; })) << script.toStdString();
        return result;
    }
    bool CompletedWith(const std::string& url) const
    {
        return std::find(completed.begin(), completed.end(), url) != completed.end();
    }
    QPoint ScreenPoint(QPoint local) const { return browser.Widget()->mapToGlobal(local); }
    static void Click(QPoint at, int button)
    {
        const std::string cmd = "xdotool mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) +
                                " click " + std::to_string(button);
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }

    // One for all tests: the engine keeps its connections open.
    static inline Service* service = nullptr;
    static inline WebEngineBrowsers* browsers = nullptr;
    static inline Platform platform;
    static inline RecordingMessageBox messageBox;

    TCppWebBrowser browser{nullptr};
    RecordingHandler* handler = nullptr;
    std::function<bool(const std::string&)> cancelWhen;
    std::vector<std::string> before, beforePost, completed, htmlAtCompletion;
};

}  // namespace

TEST_F(Browser, PostsTheBytesAndTheFormTypeAsGivenAndReadsNothingBeforeAPage)
{
    EXPECT_EQ(browser.Document(), nullptr);
    EXPECT_EQ(WebBrowserGetHtml(&browser), "");
    WebBrowserRemoveBorder(&browser, true);
    WebBrowserExecScript(&browser, "document.title = 'never';");
    EXPECT_FALSE(browser.Busy());

    const std::string six("pw=\0\xFF%", 6);
    const std::string url = service->Url("/echo?mobile=1&goto=t.php%3fs=1");
    WebBrowserNavigatePost(&browser, url, six);
    EXPECT_TRUE(browser.Busy()) << "busy from the call on";
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0], url);
    EXPECT_EQ(beforePost[0], six);
    ASSERT_TRUE(WaitUntil([&] { return !browser.Busy(); }));
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0], url) << "reported as the caller spelled it";

    const auto requests = service->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, six);
    EXPECT_EQ(requests[0].contentType, "application/x-www-form-urlencoded");
    EXPECT_NE(WebBrowserGetHtml(&browser).find("posted"), std::string::npos);
    EXPECT_EQ(htmlAtCompletion[0], WebBrowserGetHtml(&browser)) << "readable inside document-complete";
}

TEST_F(Browser, ACancelledNavigationKeepsThePage)
{
    Load(service->Url("/page?n=1"));
    cancelWhen = [](const std::string& url) { return url.find("n=2") != std::string::npos; };

    browser.Navigate(service->Url("/page?n=2"));
    EXPECT_FALSE(browser.Busy());
    // The page's own navigation, through a script.
    WebBrowserExecScript(&browser, "location.href = '/page?n=2&by=script';");
    ASSERT_TRUE(WaitUntil([&] { return before.size() == 3; }));
    EXPECT_EQ(before[2], service->Url("/page?n=2&by=script"));

    // What follows shows that nothing else was loaded meanwhile.
    Load(service->Url("/page?n=3"));
    EXPECT_EQ(completed, (std::vector<std::string>{service->Url("/page?n=1"), service->Url("/page?n=3")}));
    for (const Request& r : service->Requests()) EXPECT_EQ(r.target.find("n=2"), std::string::npos) << r.target;
}

TEST_F(Browser, AScriptSubmittedFormIsReportedAfterTheCallThenItsRedirectAndPage)
{
    // The form posts back to the page's URL; it is reported as spelled here,
    // although the engine writes percent escapes in upper case.
    const std::string loginUrl = service->Url("/login?user=ann%20smith&goto=t.php%3fs=1");
    Load(loginUrl);
    const std::size_t seen = before.size();
    WebBrowserExecScript(&browser, "if (document && document.frmLogin && document.frmLogin.password){ "
                                   "document.frmLogin.password.value = 'it\\'s me'; document.frmLogin.submit(); }");
    ASSERT_TRUE(WaitUntil([&] { return CompletedWith(service->Url("/page?n=after-login")) && !browser.Busy(); }));
    ASSERT_EQ(before.size(), seen + 2);
    EXPECT_EQ(before[seen], loginUrl) << "the form submission";
    EXPECT_EQ(before[seen + 1], service->Url("/page?n=after-login")) << "the redirect";
    EXPECT_TRUE(service->Received("/login?user=ann%20smith&goto=t.php%3Fs=1"));
    const auto requests = service->Requests();
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const Request& r) {
        return r.method == "POST" && r.body == "password=it%27s+me";
    }));
    EXPECT_NE(WebBrowserGetHtml(&browser).find("marker-after-login"), std::string::npos);
}

TEST_F(Browser, GetHtmlGivesThePageSourceAndFollowsScripts)
{
    Load(service->Url("/page?n=html"));
    const std::string html = WebBrowserGetHtml(&browser);
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u) << html;
    EXPECT_NE(html.find("<title>Page</title>"), std::string::npos);
    EXPECT_NE(html.find("marker-html</body></html>"), std::string::npos);

    // Text outside ASCII reaches the page and comes back as the same bytes.
    const std::string title = "Zeit l\xC3\xA4uft \xE2\x80\x93 \xE2\x98\x95";
    WebBrowserExecScript(&browser, "document.title = '" + title + "';");
    ASSERT_TRUE(WaitUntil([&] { return WebBrowserGetHtml(&browser).find("<title>" + title + "</title>") != std::string::npos; }));
    EXPECT_EQ(Eval("document.title").toString().toStdString(), title);
}

TEST_F(Browser, RemoveBorderSetsTheBodyBorderToNoneAndScrollBarsOnlyWhenAsked)
{
    Load(service->Url("/page?n=border"));
    EXPECT_EQ(Eval("document.body.style.borderStyle").toString(), "solid");
    WebBrowserRemoveBorder(&browser, false);
    EXPECT_EQ(Eval("document.body.style.borderStyle").toString(), "none");
    EXPECT_EQ(Eval("getComputedStyle(document.body).borderTopStyle").toString(), "none");
    EXPECT_EQ(Eval("document.documentElement.style.overflow + '|' + document.body.style.overflow").toString(), "|");
    WebBrowserRemoveBorder(&browser, true);
    EXPECT_EQ(Eval("getComputedStyle(document.documentElement).overflow").toString(), "hidden");

    // A frameset is left as it is.
    Load(service->Url("/frames"));
    ASSERT_NE(browser.Document(), nullptr);
    EXPECT_TRUE(browser.Document()->HasBody());
    EXPECT_FALSE(browser.Document()->BodyIsBodyElement());
    WebBrowserRemoveBorder(&browser, true);
    EXPECT_EQ(Eval("document.body.style.borderStyle + '|' + document.documentElement.style.overflow").toString(), "|");
}

TEST_F(Browser, ARightClickWithTheHostObjectOpensTheApplicationMenuAtThePoint)
{
    Load(service->Url("/page?n=menu"));
    TPopupMenu menu;
    menu.Add("HidetoTray1", "Hide to Tray");
    QPoint menuAt;
    int engineMenus = 0;
    menu.OnShown = [&](TPopupMenu* m) {
        menuAt = m->Menu()->pos();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != m->Menu() && w->isVisible() && qobject_cast<QMenu*>(w)) ++engineMenus;
        m->Menu()->close();
    };
    handler = new RecordingHandler;
    handler->ShowDefaultMenu = false;
    handler->PopupMenu = &menu;
    browser.Document()->SetUIHandler(handler);

    const QPoint at = ScreenPoint({320, 240});
    Click(at, 3);
    ASSERT_TRUE(WaitUntil([&] { return handler->calls.size() == 1; }));
    EXPECT_EQ(handler->calls[0], (TPoint{at.x(), at.y()}));
    EXPECT_EQ(handler->kinds[0], CONTEXT_MENU_DEFAULT);
    EXPECT_EQ(menuAt, at);
    EXPECT_EQ(engineMenus, 0);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // E_NOTIMPL: the engine shows its own menu.
    handler->PopupMenu = nullptr;
    handler->ShowDefaultMenu = true;
    Click(at, 3);
    ASSERT_TRUE(WaitUntil([&] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }));
    EXPECT_EQ(handler->calls.size(), 2u);
    EXPECT_FALSE(QApplication::activePopupWidget()->actions().isEmpty());
    QApplication::activePopupWidget()->close();

    // Neither menu when the host wants none.
    handler->ShowDefaultMenu = false;
    Click(at, 3);
    ASSERT_TRUE(WaitUntil([&] { return handler->calls.size() == 3; }));
    Settle();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(Browser, ALinkThatOpensAWindowIsReportedAndLoadsHere)
{
    Load(service->Url("/links"));
    cancelWhen = [](const std::string&) { return false; };
    Click(ScreenPoint({50, 50}), 1);
    ASSERT_TRUE(WaitUntil([&] { return CompletedWith(service->Url("/page?n=new-window")); }));
    EXPECT_EQ(before.back(), service->Url("/page?n=new-window"));
    EXPECT_NE(WebBrowserGetHtml(&browser).find("marker-new-window"), std::string::npos);
}

TEST_F(Browser, PageAlertsUseTheEnginesDialog)
{
    Load(service->Url("/page?n=alert"));
    // The dialog runs its own loop; it is answered from inside that loop.
    QString shownText;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) shownText = box->text();
            w->close();
        }
    });
    answer.start(50);
    WebBrowserExecScript(&browser, "alert('from the page'); document.title = 'after';");
    ASSERT_TRUE(WaitUntil([&] { return !shownText.isEmpty(); }));
    EXPECT_EQ(shownText, "from the page");
    EXPECT_EQ(Eval("document.title").toString(), "after") << "the script goes on once it is answered";
}

TEST_F(Browser, TheProfileKeepsItsDataInTheUsersDataDirectory)
{
    auto* view = static_cast<WebEngineBrowserView*>(browser.View());
    QWebEngineProfile* profile = view->Page()->profile();
    EXPECT_FALSE(profile->isOffTheRecord());
    EXPECT_EQ(profile->persistentStoragePath(),
              QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/browser");
    EXPECT_EQ(profile->persistentCookiesPolicy(), QWebEngineProfile::AllowPersistentCookies);
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    if (!dataHome.isEmpty()) {
        EXPECT_TRUE(profile->persistentStoragePath().startsWith(QString::fromLocal8Bit(dataHome)));
    }
}

int main(int argc, char** argv)
{
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName("chronel-browser-test");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

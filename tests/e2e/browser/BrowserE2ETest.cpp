// The browser control on Qt WebEngine against the demo work-log service (and a
// few pages it does not have), under a real X server: what the service
// receives and what the control reports.
#include <httplib.h>
#include "tools/demo-service/SelfSigned.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "browser/MyDocHandler.h"
#include "browser/TCppWebBrowserUtils.h"
#include "components/CppWebBrowser.h"
#include "components/Menus.h"
#include "platform/Platform.h"
#include "platform/desktop/engine/WebEngineBrowser.h"

namespace {

// ---- the services -------------------------------------------------------------

struct Request {
    std::string method, target, contentType, body;
};

// The demo service, started by the calling script (CHRONEL_DEMO_URL).
class DemoService {
public:
    explicit DemoService(std::string base) : base_(std::move(base)), client_(HostPort()) {}
    const std::string& Base() const { return base_; }
    std::string Url(const std::string& path) const { return base_ + path; }
    void Reset()
    {
        auto r = client_.Post("/__reset", "", "application/x-www-form-urlencoded");
        ASSERT_TRUE(r && r->status == 200);
    }
    QJsonObject Status()
    {
        auto r = client_.Get("/__status");
        EXPECT_TRUE(r && r->status == 200);
        return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object() : QJsonObject();
    }
    // Texts from requests carry one byte a character. The engine's own icon
    // requests come at its leisure after a page and are left out.
    std::vector<Request> Requests()
    {
        std::vector<Request> out;
        auto bytes = [](const QJsonValue& v) { return v.toString().toLatin1().toStdString(); };
        for (const QJsonValue& v : Status()["requests"].toArray()) {
            const QJsonObject o = v.toObject();
            if (bytes(o["target"]).rfind("/favicon.ico", 0) == 0) continue;
            out.push_back({bytes(o["method"]), bytes(o["target"]), bytes(o["content_type"]), bytes(o["body"])});
        }
        return out;
    }
    bool Received(const std::string& path)
    {
        const auto all = Requests();
        return std::any_of(all.begin(), all.end(), [&](const Request& r) { return r.target.rfind(path, 0) == 0; });
    }

private:
    std::string HostPort() const
    {
        const auto from = base_.find("://") + 3;
        return "http://" + base_.substr(from, base_.find('/', from) - from);
    }
    std::string base_;
    httplib::Client client_;
};

// Links that must never leave through the system's opener, then the ones that
// may: a mail link (the control hands it on) and a web link (the host does).
const char* const kSchemeLinks[] = {
    "foo://bar/1", "smb://127.0.0.1/share", "file:///etc/hostname", "data:text/html,<p>data</p>",
    "javascript:location='foo://from-script'", "mailto:ann@example.org", "https://127.0.0.1:1/outside",
};

// Pages the work-log service has no use for: a frameset, a link to a new window.
class ExtraPages {
public:
    ExtraPages()
    {
        server_.Get("/frames", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><frameset cols=\"*\"><frame src=\"/links\"></frameset></html>", "text/html");
        });
        server_.Get("/links", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body style=\"margin:0\"><a target=\"_blank\" href=\"/opened\" "
                            "style=\"display:block;width:200px;height:100px\">out</a></body></html>",
                            "text/html");
        });
        server_.Get("/opened", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body>opened</body></html>", "text/html");
        });
        // One link a row, 40 pixels high, each with the text "x".
        server_.Get("/schemes", [](const httplib::Request& req, httplib::Response& res) {
            std::string html = "<html><head><title>schemes</title></head><body style=\"margin:0\">";
            for (const char* href : kSchemeLinks)
                html += std::string("<a ") + (req.has_param("blank") ? "target=\"_blank\" " : "") + "href=\"" +
                        href + "\" style=\"display:block;height:40px\">x</a>";
            res.set_content(html + "</body></html>", "text/html");
        });
        server_.Get("/changing", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body><p id=\"p\">before</p><script>setTimeout(function () {"
                            "document.getElementById('p').textContent = 'after'; }, 300);</script></body></html>",
                            "text/html");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~ExtraPages()
    {
        server_.stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

// ---- the platform: the real browser; message boxes are recorded ------------

class RecordingShell : public IShell {
public:
    std::intptr_t ShellExecute(const std::string&, const std::string& file) override
    {
        opened.push_back(file);
        return 42;
    }
    std::vector<std::string> opened;
};

// What the engine would hand to the system's opener by itself.
class OpenerSpy : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened.push_back(url); }
};

class RecordingMessageBox : public IMessageBox {
public:
    int Show(const std::string& text, const std::string&, UINT) override
    {
        shown.push_back(text);
        return IDOK;
    }
    std::vector<std::string> shown;
};

// An address on this machine where nobody listens: a port the system just
// handed out and that was closed again.
std::string RefusedUrl()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(port) + "/index.php";
}

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
        const char* base = std::getenv("CHRONEL_DEMO_URL");
        service = new DemoService(base ? base : "http://127.0.0.1:18080/");
        extra = new ExtraPages;
        browsers = new WebEngineBrowsers;
        platform.Browsers = browsers;
        platform.MessageBox = &messageBox;
        platform.Shell = &shell;
        SetCurrentPlatform(&platform);
        for (const char* scheme : {"foo", "smb", "file", "data", "mailto", "http", "https"})
            QDesktopServices::setUrlHandler(scheme, &openerSpy, "Open");
    }
    static void TearDownTestSuite()
    {
        SetCurrentPlatform(nullptr);
        delete browsers;
        delete extra;
        delete service;
    }

    Browser()
    {
        service->Reset();  // also ends the session the profile's cookie names
        shell.opened.clear();
        openerSpy.opened.clear();
        messageBox.shown.clear();
        browser.View()->OnNavigateError = [this](const TNavigateErrorArgs& e) {
            errors.push_back(e);
            busyAtError.push_back(browser.Busy());
        };
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
        ASSERT_TRUE(WaitUntil([&] { return completed.size() > before && !browser.Busy(); }))
            << url << " busy " << browser.Busy() << " completed " << completed.size() << " errors " << errors.size()
            << (errors.empty() ? "" : " " + errors.back().URL + " " + errors.back().Reason);
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

    const std::string loginUrl =
        service->Url("index.php?mobile=1&username_or_email=demo&goto=time_log.php%3fsmallbtn=1");
    const std::string timerUrl = service->Url("time_log.php?smallbtn=1");

    // Logs in with the posted password and waits for the timer page.
    void LogIn()
    {
        WebBrowserNavigatePost(&browser, loginUrl, "pw=demo");
        ASSERT_TRUE(WaitUntil([&] { return !browser.Busy(); }));
        ASSERT_FALSE(completed.empty());
        ASSERT_EQ(completed.back(), timerUrl);
    }

    static inline DemoService* service = nullptr;
    static inline ExtraPages* extra = nullptr;
    static inline WebEngineBrowsers* browsers = nullptr;
    static inline Platform platform;
    static inline RecordingMessageBox messageBox;
    static inline RecordingShell shell;
    static inline OpenerSpy openerSpy;
    std::vector<TNavigateErrorArgs> errors;
    std::vector<bool> busyAtError;

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

    // A wrong password: the service answers with the login page at the same URL.
    const std::string six("pw=\0\xFF%", 6);
    WebBrowserNavigatePost(&browser, loginUrl, six);
    EXPECT_TRUE(browser.Busy()) << "busy from the call on";
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0], loginUrl);
    EXPECT_EQ(beforePost[0], six);
    ASSERT_TRUE(WaitUntil([&] { return !browser.Busy(); }));
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0], loginUrl) << "reported as the caller spelled it";

    const auto requests = service->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, six);
    EXPECT_EQ(requests[0].contentType, "application/x-www-form-urlencoded");
    // The engine writes percent escapes in upper case on the wire.
    EXPECT_EQ(requests[0].target, "/index.php?mobile=1&username_or_email=demo&goto=time_log.php%3Fsmallbtn=1");
    EXPECT_NE(WebBrowserGetHtml(&browser).find("name=\"frmLogin\""), std::string::npos);
    EXPECT_EQ(htmlAtCompletion[0], WebBrowserGetHtml(&browser)) << "readable inside document-complete";
}

TEST_F(Browser, APostedLoginIsFollowedByItsRedirectToTheTimerPage)
{
    LogIn();
    EXPECT_EQ(before, (std::vector<std::string>{loginUrl, timerUrl}));
    EXPECT_EQ(completed, std::vector<std::string>{timerUrl}) << "only the page that loaded completes";
    const QJsonArray events = service->Status()["events"].toArray();
    ASSERT_FALSE(events.isEmpty());
    EXPECT_EQ(events[0].toObject()["via"].toString(), "pw");
    EXPECT_EQ(events[0].toObject()["result"].toString(), "ok");
    // The copy is the engine's serialisation of the document.
    EXPECT_NE(WebBrowserGetHtml(&browser).find("<option value=\"3\" selected=\"\">Website redesign</option>"),
              std::string::npos);
}

TEST_F(Browser, ScriptSubmittedFormsAreReportedAfterTheCallThenTheirPages)
{
    WebBrowserNavigatePost(&browser, loginUrl, "pw=");
    ASSERT_TRUE(WaitUntil([&] { return !browser.Busy(); }));
    ASSERT_EQ(completed.back(), loginUrl);

    // The login form posts back to the page's URL. It is reported as spelled
    // by the caller, although the engine writes the escapes in upper case.
    std::size_t seen = before.size();
    WebBrowserExecScript(&browser, "if (document && document.frmLogin && document.frmLogin.password){ "
                                   "document.frmLogin.password.value = 'demo'; document.frmLogin.submit(); }");
    ASSERT_TRUE(WaitUntil([&] { return CompletedWith(timerUrl) && !browser.Busy(); }));
    ASSERT_EQ(before.size(), seen + 2);
    EXPECT_EQ(before[seen], loginUrl) << "the form submission";
    EXPECT_EQ(before[seen + 1], timerUrl) << "the redirect";
    const auto requests = service->Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[requests.size() - 2].method, "POST");
    EXPECT_EQ(requests[requests.size() - 2].body, "username_or_email=demo&password=demo");

    // The start/stop form, a GET.
    seen = before.size();
    const std::string startUrl = service->Url("time_log.php?tid=&item=3&smallbtn=1");
    WebBrowserExecScript(&browser, "document.frmStartStop.submit();");
    ASSERT_TRUE(WaitUntil([&] { return CompletedWith(startUrl) && !browser.Busy(); }));
    EXPECT_EQ(before[seen], startUrl);
    EXPECT_TRUE(service->Status()["running"].toBool());
    EXPECT_NE(WebBrowserGetHtml(&browser).find("value=\"Stop\""), std::string::npos);
}

TEST_F(Browser, ACancelledNavigationKeepsThePage)
{
    LogIn();
    cancelWhen = [](const std::string& url) { return url.find("reports.php") != std::string::npos; };

    browser.Navigate(service->Url("reports.php"));
    EXPECT_FALSE(browser.Busy());
    // The page's own link.
    WebBrowserExecScript(&browser, "document.links[0].click();");
    ASSERT_TRUE(WaitUntil([&] { return before.size() == 4; }));
    EXPECT_EQ(before[3], service->Url("reports.php"));
    // A redirect.
    Load(service->Url("?from=cancel"));  // "/" redirects to the login page
    EXPECT_EQ(before.back(), service->Url("index.php"));

    // What follows shows that nothing else was loaded meanwhile.
    Load(timerUrl);
    EXPECT_EQ(completed, (std::vector<std::string>{timerUrl, service->Url("index.php"), timerUrl}));
    EXPECT_FALSE(service->Received("/reports.php"));
    EXPECT_NE(WebBrowserGetHtml(&browser).find("frmStartStop"), std::string::npos);

    cancelWhen = [](const std::string& url) { return url.find("index.php") != std::string::npos; };
    browser.Navigate(service->Url(""));
    ASSERT_TRUE(WaitUntil([&] { return before.back() == service->Url("index.php"); }));
    ASSERT_TRUE(WaitUntil([&] { return !browser.Busy(); }));
    EXPECT_EQ(completed.size(), 3u) << "a cancelled redirect completes nothing";
    EXPECT_NE(WebBrowserGetHtml(&browser).find("frmStartStop"), std::string::npos);
}

TEST_F(Browser, GetHtmlGivesThePageSourceAndFollowsScripts)
{
    LogIn();
    const std::string html = WebBrowserGetHtml(&browser);
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u) << html;
    EXPECT_NE(html.find("<title>Work log - Timer</title>"), std::string::npos);
    EXPECT_NE(html.find("<option value=\"5\">Caf\xC3\xA9 M\xC3\xB8ller</option>"), std::string::npos);
    EXPECT_NE(html.find("</body></html>"), std::string::npos);

    // Text outside ASCII reaches the page and comes back as the same bytes.
    const std::string title = "Zeit l\xC3\xA4uft \xE2\x80\x93 \xE2\x98\x95";
    WebBrowserExecScript(&browser, "document.title = '" + title + "';");
    ASSERT_TRUE(WaitUntil([&] { return WebBrowserGetHtml(&browser).find("<title>" + title + "</title>") != std::string::npos; }));
    EXPECT_EQ(Eval("document.title").toString().toStdString(), title);
}

TEST_F(Browser, RemoveBorderSetsTheBodyBorderToNoneAndScrollBarsOnlyWhenAsked)
{
    LogIn();
    EXPECT_EQ(Eval("document.body.style.borderStyle").toString(), "");
    WebBrowserRemoveBorder(&browser, false);
    EXPECT_EQ(Eval("document.body.style.borderStyle").toString(), "none");
    EXPECT_EQ(Eval("document.documentElement.style.overflow + '|' + document.body.style.overflow").toString(), "|");
    WebBrowserRemoveBorder(&browser, true);
    EXPECT_EQ(Eval("getComputedStyle(document.documentElement).overflow").toString(), "hidden");

    // A frameset is left as it is.
    Load(extra->Url("/frames"));
    ASSERT_NE(browser.Document(), nullptr);
    EXPECT_TRUE(browser.Document()->HasBody());
    EXPECT_FALSE(browser.Document()->BodyIsBodyElement());
    WebBrowserRemoveBorder(&browser, true);
    EXPECT_EQ(Eval("document.body.style.borderStyle + '|' + document.documentElement.style.overflow").toString(), "|");
}

TEST_F(Browser, ARightClickWithTheHostObjectOpensTheApplicationMenuAtThePoint)
{
    WebBrowserNavigatePost(&browser, loginUrl, "pw=");
    ASSERT_TRUE(WaitUntil([&] { return !browser.Busy(); }));
    TPopupMenu menu;
    menu.Add("HidetoTray1", "Hide to Tray");
    QPoint menuAt;
    int otherMenus = 0;
    menu.OnShown = [&](TPopupMenu* m) {
        menuAt = m->Menu()->pos();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != m->Menu() && w->isVisible() && qobject_cast<QMenu*>(w)) ++otherMenus;
        m->Menu()->close();
    };
    handler = new RecordingHandler;
    handler->ShowDefaultMenu = false;
    handler->PopupMenu = &menu;
    browser.Document()->SetUIHandler(handler);

    const QPoint at = ScreenPoint({320, 300});
    Click(at, 3);
    ASSERT_TRUE(WaitUntil([&] { return handler->calls.size() == 1; }));
    EXPECT_EQ(handler->calls[0], (TPoint{at.x(), at.y()}));
    EXPECT_EQ(handler->kinds[0], CONTEXT_MENU_DEFAULT);
    EXPECT_EQ(menuAt, at);
    EXPECT_EQ(otherMenus, 0);
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
    Load(extra->Url("/links"));
    Click(ScreenPoint({50, 50}), 1);
    ASSERT_TRUE(WaitUntil([&] { return CompletedWith(extra->Url("/opened")); }));
    EXPECT_EQ(before.back(), extra->Url("/opened"));
    EXPECT_NE(WebBrowserGetHtml(&browser).find("opened"), std::string::npos);
}

TEST_F(Browser, LoadsThatCannotStartOrFailEndWithAnErrorAndNotBusy)
{
    // Exactly as given: no guessing turns these into other addresses.
    const std::string refused = RefusedUrl();
    const std::vector<std::string> urls = {"http://a b/index.php", "ftp://127.0.0.1/index.php",
                                           "file:///etc/hostname", "foo:bar", refused};
    for (const std::string& url : urls) {
        const std::size_t seen = errors.size();
        browser.Navigate(url);
        EXPECT_EQ(before.back(), url);
        ASSERT_TRUE(WaitUntil([&] { return errors.size() > seen; })) << url;
        EXPECT_FALSE(browser.Busy()) << url;
        EXPECT_FALSE(busyAtError.back()) << url;
        EXPECT_EQ(errors.back().URL, url);
        EXPECT_EQ(errors.back().StatusCode, 0);
        EXPECT_FALSE(errors.back().Reason.empty());
    }
    EXPECT_EQ(errors.back().Reason, "connection refused");
    EXPECT_NE(errors[0].Reason.find("not a valid address"), std::string::npos) << errors[0].Reason;
    EXPECT_NE(errors[1].Reason.find("ftp"), std::string::npos) << errors[1].Reason;
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(errors.size(), urls.size()) << "one error a load";

    // After all that the control still loads.
    LogIn();
}

TEST_F(Browser, AnUntrustedCertificateIsRefusedAndSaidWithItsHostAndTheEnginesWords)
{
    chronel::demo::SelfSignedIdentity identity;
    httplib::SSLServer tls(identity.certificate(), identity.key());
    tls.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("<p>in</p>", "text/html"); });
    const int port = tls.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&] { tls.listen_after_bind(); });
    const struct {
        std::string url;
        TNavigateErrorDomain domain;
        int code;
        std::string name;
    } cases[] = {
        {"https://127.0.0.1:" + std::to_string(port) + "/", TNavigateErrorDomain::Certificate, -202,
         "net::ERR_CERT_AUTHORITY_INVALID"},
        {"http://127.0.0.1:9/", TNavigateErrorDomain::Http, -312, "net::ERR_UNSAFE_PORT"},
        {RefusedUrl(), TNavigateErrorDomain::Connection, -102, "net::ERR_CONNECTION_REFUSED"},
    };
    for (const auto& c : cases) {
        const std::size_t seen = errors.size();
        browser.Navigate(c.url);
        ASSERT_TRUE(WaitUntil([&] { return errors.size() > seen; })) << c.url;
        const TNavigateErrorArgs& e = errors.back();
        EXPECT_EQ(e.Domain, c.domain) << c.url;
        EXPECT_EQ(e.Code, c.code) << c.url;
        EXPECT_EQ(e.Name, c.name) << c.url;
    }
    // Refused, never accepted: the page did not load, and the refusal named the host and why.
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(errors[0].CertificateHost, "127.0.0.1");
    EXPECT_FALSE(errors[0].CertificateReason.empty());
    EXPECT_TRUE(errors[1].CertificateHost.empty());
    tls.stop();
    serving.join();
}

TEST_F(Browser, GetHtmlAfterAChangeWaitsForAFreshCopy)
{
    LogIn();
    // A style set through the control is in the very next copy.
    WebBrowserRemoveBorder(&browser, false);
    EXPECT_NE(WebBrowserGetHtml(&browser).find("border-style: none"), std::string::npos);
    WebBrowserExecScript(&browser, "document.body.setAttribute('data-by', 'script');");
    EXPECT_NE(WebBrowserGetHtml(&browser).find("data-by=\"script\""), std::string::npos);

    // The page changes its own document later; once it has, the copy follows.
    Load(extra->Url("/changing"));
    EXPECT_NE(WebBrowserGetHtml(&browser).find(">before<"), std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return Eval("document.getElementById('p').textContent").toString() == "after"; }));
    Settle(200);
    EXPECT_NE(WebBrowserGetHtml(&browser).find(">after<"), std::string::npos);
}

TEST_F(Browser, OnlyWebAndMailLinksLeaveAndThePageStays)
{
    // The host opens web links to other sites itself, as the main window does.
    cancelWhen = [](const std::string& url) {
        if (url.rfind("https://", 0) != 0) return false;
        shell.ShellExecute("open", url);
        return true;
    };
    for (const bool blank : {false, true}) {
        SCOPED_TRACE(blank ? "target=_blank" : "same tab");
        shell.opened.clear();
        const std::string page = extra->Url(blank ? "/schemes?blank=1" : "/schemes");
        Load(page);
        const std::size_t completions = completed.size();
        // Real clicks: the engine hands unknown schemes on only for a user's gesture.
        for (int i = 0; i < static_cast<int>(std::size(kSchemeLinks)); ++i) {
            Click(ScreenPoint({20, 20 + 40 * i}), 1);
            Settle(300);
        }
        ASSERT_TRUE(WaitUntil([&] { return shell.opened.size() >= 2; }));
        Settle(1000);
        EXPECT_EQ(shell.opened, (std::vector<std::string>{"mailto:ann@example.org", "https://127.0.0.1:1/outside"}));
        EXPECT_TRUE(openerSpy.opened.empty()) << openerSpy.opened.front().toString().toStdString();
        EXPECT_EQ(completed.size(), completions) << "no other page loaded";
        EXPECT_EQ(Eval("location.href").toString().toStdString(), page);
        EXPECT_EQ(Eval("document.title").toString(), "schemes");
    }
}

TEST_F(Browser, PageAlertsUseTheEnginesDialog)
{
    LogIn();
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

// The engine's page processes among this process's descendants.
int Renderers()
{
    int n = 0;
    std::vector<QByteArray> pids{QByteArray::number(QCoreApplication::applicationPid())};
    while (!pids.empty()) {
        const QByteArray pid = pids.back();
        pids.pop_back();
        QFile cmdline("/proc/" + pid + "/cmdline");
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("--type=renderer")) ++n;
        for (const QString& task : QDir("/proc/" + pid + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile children("/proc/" + pid + "/task/" + task.toLatin1() + "/children");
            if (!children.open(QIODevice::ReadOnly)) continue;
            for (const QByteArray& child : children.readAll().split(' '))
                if (!child.trimmed().isEmpty()) pids.push_back(child.trimmed());
        }
    }
    return n;
}

TEST_F(Browser, TheEngineStartsWithTheFirstLoadAndADiscardedPageLetsItsRendererGo)
{
    EXPECT_EQ(static_cast<WebEngineBrowserView*>(browser.View())->Page(), nullptr) << "no engine page before a load";
    LogIn();
    EXPECT_TRUE(WaitUntil([] { return Renderers() == 1; }));
    const std::size_t done = completed.size();
    WebBrowserExecScript(&browser, "document.title = 'late';");  // its copy is on its way
    browser.Discard();
    EXPECT_TRUE(browser.Discarded());
    EXPECT_EQ(browser.Document(), nullptr);
    EXPECT_FALSE(browser.Busy());
    EXPECT_EQ(WebBrowserGetHtml(&browser), "");
    EXPECT_TRUE(WaitUntil([] { return Renderers() == 0; })) << "the renderer stays";
    Settle();
    EXPECT_EQ(completed.size(), done) << "nothing is reported of the page let go";
    // The next load makes the page anew, with the profile's session.
    LogIn();
    EXPECT_FALSE(browser.Discarded());
    EXPECT_NE(WebBrowserGetHtml(&browser).find("frmStartStop"), std::string::npos);
    EXPECT_EQ(Renderers(), 1);
}

TEST_F(Browser, TheProfileKeepsItsDataInTheUsersDataDirectory)
{
    LogIn();
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

#include "BrowserE2ETest.moc"

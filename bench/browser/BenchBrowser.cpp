// The embedded browser against the demo service: how long a posted login
// takes to a completed document, and what reading the page source costs.
// CHRONEL_DEMO_URL names the service's base URL (see run.sh).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "browser/TCppWebBrowserUtils.h"
#include "components/CppWebBrowser.h"
#include "platform/Platform.h"
#include "platform/desktop/engine/WebEngineBrowser.h"

namespace {

class QuietMessageBox : public IMessageBox {
public:
    int Show(const std::string& text, const std::string&, UINT) override
    {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
        return IDOK;
    }
};

std::string g_base;
TCppWebBrowser* g_browser = nullptr;
int g_completed = 0;

std::string LoginUrl()
{
    return g_base + "index.php?mobile=1&username_or_email=demo&goto=time_log.php%3fsmallbtn=1";
}

bool Pump(const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 60000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// From the call to the completed document (the handler has been raised and
// the source can be read).
void PostAndWait(benchmark::State& state, const std::string& body)
{
    std::size_t bytes = 0;
    for (auto _ : state) {
        const int before = g_completed;
        const auto start = std::chrono::steady_clock::now();
        WebBrowserNavigatePost(g_browser, LoginUrl(), body);
        if (!Pump([&] { return g_completed > before && !g_browser->Busy(); })) {
            state.SkipWithError("no document");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        bytes = WebBrowserGetHtml(g_browser).size();
    }
    state.counters["page_bytes"] = static_cast<double>(bytes);
}

// A wrong (empty) password: the service answers with the login page itself.
void BM_NavigatePostToLoginPage(benchmark::State& state)
{
    PostAndWait(state, "pw=");
}

// The real login: a post, a redirect, and the timer page.
void BM_NavigatePostLoginToTimerPage(benchmark::State& state)
{
    PostAndWait(state, "pw=demo");
}

void BM_GetHtmlTimerPage(benchmark::State& state)
{
    WebBrowserNavigatePost(g_browser, LoginUrl(), "pw=demo");
    if (!Pump([] { return !g_browser->Busy(); })) {
        state.SkipWithError("no timer page");
        return;
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string html = WebBrowserGetHtml(g_browser);
        bytes = html.size();
        benchmark::DoNotOptimize(html);
    }
    state.counters["page_bytes"] = static_cast<double>(bytes);
}

// What the synchronous read saves its callers: one asynchronous copy of the
// document out of the engine, as made after every load.
void BM_EngineCopyOfTimerPage(benchmark::State& state)
{
    auto* view = static_cast<WebEngineBrowserView*>(g_browser->View());
    for (auto _ : state) {
        bool done = false;
        const auto start = std::chrono::steady_clock::now();
        view->Page()->runJavaScript(QStringLiteral("document.documentElement.outerHTML"), 1,
                                    [&](const QVariant& v) { done = v.isValid(); });
        if (!Pump([&] { return done; })) {
            state.SkipWithError("no copy");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

BENCHMARK(BM_NavigatePostToLoginPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(5);
BENCHMARK(BM_NavigatePostLoginToTimerPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(5);
BENCHMARK(BM_GetHtmlTimerPage)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_EngineCopyOfTimerPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName("chronel-browser-bench");
    const char* base = std::getenv("CHRONEL_DEMO_URL");
    if (!base || !*base) {
        std::fprintf(stderr, "bench_browser: set CHRONEL_DEMO_URL to the demo service's base URL (see run.sh)\n");
        return 2;
    }
    g_base = base;

    WebEngineBrowsers browsers;
    QuietMessageBox box;
    Platform platform;
    platform.Browsers = &browsers;
    platform.MessageBox = &box;
    SetCurrentPlatform(&platform);
    {
        TCppWebBrowser browser(nullptr);
        browser.OnDocumentComplete = [](TCppWebBrowser*, const std::string&) { ++g_completed; };
        browser.Widget()->resize(300, 400);
        browser.Widget()->show();
        g_browser = &browser;
        // The engine's start-up is not part of any figure.
        WebBrowserNavigatePost(&browser, LoginUrl(), "pw=");
        Pump([&] { return g_completed > 0 && !browser.Busy(); });

        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        g_browser = nullptr;
    }
    SetCurrentPlatform(nullptr);
    return 0;
}

#include "platform/desktop/engine/WebEngineBrowser.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWebEngineCertificateError>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QQuickWindow>
#include <QVBoxLayout>
#include <QtGlobal>
#include <set>

#include "platform/DocHostUIHandler.h"
#include "platform/Platform.h"
#include "platform/Shell.h"
#include "platform/MessageBox.h"
#include "platform/TraceMarks.h"

namespace {
// Runs a handler of the host's; what it throws is said, not let into the engine's event.
template <class Handler, class... Args>
void Raise(const char* what, const Handler& handler, Args&&... args)
{
    if (!handler) return;
    try {
        handler(std::forward<Args>(args)...);
    } catch (const std::exception& e) {
        qWarning("%s handler failed: %s", what, e.what());
    } catch (...) {
        qWarning("%s handler failed", what);
    }
}

// Runs in the application's own script world, so page scripts cannot have
// replaced what it uses. The doctype is not part of outerHTML.
const QString kSnapshotScript = QStringLiteral(R"js((function () {
  var d = document, e = d.documentElement, b = d.body, t = d.doctype;
  var html = e ? e.outerHTML : '';
  if (t) html = new XMLSerializer().serializeToString(t) + '\n' + html;
  return [html, b ? b.tagName.toUpperCase() : ''];
})())js");

// Watches the document from the application's own script world and says
// so on the console whenever it changes (nodes, text, attributes, styles),
// so a copy taken before is known to be old. A page that writes the same
// text to its console only causes a needless fresh copy.
const QString kChangedNotice = QStringLiteral("\u0001chronel:document-changed");
const QString kWatchScript = QStringLiteral(R"js((function () {
  var pending = false;
  new MutationObserver(function () {
    if (pending) return;
    pending = true;
    Promise.resolve().then(function () { pending = false; console.log('\x01chronel:document-changed'); });
  }).observe(document, {subtree: true, childList: true, attributes: true, characterData: true});
})())js");

// The longest wait for a fresh copy of a changed document.
constexpr int kFreshCopyWaitMs = 2000;

// How long after a click or key a link it started may still leave the program.
constexpr qint64 kGestureMs = 5000;

// Own spellings of URLs remembered; the engine reports URLs with their
// percent escapes normalised to upper case.
constexpr std::size_t kSpellingsKept = 16;

QString JsString(const std::string& text)
{
    QString out = QStringLiteral("'");
    for (const QChar c : QString::fromStdString(text)) {
        switch (c.unicode()) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\'': out += QStringLiteral("\\'"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        case 0x2028: out += QStringLiteral("\\u2028"); break;
        case 0x2029: out += QStringLiteral("\\u2029"); break;
        default: out += c; break;
        }
    }
    return out + QLatin1Char('\'');
}

TNavigateErrorDomain DomainOf(QWebEngineLoadingInfo::ErrorDomain domain)
{
    switch (domain) {
    case QWebEngineLoadingInfo::NoErrorDomain: return TNavigateErrorDomain::None;
    case QWebEngineLoadingInfo::InternalErrorDomain: return TNavigateErrorDomain::Internal;
    case QWebEngineLoadingInfo::ConnectionErrorDomain: return TNavigateErrorDomain::Connection;
    case QWebEngineLoadingInfo::CertificateErrorDomain: return TNavigateErrorDomain::Certificate;
    case QWebEngineLoadingInfo::DnsErrorDomain: return TNavigateErrorDomain::Dns;
    case QWebEngineLoadingInfo::HttpStatusCodeDomain: return TNavigateErrorDomain::HttpStatus;
    case QWebEngineLoadingInfo::HttpErrorDomain:
    case QWebEngineLoadingInfo::FtpErrorDomain: break;
    }
    return TNavigateErrorDomain::Http;
}

// Exactly as given: no guessing of what a user may have meant.
QUrl ToUrl(const std::string& url)
{
    return QUrl(QString::fromStdString(url), QUrl::StrictMode);
}

// Schemes a page may navigate to inside the control; the engine applies its
// own rules to them (it blocks a page's top-level data: and file: loads).
bool EngineScheme(const QString& scheme)
{
    static const QStringList known{"http", "https", "about", "data", "blob", "file", "javascript"};
    return known.contains(scheme.toLower());
}

// The only links the system's opener is given: web and mail.
bool OpenerScheme(const QString& scheme)
{
    static const QStringList allowed{"http", "https", "mailto"};
    return allowed.contains(scheme.toLower());
}

std::string Text(const QUrl& url)
{
    return url.toString(QUrl::FullyEncoded).toStdString();
}

std::string Trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool IEquals(const std::string& a, const char* b)
{
    return QString::fromStdString(a).compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

class ChronelWebPage : public QWebEnginePage {
public:
    ChronelWebPage(WebEngineBrowserView& owner, QWebEngineProfile* profile, QObject* parent)
        : QWebEnginePage(profile, parent), owner_(owner)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        return owner_.AcceptNavigation(url, type, isMainFrame);
    }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override
    {
        if (message == kChangedNotice) {
            owner_.DocumentChanged();
            return;
        }
        QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
    }

private:
    WebEngineBrowserView& owner_;
};

class ChronelWebView : public QWebEngineView {
public:
    ChronelWebView(WebEngineBrowserView& owner, QWidget* parent) : QWebEngineView(parent), owner_(owner) {}

protected:
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        if (owner_.ShowContextMenu(event)) return;
        QWebEngineView::contextMenuEvent(event);
    }

private:
    WebEngineBrowserView& owner_;
};

}  // namespace

// ---- document ----------------------------------------------------------------

bool WebEngineDocument::HasBody()
{
    return !owner_.snapshot_.bodyTag.empty();
}

bool WebEngineDocument::BodyIsBodyElement()
{
    return owner_.snapshot_.bodyTag == "BODY";
}

void WebEngineDocument::SetBodyBorderStyle(const std::string& style)
{
    owner_.RunScript("if (document.body) document.body.style.borderStyle = " + JsString(style).toStdString() + ";",
                     QWebEngineScript::ApplicationWorld);
}

void WebEngineDocument::SetBodyScroll(const std::string& scroll)
{
    // The engine has no scroll attribute; the overflow of the root and the
    // body decides whether the page shows scroll bars.
    const char* overflow = IEquals(scroll, "no") ? "hidden" : IEquals(scroll, "yes") ? "scroll" : "";
    owner_.RunScript(std::string("if (document.body) { document.body.setAttribute('scroll', ") +
                     JsString(scroll).toStdString() + "); document.body.style.overflow = '" + overflow +
                     "'; document.documentElement.style.overflow = '" + overflow + "'; }",
                     QWebEngineScript::ApplicationWorld);
}

bool WebEngineDocument::ExecScript(const std::string& script)
{
    if (!owner_.page_) return false;
    owner_.RunScript(script, QWebEngineScript::MainWorld);
    return true;
}

bool WebEngineDocument::SaveHtml(std::string& html)
{
    owner_.WaitForFreshCopy();
    if (!owner_.snapshot_.valid) return false;
    html = owner_.snapshot_.html;
    return true;
}

void WebEngineDocument::SetUIHandler(IDocHostUIHandler* handler)
{
    if (handler) handler->AddRef();
    IDocHostUIHandler* old = owner_.uiHandler_;
    owner_.uiHandler_ = handler;
    if (old) old->Release();
}

// ---- view ----------------------------------------------------------------------

WebEngineBrowserView::WebEngineBrowserView(ProfileSource profile, QWidget* parent)
    : profileSource_(std::move(profile))
{
    // The page's place, shown and sized by the host before there is a page.
    auto* container = new QWidget(parent);
    auto* layout = new QVBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    container_ = container;
    // The page's input goes to widgets inside the view, made and remade by the engine.
    qApp->installEventFilter(this);
}

bool WebEngineBrowserView::EnsurePage()
{
    if (page_) return true;
    if (!container_) return false;
    if (!profile_) {
        profile_ = profileSource_();
        if (!profile_) return false;
        TraceMark("web-view");
    }
    auto* view = new ChronelWebView(*this, container_);
    auto* page = new ChronelWebPage(*this, profile_.get(), view);
    // The engine asks AcceptNavigation before it hands a URL of a scheme it
    // does not know to the system's opener, whether a click or a script
    // started it; there only mail links pass (opened through the platform's
    // shell), everything else is refused.
    page->settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowAllUnknownUrlSchemes);
    QWebEngineScript watch;
    watch.setName(QStringLiteral("chronel-watch"));
    watch.setSourceCode(kWatchScript);
    watch.setInjectionPoint(QWebEngineScript::DocumentCreation);
    watch.setWorldId(QWebEngineScript::ApplicationWorld);
    watch.setRunsOnSubFrames(false);
    page->scripts().insert(watch);
    view->setPage(page);
    container_->layout()->addWidget(view);
    view_ = view;
    page_ = page;
    discarded_ = false;
    connect(page, &QWebEnginePage::loadingChanged, this, &WebEngineBrowserView::LoadingChanged);
    connect(page, &QWebEnginePage::newWindowRequested, this, &WebEngineBrowserView::NewWindowRequested);
    connect(page, &QWebEnginePage::certificateError, this, &WebEngineBrowserView::CertificateError);
    // Copies asked of the lost renderer never arrive.
    connect(page, &QWebEnginePage::renderProcessTerminated, this, [this] { ForgetLoads(); });
    return true;
}

void WebEngineBrowserView::ForgetLoads()
{
    completions_.clear();
    ownLoadRequested_ = false;
    loading_ = false;
}

void WebEngineBrowserView::Discard()
{
    if (!page_ || discarded_) return;
    discarded_ = true;
    // Scripts and timers of the page stop first; the page goes once the
    // engine has had a turn to act on that.
    if (!page_->isVisible()) page_->setLifecycleState(QWebEnginePage::LifecycleState::Frozen);
    TraceMark("page-frozen");
    // Whatever the old page still answers is not this control's business.
    alive_ = std::make_shared<bool>(true);
    QPointer<QWebEngineView> view = view_;
    QPointer<QWebEnginePage> page = page_;
    view_ = nullptr;
    page_ = nullptr;
    if (view) view->hide();
    QTimer::singleShot(0, this, [view, page] {
        delete view.data();  // with its page
        if (page) delete page.data();
        TraceMark("page-discarded");
    });
    ForgetLoads();
    hasDocument_ = false;
    snapshot_ = Snapshot{};
    waitingForCopy_ = false;
    refused_.clear();
    pendingErrors_ = 0;
    ownNavigationsExpected_ = 0;
}

WebEngineBrowserView::~WebEngineBrowserView()
{
    alive_.reset();
    delete view_.data();  // and its page, before the profile may go
    if (page_) delete page_.data();
    delete container_.data();
    if (uiHandler_) uiHandler_->Release();
}

QWidget* WebEngineBrowserView::Widget()
{
    return container_;
}

QWebEngineView* WebEngineBrowserView::View() const
{
    return view_;
}

IHtmlDocument* WebEngineBrowserView::Document()
{
    return hasDocument_ ? &document_ : nullptr;
}

bool WebEngineBrowserView::Busy()
{
    return ownLoadRequested_ || loading_ || !completions_.empty() ||
           pendingErrors_ > 0;
}

void WebEngineBrowserView::Navigate(const std::string& url, int flags, const std::string& targetFrameName,
                                    const std::string& postData, const std::string& headers)
{
    TBeforeNavigateArgs args{url, flags, targetFrameName, postData, headers, false};
    RaiseBeforeNavigate(args);
    if (args.Cancel || !EnsurePage()) return;

    const QUrl target = ToUrl(url);
    if (!target.isValid() || target.isEmpty() || target.isRelative()) {
        PostNavigateError(url, "not a valid address", "net::ERR_INVALID_URL");
        return;
    }
    const QString scheme = target.scheme().toLower();
    if (scheme == QLatin1String("javascript")) {
        // Runs in the page without leaving it, as a script link does.
        const QString text = QString::fromStdString(url);
        RunScript(QUrl::fromPercentEncoding(text.mid(text.indexOf(QLatin1Char(':')) + 1).toUtf8()).toStdString(),
                  QWebEngineScript::MainWorld);
        return;
    }
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") && scheme != QLatin1String("about")) {
        PostNavigateError(url, "cannot load " + scheme.toStdString() + ": addresses", "net::ERR_DISALLOWED_URL_SCHEME");
        return;
    }

    QWebEngineHttpRequest request(target);
    bool post = !postData.empty();
    std::size_t from = 0;
    while (from < headers.size()) {
        std::size_t end = headers.find("\r\n", from);
        if (end == std::string::npos) end = headers.size();
        const std::string line = headers.substr(from, end - from);
        from = end + 2;
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string name = Trim(line.substr(0, colon));
        if (name.empty()) continue;
        if (IEquals(name, "Content-Type")) post = true;
        request.setHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(Trim(line.substr(colon + 1))));
    }
    if (post) {
        request.setMethod(QWebEngineHttpRequest::Post);
        request.setPostData(QByteArray(postData.data(), static_cast<qsizetype>(postData.size())));
    }
    RememberSpelling(url);
    ownLoadRequested_ = true;
    ++ownNavigationsExpected_;
    if (acceptDepth_ == 0) {
        page_->load(request);
        return;
    }
    // The engine is asking about another navigation right now; start this
    // one once that question has been answered.
    std::weak_ptr<bool> alive = alive_;
    QTimer::singleShot(0, this, [this, alive, request] {
        if (!alive.expired() && page_) page_->load(request);
    });
}

void WebEngineBrowserView::LoadHtml(const std::string& html)
{
    if (!EnsurePage()) return;
    ownLoadRequested_ = true;
    ++ownNavigationsExpected_;
    page_->setHtml(QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size())));
}

void WebEngineBrowserView::RaiseBeforeNavigate(TBeforeNavigateArgs& args)
{
    Raise("before-navigate", OnBeforeNavigate2, args);
}

bool WebEngineBrowserView::AcceptNavigation(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame)
{
    // Navigations started by Navigate were reported there, with their post data.
    if (isMainFrame && type == QWebEnginePage::NavigationTypeTyped && ownNavigationsExpected_ > 0) {
        --ownNavigationsExpected_;
        // The engine has taken it; it may report no start of its own while
        // another load is under way, but it reports the end.
        ownLoadRequested_ = false;
        loading_ = true;
        return true;
    }
    // The engine does not tell the body of a form it posts.
    TBeforeNavigateArgs args;
    args.URL = Spelling(url);
    RaiseBeforeNavigateFromEngine(args);
    const bool accepted = !args.Cancel && FollowLink(url);
    if (!accepted && isMainFrame) {
        if (lastStarted_ == url) {
            loading_ = false;  // its start came first
        } else {
            if (refused_.size() > kSpellingsKept) refused_.clear();
            refused_.insert(url);
        }
    }
    return accepted;
}

bool WebEngineBrowserView::FollowLink(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (EngineScheme(scheme)) return true;
    if (OpenerScheme(scheme) && TakeUserGesture()) {
        // A mail link the user followed goes to the user's mail program; the page stays.
        // Opened once the engine has its answer, so a message about a
        // failure does not hold the engine up.
        std::weak_ptr<bool> alive = alive_;
        const std::string link = Text(url);
        QTimer::singleShot(0, this, [this, alive, link] {
            if (!alive.expired()) OpenOutside(link);
        });
    }
    // Any other scheme would go to the system's opener: refused.
    return false;
}

bool WebEngineBrowserView::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonRelease && type != QEvent::KeyPress) return false;
    if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->isAutoRepeat()) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !view_ || (widget != view_ && !view_->isAncestorOf(widget))) return false;
    ++gestures_;
    lastGesture_.start();
    return false;
}

bool WebEngineBrowserView::TakeUserGesture()
{
    if (gesturesTaken_ == gestures_ || !lastGesture_.isValid() || lastGesture_.elapsed() > kGestureMs) return false;
    gesturesTaken_ = gestures_;
    return true;
}

void WebEngineBrowserView::OpenOutside(const std::string& url)
{
    IShell* shell = CurrentPlatform().Shell;
    if (shell && shell->ShellExecute("open", url) > 32) return;
    if (IMessageBox* box = CurrentPlatform().MessageBox)
        box->Show(OpenLinkErrorText(url),
                  QGuiApplication::applicationDisplayName().toStdString(), MB_OK);
    RepaintSoon();
}

void WebEngineBrowserView::RaiseBeforeNavigateFromEngine(TBeforeNavigateArgs& args)
{
    ++acceptDepth_;
    RaiseBeforeNavigate(args);
    --acceptDepth_;
    // A message box shown while the engine waited for the answer leaves its
    // shape unpainted over the page: have the page painted anew.
    RepaintSoon();
}

void WebEngineBrowserView::RepaintSoon()
{
    std::weak_ptr<bool> alive = alive_;
    QTimer::singleShot(0, this, [this, alive] {
        if (alive.expired() || !view_) return;
        view_->update();
        if (QWidget* w = view_->focusProxy()) w->update();
    });
}

void WebEngineBrowserView::NewWindowRequested(QWebEngineNewWindowRequest& request)
{
    // This control has no other windows. The request is a navigation like
    // any other: the host's rules first, then the same scheme rules. Only a
    // web page the host let through is loaded here; anything else (data:,
    // file:, script URLs) would escape the engine's rules for page-started
    // navigations when loaded as the control's own.
    const QUrl url = request.requestedUrl();
    TBeforeNavigateArgs args;
    args.URL = Spelling(url);
    args.TargetFrameName = "_blank";
    RaiseBeforeNavigateFromEngine(args);
    if (args.Cancel || !url.isValid()) return;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        if (!EngineScheme(scheme)) FollowLink(url);
        return;
    }
    ownLoadRequested_ = true;
    ++ownNavigationsExpected_;
    std::weak_ptr<bool> alive = alive_;
    QTimer::singleShot(0, this, [this, alive, url] {
        if (!alive.expired() && page_) page_->load(url);
    });
}

void WebEngineBrowserView::LoadingChanged(const QWebEngineLoadingInfo& info)
{
    if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus) refused_.erase(info.url());
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        // A navigation refused in AcceptNavigation is still reported as
        // started, and its end never is: it does not make the control busy.
        if (refused_.erase(info.url()) > 0) break;
        lastStarted_ = info.url();
        // The page reports itself loading only a moment later; until the
        // load ends the control is busy.
        ownLoadRequested_ = false;
        loading_ = true;
        break;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        loading_ = false;
        // LoadHtml's page comes as a data URL; page-started data navigations are blocked by the engine.
        RequestSnapshot(true, info.url().scheme() == QLatin1String("data") ? QUrl(QLatin1String(kLocalPageUrl))
                                                                             : info.url());
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus: {
        loading_ = false;
        TNavigateErrorArgs error{Spelling(info.url()), 0, info.errorString().toStdString()};
        const int code = info.errorCode() < 0 ? -info.errorCode() : info.errorCode();
        error.Domain = DomainOf(info.errorDomain());
        if (error.Domain != TNavigateErrorDomain::HttpStatus) {
            error.Code = info.errorCode();
            if (info.errorString().startsWith(QLatin1String("net::"))) error.Name = info.errorString().toStdString();
        }
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
            error.StatusCode = code;
            error.Reason = "HTTP " + std::to_string(code);
        } else if (info.errorDomain() == QWebEngineLoadingInfo::CertificateErrorDomain) {
            // The engine's name says which check failed; the refusal said for whom and why.
            error.CertificateHost = refusedCertificateHost_;
            error.CertificateReason = refusedCertificateReason_;
        } else {
            // The engine's network error numbers.
            switch (code) {
            case 3: LoadEndedSoon(info.url()); return;  // aborted: stopped or superseded
            case 7: case 118: error.Reason = "timed out"; break;
            case 100: case 324: error.Reason = "connection closed"; break;
            case 101: error.Reason = "connection reset"; break;
            case 102: error.Reason = "connection refused"; break;
            case 105: case 137: error.Reason = "name not resolved"; break;
            case 107: case 113: case 117: case 148: error.Reason = "TLS failure"; break;
            default: break;
            }
        }
        refusedCertificateHost_.clear();
        refusedCertificateReason_.clear();
        RaiseNavigateError(error);
        break;
    }
    case QWebEngineLoadingInfo::LoadStoppedStatus:  // cancelled or superseded
        loading_ = false;
        LoadEndedSoon(info.url());
        break;
    }
}

void WebEngineBrowserView::CertificateError(QWebEngineCertificateError error)
{
    // Never accepted, and the user is not offered to: a certificate the
    // engine does not trust fails the load, which says so with this host and reason.
    error.rejectCertificate();
    refusedCertificateHost_ = error.url().host().toStdString();
    refusedCertificateReason_ = error.description().toStdString();
    TraceMark("certificate-refused");
}

void WebEngineBrowserView::LoadEndedSoon(const QUrl& url)
{
    // Superseded by another load, the control is busy again by the next
    // turn and nothing is said; else the load ended without a page.
    std::weak_ptr<bool> alive = alive_;
    QTimer::singleShot(0, this, [this, alive, url] {
        if (!alive.expired() && !Busy()) Raise("load-ended", OnLoadEnded, Spelling(url));
    });
}

void WebEngineBrowserView::RunScript(const std::string& script, int worldId)
{
    if (!page_) return;
    ++changes_;  // whatever the script does is in the copy that follows it
    page_->runJavaScript(QString::fromStdString(script), static_cast<quint32>(worldId));
    RequestSnapshot(false, QUrl());
}

void WebEngineBrowserView::DocumentChanged()
{
    ++changes_;
}

void WebEngineBrowserView::WaitForFreshCopy()
{
    if (!page_ || !hasDocument_ || waitingForCopy_) return;
    if (!snapshot_.valid || snapshot_.changes >= changes_) return;
    std::weak_ptr<bool> alive = alive_;
    waitingForCopy_ = true;
    QElapsedTimer waited;
    waited.start();
    QTimer wake;  // the wait below ends at the latest with this timer
    wake.start(kFreshCopyWaitMs);
    while (!alive.expired() && snapshot_.changes < changes_ && waited.elapsed() < kFreshCopyWaitMs && page_) {
        // A change noticed after the last copy was asked for needs another.
        if (snapshotChangesRequested_ < changes_) RequestSnapshot(false, QUrl());
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
    }
    if (!alive.expired()) waitingForCopy_ = false;
}

void WebEngineBrowserView::RequestSnapshot(bool completes, const QUrl& url)
{
    if (!page_) return;
    const auto seq = ++snapshotsRequested_;
    const auto changes = changes_;
    snapshotChangesRequested_ = changes;
    if (completes) completions_[seq] = url;
    std::weak_ptr<bool> alive = alive_;
    page_->runJavaScript(kSnapshotScript, QWebEngineScript::ApplicationWorld,
                         [this, alive, seq, changes](const QVariant& v) {
        if (alive.expired()) return;
        if (seq > snapshotApplied_) {
            snapshotApplied_ = seq;
            const QVariantList parts = v.toList();
            snapshot_ = Snapshot{};
            snapshot_.changes = changes;
            if (parts.size() >= 2) {
                snapshot_.valid = true;
                snapshot_.html = parts[0].toString().toStdString();
                snapshot_.bodyTag = parts[1].toString().toStdString();
            }
        }
        if (completions_.find(seq) == completions_.end()) return;
        if (waitingForCopy_) {
            // A reader is waiting for a copy inside an event handler: the
            // completion is reported once that handler has returned.
            QTimer::singleShot(0, this, [this, alive, seq] {
                if (!alive.expired()) ReportCompletion(seq);
            });
            return;
        }
        ReportCompletion(seq);
    });
}

void WebEngineBrowserView::ReportCompletion(unsigned long long seq)
{
    auto it = completions_.find(seq);
    if (it == completions_.end()) return;
    const QUrl completed = it->second;
    // Completions asked before this one whose copies never came are over.
    completions_.erase(completions_.begin(), std::next(it));
    hasDocument_ = true;
    Raise("document-complete", OnDocumentComplete, Spelling(completed));
}

void WebEngineBrowserView::PostNavigateError(const std::string& url, const std::string& reason, const std::string& name)
{
    // Reported as the engine reports its failures: after the call, with
    // the control busy until then.
    ++pendingErrors_;
    std::weak_ptr<bool> alive = alive_;
    QTimer::singleShot(0, this, [this, alive, url, reason, name] {
        if (alive.expired()) return;
        --pendingErrors_;
        TNavigateErrorArgs error{url, 0, reason};
        error.Name = name;
        RaiseNavigateError(error);
    });
}

void WebEngineBrowserView::RaiseNavigateError(const TNavigateErrorArgs& error)
{
    Raise("navigate-error", OnNavigateError, error);
}

bool WebEngineBrowserView::ShowContextMenu(QContextMenuEvent* event)
{
    IDocHostUIHandler* handler = uiHandler_;
    if (!handler) return false;
    DWORD kind = CONTEXT_MENU_DEFAULT;
    if (const QWebEngineContextMenuRequest* r = view_ ? view_->lastContextMenuRequest() : nullptr) {
        if (!r->linkUrl().isEmpty())
            kind = CONTEXT_MENU_ANCHOR;
        else if (r->mediaType() == QWebEngineContextMenuRequest::MediaTypeImage)
            kind = CONTEXT_MENU_IMAGE;
        else if (r->isContentEditable())
            kind = CONTEXT_MENU_CONTROL;
        else if (!r->selectedText().isEmpty())
            kind = CONTEXT_MENU_TEXTSELECT;
    }
    const TPoint at{event->globalPos().x(), event->globalPos().y()};
    std::weak_ptr<bool> alive = alive_;
    handler->AddRef();  // the menu may detach it while open
    HRESULT hr = E_NOTIMPL;
    try {
        hr = handler->ShowContextMenu(kind, &at, nullptr, nullptr);
    } catch (...) {
        qWarning("context menu handler failed");
        hr = S_OK;
    }
    handler->Release();
    if (alive.expired()) return true;
    event->accept();
    return hr == S_OK;
}

void WebEngineBrowserView::RememberSpelling(const std::string& url)
{
    ownSpellings_.push_front(url);
    if (ownSpellings_.size() > kSpellingsKept) ownSpellings_.pop_back();
}

std::string WebEngineBrowserView::Spelling(const QUrl& url) const
{
    const std::string engine = Text(url);
    for (const std::string& own : ownSpellings_)
        if (Text(ToUrl(own)) == engine) return own;
    return engine;
}

// ---- factory -------------------------------------------------------------------------

WebEngineBrowsers::WebEngineBrowsers()
{
    // The page is composited in software: no graphics driver is loaded (tens
    // of megabytes), and the view joins the shown window as a plain widget,
    // so the window is not made anew for a graphics surface. A scene graph
    // the user chose keeps the graphics interface the engine wants with it.
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND")) {
        const QSGRendererInterface::GraphicsApi api = QQuickWindow::graphicsApi();
        if (api != QSGRendererInterface::OpenGLRhi && api != QSGRendererInterface::Vulkan)
            QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGLRhi);
    } else {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
}

std::unique_ptr<IBrowserView> WebEngineBrowsers::Create(QWidget* parent)
{
    // The engine starts with its first profile: at the first load, not here.
    std::shared_ptr<std::shared_ptr<QWebEngineProfile>> shared = profile_;
    return std::make_unique<WebEngineBrowserView>([shared]() {
        if (*shared) return *shared;
        // A profile on disk, so cookies and storage behave as in a normal browser.
        auto* profile = new QWebEngineProfile(QStringLiteral("browser"));
        // Folders named after the desktop entry where there is one: the
        // application's name is the one people read in the tray.
        const QString entry = QGuiApplication::desktopFileName();
        const auto folder = [&entry](QStandardPaths::StandardLocation own, QStandardPaths::StandardLocation shared) {
            if (entry.isEmpty()) return QStandardPaths::writableLocation(own);
            const QString base = QStandardPaths::writableLocation(shared);
            return base.isEmpty() ? QString() : base + u'/' + entry;
        };
        const QString data = folder(QStandardPaths::AppDataLocation, QStandardPaths::GenericDataLocation);
        if (!data.isEmpty()) profile->setPersistentStoragePath(data + QStringLiteral("/browser"));
        const QString cache = folder(QStandardPaths::CacheLocation, QStandardPaths::GenericCacheLocation);
        if (!cache.isEmpty()) profile->setCachePath(cache + QStringLiteral("/QtWebEngine/browser"));
        // The service's pages are made anew each time; a cache on disk only
        // costs writes and their flushes while the program sits idle.
        profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        // Windows that pages try to open are never adopted: nothing of
        // theirs goes to the system's opener.
        profile->settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        // No window shows a page's icon: fetching and keeping icons would only
        // add a request to every load and a history database written while idle.
        profile->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
        // Pages must go before their profile; each view keeps it alive.
        *shared = std::shared_ptr<QWebEngineProfile>(profile);
        return *shared;
    }, parent);
}

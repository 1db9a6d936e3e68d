#include "platform/desktop/WebEngineBrowser.h"

#include <QContextMenuEvent>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QtGlobal>

#include "platform/DocHostUIHandler.h"
#include "platform/desktop/DesktopPlatform.h"

namespace {

// Runs in the application's own script world, so page scripts cannot have
// replaced what it uses. The doctype is not part of outerHTML.
const QString kSnapshotScript = QStringLiteral(R"js((function () {
  var d = document, e = d.documentElement, b = d.body, t = d.doctype;
  var html = e ? e.outerHTML : '';
  if (t) html = new XMLSerializer().serializeToString(t) + '\n' + html;
  return [html, b ? b.tagName.toUpperCase() : ''];
})())js");

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

QUrl ToUrl(const std::string& url)
{
    return QUrl::fromUserInput(QString::fromStdString(url));
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

WebEngineBrowserView::WebEngineBrowserView(std::shared_ptr<QWebEngineProfile> profile, QWidget* parent)
    : profile_(std::move(profile))
{
    auto* view = new ChronelWebView(*this, parent);
    auto* page = new ChronelWebPage(*this, profile_.get(), view);
    view->setPage(page);
    view_ = view;
    page_ = page;
    connect(page, &QWebEnginePage::loadingChanged, this, &WebEngineBrowserView::LoadingChanged);
    connect(page, &QWebEnginePage::newWindowRequested, this, &WebEngineBrowserView::NewWindowRequested);
    connect(page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        // Copies asked of the lost renderer never arrive.
        completions_.clear();
        ownLoadRequested_ = false;
        loading_ = false;
    });
}

WebEngineBrowserView::~WebEngineBrowserView()
{
    alive_.reset();
    delete view_.data();  // and its page, before the profile may go
    if (page_) delete page_.data();
    if (uiHandler_) uiHandler_->Release();
}

QWidget* WebEngineBrowserView::Widget()
{
    return view_;
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
    return ownLoadRequested_ || loading_ || (page_ && page_->isLoading()) || !completions_.empty();
}

void WebEngineBrowserView::Navigate(const std::string& url, int flags, const std::string& targetFrameName,
                                    const std::string& postData, const std::string& headers)
{
    TBeforeNavigateArgs args{url, flags, targetFrameName, postData, headers, false};
    RaiseBeforeNavigate(args);
    if (args.Cancel || !page_) return;

    const QUrl target = ToUrl(url);
    if (!target.isValid() || target.isEmpty()) return;
    if (target.scheme() == QLatin1String("javascript")) {
        // Runs in the page without leaving it, as a script link does.
        const QString text = QString::fromStdString(url);
        RunScript(QUrl::fromPercentEncoding(text.mid(text.indexOf(QLatin1Char(':')) + 1).toUtf8()).toStdString(),
                  QWebEngineScript::MainWorld);
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
    if (!page_) return;
    ownLoadRequested_ = true;
    ++ownNavigationsExpected_;
    page_->setHtml(QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size())));
}

void WebEngineBrowserView::RaiseBeforeNavigate(TBeforeNavigateArgs& args)
{
    if (!OnBeforeNavigate2) return;
    try {
        OnBeforeNavigate2(args);
    } catch (const std::exception& e) {
        qWarning("before-navigate handler failed: %s", e.what());
    } catch (...) {
        qWarning("before-navigate handler failed");
    }
}

bool WebEngineBrowserView::AcceptNavigation(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame)
{
    // Navigations started by Navigate were reported there, with their post data.
    if (isMainFrame && type == QWebEnginePage::NavigationTypeTyped && ownNavigationsExpected_ > 0) {
        --ownNavigationsExpected_;
        return true;
    }
    // The engine does not tell the body of a form it posts.
    TBeforeNavigateArgs args;
    args.URL = Spelling(url);
    ++acceptDepth_;
    RaiseBeforeNavigate(args);
    --acceptDepth_;
    return !args.Cancel;
}

void WebEngineBrowserView::NewWindowRequested(QWebEngineNewWindowRequest& request)
{
    // This control has no other windows: a page opening one navigates here,
    // so the host sees it like any other link.
    const QUrl url = request.requestedUrl();
    TBeforeNavigateArgs args;
    args.URL = Spelling(url);
    args.TargetFrameName = "_blank";
    ++acceptDepth_;
    RaiseBeforeNavigate(args);
    --acceptDepth_;
    if (args.Cancel || !url.isValid()) return;
    ownLoadRequested_ = true;
    ++ownNavigationsExpected_;
    std::weak_ptr<bool> alive = alive_;
    QTimer::singleShot(0, this, [this, alive, url] {
        if (!alive.expired() && page_) page_->load(url);
    });
}

void WebEngineBrowserView::LoadingChanged(const QWebEngineLoadingInfo& info)
{
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
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
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
            error.StatusCode = code;
            error.Reason = "HTTP " + std::to_string(code);
        } else if (info.errorDomain() == QWebEngineLoadingInfo::CertificateErrorDomain) {
            error.Reason = "TLS failure";
        } else {
            // The engine's network error numbers.
            switch (code) {
            case 3: return;  // aborted: stopped or superseded
            case 7: case 118: error.Reason = "timed out"; break;
            case 100: case 324: error.Reason = "connection closed"; break;
            case 101: error.Reason = "connection reset"; break;
            case 102: error.Reason = "connection refused"; break;
            case 105: case 137: error.Reason = "name not resolved"; break;
            case 107: case 113: case 117: case 148: error.Reason = "TLS failure"; break;
            default: break;
            }
        }
        if (OnNavigateError) {
            try {
                OnNavigateError(error);
            } catch (const std::exception& e) {
                qWarning("navigate-error handler failed: %s", e.what());
            } catch (...) {
                qWarning("navigate-error handler failed");
            }
        }
        break;
    }
    case QWebEngineLoadingInfo::LoadStoppedStatus:  // cancelled or superseded
        loading_ = false;
        break;
    }
}

void WebEngineBrowserView::RunScript(const std::string& script, int worldId)
{
    if (!page_) return;
    page_->runJavaScript(QString::fromStdString(script), static_cast<quint32>(worldId));
    RequestSnapshot(false, QUrl());
}

void WebEngineBrowserView::RequestSnapshot(bool completes, const QUrl& url)
{
    if (!page_) return;
    const auto seq = ++snapshotsRequested_;
    if (completes) completions_[seq] = url;
    std::weak_ptr<bool> alive = alive_;
    page_->runJavaScript(kSnapshotScript, QWebEngineScript::ApplicationWorld, [this, alive, seq](const QVariant& v) {
        if (alive.expired()) return;
        if (seq > snapshotApplied_) {
            snapshotApplied_ = seq;
            const QVariantList parts = v.toList();
            snapshot_ = Snapshot{};
            if (parts.size() >= 2) {
                snapshot_.valid = true;
                snapshot_.html = parts[0].toString().toStdString();
                snapshot_.bodyTag = parts[1].toString().toStdString();
            }
        }
        auto it = completions_.find(seq);
        if (it == completions_.end()) return;
        const QUrl completed = it->second;
        // Completions asked before this one whose copies never came are over.
        completions_.erase(completions_.begin(), std::next(it));
        hasDocument_ = true;
        if (!OnDocumentComplete) return;
        try {
            OnDocumentComplete(Spelling(completed));
        } catch (const std::exception& e) {
            qWarning("document-complete handler failed: %s", e.what());
        } catch (...) {
            qWarning("document-complete handler failed");
        }
    });
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

std::unique_ptr<IBrowserView> WebEngineBrowsers::Create(QWidget* parent)
{
    if (!profile_) {
        // A profile on disk, so cookies and storage behave as in a normal browser.
        auto* profile = new QWebEngineProfile(QStringLiteral("browser"));
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (!data.isEmpty()) profile->setPersistentStoragePath(data + QStringLiteral("/browser"));
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        if (!cache.isEmpty()) profile->setCachePath(cache + QStringLiteral("/browser"));
        // Pages must go before their profile; each view keeps it alive.
        profile_ = std::shared_ptr<QWebEngineProfile>(profile);
    }
    return std::make_unique<WebEngineBrowserView>(profile_, parent);
}

std::unique_ptr<IBrowsers> CreateDesktopBrowsers()
{
    return std::make_unique<WebEngineBrowsers>();
}

#pragma once
// The embedded browser on Qt WebEngine.
//
// The engine loads, runs scripts and serialises documents asynchronously; the
// control's callers need the document synchronously. So when a page has
// loaded, its HTML and body kind are copied out of the page first and only
// then is the document reported complete; Busy stays true until that copy
// has arrived, SaveHtml answers from it, and scripts run through the control
// refresh it; a reader after a change (a script, a style, the page's own
// scripts) waits for a fresh copy. A script that submits a form is reported (before-navigate)
// after ExecScript has returned, and Busy turns true only when the engine
// starts that navigation. The copy is the engine's serialisation of the
// document (a bare attribute reads selected=""), not the bytes received.
// The page has one frame to navigate: a target frame name is reported, not used.
// The control's widget is there at once; the engine, its view and page are
// made at the first load, so a window can be shown before the engine starts,
// and again after Discard let them go.
#include <QElapsedTimer>
#include <functional>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <deque>
#include <map>
#include <set>
#include <memory>
#include <string>

#include "platform/Browser.h"

class QContextMenuEvent;
class QWebEngineCertificateError;
class QWebEngineLoadingInfo;
class QWebEngineNewWindowRequest;
class QWebEngineProfile;
class QWebEngineView;
class WebEngineBrowserView;

class WebEngineDocument : public IHtmlDocument {
public:
    explicit WebEngineDocument(WebEngineBrowserView& owner) : owner_(owner) {}
    bool HasBody() override;
    bool BodyIsBodyElement() override;
    void SetBodyBorderStyle(const std::string& style) override;
    void SetBodyScroll(const std::string& scroll) override;
    bool ExecScript(const std::string& script) override;
    bool SaveHtml(std::string& html) override;
    void SetUIHandler(IDocHostUIHandler* handler) override;

private:
    WebEngineBrowserView& owner_;
};

class WebEngineBrowserView final : public QObject, public IBrowserView {
public:
    using ProfileSource = std::function<std::shared_ptr<QWebEngineProfile>()>;
    WebEngineBrowserView(ProfileSource profile, QWidget* parent);
    ~WebEngineBrowserView() override;

    QWidget* Widget() override;
    void Navigate(const std::string& url, int flags, const std::string& targetFrameName,
                  const std::string& postData, const std::string& headers) override;
    bool Busy() override;
    IHtmlDocument* Document() override;
    void LoadHtml(const std::string& html) override;
    bool TakeUserGesture() override;
    void Discard() override;
    bool Discarded() override { return discarded_; }

    // Null before the first load and while discarded.
    QWebEngineView* View() const;
    QWebEnginePage* Page() const { return page_; }

    // Called by the engine's page and view.
    bool AcceptNavigation(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame);
    bool ShowContextMenu(QContextMenuEvent* event);
    // The page's document changed since the last copy (nodes, text, styles).
    void DocumentChanged();

protected:
    // Counts the user's clicks and keys in the page.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class WebEngineDocument;
    struct Snapshot {
        bool valid = false;
        std::string html;
        std::string bodyTag;  // "BODY", "FRAMESET", or empty without a body
        unsigned long long changes = 0;  // changes_ when the copy was asked for
    };

    // Makes the engine's view and page when there are none; false when it cannot.
    bool EnsurePage();
    // The page's loads and copies under way will not be reported (its renderer or the page went).
    void ForgetLoads();
    void RaiseBeforeNavigate(TBeforeNavigateArgs& args);
    void LoadingChanged(const QWebEngineLoadingInfo& info);
    void CertificateError(QWebEngineCertificateError error);
    void NewWindowRequested(QWebEngineNewWindowRequest& request);
    void RaiseBeforeNavigateFromEngine(TBeforeNavigateArgs& args);
    // Whether a page's navigation to url (let through by the host) may load:
    // web and engine-internal schemes load; a mail link goes to the system's
    // opener; any other scheme is refused.
    bool FollowLink(const QUrl& url);
    void OpenOutside(const std::string& url);
    void RepaintSoon();
    void WaitForFreshCopy();
    void ReportCompletion(unsigned long long seq);
    // name: the engine's name for such a failure.
    void PostNavigateError(const std::string& url, const std::string& reason, const std::string& name);
    void RaiseNavigateError(const TNavigateErrorArgs& error);
    // Copies the document out of the page; a completing copy then reports
    // the document complete with url.
    void RequestSnapshot(bool completes, const QUrl& url);
    void RunScript(const std::string& script, int worldId);
    // A load that stopped: said as ended without a page unless another follows.
    void LoadEndedSoon(const QUrl& url);
    void RememberSpelling(const std::string& url);
    std::string Spelling(const QUrl& url) const;

    // Callbacks hold it weakly: gone with the control, and renewed when the page is discarded.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    ProfileSource profileSource_;
    std::shared_ptr<QWebEngineProfile> profile_;
    QPointer<QWidget> container_;
    bool discarded_ = false;
    QPointer<QWebEngineView> view_;
    QPointer<QWebEnginePage> page_;
    WebEngineDocument document_{*this};
    bool hasDocument_ = false;
    Snapshot snapshot_;
    unsigned long long snapshotsRequested_ = 0;
    unsigned long long snapshotApplied_ = 0;
    std::map<unsigned long long, QUrl> completions_;  // snapshot number -> URL to report
    unsigned long long changes_ = 0;  // document changes and scripts seen
    unsigned long long snapshotChangesRequested_ = 0;
    bool waitingForCopy_ = false;
    QUrl lastStarted_;
    // The certificate refused during the load under way: its host and the engine's reason.
    std::string refusedCertificateHost_;
    std::string refusedCertificateReason_;
    std::set<QUrl> refused_;  // main-frame navigations refused, whose start may still be reported
    int pendingErrors_ = 0;
    bool loading_ = false;
    bool ownLoadRequested_ = false;  // Navigate loaded; the engine has not started yet
    int ownNavigationsExpected_ = 0;
    int acceptDepth_ = 0;
    IDocHostUIHandler* uiHandler_ = nullptr;
    unsigned long long gestures_ = 0, gesturesTaken_ = 0;
    QElapsedTimer lastGesture_;
    std::deque<std::string> ownSpellings_;
};

class WebEngineBrowsers : public IBrowsers {
public:
    // Chooses the engine's scene graph: made before its first view.
    WebEngineBrowsers();
    std::unique_ptr<IBrowserView> Create(QWidget* parent) override;

private:
    std::shared_ptr<std::shared_ptr<QWebEngineProfile>> profile_ = std::make_shared<std::shared_ptr<QWebEngineProfile>>();
};

#pragma once
// The embedded web browser control: navigation with post data and headers,
// the busy state, the current document, and the before-navigate and
// document-complete events, over the platform's browser.
#include <functional>
#include <memory>
#include <string>

class IBrowserView;
struct TNavigateErrorArgs;
class IHtmlDocument;
class QWidget;

class TCppWebBrowser {
public:
    // Throws Exception when the platform offers no browser.
    explicit TCppWebBrowser(QWidget* parent);
    ~TCppWebBrowser();
    TCppWebBrowser(const TCppWebBrowser&) = delete;
    TCppWebBrowser& operator=(const TCppWebBrowser&) = delete;

    // The browser's widget, for the owner to place and size.
    QWidget* Widget() const;
    // Raises OnBeforeNavigate2 before it starts; a cancel there ends it.
    // Non-empty postData (or a Content-Type header) makes it a POST.
    void Navigate(const std::string& url, int flags = 0, const std::string& targetFrameName = {},
                  const std::string& postData = {}, const std::string& headers = {});
    // True while a navigation or download is in progress.
    bool Busy() const;
    // The current document; null before the first page has completed.
    IHtmlDocument* Document() const;
    // Shows a page of the program's own (UTF-8 HTML), without before-navigate;
    // it completes with kLocalPageUrl.
    void LoadHtml(const std::string& html);
    // True once for each click or key press of the user in the page, soon after it.
    bool TakeUserGesture() const;
    // Lets the page go while nobody looks at it; the next Navigate or LoadHtml brings one again.
    void Discard();
    bool Discarded() const;
    // Gives the page the keyboard (within its window, which it does not
    // activate), so that Tab, Space and Enter work in it at once; a page
    // still to come gets it once it has loaded.
    void FocusPage();
    IBrowserView* View() const { return view_.get(); }

    // Handlers that throw are reported by the application; a cancel set
    // before the throw still holds.
    std::function<void(TCppWebBrowser* sender, const std::string& url, int flags, const std::string& targetFrameName,
                       const std::string& postData, const std::string& headers, bool& cancel)>
        OnBeforeNavigate2;
    std::function<void(TCppWebBrowser* sender, const std::string& url)> OnDocumentComplete;
    // A top-level load failed (no document complete follows for it).
    std::function<void(TCppWebBrowser* sender, const std::string& url, int statusCode, const std::string& reason)>
        OnNavigateError;
    // The same with all the engine said of it (its domain, number, a refused
    // certificate); when set, raised instead of OnNavigateError.
    std::function<void(TCppWebBrowser* sender, const TNavigateErrorArgs& error)> OnNavigateFailed;
    // A top-level load ended without a page and without an error.
    std::function<void(TCppWebBrowser* sender, const std::string& url)> OnLoadEnded;

private:
    bool GiveFocus() const;
    std::unique_ptr<IBrowserView> view_;
    bool focusPending_ = false;
};

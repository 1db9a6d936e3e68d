#pragma once
#include <functional>
#include <memory>
#include <string>

class QWidget;
class IDocHostUIHandler;

// The document currently shown by an embedded browser.
class IHtmlDocument {
public:
    virtual ~IHtmlDocument() = default;
    // False when the document has no body element.
    virtual bool HasBody() = 0;
    // False when the body is not a plain body element (a frameset).
    virtual bool BodyIsBodyElement() = 0;
    virtual void SetBodyBorderStyle(const std::string& style) = 0;
    // "no" hides the page's scroll bars, "yes" always shows them, "auto" as needed.
    virtual void SetBodyScroll(const std::string& scroll) = 0;
    // Runs script (UTF-8) in the document's window; false when it could not be
    // run. An engine may run it after the call returns, so what the script
    // starts (a form submission) can be reported after the call.
    virtual bool ExecScript(const std::string& script) = 0;
    // The bytes of the document's source (UTF-8); false when it cannot be had.
    virtual bool SaveHtml(std::string& html) = 0;
    // The host object that customises the page's context menu (null: none).
    // The browser holds a reference (AddRef) until the handler is replaced or
    // the browser lets it go.
    virtual void SetUIHandler(IDocHostUIHandler* handler) = 0;
};

struct TBeforeNavigateArgs {
    std::string URL;
    int Flags = 0;
    std::string TargetFrameName;
    std::string PostData;
    std::string Headers;
    bool Cancel = false;
};

// An embedded web browser control.
//
// Events: OnBeforeNavigate2 for every navigation, whatever started it (Navigate,
// a link, a form, a script, a redirect); setting Cancel keeps the current page.
// For Navigate it is raised inside the call, with the post data and headers.
// OnDocumentComplete when a page has loaded and its document can be read;
// also for a page that failed to load (the browser then shows its error page).
class IBrowserView {
public:
    virtual ~IBrowserView() = default;
    virtual QWidget* Widget() = 0;
    // Posts when postData is not empty or the headers name a Content-Type (a
    // form with an empty body); otherwise gets. postData travels byte for
    // byte; headers are CRLF-terminated "Name: value" lines.
    virtual void Navigate(const std::string& url, int flags, const std::string& targetFrameName,
                          const std::string& postData, const std::string& headers) = 0;
    // True from Navigate (or a page's own navigation) until its document completed.
    virtual bool Busy() = 0;
    // Null before the first document.
    virtual IHtmlDocument* Document() = 0;

    std::function<void(TBeforeNavigateArgs&)> OnBeforeNavigate2;
    std::function<void(const std::string& url)> OnDocumentComplete;
};

class IBrowsers {
public:
    virtual ~IBrowsers() = default;
    virtual std::unique_ptr<IBrowserView> Create(QWidget* parent) = 0;
};

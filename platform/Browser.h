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
    virtual void SetBodyScroll(const std::string& scroll) = 0;
    // Runs script in the document's window; false when it could not be run.
    virtual bool ExecScript(const std::string& script) = 0;
    // The raw bytes of the document's source; false when it cannot be had.
    virtual bool SaveHtml(std::string& html) = 0;
    // The host object that customises the page's context menu (null: none).
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
class IBrowserView {
public:
    virtual ~IBrowserView() = default;
    virtual QWidget* Widget() = 0;
    // postData travels byte for byte; headers are CRLF-terminated lines.
    virtual void Navigate(const std::string& url, int flags, const std::string& targetFrameName,
                          const std::string& postData, const std::string& headers) = 0;
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

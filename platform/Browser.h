#pragma once
#include <functional>
#include <memory>
#include <string>
#include <utility>

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

// The URL OnDocumentComplete reports for a page shown by LoadHtml.
inline constexpr const char* kLocalPageUrl = "about:blank";

struct TBeforeNavigateArgs {
    std::string URL;
    int Flags = 0;
    std::string TargetFrameName;
    std::string PostData;
    std::string Headers;
    bool Cancel = false;
};

// Where the engine places a failure.
enum class TNavigateErrorDomain {
    None,         // not the engine's: the control's own refusal, or no engine
    Internal,     // the engine itself (a time-out of its own, a file)
    Connection,   // the connection or its TLS handshake
    Dns,          // the host name
    Certificate,  // the server's certificate
    Http,         // the HTTP exchange (redirects, a malformed answer, authentication)
    HttpStatus,   // the server answered with an error status
};

// A top-level load that did not bring the page: the server could not be
// reached or answered with an error status.
struct TNavigateErrorArgs {
    TNavigateErrorArgs() = default;
    TNavigateErrorArgs(std::string url, int statusCode, std::string reason)
        : URL(std::move(url)), StatusCode(statusCode), Reason(std::move(reason))
    {
    }

    std::string URL;     // as the load's before-navigate reported it
    int StatusCode = 0;  // the HTTP status (400 or above) when the server answered; 0 when it did not
    // Short lower-case text for the user: "connection refused", "connection
    // reset", "connection closed", "timed out", "name not resolved",
    // "TLS failure", "HTTP 500", or the engine's own text for other failures
    // ("net::ERR_UNSAFE_PORT"), a refused certificate's included.
    std::string Reason;
    TNavigateErrorDomain Domain = TNavigateErrorDomain::None;
    int Code = 0;      // the engine's (negative) network error number; 0 when there is none
    std::string Name;  // the engine's name of the failure, e.g. "net::ERR_UNSAFE_PORT"
    // A certificate refused: the host it was presented for and the engine's description.
    std::string CertificateHost;
    std::string CertificateReason;
};

// An embedded web browser control.
//
// Events: OnBeforeNavigate2 for every navigation, whatever started it (Navigate,
// a link, a form, a script, a redirect); setting Cancel keeps the current page.
// For Navigate it is raised inside the call, with the post data and headers.
// OnDocumentComplete when a page has loaded and its document can be read.
// OnNavigateError instead of OnDocumentComplete when a top-level load fails
// (connection refused or reset, name not resolved, time-out, TLS failure, an
// HTTP status of 400 or above); a certificate the engine does not trust is
// refused, never accepted, and its load fails so. Busy is already false when it is raised, and
// no OnDocumentComplete follows for that load. A load superseded by another
// navigation raises nothing; one that ends without a page and without an
// error (stopped, aborted, an answer with no content) raises OnLoadEnded
// once the control is no longer busy. What the control shows after a
// failure is unspecified; the host replaces it (LoadHtml).
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
    // Shows html (UTF-8) as a local page of the program's own, without the
    // network. Raises no OnBeforeNavigate2 for it; Busy until it has loaded,
    // then OnDocumentComplete with kLocalPageUrl. Its links navigate as any
    // page's links do (before-navigate first).
    virtual void LoadHtml(const std::string& html) = 0;
    // True once for each click or key press of the user in the page, soon
    // after it: what leaves the program for another (a link opened by the
    // system) must have been asked for, and only once.
    virtual bool TakeUserGesture() = 0;
    // Gives the page's memory back while nobody looks at it: the page is
    // frozen, then let go with its renderer. Nothing more is reported of it;
    // Document() is null and Busy() false until Navigate or LoadHtml loads a
    // page again. The engine itself starts with the first Navigate or LoadHtml.
    virtual void Discard() = 0;
    // True from Discard until the next Navigate or LoadHtml.
    virtual bool Discarded() = 0;

    std::function<void(TBeforeNavigateArgs&)> OnBeforeNavigate2;
    std::function<void(const std::string& url)> OnDocumentComplete;
    std::function<void(const TNavigateErrorArgs&)> OnNavigateError;
    std::function<void(const std::string& url)> OnLoadEnded;
};

class IBrowsers {
public:
    virtual ~IBrowsers() = default;
    virtual std::unique_ptr<IBrowserView> Create(QWidget* parent) = 0;
};

#pragma once
// Texts the main window builds for and reads from the service's pages.
#include <string>

enum class TClockState { Unknown, Stopped, Running };

// What a completed page says about the service's clock and the session.
struct TPageClock {
    bool loginForm = false;      // the page holds the login form (frmLogin)
    bool startStopForm = false;  // the page holds the start/stop form (frmStartStop)
    // From the form's "tid" field (empty while stopped, the running entry's
    // id while running) and its button (Start or Stop); Unknown when the
    // page does not say or the two disagree.
    TClockState state = TClockState::Unknown;
    std::string since;  // the start time as the page shows it ("09:14"), while running
};

// Reads the start/stop and login forms of a page's source (UTF-8).
TPageClock ReadPageClock(const std::string& html);

// Percent-encodes every byte outside letters, digits, "-", ".", "_", "~"
// with upper-case hex, so credentials reach the service intact.
std::string EncodeCredential(const std::string& text);

// A JavaScript string literal (with its quotes) holding text exactly, safe
// inside a script element.
std::string JsStringLiteral(const std::string& text);

// Decodes HTML character references: every named one of HTML (the table of
// the XML library), decimal "&#NNN;" and hexadecimal "&#xHH;". Text that is
// not a complete reference with a valid value stays as it is.
std::string DecodeHtmlText(const std::string& text);

// Every "&" replaced by `with`.
std::string ReplaceAmpersands(const std::string& text, const std::string& with);

// The form in which the browser engine reports a URL (scheme and host in
// lower case, no default port, percent escapes upper-cased, "/" after a bare
// host), so that addresses compare as addresses.
std::string CanonicalUrl(const std::string& url);

std::string LowerCase(const std::string& text);

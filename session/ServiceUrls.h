#pragma once
// The work-log service's address conventions, in one place: its login
// address, its timer page, the start/stop submission and the script that
// submits it.
#include <functional>
#include <string>

// Percent-encodes every byte outside letters, digits, "-", ".", "_", "~"
// with upper-case hex, so credentials reach the service intact.
std::string EncodeCredential(const std::string& text);

// A JavaScript string literal (with its quotes) holding text exactly, safe
// inside a script element.
std::string JsStringLiteral(const std::string& text);

std::string LowerCase(const std::string& text);

enum class TServicePage {
    Other,        // not the service's (or not one of these)
    TimerPage,    // time_log.php without a submission
    Start,        // a start submission (tid empty)
    Stop,         // a stop submission (tid of the running entry)
    LoginPage,    // index.php, bare or with a query (the login address is one)
};

class TServiceUrls {
public:
    // canonical: the spelling the browser engine reports addresses in, so
    // that they compare as addresses.
    using Canonical = std::function<std::string(const std::string&)>;
    TServiceUrls(std::string baseUrl, Canonical canonical);

    const std::string& Base() const { return base_; }
    // The login address for a user; the password goes in the post body.
    std::string Login(const std::string& user) const;
    static std::string LoginPost(const std::string& password);
    // The timer page, as the login's redirect brings it.
    std::string TimerPage() const;
    // What an address of a navigation is, in the service's terms.
    TServicePage Classify(const std::string& url) const;

    // Submits the start/stop form, or lets the page say why it cannot.
    static const char* ToggleScript();
    // Fills the login form's password and submits it.
    static std::string FillLoginScript(const std::string& password);
    // The login form's password field takes the keyboard, where there is one.
    static const char* FocusPasswordScript();

private:
    std::string base_;
    Canonical canonical_;
    std::string timerPage_, indexPage_;
};

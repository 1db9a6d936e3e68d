#pragma once
// The main window and its browser as the session sees them: what it loads,
// what the page shows, and what the window does when a page says something.
#include <functional>
#include <string>

#include "session/Session.h"

class TForm1;

class TPageView : public ISessionView {
public:
    explicit TPageView(TForm1& form) : form_(form) {}

    void Navigate(const std::string& url, const std::string& postData) override;
    void RunScript(const std::string& script) override;
    void ShowLocalPage(const std::string& html) override;
    std::string PageSource() override;
    TPageClock ReadPage(const std::string& html) override;
    bool PageBusy() override;
    bool PageLetGo() override;
    bool HasPage() override;
    std::string CanonicalUrl(const std::string& url) override;
    bool ValidBaseUrl(const std::string& url) override;
    void BaseUrlRefused() override;
    TLoginPassword PasswordForLogin(std::function<void()> whenReady, std::string& unavailable) override;
    void PageShown() override;
    void PageRead(const std::string& html) override;
    bool PageSetUp() override;
    void SubmissionShown(bool start, const TIntent* ours) override;
    void OpenOutside(const std::string& url) override;
    void ShowServerPreferences() override;
    void AutoLoginStarts() override;
    void PageBackOutOfSight() override;
    void LoginRefused(const std::string& message) override;

private:
    TForm1& form_;
};

#pragma once
// The application object: title, main-window flag, minimize/restore, message
// pumping and the general report of exceptions that escape a handler.
#include <exception>
#include <functional>
#include <string>

class TApplication {
public:
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title);
    bool ShowMainForm() const { return showMainForm_; }
    void SetShowMainForm(bool v) { showMainForm_ = v; }
    void Minimize();
    void Restore();
    void ProcessMessages();
    // Error box: error icon, the title as caption, the message with a full stop.
    void ShowException(const std::string& message);
    void HandleException(std::exception_ptr error);
    // Runs a handler; an escaping exception is reported and the program goes on.
    // Returns false when the handler failed.
    bool Guard(const std::function<void()>& handler);

    std::function<void(const std::string&)> OnTitleChange;

private:
    std::string title_;
    bool showMainForm_ = true;
};

TApplication& Application();

// Calls an event handler if assigned, reporting what escapes it.
template <class F, class... Args>
void Fire(const F& handler, Args&&... args)
{
    if (handler) Application().Guard([&] { handler(std::forward<Args>(args)...); });
}

#include "main_window/ExitPath.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "components/Application.h"
#include "components/Exceptions.h"
#include "components/SettingsPath.h"
#include "main_window/ChronelUnit.h"
#include "platform/Platform.h"
#include "platform/TraceMarks.h"
#include "prefs/frmPrefsUnit.h"
#include "session/Settings.h"

namespace {
// The exit waits this long at most for the keyring to take a changed password.
constexpr std::uint32_t kKeyringExitWaitMs = TKeyringPassword::kSettleMaxMs;
}  // namespace

bool TExitPath::Close()
{
    if (inQuery_) {
        // Asked again from inside the question (the clock stopped at once):
        // the toolkit ignores a nested close, so the outer one runs it.
        again_ = true;
        return false;
    }
    return form_.close();
}

bool TExitPath::CloseQuery()
{
    // A Yes at the session's end closes once the clock stopped, as an Exit would.
    if (CurrentSettings().MinimizeOnClose && !Requested && !WhenStopped) {
        form_.HidetoTray1->Click();
        return false;
    }
    if (form_.ClockRunning) {
        AskToStopAndExit();
        return false;
    }
    if (form_.Session.ClockChangeOnItsWay()) {
        // The user stopped the clock, but the service has not said so yet (or
        // a lost answer left it unknown): the program ends once a timer page
        // shows it stopped, as after the question's Yes. An exit already
        // waiting for that goes on waiting.
        if (!WhenStopped) StopThenClose();
        return false;
    }
    return true;
}

bool TExitPath::AskToStopAndExit()
{
    const int answer = CurrentPlatform().MessageBox->Show("Do you want to stop your time clock and exit?",
                                                          "Time Clock Still Running", MB_YESNO);
    if (answer != IDYES) return false;
    StopThenClose();
    return true;
}

void TExitPath::StopThenClose()
{
    WhenStopped = true;
    // The program ends once a timer page shows the clock stopped; a page
    // that cannot take the stop leads to a second question instead.
    if (form_.Link.BeginExitStop()) form_.Mirror.Request(TClockState::Stopped, TIntentSource::Exit);
}

void TExitPath::StopFailed(const std::string& reason)
{
    if (form_.closed_ || !WhenStopped) return;
    WhenStopped = false;
    form_.Link.CancelExitStop();
    form_.Mirror.Drop(TIntentSource::Exit);
    // A stop still on its way is not known to have been taken.
    form_.Mirror.Abandon();
    const int answer = CurrentPlatform().MessageBox->Show(
        "The clock could not be stopped at the service (" + reason + "). Exit anyway?", "Time Clock Still Running",
        MB_YESNO);
    if (answer != IDYES) {
        Requested = false;
        return;
    }
    if (!SaveForClose()) return;
    form_.closed_ = true;
    form_.close();
    QCoreApplication::quit();
}

bool TExitPath::SaveForClose()
{
    if (!frmPrefs->SaveSettingsOrAskToClose(SettingsFilePath())) return false;
    // A password on its way to the keyring must not end with the program.
    frmPrefs->Keyring().Settle(kKeyringExitWaitMs);
    return true;
}

void TExitPath::CloseEvent(QCloseEvent* event)
{
    TraceMark("close-asked");
    if (form_.closed_) {
        event->accept();
        return;
    }
    bool canClose = false;
    inQuery_ = true;
    Application().Guard([&] { canClose = CloseQuery(); });
    inQuery_ = false;
    if (!canClose && again_) {
        again_ = false;
        Application().Guard([&] { canClose = CloseQuery(); });
    }
    if (!canClose || form_.closed_ || !SaveForClose()) {
        // form_.closed_ is set when a nested close (inside the question) went through.
        if (!form_.closed_) event->ignore();
        return;
    }
    form_.closed_ = true;
    event->accept();
    QCoreApplication::quit();
}

namespace {
// Saves the settings without a message box; the failure for the caller to report.
std::exception_ptr SaveQuietly()
{
    try {
        frmPrefs->SaveSettings(SettingsFilePath());
        return nullptr;
    } catch (...) {
        return std::current_exception();
    }
}

std::string MessageOf(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}
}  // namespace

void TExitPath::QueryEndSession(IEndSessionRequest& request)
{
    if (form_.closed_) return;
    // Saved now: the session may end without another word to the program.
    const std::exception_ptr failure = SaveQuietly();
    if (!failure && !form_.ClockRunning) return;  // hiding to the tray must not hold the session up
    // Nothing may be shown without the session manager's leave; then the
    // session ends and a running clock stays as it is at the service.
    if (!request.AllowsInteraction()) return;
    if (failure) Application().HandleException(failure);
    else AskToStopAndExit();  // a Yes closes the program once the clock is seen stopped
    request.Release();
    // The user must see the failed save, and a stop must reach the service
    // before the session goes: the log-off waits either way. A No changes nothing.
    request.Cancel();
}

void TExitPath::EndSession()
{
    if (form_.closed_) return;
    int code = 0;
    if (const std::exception_ptr failure = SaveQuietly()) {
        std::fprintf(stderr, "ChronelGui: %s.\n", MessageOf(failure).c_str());
        code = 1;
    }
    frmPrefs->Keyring().Settle(kKeyringExitWaitMs);
    form_.closed_ = true;
    // Every loop ends, a modal one included; the hot key goes with the window.
    QCoreApplication::exit(code);
}

void TExitPath::PrepareForSleep()
{
    if (form_.closed_) return;
    // Reported after the sleep's delay lock is released, not while it is held.
    if (const std::exception_ptr failure = SaveQuietly())
        QTimer::singleShot(0, &form_, [failure] { Application().HandleException(failure); });
}


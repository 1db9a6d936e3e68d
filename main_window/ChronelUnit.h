#pragma once
// The main window: a small always-on-top tool window whose client area is
// the embedded browser showing the work-log service.
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "browser/TCppWebBrowserUtils.h"
#include "components/AppEvents.h"
#include "components/CppWebBrowser.h"
#include "components/ImageList.h"
#include "components/Menus.h"
#include "components/Timer.h"
#include "platform/HotKeys.h"
#include "platform/Session.h"
#include "platform/Types.h"
#include "prefs/PrefsHost.h"
#include "main_window/ClockView.h"
#include "main_window/ExitPath.h"
#include "main_window/HotKeyView.h"
#include "main_window/PageView.h"
#include "session/IdleWatch.h"
#include "session/Session.h"
#include "tray/TrayIcon.h"

class QVBoxLayout;

class TForm1 : public QWidget, public IPrefsHost {
    friend class TPageView;
    friend class TClockView;
    friend class THotKeyView;
    friend class TExitPath;
public:
    TForm1();
    ~TForm1() override;

    // Components, in declaration order.
    std::unique_ptr<TCppWebBrowser> Web;  // fills the client area
    TApplicationEvents ApplicationEvents1;
    TPopupMenu mnuApp;
    TMenuItem* HidetoTray1;
    TMenuItem* Preferences1;
    TMenuItem* Exit1;
    TMenuItem* N1;
    TMenuItem* StartClock1;
    TMenuItem* StopClock1;
    TImageList icons;
    std::unique_ptr<TTrayIcon> tryIcon;
    TTimer tmrEverything;
    // Lets the page go after the window has been out of sight a while.
    TTimer tmrPageRest;
    // The session with the service: the login and its recovery, what its
    // pages say of the clock, and the starts and stops asked of it.
    TPageView PageView{*this};
    TSession Session{PageView};
    TServiceLink& Link = Session.Link;
    TClockMirror& Mirror = Session.Mirror;
    // Idle auto-stop and auto-restart.
    TIdleWatch Idle{Session.Mirror};
    // The clock as the window shows it, with its reminder and sound.
    TClockView Clock{*this};
    THotKeyView HotKeys{*this};
    // The close, the exit's stop and the desktop session's end.
    TExitPath Exit{*this};
    TMediaPlayer& mplayer = Clock.Player;
    TTimer& tmrTickingSound = Clock.SoundTimer;
    TTimer& tmrMinuteReminder = Clock.ReminderTimer;

    // Fields.
    bool& ClockRunning = Clock.Running;
    bool& IdleStopped = Idle.IdleStopped;
    std::string& WorkItemName = Clock.WorkItemName;
    double& StartTime = Clock.StartTime;
    std::uint32_t& BreakSeconds = Idle.BreakSeconds;
    double& StopTime = Clock.StopTime;
    std::string& LoginURL = Session.LoginURL;
    bool& ExitRequested = Exit.Requested;
    bool& CloseWhenStopped = Exit.WhenStopped;
    MyDocHandler* DocHandler = nullptr;
    int& LoginPageCount = Session.LoginPageCount;
    bool RunningUnderWine = false;

    // Handlers.
    void FormCreate();
    void FormShow();
    // The preferences at the Server tab with the keyboard in the user name: there is no settings file yet.
    void ShowFirstRunPreferences();
    void FormPaint();
    bool FormCloseQuery() { return Exit.CloseQuery(); }
    // False when the settings could not be saved: the close does not complete.
    bool FormClose() { return Exit.SaveForClose(); }
    void Preferences1Click();
    void Exit1Click();
    void HidetoTray1Click();
    void StartClock1Click();
    void ClockStarted() { Clock.Started(); }
    void ClockStopped() { Clock.Stopped(); }
    // A start or stop asked of the service has been carried out or given up.
    void IntentEnded(const TIntent& intent, TIntentEnd why);
    // The stop asked for on exit did not reach the service.
    void ExitStopFailed(const std::string& reason) { Exit.StopFailed(reason); }
    void ReadTimerPage();
    void ReadTimerPage(const std::string& html);  // the source already read
    void tryIconDblClick();
    // The tray host went: a window hidden in it is minimized to the taskbar.
    void TrayHostGone();
    void ApplicationEvents1Activate();
    void ApplicationEvents1Deactivate();
    void ApplicationEvents1Minimize();
    void ApplicationEvents1Restore();
    // How long the window is out of sight (in the tray or minimized) before its page is let go.
    static constexpr unsigned kPageRestMs = 60000;
    void tmrPageRestTimer();
    // The page is needed (the window shown, a start or stop): brought back when it was let go.
    void NeedPage();
    void WMHotKey(TMessage& message);
    // Tells the user once per kind why the hot key cannot work; the stored key stays.
    void HotKeyNotice(HotKeyFailure why);
    // The window's own message handle (hot keys arrive there).
    HWND Handle() const { return handle_; }
    // The sound file played while the clock runs.
    static std::string TickingSoundPath() { return TClockView::TickingSoundPath(); }
    // Tests point the window at a sound file of their own (empty: the real one).
    static void SetTickingSoundPathForTests(const std::string& path) { TClockView::SetTickingSoundPathForTests(path); }
    void tmrEverythingTimer();
    void mnuAppPopup();
    static bool IsRunningUnderWine();

    // Asks the window to close through the close path; true when it closed.
    bool Close() { return Exit.Close(); }
    // The session manager asks whether the session may end: settings are
    // saved, the question is asked only with its leave, and the program
    // never quits here (the session's end comes separately, as EndSession).
    void QueryEndSession(IEndSessionRequest& request) { Exit.QueryEndSession(request); }
    // The program must end now (a signal, or the session's end): the close
    // path of an exit without a question; the clock stays as it is.
    void EndSession() { Exit.EndSession(); }
    // Started hidden in the tray: loads the settings and logs in as a show would.
    void StartHidden();
    // A later start with the same settings file: the window comes to the front.
    void BringToFront();
    // The machine sleeps: the settings are saved first.
    void PrepareForSleep() { Exit.PrepareForSleep(); }
    // Sleep counts as idle time: a sleep of at least the idle limit stops a
    // running clock as idleness would, the break counted from the sleep.
    void ResumeFromSleep(std::uint32_t sleptSeconds);
    bool Closed() const { return closed_; }

    // IPrefsHost.
    TTimer& TickingSoundTimer() override { return tmrTickingSound; }
    TTimer& MinuteReminderTimer() override { return tmrMinuteReminder; }
    bool IsClockRunning() const override { return ClockRunning; }
    void RegisterStartStopHotKey() override;
    int Top() const override;
    int Left() const override;
    void SetTop(int top) override;
    void SetLeft(int left) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void SetCaption(const std::string& caption);
    // tmrEverything runs only while a tick has something to do.
    void UpdateEverythingTimer();
    void FitOuterSize();
    // The window went out of sight: its page rests once kPageRestMs have passed.
    void RestPageSoon();
    bool OutOfSight() const;

    void FirstPaint();
    void StartWebSession();
    // The login request, once; from the first show or else the first paint.
    void PostLogin();
    void DispatchMessage(TMessage& message);
    void PreferencesClosed();
    void WatchPreferences();
    void ShowConnected(bool connected);
    void AttachHostObject();
    void DockTrayIcon();

    std::string hintWhileConnected_;

    HWND handle_ = 0;
    bool trayDocked_ = false;
    bool fitOuterSizePending_ = false;
    bool notConnectedHint_ = false;  // the tray hint says why the service is not reached
    bool hostObjectPending_ = false;  // attached on the first page that completes
    bool paintHandlerAttached_ = true;
    bool sessionStarted_ = false;
    bool prefsWatched_ = false;
    bool shownOnce_ = false;
    int storedTop_ = 0, storedLeft_ = 0;  // the stored position where the window system keeps its own
    bool closed_ = false;
};

extern TForm1* Form1;

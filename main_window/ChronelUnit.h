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
#include "components/MediaPlayer.h"
#include "components/Menus.h"
#include "components/Timer.h"
#include "platform/HotKeys.h"
#include "platform/Session.h"
#include "platform/Types.h"
#include "prefs/PrefsHost.h"
#include "regex/PcreRegex.h"
#include "main_window/PageView.h"
#include "session/IdleWatch.h"
#include "session/Session.h"
#include "tray/TrayIcon.h"

class QVBoxLayout;

class TForm1 : public QWidget, public IPrefsHost {
    friend class TPageView;
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
    TPcreRegex preg;
    TMediaPlayer mplayer;
    TTimer tmrTickingSound;
    std::unique_ptr<TTrayIcon> tryIcon;
    TTimer tmrMinuteReminder;
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

    // Fields.
    bool ClockRunning = false;
    bool& IdleStopped = Idle.IdleStopped;
    std::string WorkItemName;
    double StartTime = 0;
    std::uint32_t& BreakSeconds = Idle.BreakSeconds;
    double StopTime = 0;
    std::string& LoginURL = Session.LoginURL;
    bool ExitRequested = false;
    bool CloseWhenStopped = false;
    MyDocHandler* DocHandler = nullptr;
    int& LoginPageCount = Session.LoginPageCount;
    bool RunningUnderWine = false;

    // Handlers.
    void FormCreate();
    void FormShow();
    // The preferences at the Server tab with the keyboard in the user name: there is no settings file yet.
    void ShowFirstRunPreferences();
    void FormPaint();
    bool FormCloseQuery();
    // False when the settings could not be saved: the close does not complete.
    bool FormClose();
    void Preferences1Click();
    void Exit1Click();
    void HidetoTray1Click();
    void StartClock1Click();
    void ClockStarted();
    void ClockStopped();
    // Brings the window's clock to the state a page of the service shows.
    void ShowServiceClock(TClockState state, TShowKind kind);
    // A start or stop asked of the service has been carried out or given up.
    void IntentEnded(const TIntent& intent, TIntentEnd why);
    // The stop asked for on exit did not reach the service.
    void ExitStopFailed(const std::string& reason);
    void ReadTimerPage();
    void ReadTimerPage(const std::string& html);  // the source already read
    void tryIconDblClick();
    void ApplicationEvents1Activate();
    void ApplicationEvents1Deactivate();
    void ApplicationEvents1Minimize();
    void ApplicationEvents1Restore();
    // How long the window is out of sight (in the tray or minimized) before its page is let go.
    static constexpr unsigned kPageRestMs = 60000;
    void tmrPageRestTimer();
    // The page is needed (the window shown, a start or stop): brought back when it was let go.
    void NeedPage();
    void mplayerNotify();
    void WMHotKey(TMessage& message);
    // Tells the user once per kind why the hot key cannot work; the stored key stays.
    void HotKeyNotice(HotKeyFailure why);
    // The window's own message handle (hot keys arrive there).
    HWND Handle() const { return handle_; }
    // The sound file played while the clock runs.
    static std::string TickingSoundPath();
    // Tests point the window at a sound file of their own (empty: the real one).
    static void SetTickingSoundPathForTests(const std::string& path);
    void tmrEverythingTimer();
    void tmrMinuteReminderTimer();
    void tmrTickingSoundTimer();
    void mnuAppPopup();
    static bool IsRunningUnderWine();

    // Asks the window to close through the close path; true when it closed.
    bool Close();
    // The session manager asks whether the session may end: settings are
    // saved, the question is asked only with its leave, and the program
    // never quits here (the session's end comes separately, as EndSession).
    void QueryEndSession(IEndSessionRequest& request);
    // The program must end now (a signal, or the session's end): the close
    // path of an exit without a question; the clock stays as it is.
    void EndSession();
    // Started hidden in the tray: loads the settings and logs in as a show would.
    void StartHidden();
    // A later start with the same settings file: the window comes to the front.
    void BringToFront();
    // The machine sleeps: the settings are saved first.
    void PrepareForSleep();
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
    // The question; true when answered Yes (the toggle has been clicked).
    bool AskToStopAndExit();
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
    void StartTickingSound();
    void StopTickingSound();
    void AttachHostObject();
    void DockTrayIcon();
    double ServiceStartTime() const;

    std::string hintWhileConnected_;

    HWND handle_ = 0;
    bool trayDocked_ = false;
    bool fitOuterSizePending_ = false;
    bool quietTransition_ = false;  // the transition's own balloon gives way to the page's word
    bool notConnectedHint_ = false;  // the tray hint says why the service is not reached
    bool hostObjectPending_ = false;  // attached on the first page that completes
    bool inCloseQuery_ = false;
    bool closeAgain_ = false;
    bool paintHandlerAttached_ = true;
    bool sessionStarted_ = false;
    bool prefsWatched_ = false;
    bool shownOnce_ = false;
    int storedTop_ = 0, storedLeft_ = 0;  // the stored position where the window system keeps its own
    bool closed_ = false;
    // Hot-key problems the user has been told of (each once a run).
    unsigned hotKeyNotices_ = 0;
};

extern TForm1* Form1;

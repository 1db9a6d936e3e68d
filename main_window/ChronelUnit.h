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
#include "main_window/ServiceLink.h"
#include "platform/HotKeys.h"
#include "platform/Session.h"
#include "platform/Types.h"
#include "prefs/PrefsHost.h"
#include "regex/PcreRegex.h"
#include "tray/TrayIcon.h"

class QVBoxLayout;

class TForm1 : public QWidget, public IPrefsHost {
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
    // Login recovery and the service's confirmation of starts and stops.
    TServiceLink Link;

    // Fields.
    bool ClockRunning = false;
    bool IdleStopped = false;
    std::string WorkItemName;
    double StartTime = 0;
    std::uint32_t BreakSeconds = 0;
    double StopTime = 0;
    std::string LoginURL;
    bool ExitRequested = false;
    bool CloseWhenStopped = false;
    MyDocHandler* DocHandler = nullptr;
    int LoginPageCount = 0;
    bool RunningUnderWine = false;

    // Handlers.
    void FormCreate();
    void FormShow();
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
    void WebBeforeNavigate2(const std::string& url, bool& cancel);
    void WebDocumentComplete(const std::string& url);
    void WebNavigateError(const std::string& url, const std::string& reason);
    // Undoes a mirrored start or stop that the service did not take.
    void RevertTransition(TTransition transition);
    // The stop asked for on exit did not reach the service.
    void ExitStopFailed(const std::string& reason);
    void ReadTimerPage();
    void tryIconDblClick();
    void ApplicationEvents1Activate();
    void ApplicationEvents1Deactivate();
    void ApplicationEvents1Minimize();
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
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void SetCaption(const std::string& caption);
    // tmrEverything runs only while a tick has something to do.
    void UpdateEverythingTimer();
    // The question; true when answered Yes (the toggle has been clicked).
    bool AskToStopAndExit();
    void FitOuterSize();

    void FirstPaint();
    void StartWebSession();
    // The login request, once; from the first show or else the first paint.
    void PostLogin();
    // Stops the running clock because of idleness; the break starts at breakSeconds.
    void IdleAutoStop(std::uint32_t breakSeconds);
    void DispatchMessage(TMessage& message);
    void NavigateLogin();
    void ShowConnected(bool connected);
    void StartTickingSound();
    void StopTickingSound();
    void DropIdlePending();
    bool PageHasStartStopForm();
    void SendQueuedToggle();
    void DockTrayIcon();

    // The clock as shown before the transition now awaiting the service.
    struct ClockView {
        bool valid = false;
        bool running = false;
        std::string caption;
        double startTime = 0, stopTime = 0;
        int iconIndex = 0;
        bool cycling = false;
        bool reminder = false;
        unsigned reminderInterval = 0;
    };
    ClockView CaptureClockView() const;
    ClockView shownBefore_;
    std::string hintWhileConnected_;
    bool idleUnreadableReported_ = false;
    std::uint32_t idlePendingSince_ = 0;

    HWND handle_ = 0;
    // The engine reports a submitted form only after the script call has
    // returned; these carry what the idle logic did to the transition that follows.
    bool idleStopPending_ = false;
    bool idleStartPending_ = false;
    bool trayDocked_ = false;
    bool fitOuterSizePending_ = false;
    bool toggleQueued_ = false;  // asked for while a page loaded; sent when it is complete
    std::uint32_t pendingBreakSeconds_ = 0;
    std::uint32_t pendingStopBreakSeconds_ = 0;
    bool closeAfterStop_ = false;
    bool inCloseQuery_ = false;
    bool closeAgain_ = false;
    bool paintHandlerAttached_ = true;
    bool sessionStarted_ = false;
    bool idleBoxWatched_ = false;
    bool loginPosted_ = false;
    bool shownOnce_ = false;
    int storedTop_ = 0, storedLeft_ = 0;  // the stored position where the window system keeps its own
    bool closed_ = false;
    // Hot-key problems the user has been told of (each once a run).
    unsigned hotKeyNotices_ = 0;
};

extern TForm1* Form1;

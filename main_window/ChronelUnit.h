#pragma once
// The main window: a small always-on-top tool window whose client area is
// the embedded browser showing the work-log service.
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "components/AppEvents.h"
#include "components/ImageList.h"
#include "components/MediaPlayer.h"
#include "components/Menus.h"
#include "components/Timer.h"
#include "platform/Types.h"
#include "prefs/PrefsHost.h"
#include "regex/PcreRegex.h"

class QVBoxLayout;

class TForm1 : public QWidget, public IPrefsHost {
public:
    TForm1();
    ~TForm1() override;

    // Components, in declaration order.
    QWidget* WebHost;  // the client area the browser fills
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
    TTimer tmrMinuteReminder;
    TTimer tmrEverything;

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
    void tmrEverythingTimer();
    void tmrMinuteReminderTimer();
    void tmrTickingSoundTimer();
    void mnuAppPopup();
    static bool IsRunningUnderWine();

    // Asks the window to close through the close path; true when it closed.
    bool Close();
    // The session is ending: the close path, but a hide-to-tray answer must
    // not hold up the log-off. True when the session may end.
    bool QueryEndSession();
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
    // The question; true when answered Yes (the toggle has been clicked).
    bool AskToStopAndExit();
    void FitOuterSize();

    bool paintHandlerAttached_ = true;
    bool shownOnce_ = false;
    bool closed_ = false;
};

extern TForm1* Form1;

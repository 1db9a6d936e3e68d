#include "main_window/ChronelUnit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <filesystem>

#include "components/Application.h"
#include "components/Exceptions.h"
#include "components/Format.h"
#include "components/SettingsPath.h"
#include "main_window/WebSession.h"
#include "platform/Network.h"
#include "platform/Platform.h"
#include "platform/TraceMarks.h"
#include "prefs/frmPrefsUnit.h"

TForm1* Form1 = nullptr;

namespace {
constexpr int kOuterWidth = 132;
constexpr int kOuterHeight = 176;
const char* const kTimerPagePattern = "<\\s*?option .*?(selected)[^>]*?>([^<]+)</option>";
const char* const kToggleScript =
    "if (document.frmStartStop){ document.frmStartStop.submit(); }else{ alert('You must be logged in and on the "
    "timer page before this works'); }";
const char* const kIdleTitle = "Chronel Auto-Stop Idle Detection";
constexpr std::uint32_t kIdlePendingMs = 30000;
constexpr std::uint32_t kFirstPaintWaitMs = 30000;

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}
}  // namespace

TForm1::TForm1()
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint)
{
    Form1 = this;
    setWindowTitle("Chronel Timer");
    QFont f("MS Sans Serif");
    f.setPointSize(8);
    setFont(f);
    resize(kOuterWidth, kOuterHeight);
    handle_ = CurrentPlatform().Windows->AllocateHWnd([this](TMessage& m) { DispatchMessage(m); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Web = std::make_unique<TCppWebBrowser>(this);
    layout->addWidget(Web->Widget());
    TraceMark("web-view");
    Web->OnBeforeNavigate2 = [this](TCppWebBrowser*, const std::string& url, int, const std::string&,
                                    const std::string&, const std::string&, bool& cancel) {
        WebBeforeNavigate2(url, cancel);
    };
    Web->OnDocumentComplete = [this](TCppWebBrowser*, const std::string& url) { WebDocumentComplete(url); };
    Web->OnNavigateError = [this](TCppWebBrowser*, const std::string& url, int, const std::string& reason) {
        WebNavigateError(url, reason);
    };
    Link.OnLogin = [this] { NavigateLogin(); };
    Link.OnShowPage = [this](const std::string& html) {
        TraceMark("status-page");
        Web->LoadHtml(html);
    };
    Link.OnConnectedChanged = [this](bool connected) { ShowConnected(connected); };
    Link.OnRevert = [this](TTransition t) { RevertTransition(t); };
    Link.OnExitStopFailed = [this](const std::string& reason) { ExitStopFailed(reason); };
    if (INetworkStatus* network = CurrentNetworkStatus())
        network->OnOnline = [this] { Application().Guard([this] { Link.NetworkBack(); }); };

    ApplicationEvents1.OnActivate = [this](TApplicationEvents*) { ApplicationEvents1Activate(); };
    ApplicationEvents1.OnDeactivate = [this](TApplicationEvents*) { ApplicationEvents1Deactivate(); };
    ApplicationEvents1.OnMinimize = [this](TApplicationEvents*) { ApplicationEvents1Minimize(); };

    HidetoTray1 = mnuApp.Add("HidetoTray1", "Hide to Tray");
    Preferences1 = mnuApp.Add("Preferences1", "Preferences");
    Exit1 = mnuApp.Add("Exit1", "Exit");
    N1 = mnuApp.Add("N1", "-");
    StartClock1 = mnuApp.Add("StartClock1", "Start Clock");
    StopClock1 = mnuApp.Add("StopClock1", "Stop Clock");
    StopClock1->SetVisible(false);
    HidetoTray1->OnClick = [this](TMenuItem*) { HidetoTray1Click(); };
    Preferences1->OnClick = [this](TMenuItem*) { Preferences1Click(); };
    Exit1->OnClick = [this](TMenuItem*) { Exit1Click(); };
    StartClock1->OnClick = [this](TMenuItem*) { StartClock1Click(); };
    StopClock1->OnClick = [this](TMenuItem*) { StartClock1Click(); };
    mnuApp.OnPopup = [this](TPopupMenu*) { mnuAppPopup(); };

    FillClockIcons(icons);
    preg.SetOptions(preCaseLess);
    mplayer.OnNotify = [this](TMediaPlayer*) { mplayerNotify(); };

    tmrTickingSound.SetEnabled(false);
    tmrTickingSound.SetInterval(60000);
    tmrTickingSound.OnTimer = [this](TTimer*) { tmrTickingSoundTimer(); };

    tryIcon = std::make_unique<TTrayIcon>(this);
    tryIcon->SetIconList(&icons);
    tryIcon->SetCycleInterval(1000);
    tryIcon->SetIcon(QIcon(DrawClock(16, false)));
    tryIcon->SetIconIndex(0);
    tryIcon->SetPopupMenu(&mnuApp);
    tryIcon->OnDblClick = [this](TTrayIcon*) { tryIconDblClick(); };
    // Docked in the first turn of the message loop, after the window's map:
    // the tray host's round trips need not hold up the window.
    QTimer::singleShot(0, this, [this] { DockTrayIcon(); });

    tmrMinuteReminder.SetEnabled(false);
    tmrMinuteReminder.SetInterval(1200000);
    tmrMinuteReminder.OnTimer = [this](TTimer*) { tmrMinuteReminderTimer(); };
    tmrEverything.SetInterval(1000);
    tmrEverything.SetEnabled(true);
    tmrEverything.OnTimer = [this](TTimer*) { tmrEverythingTimer(); };
    UpdateEverythingTimer();

    Platform& platform = CurrentPlatform();
    if (platform.Instance) {
        platform.Instance->OnRaise = [this] { BringToFront(); };
        // Once the close is decided (or waits only for the clock's stop), a later start waits for the exit.
        platform.Instance->Closing = [this] { return closed_ || Link.ExitStopPending(); };
    }
    if (platform.Session) {
        platform.Session->OnQueryEnd = [this](IEndSessionRequest& request) { QueryEndSession(request); };
        platform.Session->OnEnd = [this] { EndSession(); };
        platform.Session->OnSuspend = [this] { PrepareForSleep(); };
        platform.Session->OnResume = [this](std::uint32_t slept) { ResumeFromSleep(slept); };
    }

    FormCreate();
}

TForm1::~TForm1()
{
    if (INetworkStatus* network = CurrentNetworkStatus()) network->OnOnline = nullptr;
    if (IHotKeys* hotKeys = CurrentPlatform().HotKeys) hotKeys->UnregisterHotKey(handle_, 0);
    if (ISingleInstance* instance = CurrentPlatform().Instance) {
        instance->OnRaise = nullptr;
        instance->Closing = nullptr;
    }
    if (ISession* session = CurrentPlatform().Session) {
        session->OnQueryEnd = nullptr;
        session->OnEnd = nullptr;
        session->OnSuspend = nullptr;
        session->OnResume = nullptr;
    }
    tryIcon.reset();
    CurrentPlatform().Windows->DeallocateHWnd(handle_);
    // The host object stays with the document; the browser goes with the window.
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::DispatchMessage(TMessage& message)
{
    if (message.Msg == WM_HOTKEY) WMHotKey(message);
    if (message.Msg == WM_HOTKEY_LOST && message.WParam == 0)
        HotKeyNotice(static_cast<HotKeyFailure>(message.LParam));
}

void TForm1::WMHotKey(TMessage& message)
{
    if (message.WParam == 0) StartClock1->Click();
}

// ---- lifecycle ------------------------------------------------------------

void TForm1::FormCreate()
{
    RunningUnderWine = IsRunningUnderWine();
}

bool TForm1::IsRunningUnderWine()
{
    return CurrentPlatform().Registry->CanOpenLocalMachineKey("Software\\Wine");
}

void TForm1::FormShow()
{
    if (!idleBoxWatched_) {
        // Idle detection needs the everything timer even while the clock is stopped.
        idleBoxWatched_ = true;
        connect(frmPrefs->cbxIdleTimeCheck, &QCheckBox::toggled, this, [this] { UpdateEverythingTimer(); });
    }
    const std::string path = SettingsFilePath();
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        frmPrefs->LoadSettings(path);
        frmPrefs->PageControl1->setCurrentWidget(frmPrefs->tabExtra);
    } else {
        frmPrefs->show();
        frmPrefs->PageControl1->setCurrentWidget(frmPrefs->tabServer);
        frmPrefs->edtUsername->setFocus();
        frmPrefs->raise();
        frmPrefs->activateWindow();
    }
    CurrentPlatform().Taskbar->SetButtonVisible(!frmPrefs->cbxRemoveFromTaskBar->Checked());
    UpdateEverythingTimer();
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) return;  // a restore, not a show
    Application().Guard([this] { FormShow(); });
    if (!shownOnce_) {
        shownOnce_ = true;
        // The login needs only the settings just loaded: posted now, the
        // service answers while the window is mapped and first painted.
        Application().Guard([this] { PostLogin(); });
        // The first show is centred, whatever position was loaded.
        QScreen* screen = WindowOffers(WindowBehaviour::Placement) ? QGuiApplication::primaryScreen() : nullptr;
        if (screen) {
            const QRect area = screen->availableGeometry();
            move(area.center().x() - kOuterWidth / 2, area.center().y() - kOuterHeight / 2);
        }
        QTimer::singleShot(300, this, [this] { FitOuterSize(); });
        // The browser covers the whole client area, so the window itself may
        // never get a paint event: its first paint is the first turn of the
        // message loop after the show.
        QTimer::singleShot(0, this, [this] { FirstPaint(); });
    }
    if (fitOuterSizePending_) QTimer::singleShot(300, this, [this] { FitOuterSize(); });
    // Like the tray host's hook: a shown window comes to the front.
    raise();
    activateWindow();
}

void TForm1::FitOuterSize()
{
    // A resize now would undo a minimize still on its way (a close or
    // "Hide to Tray" just after the start); the next show fits the frame.
    if (isMinimized() || !isVisible()) {
        fitOuterSizePending_ = true;
        return;
    }
    fitOuterSizePending_ = false;
    // The outer size includes the frame the window manager added.
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame.width() >= 0 && frame.height() >= 0 && frame.width() < kOuterWidth && frame.height() < kOuterHeight)
        resize(kOuterWidth - frame.width(), kOuterHeight - frame.height());
}

void TForm1::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    FirstPaint();
}

void TForm1::FirstPaint()
{
    if (!paintHandlerAttached_) return;
    paintHandlerAttached_ = false;
    // The login waits for the page while pumping messages: not inside a paint.
    QTimer::singleShot(0, this, [this] { Application().Guard([this] { FormPaint(); }); });
}

void TForm1::Preferences1Click()
{
    if (frmPrefs->isVisible()) {
        // Already open without a modal loop (first run): bring it forward.
        frmPrefs->raise();
        frmPrefs->activateWindow();
        return;
    }
    frmPrefs->exec();
}

void TForm1::Exit1Click()
{
    ExitRequested = true;
    Close();
}

bool TForm1::Close()
{
    closeAfterStop_ = false;
    if (inCloseQuery_) {
        // Asked again from inside the question (the clock stopped at once):
        // the toolkit ignores a nested close, so the outer one runs it.
        closeAgain_ = true;
        return false;
    }
    return close();
}

bool TForm1::FormCloseQuery()
{
    // A Yes at the session's end closes once the clock stopped, as an Exit would.
    if (frmPrefs->cbxMinimizeOnClose->Checked() && !ExitRequested && !CloseWhenStopped) {
        HidetoTray1->Click();
        return false;
    }
    if (!ClockRunning) return true;
    AskToStopAndExit();
    return false;
}

bool TForm1::AskToStopAndExit()
{
    const int answer = CurrentPlatform().MessageBox->Show("Do you want to stop your time clock and exit?",
                                                          "Time Clock Still Running", MB_YESNO);
    if (answer != IDYES) return false;
    CloseWhenStopped = true;
    // The stop must reach the service; a page that cannot take it leads to
    // a second question instead.
    if (Link.BeginExitStop()) StartClock1->Click();
    return true;
}

void TForm1::ExitStopFailed(const std::string& reason)
{
    if (closed_ || !CloseWhenStopped) return;
    CloseWhenStopped = false;
    closeAfterStop_ = false;
    Link.CancelExitStop();
    if (Link.Awaiting() == TTransition::Stop) {
        // The stop's page never came: the service's clock is taken to run on.
        Link.ForgetTransition();
        RevertTransition(TTransition::Stop);
    }
    const int answer = CurrentPlatform().MessageBox->Show(
        "The clock could not be stopped at the service (" + reason + "). Exit anyway?", "Time Clock Still Running",
        MB_YESNO);
    if (answer != IDYES) {
        ExitRequested = false;
        return;
    }
    if (!FormClose()) return;
    closed_ = true;
    close();
    QCoreApplication::quit();
}

bool TForm1::FormClose()
{
    return frmPrefs->SaveSettingsOrAskToClose(SettingsFilePath());
}

void TForm1::closeEvent(QCloseEvent* event)
{
    TraceMark("close-asked");
    if (closed_) {
        event->accept();
        return;
    }
    bool canClose = false;
    inCloseQuery_ = true;
    Application().Guard([&] { canClose = FormCloseQuery(); });
    inCloseQuery_ = false;
    if (!canClose && closeAgain_) {
        closeAgain_ = false;
        Application().Guard([&] { canClose = FormCloseQuery(); });
    }
    if (!canClose || closed_ || !FormClose()) {
        // closed_ is set when a nested close (inside the question) went through.
        if (!closed_) event->ignore();
        return;
    }
    closed_ = true;
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

void TForm1::QueryEndSession(IEndSessionRequest& request)
{
    if (closed_) return;
    // Saved now: the session may end without another word to the program.
    const std::exception_ptr failure = SaveQuietly();
    if (!failure && !ClockRunning) return;  // hiding to the tray must not hold the session up
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

void TForm1::EndSession()
{
    if (closed_) return;
    int code = 0;
    if (const std::exception_ptr failure = SaveQuietly()) {
        std::fprintf(stderr, "ChronelGui: %s.\n", MessageOf(failure).c_str());
        code = 1;
    }
    closed_ = true;
    closeAfterStop_ = false;
    // Every loop ends, a modal one included; the hot key goes with the window.
    QCoreApplication::exit(code);
}

void TForm1::DockTrayIcon()
{
    if (trayDocked_) return;
    trayDocked_ = true;
    tryIcon->SetIconVisible(true);
    tryIcon->Loaded();
    TraceMark("tray");
}

void TForm1::StartHidden()
{
    DockTrayIcon();  // no window to map first: the icon is all the user sees
    Application().Guard([this] { FormShow(); });
    FirstPaint();
}

void TForm1::BringToFront()
{
    if (closed_) return;
    const bool wasVisible = isVisible();
    tryIconDblClick();  // out of the tray, restored when minimized
    if (wasVisible) CurrentPlatform().Input->SetForegroundWindow(this);
}

void TForm1::PrepareForSleep()
{
    if (closed_) return;
    // Reported after the sleep's delay lock is released, not while it is held.
    if (const std::exception_ptr failure = SaveQuietly())
        QTimer::singleShot(0, this, [failure] { Application().HandleException(failure); });
}

void TForm1::ResumeFromSleep(std::uint32_t sleptSeconds)
{
    if (closed_ || !frmPrefs->cbxIdleTimeCheck->Checked()) return;
    const std::uint32_t threshold = static_cast<std::uint32_t>(std::max(frmPrefs->edtIdleTimeCheck->Value(), 0)) * 60u;
    if (!ClockRunning || IdleStopped || idleStopPending_ || sleptSeconds < threshold) return;
    IdleAutoStop(sleptSeconds);
}

// ---- window behaviours ---------------------------------------------------------

void TForm1::HidetoTray1Click()
{
    // With "Remove from task bar" unticked the taskbar button stays. On X11
    // the button belongs to the mapped window, so the window is iconified
    // rather than withdrawn; the button then restores it.
    if (frmPrefs && !frmPrefs->cbxRemoveFromTaskBar->Checked()) {
        CurrentPlatform().AppState->Minimize();
        return;
    }
    hide();
}

void TForm1::tryIconDblClick()
{
    Application().SetShowMainForm(true);
    if (CurrentPlatform().AppState->IsMinimized()) Application().Restore();
    show();
}

void TForm1::mnuAppPopup()
{
    HidetoTray1->SetVisible(isVisible() && !CurrentPlatform().AppState->IsMinimized());
}

void TForm1::ApplicationEvents1Deactivate()
{
    if (frmPrefs && frmPrefs->cbxUseTransparency->Checked() && WindowOffers(WindowBehaviour::Opacity))
        setWindowOpacity(127.0 / 255.0);
}

void TForm1::ApplicationEvents1Activate()
{
    if (WindowOffers(WindowBehaviour::Opacity)) setWindowOpacity(1.0);
}

void TForm1::ApplicationEvents1Minimize()
{
    if (frmPrefs && frmPrefs->cbxRemoveFromTaskBar->Checked()) CurrentPlatform().Taskbar->SetButtonVisible(false);
}

void TForm1::RegisterStartStopHotKey()
{
    IHotKeys* hotKeys = CurrentPlatform().HotKeys;
    const std::uint16_t code = frmPrefs->hotkeyStartStop->HotKey();
    if (code == 0) {
        if (hotKeys) hotKeys->UnregisterHotKey(handle_, 0);
        return;
    }
    UINT modifiers = 0;
    if (code & scAlt) modifiers |= MOD_ALT;
    if (code & scCtrl) modifiers |= MOD_CONTROL;
    if (code & scShift) modifiers |= MOD_SHIFT;
    if (hotKeys && hotKeys->RegisterHotKey(handle_, 0, modifiers, code & scKeyMask)) return;
    // Only a combination the desktop refused is cleared; a desktop or layout
    // that cannot take it leaves the user's key stored for the next start.
    const HotKeyFailure why = hotKeys ? hotKeys->LastFailure() : HotKeyFailure::Unavailable;
    if (why == HotKeyFailure::Unavailable || why == HotKeyFailure::KeyMissing) HotKeyNotice(why);
    else frmPrefs->hotkeyStartStop->SetHotKey(0);
}

void TForm1::HotKeyNotice(HotKeyFailure why)
{
    const char* text = nullptr;
    switch (why) {
    case HotKeyFailure::Unavailable: text = "Global hot keys are not available on this desktop."; break;
    case HotKeyFailure::KeyMissing: text = "The start/stop hot key is not on the current keyboard layout."; break;
    default: return;
    }
    const unsigned bit = 1u << static_cast<unsigned>(why);
    if (hotKeyNotices_ & bit) return;
    hotKeyNotices_ |= bit;
    tryIcon->ShowBalloonHint("Chronel Timer", text, bitWarning, 10);
}

// ---- clock state --------------------------------------------------------------

void TForm1::SetCaption(const std::string& caption)
{
    setWindowTitle(QString::fromStdString(caption));
    Application().SetTitle(caption);
}

namespace {
std::string& TickingSoundPathOverride()
{
    static std::string path;
    return path;
}
}  // namespace

void TForm1::SetTickingSoundPathForTests(const std::string& path)
{
    TickingSoundPathOverride() = path;
}

std::string TForm1::TickingSoundPath()
{
    if (!TickingSoundPathOverride().empty()) return TickingSoundPathOverride();
    return QCoreApplication::applicationDirPath().toStdString() + "/" + "sounds/clock-ticking.wav";
}

void TForm1::StartClock1Click()
{
    // The form on a page that is being replaced submits nowhere: a toggle
    // while a page loads waits for that page. Further presses meanwhile
    // (a held key repeats) add nothing.
    if (Web->Busy()) {
        toggleQueued_ = true;
        return;
    }
    WebBrowserExecScript(Web.get(), kToggleScript);
}

void TForm1::SendQueuedToggle()
{
    if (!toggleQueued_ || closed_) return;
    toggleQueued_ = false;
    // The idle logic's claim runs from the click it waited for.
    idlePendingSince_ = CurrentPlatform().Clock->GetTickCount();
    WebBrowserExecScript(Web.get(), kToggleScript);
}

void TForm1::ClockStarted()
{
    SetCaption("Working...");
    ClockRunning = true;

    std::string breakNote;
    if (idleStartPending_) {
        // The idle restart already cleared the flags; the break it counted stands.
        idleStartPending_ = false;
        IdleStopped = true;
        BreakSeconds = pendingBreakSeconds_;
    }
    if (IdleStopped) {
        const std::string amount = BreakSeconds > 60 ? FormatMinutes(BreakSeconds / 60.0) + " minute "
                                                     : std::to_string(BreakSeconds) + " second ";
        breakNote = "\r\n(You took a " + amount + " break)";
        IdleStopped = false;
        BreakSeconds = 0;
    }

    tryIcon->SetIconIndex(1);
    tryIcon->SetCycleIcons(true);
    StartClock1->SetVisible(false);
    StopClock1->SetVisible(true);

    StartTickingSound();

    tmrMinuteReminder.SetEnabled(false);
    if (frmPrefs->cbxMinuteReminder->Checked())
        tmrMinuteReminder.SetInterval(static_cast<unsigned>(frmPrefs->edtMinuteReminder->Value()) * 60000u);
    tmrMinuteReminder.SetEnabled(frmPrefs->cbxMinuteReminder->Checked());

    StartTime = CurrentPlatform().Clock->Now();
    UpdateEverythingTimer();
    tryIcon->ShowBalloonHint("Started Work @ " + FormatLongTime(StartTime), WorkItemName + breakNote, bitInfo, 60);
}

void TForm1::ClockStopped()
{
    if (!ClockRunning) return;
    SetCaption("Not working");
    IdleStopped = false;
    ClockRunning = false;
    if (idleStopPending_) {
        // Stopped by idleness: the flag set after the click stands.
        idleStopPending_ = false;
        IdleStopped = true;
        BreakSeconds = pendingStopBreakSeconds_;
    }

    tryIcon->SetCycleIcons(false);
    tryIcon->SetIconIndex(0);
    StartClock1->SetVisible(true);
    StopClock1->SetVisible(false);

    StopTickingSound();

    // The stop is a navigation that has only just begun: closing now would
    // end the program before the service hears of it. Close when its page
    // has loaded; the link asks again when it fails or does not come.
    if (CloseWhenStopped) closeAfterStop_ = true;

    tmrMinuteReminder.SetEnabled(false);
    StopTime = CurrentPlatform().Clock->Now();
    const double minutes = static_cast<double>(SecondsBetween(StartTime, StopTime)) / 60.0;
    tryIcon->ShowBalloonHint("Stopped Work @ " + FormatLongTime(StopTime) + " (" + FormatMinutes(minutes) + " mins)",
                             WorkItemName, bitInfo, 10);
}

void TForm1::StartTickingSound()
{
    if (!frmPrefs->cbxPlayTickingSound->Checked()) return;
    const std::string sound = TickingSoundPath();
    std::error_code ec;
    if (!std::filesystem::exists(sound, ec)) return;
    // A broken sound device must not keep the clock from showing its
    // state; reported once, it is not repeated.
    const bool playing = Application().Guard([&] {
        mplayer.SetFileName(sound);
        mplayer.Open();
        mplayer.SetNotify(true);
        mplayer.Play();
    });
    tmrTickingSound.SetEnabled(playing);
}

void TForm1::StopTickingSound()
{
    if (!mplayer.FileName().empty()) {
        Application().Guard([this] {
            if (mplayer.Mode() == TMPModes::mpPlaying) mplayer.Stop();
            if (mplayer.Mode() == TMPModes::mpStopped || mplayer.Mode() == TMPModes::mpOpen) mplayer.Close();
        });
    }
    tmrTickingSound.SetEnabled(false);
}

TForm1::ClockView TForm1::CaptureClockView() const
{
    ClockView v;
    v.valid = true;
    v.running = ClockRunning;
    v.caption = windowTitle().toStdString();
    v.startTime = StartTime;
    v.stopTime = StopTime;
    v.iconIndex = tryIcon->IconIndex();
    v.cycling = tryIcon->CycleIcons();
    v.reminder = tmrMinuteReminder.Enabled();
    v.reminderInterval = tmrMinuteReminder.Interval();
    return v;
}

void TForm1::RevertTransition(TTransition transition)
{
    const ClockView before = shownBefore_;
    shownBefore_ = ClockView{};
    if (!before.valid) return;
    // Whatever idle state the transition left stays: the idle logic's own
    // failure rule covers it.
    ClockRunning = before.running;
    SetCaption(before.caption);
    StartTime = before.startTime;
    StopTime = before.stopTime;
    tryIcon->SetCycleIcons(before.cycling);
    tryIcon->SetIconIndex(before.iconIndex);
    StartClock1->SetVisible(!before.running);
    StopClock1->SetVisible(before.running);
    if (before.running) {
        closeAfterStop_ = false;
        StartTickingSound();
    } else {
        StopTickingSound();
    }
    tmrMinuteReminder.SetEnabled(false);
    if (before.reminderInterval) tmrMinuteReminder.SetInterval(before.reminderInterval);
    tmrMinuteReminder.SetEnabled(before.reminder);
    UpdateEverythingTimer();
    tryIcon->ShowBalloonHint("Chronel Timer",
                             transition == TTransition::Start
                                 ? "Could not reach the service: the clock was not started."
                                 : "Could not reach the service: the clock was not stopped.",
                             bitWarning, 30);
}

// ---- running time, idle detection --------------------------------------------------

void TForm1::tmrEverythingTimer()
{
    std::string minutesPart, idlePart;
    const bool show = ClockRunning;
    if (ClockRunning) {
        const long long seconds = SecondsBetween(StartTime, CurrentPlatform().Clock->Now());
        minutesPart = std::to_string(seconds / 60) + " min.";
    }
    // What the idle logic asked for belongs to that one transition; a click
    // whose navigation never came must not claim a later one.
    if ((idleStopPending_ || idleStartPending_) && !toggleQueued_ &&
        CurrentPlatform().Clock->GetTickCount() - idlePendingSince_ >= kIdlePendingMs)
        DropIdlePending();
    std::uint32_t lastInput = 0;
    const bool idleReadable = frmPrefs->cbxIdleTimeCheck->Checked() && CurrentPlatform().LastInput &&
                              CurrentPlatform().LastInput->GetLastInputTick(lastInput);
    if (frmPrefs->cbxIdleTimeCheck->Checked() && !idleReadable) {
        // Unknown idle time is not "active": automatic stop and restart are off.
        idlePart = " idle n/a";
        if (!idleUnreadableReported_) {
            idleUnreadableReported_ = true;
            tryIcon->ShowBalloonHint(kIdleTitle,
                                     "Idle detection is not available on this desktop; automatic stop and restart "
                                     "are off.",
                                     bitWarning, 30);
        }
    } else if (frmPrefs->cbxIdleTimeCheck->Checked()) {
        const std::uint32_t idleSeconds = (CurrentPlatform().Clock->GetTickCount() - lastInput) / 1000u;
        const std::uint32_t threshold = static_cast<std::uint32_t>(std::max(frmPrefs->edtIdleTimeCheck->Value(), 0)) * 60u;
        if (idleSeconds < 2) {
            idlePart = " not idle ";
        } else {
            idlePart = " " + std::to_string(idleSeconds) + "/" + std::to_string(threshold) + " sec idle stop";
            if (ClockRunning && (idleSeconds == 30 || idleSeconds == 60))
                tryIcon->ShowBalloonHint(kIdleTitle,
                                         "System has been idle for " + std::to_string(idleSeconds) +
                                             " seconds. If system remains idle for " +
                                             std::to_string(frmPrefs->edtIdleTimeCheck->Value()) +
                                             " minutes, the timer will be automatically stopped. It will be started "
                                             "again when no longer idle.",
                                         bitInfo, 136);
        }
        if (!ClockRunning && IdleStopped) ++BreakSeconds;
        if (ClockRunning && !IdleStopped && !idleStopPending_ && idleSeconds >= threshold) {
            IdleAutoStop(0);
        } else if (!ClockRunning && IdleStopped && idleSeconds < threshold) {
            pendingBreakSeconds_ = BreakSeconds;
            if (PageHasStartStopForm()) {
                StartClock1->Click();
                if (!ClockRunning) {  // the start is still on its way
                    idleStartPending_ = true;
                    idlePendingSince_ = CurrentPlatform().Clock->GetTickCount();
                }
            } else {
                tryIcon->ShowBalloonHint(kIdleTitle,
                                         "The clock could not be started automatically: the page has no start/stop "
                                         "form.",
                                         bitWarning, 30);
            }
            IdleStopped = false;
            BreakSeconds = 0;
        }
    }
    if (show) SetCaption(minutesPart + idlePart);
    UpdateEverythingTimer();
}

void TForm1::UpdateEverythingTimer()
{
    // With the clock stopped, idle detection off and no idle transition on
    // its way a tick shows and changes nothing, so the timer rests instead of
    // waking the program every second.
    tmrEverything.SetEnabled(ClockRunning || IdleStopped || idleStopPending_ || idleStartPending_ ||
                             (frmPrefs && frmPrefs->cbxIdleTimeCheck->Checked()));
}

void TForm1::IdleAutoStop(std::uint32_t breakSeconds)
{
    if (PageHasStartStopForm()) {
        StopClock1->Click();
        if (ClockRunning) {  // the stop is still on its way
            idleStopPending_ = true;
            pendingStopBreakSeconds_ = breakSeconds;
            idlePendingSince_ = CurrentPlatform().Clock->GetTickCount();
        }
    } else {
        tryIcon->ShowBalloonHint(kIdleTitle,
                                 "The clock could not be stopped automatically: the page has no start/stop form.",
                                 bitWarning, 30);
    }
    IdleStopped = true;
    BreakSeconds = breakSeconds;
}

void TForm1::DropIdlePending()
{
    idleStopPending_ = false;
    idleStartPending_ = false;
}

bool TForm1::PageHasStartStopForm()
{
    return Contains(LowerCase(WebBrowserGetHtml(Web.get())), "frmstartstop");
}

// ---- reminders and the ticking sound -------------------------------------------------

void TForm1::tmrMinuteReminderTimer()
{
    const double minutes = static_cast<double>(SecondsBetween(StartTime, CurrentPlatform().Clock->Now())) / 60.0;
    tryIcon->ShowBalloonHint("Working since " + FormatLongTime(StartTime) + " (" + FormatMinutes(minutes) + " mins)",
                             WorkItemName, bitInfo, 10);
}

void TForm1::tmrTickingSoundTimer()
{
    if (!mplayer.FileName().empty() && frmPrefs->cbxPlayTickingSound->Checked()) {
        mplayer.SetNotify(true);
        mplayer.Play();
    }
}

void TForm1::mplayerNotify()
{
    if (frmPrefs->edtTickingSound->Value() == 0 && mplayer.NotifyValue() == TMPNotifyValues::nvSuccessful &&
        ClockRunning) {
        mplayer.SetNotify(true);
        mplayer.Play();
    }
}

// ---- web session ----------------------------------------------------------------------

void TForm1::FormPaint()
{
    paintHandlerAttached_ = false;
    StartWebSession();
}

void TForm1::PostLogin()
{
    if (loginPosted_) return;
    loginPosted_ = true;
    const std::string base = frmPrefs->edtBaseURL->Text();
    LoginURL = base + "index.php?mobile=1&username_or_email=" + EncodeCredential(frmPrefs->edtUsername->Text()) +
               "&goto=time_log.php%3fsmallbtn=1";
    if (!Link.Begin(base)) frmPrefs->ShowBaseUrlProblem();
}

void TForm1::StartWebSession()
{
    if (sessionStarted_) return;
    sessionStarted_ = true;
    DockTrayIcon();  // before anything the session says through it
    PostLogin();  // the first show has usually posted it already
    // A load that never ends must not hold up the window's set-up; the link
    // takes over when it fails.
    IClock* clock = CurrentPlatform().Clock;
    const std::uint32_t since = clock->GetTickCount();
    while (Web->Busy() && !closed_ && clock->GetTickCount() - since < kFirstPaintWaitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 250);
    if (closed_) return;
    WebBrowserRemoveBorder(Web.get(), false);
    DocHandler = new MyDocHandler;
    DocHandler->ShowDefaultMenu = false;
    DocHandler->PopupMenu = &mnuApp;
    if (IHtmlDocument* document = Web->Document()) document->SetUIHandler(DocHandler);
    if (frmPrefs->edtPassword->Text().empty()) WebBrowserExecScript(Web.get(), "document.frmLogin.password.focus();");
    RegisterStartStopHotKey();
    // At the first run the preferences stay in front of the window that was
    // mapped after them, ready for the user name.
    if (frmPrefs->isVisible() && !frmPrefs->isModal()) {
        frmPrefs->raise();
        frmPrefs->activateWindow();
    }
}

void TForm1::NavigateLogin()
{
    // A fresh login after a failure may fill in the login form once more.
    if (Link.Failures() > 0) LoginPageCount = 0;
    TraceMark("login-navigate");
    WebBrowserNavigatePost(Web.get(), LoginURL, "pw=" + EncodeCredential(frmPrefs->edtPassword->Text()));
    TraceMark("login-navigated");
}

void TForm1::ShowConnected(bool connected)
{
    TraceMark(connected ? "connected" : "not-connected");
    if (!connected) {
        hintWhileConnected_ = tryIcon->Hint();
        tryIcon->SetHint("Not connected");
    } else if (tryIcon->Hint() == "Not connected") {
        tryIcon->SetHint(hintWhileConnected_);
    }
}

void TForm1::WebNavigateError(const std::string& url, const std::string& reason)
{
    TraceMark("load-failed");
    // What a waiting toggle would have acted on did not come; the failure is said.
    toggleQueued_ = false;
    Link.LoadFailed(url, reason);
}

void TForm1::WebBeforeNavigate2(const std::string& url, bool& cancel)
{
    if (Link.IsTryNowUrl(url)) {
        cancel = true;
        Link.TryNow();
        return;
    }
    const std::string base = frmPrefs->edtBaseURL->Text();
    const std::string timerPage = CanonicalUrl(base + "time_log.php");
    const std::string indexPage = CanonicalUrl(base + "index.php");
    const std::string canonical = CanonicalUrl(url);

    if (StartsWith(canonical, timerPage)) {
        if (Contains(canonical, "tid=")) {
            // Mirrored now, undone if the service does not take it.
            const ClockView before = CaptureClockView();
            const bool start = Contains(canonical, "tid=&");
            if (start) ClockStarted();
            else ClockStopped();
            if (start || before.running) {
                shownBefore_ = before;
                Link.TransitionMirrored(start ? TTransition::Start : TTransition::Stop);
            }
            return;
        }
        // A timer page the idle logic did not ask for ends its claim.
        DropIdlePending();
        // A retry's page cannot tell whether the clock runs: keep the mirror.
        if (!Link.Retrying()) ClockStopped();
    }
    const std::string lower = LowerCase(url);
    const bool outside = (StartsWith(lower, "http://") || StartsWith(lower, "https://")) &&
                         !StartsWith(canonical, timerPage) && canonical != CanonicalUrl(LoginURL) &&
                         canonical != indexPage && url != "about:blank";
    if (!outside) return;
    cancel = true;
    if (CurrentPlatform().Shell->ShellExecute("open", url) <= 32)
        CurrentPlatform().MessageBox->Show("There was an error opening the link '" + url + "'.", Application().Title(),
                                           MB_OK);
}

void TForm1::WebDocumentComplete(const std::string& url)
{
    TraceMark("document-complete");
    // The program's own status page says nothing about the service.
    if (url == kLocalPageUrl && (Link.State() == TLinkState::Refused || Link.Failures() > 0)) return;
    const std::string lower = LowerCase(CanonicalUrl(url));
    const bool keepMirror = Link.Retrying();
    bool loginSubmitted = false;
    Link.LoadCompleted();
    // The one auto-login is spent only on a page that holds the login form.
    if (!LoginURL.empty() && lower == LowerCase(CanonicalUrl(LoginURL)) && !frmPrefs->edtPassword->Text().empty() &&
        Contains(LowerCase(WebBrowserGetHtml(Web.get())), "frmlogin")) {
        if (LoginPageCount++ == 0) {
            if (RunningUnderWine)
                CurrentPlatform().MessageBox->Show(
                    "We have detected you are on Linux.\nSome features do not work such as auto-login and start/stop "
                    "timer menu items",
                    Application().Title(), MB_OK);
            loginSubmitted = true;
            WebBrowserExecScript(Web.get(),
                                 "if (document && document.frmLogin && document.frmLogin.password){ "
                                 "document.frmLogin.password.value = " +
                                     JsStringLiteral(frmPrefs->edtPassword->ShownText()) +  // a script holds text
                                     "; document.frmLogin.submit(); }");
        }
    }
    if (!Contains(lower, "tid=&") && !keepMirror) ClockStopped();
    ReadTimerPage();
    if (closeAfterStop_ && !ClockRunning) {
        closeAfterStop_ = false;
        toggleQueued_ = false;
        Close();
        return;
    }
    // A toggle asked for during the login waits for the timer page behind it.
    if (!loginSubmitted) SendQueuedToggle();
}

void TForm1::ReadTimerPage()
{
    StartClock1->SetCaption("Start Clock");
    StopClock1->SetCaption("Stop Clock");
    const std::string html = WebBrowserGetHtml(Web.get());
    TraceMark("page-copied");
    preg.SetRegEx(kTimerPagePattern);
    preg.SetOptions(preCaseLess);
    // Compiled for the machine: a long page without line breaks stays fast.
    if (!preg.Studied()) preg.Study();
    preg.SetSubject(html);
    bool found = preg.Match();
    while (found && LowerCase(preg.SubExpressions(1)) != "selected") found = preg.MatchAgain();
    if (!found) return;
    const std::string decoded = DecodeHtmlText(preg.SubExpressions(2));
    const std::string name = ReplaceAmpersands(decoded, "&&");
    WorkItemName = name;
    StartClock1->SetCaption("Start: " + name);
    StopClock1->SetCaption("Stop: " + name);
    tryIcon->SetHint(ReplaceAmpersands(decoded, "&&&"));
    TraceMark("timer-page-read");
}

// ---- position -----------------------------------------------------------------

// Where the window system keeps positions from its clients, the stored
// position is kept as it was read, not replaced by one the program never saw.
int TForm1::Top() const
{
    return WindowOffers(WindowBehaviour::Placement) ? y() : storedTop_;
}

int TForm1::Left() const
{
    return WindowOffers(WindowBehaviour::Placement) ? x() : storedLeft_;
}

void TForm1::SetTop(int top)
{
    storedTop_ = top;
    if (WindowOffers(WindowBehaviour::Placement)) move(x(), top);
}

void TForm1::SetLeft(int left)
{
    storedLeft_ = left;
    if (WindowOffers(WindowBehaviour::Placement)) move(left, y());
}

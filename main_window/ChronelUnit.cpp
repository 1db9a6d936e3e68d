#include "main_window/ChronelUnit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QTabWidget>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <utility>
#include <cstdio>
#include <filesystem>

#include "components/Application.h"
#include "components/Controls.h"
#include "components/Exceptions.h"
#include "components/Format.h"
#include "components/OnceNotices.h"
#include "components/SettingsPath.h"
#include "main_window/WebSession.h"
#include "platform/Network.h"
#include "platform/Platform.h"
#include "platform/TraceMarks.h"
#include "prefs/frmPrefsUnit.h"
#include "session/SessionErrors.h"

TForm1* Form1 = nullptr;

namespace {
constexpr int kOuterWidth = 132;
constexpr int kOuterHeight = 176;
const char* const kTimerPagePattern = "<\\s*?option .*?(selected)[^>]*?>([^<]+)</option>";
constexpr std::uint32_t kFirstPaintWaitMs = 30000;
constexpr std::uint32_t kKeyringExitWaitMs = 10000;
}  // namespace

TForm1::TForm1()
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint)
{
    Form1 = this;
    // What the session core's timers could not do is reported as any handler's failure.
    SetSessionErrorHandler([](std::exception_ptr failure) { Application().HandleException(failure); });
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
    // The browser's events go to the session, which tells the window what they mean.
    Web->OnBeforeNavigate2 = [this](TCppWebBrowser*, const std::string& url, int, const std::string&,
                                    const std::string&, const std::string&, bool& cancel) {
        Session.BeforeNavigate(url, cancel);
    };
    Web->OnDocumentComplete = [this](TCppWebBrowser*, const std::string& url) {
        Session.PageCompleted(url, url == kLocalPageUrl);
    };
    Web->OnNavigateError = [this](TCppWebBrowser*, const std::string& url, int status, const std::string& reason) {
        Session.LoadFailed(url, status, reason);
    };
    Web->OnLoadEnded = [this](TCppWebBrowser*, const std::string& url) { Session.LoadEnded(url); };
    Session.ShownPassword = [](const std::string& bytes) { return SettingsTextToShow(bytes).toStdString(); };
    Link.OnConnectedChanged = [this](bool connected) { ShowConnected(connected); };
    Link.OnExitStopFailed = [this](const std::string& reason) { ExitStopFailed(reason); };
    Link.FormatTime = FormatLongTime;
    Mirror.OnNeedPage = [this] { NeedPage(); };
    Mirror.ShownState = [this] { return ClockRunning ? TClockState::Running : TClockState::Stopped; };
    Idle.OnNotice = [this](const std::string& text, bool warning, unsigned seconds) {
        tryIcon->ShowBalloonHint(TIdleWatch::kTitle, text, warning ? bitWarning : bitInfo, seconds);
    };
    Mirror.OnShow = [this](TClockState state, TShowKind kind) { ShowServiceClock(state, kind); };
    Mirror.OnEnded = [this](const TIntent& intent, TIntentEnd why) { IntentEnded(intent, why); };
    if (INetworkStatus* network = CurrentNetworkStatus())
        network->OnOnline = [this] { Application().Guard([this] { Link.NetworkBack(); }); };

    ApplicationEvents1.OnActivate = [this](TApplicationEvents*) { ApplicationEvents1Activate(); };
    ApplicationEvents1.OnDeactivate = [this](TApplicationEvents*) { ApplicationEvents1Deactivate(); };
    ApplicationEvents1.OnMinimize = [this](TApplicationEvents*) { ApplicationEvents1Minimize(); };
    ApplicationEvents1.OnRestore = [this](TApplicationEvents*) { ApplicationEvents1Restore(); };

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
    // A single click shows the window too, or brings it to the front.
    tryIcon->OnClick = [this](TTrayIcon*) { BringToFront(); };
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
    tmrPageRest.SetEnabled(false);
    tmrPageRest.SetInterval(kPageRestMs);
    tmrPageRest.OnTimer = [this](TTimer*) { tmrPageRestTimer(); };

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
    WatchPreferences();
    const std::string path = SettingsFilePath();
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        frmPrefs->LoadSettings(path);
        frmPrefs->PageControl1->setCurrentWidget(frmPrefs->tabExtra);
    } else if (isVisible()) {
        // Shown from this window's show event, before its map: the
        // preferences are mapped after it, so the window manager gives the
        // keyboard to them, where the user types the user name, and not to
        // this window mapped later.
        QTimer::singleShot(0, frmPrefs, [this] { Application().Guard([this] { ShowFirstRunPreferences(); }); });
    } else {
        ShowFirstRunPreferences();
    }
    CurrentPlatform().Taskbar->SetButtonVisible(!CurrentSettings().RemoveFromTaskBar);
    UpdateEverythingTimer();
}

void TForm1::ShowFirstRunPreferences()
{
    if (closed_) return;
    frmPrefs->show();
    frmPrefs->PageControl1->setCurrentWidget(frmPrefs->tabServer);
    frmPrefs->edtUsername->setFocus();
    frmPrefs->raise();
    frmPrefs->activateWindow();
}

void TForm1::WatchPreferences()
{
    if (prefsWatched_ || !frmPrefs) return;
    prefsWatched_ = true;
    // Idle detection needs the everything timer even while the clock is stopped.
    connect(frmPrefs->cbxIdleTimeCheck, &QCheckBox::toggled, this, [this] { UpdateEverythingTimer(); });
    connect(frmPrefs, &QDialog::finished, this, [this] { Application().Guard([this] { PreferencesClosed(); }); });
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    tmrPageRest.SetEnabled(false);
    Application().Guard([this] { NeedPage(); });
    if (event->spontaneous()) return;  // a restore, not a show
    Application().Guard([this] { FormShow(); });
    if (!shownOnce_) {
        shownOnce_ = true;
        // The login needs only the settings just loaded. It goes out once
        // the window is mapped, with the tray icon docked: the engine starts
        // with it, and the window does not wait for the engine.
        QTimer::singleShot(0, this, [this] { Application().Guard([this] { PostLogin(); }); });
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
    // Like the tray host's hook: a shown window comes to the front. The
    // preferences of a first run stay in front with the keyboard: the user
    // may be typing the user name there already.
    raise();
    if (frmPrefs && frmPrefs->isVisible() && !frmPrefs->isModal()) frmPrefs->raise();
    else activateWindow();
    // Keys go to the page at once, also to a button a screen reader moved to.
    if (Web) Web->FocusPage();
}

void TForm1::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    RestPageSoon();
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
    if (CurrentSettings().MinimizeOnClose && !ExitRequested && !CloseWhenStopped) {
        HidetoTray1->Click();
        return false;
    }
    if (ClockRunning) {
        AskToStopAndExit();
        return false;
    }
    if (Session.ClockChangeOnItsWay()) {
        // The user stopped the clock, but the service has not said so yet (or
        // a lost answer left it unknown): the program ends once a timer page
        // shows it stopped, as after the question's Yes. An exit already
        // waiting for that goes on waiting.
        if (CloseWhenStopped) return false;
        CloseWhenStopped = true;
        if (Link.BeginExitStop()) Mirror.Request(TClockState::Stopped, TIntentSource::Exit);
        return false;
    }
    return true;
}

bool TForm1::AskToStopAndExit()
{
    const int answer = CurrentPlatform().MessageBox->Show("Do you want to stop your time clock and exit?",
                                                          "Time Clock Still Running", MB_YESNO);
    if (answer != IDYES) return false;
    CloseWhenStopped = true;
    // The program ends once a timer page shows the clock stopped; a page
    // that cannot take the stop leads to a second question instead.
    if (Link.BeginExitStop()) Mirror.Request(TClockState::Stopped, TIntentSource::Exit);
    return true;
}

void TForm1::ExitStopFailed(const std::string& reason)
{
    if (closed_ || !CloseWhenStopped) return;
    CloseWhenStopped = false;
    Link.CancelExitStop();
    Mirror.Drop(TIntentSource::Exit);
    // A stop still on its way is not known to have been taken.
    Mirror.Abandon();
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
    if (!frmPrefs->SaveSettingsOrAskToClose(SettingsFilePath())) return false;
    // A password on its way to the keyring must not end with the program.
    frmPrefs->Keyring().Settle(kKeyringExitWaitMs);
    return true;
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
    frmPrefs->Keyring().Settle(kKeyringExitWaitMs);
    closed_ = true;
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

namespace {
// Whether a tray host shows the icon now: without one a window hidden to
// the tray could not be found again.
bool TrayHostPresent()
{
    INotifyIcons* icons = CurrentPlatform().NotifyIcons;
    return icons && icons->HostPresent();
}
}  // namespace

void TForm1::StartHidden()
{
    if (!TrayHostPresent()) {
        // Without a tray nothing would show the program again: it starts
        // minimized to the taskbar instead, as a hide to the tray goes now.
        show();
        HidetoTray1Click();
        return;
    }
    DockTrayIcon();  // no window to map first: the icon is all the user sees
    Application().Guard([this] { FormShow(); });
    FirstPaint();
    RestPageSoon();
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
    if (!closed_) Idle.Slept(sleptSeconds, ClockRunning, CurrentSettings(), CurrentPlatform().LastInput);
}

// ---- window behaviours ---------------------------------------------------------


void TForm1::HidetoTray1Click()
{
    // Without a tray host the window goes to the taskbar instead, with its
    // button whatever "Remove from task bar" says; the user learns why once.
    const bool tray = TrayHostPresent();
    if (!tray) {
        CurrentPlatform().Taskbar->SetButtonVisible(true);
        if (OnceNotices(SettingsFilePath()).First("no system tray"))
            tryIcon->ShowBalloonHint("Chronel Timer",
                                     "There is no system tray on this desktop: Chronel Timer is minimized to the "
                                     "taskbar instead of hidden.",
                                     bitInfo, 10);
    }
    // With "Remove from task bar" unticked the taskbar button stays. On X11
    // the button belongs to the mapped window, so the window is iconified
    // rather than withdrawn; the button then restores it.
    if (!tray || !CurrentSettings().RemoveFromTaskBar) {
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
    HidetoTray1->SetCaption(TrayHostPresent() ? "Hide to Tray" : "Minimize");
}

void TForm1::ApplicationEvents1Deactivate()
{
    if (CurrentSettings().UseTransparency && WindowOffers(WindowBehaviour::Opacity))
        setWindowOpacity(127.0 / 255.0);
}

void TForm1::ApplicationEvents1Activate()
{
    if (WindowOffers(WindowBehaviour::Opacity)) setWindowOpacity(1.0);
    if (Web) Web->FocusPage();
}

void TForm1::ApplicationEvents1Minimize()
{
    // Without a tray host the taskbar button is the only way back.
    if (!TrayHostPresent()) CurrentPlatform().Taskbar->SetButtonVisible(true);
    else if (CurrentSettings().RemoveFromTaskBar) CurrentPlatform().Taskbar->SetButtonVisible(false);
    RestPageSoon();
}

void TForm1::ApplicationEvents1Restore()
{
    tmrPageRest.SetEnabled(false);
    // A button kept only for the way back goes again.
    if (CurrentSettings().RemoveFromTaskBar) CurrentPlatform().Taskbar->SetButtonVisible(false);
    NeedPage();
}

// ---- the page's memory ------------------------------------------------------------

bool TForm1::OutOfSight() const
{
    return !isVisible() || CurrentPlatform().AppState->IsMinimized();
}

void TForm1::RestPageSoon()
{
    if (closed_) return;
    // Counted afresh from now.
    tmrPageRest.SetEnabled(false);
    tmrPageRest.SetEnabled(true);
}

void TForm1::tmrPageRestTimer()
{
    if (closed_ || !OutOfSight() || Web->Discarded()) {
        tmrPageRest.SetEnabled(false);
        return;
    }
    // Only a page at rest goes: the service's page shown and loaded, no
    // start or stop on its way. Else it is looked at again after a while.
    if (!sessionStarted_ || !Session.PageAtRest()) return;
    tmrPageRest.SetEnabled(false);
    TraceMark("page-rest");
    hostObjectPending_ = true;  // the page that comes back gets the host object again
    Web->Discard();
}

void TForm1::NeedPage()
{
    if (!closed_) Session.NeedPage(shownOnce_, OutOfSight());
}

void TForm1::RegisterStartStopHotKey()
{
    IHotKeys* hotKeys = CurrentPlatform().HotKeys;
    const std::uint16_t code = frmPrefs->hotkeyStartStop->HotKey();
    // The note beside the field says when its key is not active here.
    if (QObject* note = frmPrefs->findChild<QObject*>("lblHotKeyNote")) note->setProperty("text", QString());
    if (code == 0) {
        if (hotKeys) hotKeys->UnregisterHotKey(handle_, 0);
        return;
    }
    UINT modifiers = 0;
    if (code & scAlt) modifiers |= MOD_ALT;
    if (code & scCtrl) modifiers |= MOD_CONTROL;
    if (code & scShift) modifiers |= MOD_SHIFT;
    if (hotKeys) hotKeys->SetSettingsFile(SettingsFilePath());
    if (hotKeys && hotKeys->RegisterHotKey(handle_, 0, modifiers, code & scKeyMask)) return;
    // Only a combination the desktop refused is cleared; a desktop, layout or
    // answer that says nothing against the key leaves it stored for the next start.
    const HotKeyFailure why = hotKeys ? hotKeys->LastFailure() : HotKeyFailure::Unavailable;
    if (why == HotKeyFailure::Taken) frmPrefs->hotkeyStartStop->SetHotKey(0);
    else HotKeyNotice(why);
}

void TForm1::HotKeyNotice(HotKeyFailure why)
{
    const std::string key = HotKeyText(frmPrefs->hotkeyStartStop->HotKey());
    std::string held;  // names the key
    const char* text = nullptr;
    const char* note = "Not active: the desktop did not bind it; it is tried again at the next start.";
    switch (why) {
    case HotKeyFailure::Unavailable:
        text = "Global hot keys are not available on this desktop.";
        note = "Not active: this desktop offers no global hot keys.";
        break;
    case HotKeyFailure::Held:
        held = "The start/stop hot key " + key +
               " is kept by the desktop for itself or another program, so it does nothing here. Choose another key in "
               "the preferences, or free it in the desktop's shortcut settings.";
        text = held.c_str();
        note = "Not active: the desktop keeps this key for itself or another program.";
        break;
    case HotKeyFailure::KeyMissing:
        text = "The start/stop hot key is not on the current keyboard layout.";
        note = "Not active: the key is not on the current keyboard layout.";
        break;
    case HotKeyFailure::Dismissed:
        text = "The desktop's question about the start/stop hot key was dismissed; it is asked again at the next start.";
        break;
    case HotKeyFailure::Failed:
        text = "The desktop could not bind the start/stop hot key; it is tried again at the next start.";
        break;
    case HotKeyFailure::Taken:  // only after a layout change: a refusal in the field empties it
        text = "The desktop gave the start/stop hot key no key on the current keyboard layout.";
        note = "Not active: the desktop gave it no key on the current keyboard layout.";
        break;
    default: return;
    }
    if (QObject* label = frmPrefs->findChild<QObject*>("lblHotKeyNote"))
        label->setProperty("text", QString::fromUtf8(note));
    // A key the desktop keeps is named once per key, below.
    const unsigned bit = why == HotKeyFailure::Held ? 0u : 1u << static_cast<unsigned>(why);
    if (hotKeyNotices_ & bit) return;
    hotKeyNotices_ |= bit;
    // A desktop without global hot keys, or one that keeps the key, stays so:
    // said once per settings file and desktop (and key), not at every start.
    if (why == HotKeyFailure::Unavailable || why == HotKeyFailure::Held) {
        std::string once = why == HotKeyFailure::Unavailable ? "hot keys unavailable" : "hot key held " + key;
        if (!OnceNotices(SettingsFilePath()).First(once + " on " + OnceNotices::Desktop())) {
            TraceMark(("hotkey-notice " + std::to_string(static_cast<int>(why)) + " known").c_str());
            return;
        }
    }
    TraceMark(("hotkey-notice " + std::to_string(static_cast<int>(why)) + " said").c_str());
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
    // The user sees the window's clock: a press asks for the other state.
    // The form is submitted once the page is there, and only if the page
    // shows the other state; further presses meanwhile add nothing.
    Mirror.Request(ClockRunning ? TClockState::Stopped : TClockState::Running, TIntentSource::User);
}

void TForm1::ClockStarted()
{
    SetCaption("Working...");
    ClockRunning = true;

    std::string breakNote;
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
    if (CurrentSettings().ShowMinuteReminder)
        tmrMinuteReminder.SetInterval(static_cast<unsigned>(CurrentSettings().MinuteReminderInterval) * 60000u);
    tmrMinuteReminder.SetEnabled(CurrentSettings().ShowMinuteReminder);

    StartTime = CurrentPlatform().Clock->Now();
    UpdateEverythingTimer();
    if (!quietTransition_)
        tryIcon->ShowBalloonHint("Started Work @ " + FormatLongTime(StartTime), WorkItemName + breakNote, bitInfo, 60);
}

void TForm1::ClockStopped()
{
    if (!ClockRunning) return;
    SetCaption("Not working");
    IdleStopped = false;
    ClockRunning = false;

    tryIcon->SetCycleIcons(false);
    tryIcon->SetIconIndex(0);
    StartClock1->SetVisible(true);
    StopClock1->SetVisible(false);

    StopTickingSound();

    // The stop is a navigation that has only just begun: closing now would
    // end the program before the service hears of it. The window closes
    // when a timer page shows the clock stopped (the exit's intent ends).

    tmrMinuteReminder.SetEnabled(false);
    StopTime = CurrentPlatform().Clock->Now();
    const double minutes = static_cast<double>(SecondsBetween(StartTime, StopTime)) / 60.0;
    if (!quietTransition_)
        tryIcon->ShowBalloonHint("Stopped Work @ " + FormatLongTime(StopTime) + " (" + FormatMinutes(minutes) + " mins)",
                             WorkItemName, bitInfo, 10);
}

void TForm1::StartTickingSound()
{
    if (!CurrentSettings().PlayTickingSound) return;
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

double TForm1::ServiceStartTime() const
{
    // The start time the page shows, on today's date (yesterday's when it
    // lies ahead: the clock ran across midnight); else now.
    const double now = CurrentPlatform().Clock->Now();
    const QTime since = QTime::fromString(QString::fromStdString(Mirror.PageSince()), "H:mm");
    const QTime withSeconds = QTime::fromString(QString::fromStdString(Mirror.PageSince()), "H:mm:ss");
    const QTime t = since.isValid() ? since : withSeconds;
    if (!t.isValid()) return now;
    double start = std::floor(now) + t.msecsSinceStartOfDay() / 86400000.0;
    if (start > now) start -= 1.0;
    return start;
}

void TForm1::ShowServiceClock(TClockState state, TShowKind kind)
{
    const bool running = state == TClockState::Running;
    if (running != ClockRunning) {
        // The same transitions as a start or stop; the page's word is the balloon.
        quietTransition_ = true;
        const double startedBefore = StartTime;
        if (running) {
            ClockStarted();
            // Back to a clock that never stopped: its start stands.
            StartTime = kind == TShowKind::Revert ? startedBefore : ServiceStartTime();
        } else {
            ClockStopped();
        }
        quietTransition_ = false;
    } else if (kind != TShowKind::Announce) {
        return;
    }
    if (kind == TShowKind::Revert) return;
    const std::string& since = Mirror.PageSince();
    tryIcon->ShowBalloonHint("Chronel Timer",
                             running ? "The service's clock is running" + (since.empty() ? "" : " (since " + since + ")") + "."
                                     : std::string("The service's clock is not running."),
                             bitInfo, 30);
}

void TForm1::IntentEnded(const TIntent& intent, TIntentEnd why)
{
    switch (intent.source) {
    case TIntentSource::User: {
        bool pageAlert = false;
        const std::string notice = Session.PressEnded(intent, why, pageAlert);
        if (pageAlert) WebBrowserExecScript(Web.get(), TServiceUrls::ToggleScript());  // the page's own alert
        if (!notice.empty()) tryIcon->ShowBalloonHint("Chronel Timer", notice, bitWarning, 30);
        break;
    }
    case TIntentSource::Idle: {
        const std::string notice = Idle.Ended(intent, why, ClockRunning);
        if (!notice.empty()) tryIcon->ShowBalloonHint(TIdleWatch::kTitle, notice, bitWarning, 30);
        break;
    }
    case TIntentSource::Exit:
        if (why == TIntentEnd::Done && CloseWhenStopped) {
            Link.CancelExitStop();
            Close();
        } else if (const std::string failure = TSession::ExitStopFailure(why); !failure.empty()) {
            ExitStopFailed(failure);
        }
        break;
    }
    UpdateEverythingTimer();
}

// ---- running time, idle detection --------------------------------------------------

void TForm1::tmrEverythingTimer()
{
    const TIdleWatch::Second idle =
        Idle.Tick(ClockRunning, CurrentSettings(), CurrentPlatform().LastInput, *CurrentPlatform().Clock);
    if (ClockRunning && idle.showCaption) {
        const long long seconds = SecondsBetween(StartTime, CurrentPlatform().Clock->Now());
        SetCaption(std::to_string(seconds / 60) + " min." + idle.caption);
    }
    UpdateEverythingTimer();
}

void TForm1::UpdateEverythingTimer()
{
    // With the clock stopped, idle detection off and no idle transition on
    // its way a tick shows and changes nothing, so the timer rests instead of
    // waking the program every second.
    tmrEverything.SetEnabled(ClockRunning || Idle.Active() || CurrentSettings().AutoStopStartOnIdleTime);
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
    if (!mplayer.FileName().empty() && CurrentSettings().PlayTickingSound) {
        mplayer.SetNotify(true);
        mplayer.Play();
    }
}

void TForm1::mplayerNotify()
{
    if (CurrentSettings().TickingSoundInterval == 0 && mplayer.NotifyValue() == TMPNotifyValues::nvSuccessful &&
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
    Session.PostLogin();
}

void TForm1::StartWebSession()
{
    if (sessionStarted_) return;
    sessionStarted_ = true;
    WatchPreferences();
    DockTrayIcon();  // before anything the session says through it
    PostLogin();  // the first show has usually posted it already
    // A load that never ends must not hold up the window's set-up; the link
    // takes over when it fails.
    IClock* clock = CurrentPlatform().Clock;
    const std::uint32_t since = clock->GetTickCount();
    {
        // The wait sleeps until something happens; the timer ends it in time.
        // The keyring's answer for the password is waited for as the page is.
        QTimer wake;
        wake.start(250);
        while ((Web->Busy() || frmPrefs->Keyring().Reading()) && !closed_ &&
               clock->GetTickCount() - since < kFirstPaintWaitMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (closed_) return;
    WebBrowserRemoveBorder(Web.get(), false);
    DocHandler = new MyDocHandler;
    DocHandler->ShowDefaultMenu = false;
    DocHandler->PopupMenu = &mnuApp;
    // Without a page yet (a first load slower than the wait), the first one that completes takes it.
    hostObjectPending_ = true;
    AttachHostObject();
    // The user types the password into the page: its field takes the keys,
    // now if the login form is there, else when a page brings it.
    if (CurrentSettings().Password.empty() && ReadPageClock(WebBrowserGetHtml(Web.get())).loginForm)
        WebBrowserExecScript(Web.get(), TServiceUrls::FocusPasswordScript());
    RegisterStartStopHotKey();
    // At the first run the preferences stay in front of the window that was
    // mapped after them, ready for the user name.
    if (frmPrefs->isVisible() && !frmPrefs->isModal()) {
        frmPrefs->raise();
        frmPrefs->activateWindow();
    }
}

void TForm1::AttachHostObject()
{
    if (!hostObjectPending_ || !DocHandler) return;
    IHtmlDocument* document = Web->Document();
    if (!document) return;
    hostObjectPending_ = false;
    document->SetUIHandler(DocHandler);
}

void TForm1::ShowConnected(bool connected)
{
    TraceMark(connected ? "connected" : "not-connected");
    if (!connected) {
        if (!notConnectedHint_) hintWhileConnected_ = tryIcon->Hint();
        notConnectedHint_ = true;
        tryIcon->SetHint(Link.Hint());
    } else if (notConnectedHint_) {
        notConnectedHint_ = false;
        tryIcon->SetHint(hintWhileConnected_);
    }
}

void TForm1::PreferencesClosed()
{
    if (!closed_) Session.PreferencesClosed();
}

void TForm1::ReadTimerPage()
{
    ReadTimerPage(WebBrowserGetHtml(Web.get()));
}

void TForm1::ReadTimerPage(const std::string& html)
{
    StartClock1->SetCaption("Start Clock");
    StopClock1->SetCaption("Stop Clock");
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

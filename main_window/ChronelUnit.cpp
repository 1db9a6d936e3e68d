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
constexpr std::uint32_t kFirstPaintWaitMs = 30000;
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
    // A fixed size: tiling window managers float the window at it rather
    // than stretch it over the screen.
    setFixedSize(kOuterWidth, kOuterHeight);
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
    Web->OnNavigateFailed = [this](TCppWebBrowser*, const TNavigateErrorArgs& error) { Session.LoadFailed(error); };
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
    Mirror.OnShow = [this](TClockState state, TShowKind kind) { Clock.ShowService(state, kind); };
    Mirror.OnEnded = [this](const TIntent& intent, TIntentEnd why) { IntentEnded(intent, why); };
    if (INotifyIcons* icons = CurrentPlatform().NotifyIcons)
        icons->OnHostChanged = [this](bool present) {
            if (!present) Application().Guard([this] { TrayHostGone(); });
        };
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
    if (INotifyIcons* icons = CurrentPlatform().NotifyIcons) icons->OnHostChanged = nullptr;
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
        setFixedSize(kOuterWidth - frame.width(), kOuterHeight - frame.height());
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

void TForm1::closeEvent(QCloseEvent* event)
{
    Exit.CloseEvent(event);
}

void TForm1::Exit1Click()
{
    ExitRequested = true;
    Close();
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

void TForm1::TrayHostGone()
{
    // A window hidden in the tray would have no way back: the taskbar takes it.
    if (closed_ || isVisible()) return;
    // Iconic from its map on: a minimize right after the map may come before the window manager's.
    CurrentPlatform().AppState->Minimize();
    show();
    HidetoTray1Click();
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
    HotKeys.Register();
}

void TForm1::HotKeyNotice(HotKeyFailure why)
{
    HotKeys.Notice(why);
}

// ---- clock state --------------------------------------------------------------

void TForm1::SetCaption(const std::string& caption)
{
    setWindowTitle(QString::fromStdString(caption));
    Application().SetTitle(caption);
}

void TForm1::StartClock1Click()
{
    // The user sees the window's clock: a press asks for the other state.
    // The form is submitted once the page is there, and only if the page
    // shows the other state; further presses meanwhile add nothing.
    Mirror.Request(ClockRunning ? TClockState::Stopped : TClockState::Running, TIntentSource::User);
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
    if (ClockRunning && idle.showCaption) Clock.ShowMinutes(idle.caption);
    UpdateEverythingTimer();
}

void TForm1::UpdateEverythingTimer()
{
    // With the clock stopped, idle detection off and no idle transition on
    // its way a tick shows and changes nothing, so the timer rests instead of
    // waking the program every second.
    tmrEverything.SetEnabled(ClockRunning || Idle.Active() || CurrentSettings().AutoStopStartOnIdleTime);
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
        QTimer wake;
        wake.start(250);
        while (Web->Busy() && !closed_ &&
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
    Clock.ReadTimerPage(html);
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

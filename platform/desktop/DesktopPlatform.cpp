#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/NetworkStatusQt.h"
#include "platform/desktop/SecretServiceKeyring.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMessageBox>
#include <QProcess>
#include <QTimeZone>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <chrono>
#include <ctime>
#include <limits>

#include "platform/desktop/idle/IdleSources.h"
#include "platform/desktop/x11/X11.h"

// ---- clock -----------------------------------------------------------------

double ZoneOffsets::LocalDays(const QTimeZone& zone, qint64 utcMs)
{
    if (!known_ || utcMs < from_ || utcMs >= until_) {
        // Asked again at the zone's next transition, or when the clock was set back.
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC);
        offsetMs_ = static_cast<qint64>(zone.offsetFromUtc(at)) * 1000;
        const QTimeZone::OffsetData next = zone.nextTransition(at);
        from_ = utcMs;
        until_ = next.atUtc.isValid() ? next.atUtc.toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
        known_ = true;
    }
    // 1970-01-01 is day 25569 of the count.
    return 25569.0 + static_cast<double>(utcMs + offsetMs_) / 86400000.0;
}

struct DesktopClock::Zone {
    ZoneOffsets offsets;
    QTimeZone zone;
    QByteArray tz;  // the TZ variable it was looked up under
    bool valid = false;
    std::unique_ptr<QFileSystemWatcher> watcher;
};

DesktopClock::DesktopClock() : zone_(std::make_unique<Zone>()) {}

DesktopClock::~DesktopClock() = default;

double DesktopClock::Now()
{
    Zone& z = *zone_;
    const QByteArray tz = qgetenv("TZ");
    if (!z.valid || tz != z.tz) {
        z.tz = tz;
        z.zone = QTimeZone::systemTimeZone();
        z.offsets.Forget();
        z.valid = true;
        if (!z.watcher && QCoreApplication::instance()) {
            // The system's zone changes by replacing /etc/localtime (a link)
            // or rewriting it: the directory's watch sees either.
            z.watcher = std::make_unique<QFileSystemWatcher>();
            const QString link = QStringLiteral("/etc/localtime");
            z.watcher->addPath(QFileInfo(link).absolutePath());
            if (QFileInfo::exists(link)) z.watcher->addPath(link);
            QObject::connect(z.watcher.get(), &QFileSystemWatcher::directoryChanged, [&z] { z.valid = false; });
            QObject::connect(z.watcher.get(), &QFileSystemWatcher::fileChanged, [&z] { z.valid = false; });
        }
    }
    if (z.zone.isValid()) return z.offsets.LocalDays(z.zone, QDateTime::currentMSecsSinceEpoch());
    // Without zone data the C library's local time stands in.
    const QDateTime now = QDateTime::currentDateTime();
    static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
    return static_cast<double>(now.date().toJulianDay() - epoch) +
           static_cast<double>(now.time().msecsSinceStartOfDay()) / 86400000.0;
}

std::uint32_t DesktopClock::GetTickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec / 1000000);
    return static_cast<std::uint32_t>(ms);
}

// ---- message windows ---------------------------------------------------------

namespace {
constexpr UINT kBeatMs = 1000;

qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
const QEvent::Type kPostedMessage = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessageEvent : public QEvent {
public:
    PostedMessageEvent(HWND w, UINT m, WPARAM wp, LPARAM lp)
        : QEvent(kPostedMessage), wnd(w), msg(m), wParam(wp), lParam(lp) {}
    HWND wnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};
}  // namespace

DesktopMessageWindows::~DesktopMessageWindows()
{
    for (auto& [wnd, w] : windows_)
        for (auto& [id, timer] : w.timers) delete timer;
}

HWND DesktopMessageWindows::AllocateHWnd(TWndMethod method)
{
    HWND wnd = next_++;
    windows_[wnd].method = std::make_shared<TWndMethod>(std::move(method));
    return wnd;
}

void DesktopMessageWindows::DeallocateHWnd(HWND wnd)
{
    auto it = windows_.find(wnd);
    if (it == windows_.end()) return;
    for (auto m = beatMembers_.lower_bound({wnd, 0}); m != beatMembers_.end() && m->first.first == wnd;)
        m = beatMembers_.erase(m);
    if (beat_ && beatMembers_.empty()) beat_->stop();
    for (auto& [id, timer] : it->second.timers) {
        timer->stop();
        timer->deleteLater();  // may be inside its own timeout
    }
    windows_.erase(it);
}

bool DesktopMessageWindows::IsWindow(HWND wnd)
{
    return windows_.count(wnd) > 0;
}

bool DesktopMessageWindows::PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!IsWindow(wnd)) return false;
    QCoreApplication::postEvent(this, new PostedMessageEvent(wnd, msg, wParam, lParam));
    return true;
}

void DesktopMessageWindows::customEvent(QEvent* event)
{
    if (event->type() != kPostedMessage) return;
    auto* m = static_cast<PostedMessageEvent*>(event);
    SendMessage(m->wnd, m->msg, m->wParam, m->lParam);
}

LRESULT DesktopMessageWindows::SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto it = windows_.find(wnd);
    if (it == windows_.end()) return 0;
    auto method = it->second.method;  // survives deallocation inside the handler
    TMessage m{msg, wParam, lParam, 0};
    if (*method) (*method)(m);
    return m.Result;
}

bool DesktopMessageWindows::SetTimer(HWND wnd, UINT_PTR id, UINT elapseMs)
{
    auto it = windows_.find(wnd);
    if (it == windows_.end()) return false;
    if (elapseMs == kBeatMs) {
        KillTimer(wnd, id);
        beatMembers_[{wnd, id}] = SteadyMs();
        if (!beat_) {
            beat_ = new QTimer(this);
            QObject::connect(beat_, &QTimer::timeout, this, [this] { Beat(); });
        }
        if (!beat_->isActive()) beat_->start(static_cast<int>(kBeatMs));
        return true;
    }
    LeaveBeat(wnd, id);
    QTimer*& timer = it->second.timers[id];
    if (!timer) {
        timer = new QTimer(this);
        QObject::connect(timer, &QTimer::timeout, this, [this, wnd, id] { SendMessage(wnd, WM_TIMER, id, 0); });
    }
    // Like the platform, a zero elapse is raised to the minimum and one past
    // the toolkit's int range is lowered to its maximum (0x7FFFFFFF ms).
    timer->start(static_cast<int>(ClampTimerElapse(elapseMs)));
    return true;
}

void DesktopMessageWindows::LeaveBeat(HWND wnd, UINT_PTR id)
{
    if (beatMembers_.erase({wnd, id}) && beatMembers_.empty()) beat_->stop();
}

void DesktopMessageWindows::Beat()
{
    // A timer set less than half a beat ago waits for the next one: its
    // first tick comes 0.5 to 1.5 s after it was set, then every second.
    const qint64 now = SteadyMs();
    std::vector<std::pair<HWND, UINT_PTR>> due;
    for (const auto& [key, since] : beatMembers_)
        if (now - since >= static_cast<qint64>(kBeatMs / 2)) due.push_back(key);
    for (const auto& [wnd, id] : due)
        if (beatMembers_.count({wnd, id})) SendMessage(wnd, WM_TIMER, id, 0);  // may be killed by an earlier one
}

bool DesktopMessageWindows::KillTimer(HWND wnd, UINT_PTR id)
{
    auto it = windows_.find(wnd);
    if (it == windows_.end()) return false;
    if (beatMembers_.count({wnd, id})) {
        LeaveBeat(wnd, id);
        return true;
    }
    auto t = it->second.timers.find(id);
    if (t == it->second.timers.end()) return false;
    t->second->stop();
    t->second->deleteLater();
    it->second.timers.erase(t);
    return true;
}

UINT DesktopMessageWindows::RegisterWindowMessage(const std::string& name)
{
    return registered_.Get(name);
}

void DesktopMessageWindows::BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    std::vector<HWND> all;
    for (auto& [wnd, w] : windows_) all.push_back(wnd);
    for (HWND wnd : all) SendMessage(wnd, msg, wParam, lParam);
}

// ---- message box, shell --------------------------------------------------

namespace {
// A text the box can show: a very long one (a link of many kilobytes) is
// shortened in the middle, and long runs without a blank may break, so the
// box fits on the screen; the whole text stays under "Show Details".
QString ShownText(const QString& text, bool& shortened)
{
    constexpr qsizetype kHead = 600, kTail = 200, kRun = 60;
    shortened = text.size() > kHead + kTail + 1;
    QString shown = shortened ? text.left(kHead) + QChar(0x2026) + text.right(kTail) : text;
    QString out;
    qsizetype run = 0;
    for (const QChar c : shown) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > kRun) {
            out += QChar(0x200B);  // a place to break the line
            run = 1;
        }
        out += c;
    }
    return out;
}
}  // namespace

int DesktopMessageBox::Show(const std::string& text, const std::string& caption, UINT type)
{
    QMessageBox box;
    box.setWindowTitle(QString::fromStdString(caption));
    const QString full = QString::fromStdString(text);
    bool shortened = false;
    box.setText(ShownText(full, shortened));
    box.setTextFormat(Qt::PlainText);
    if (shortened) box.setDetailedText(full);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    switch (type & MB_ICON_MASK) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    switch (type & MB_BUTTONS_MASK) {
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case MB_YESNOCANCEL:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Cancel: return IDCANCEL;
    default: return (type & MB_BUTTONS_MASK) == MB_YESNO ? IDNO : IDOK;
    }
}

std::intptr_t DesktopShell::ShellExecute(const std::string& verb, const std::string& file)
{
    constexpr std::intptr_t kFileNotFound = 2, kNoAssociation = 31, kOk = 42;
    constexpr int kOpenerStartMs = 5000, kOpenerAnswerMs = 10000;
    if (verb != "open") return kNoAssociation;
    const QUrl url(QString::fromStdString(file), QUrl::TolerantMode);
    if (!url.isValid() || url.isEmpty()) return kFileNotFound;
#if defined(Q_OS_LINUX)
    // The toolkit starts the opener detached and never hears that it found
    // no program ("no method available"): run it here and listen for its end.
    auto* opener = new QProcess(qApp);
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->start("xdg-open", {url.toString(QUrl::FullyEncoded)});
    if (!opener->waitForStarted(kOpenerStartMs)) {
        delete opener;
        return kNoAssociation;
    }
    const std::string shown = file;
    QObject::connect(opener, &QProcess::finished, opener, [opener, shown](int code, QProcess::ExitStatus status) {
        opener->deleteLater();
        if (status == QProcess::NormalExit && code == 0) return;
        if (IMessageBox* box = CurrentPlatform().MessageBox)
            box->Show(OpenLinkErrorText(shown), QGuiApplication::applicationName().toStdString(), MB_OK);
    });
    // An opener still running by then runs the program it found in the
    // foreground: it is let go, and outlives this one.
    QTimer::singleShot(kOpenerAnswerMs, opener, [opener] {
        opener->disconnect();
        opener->setParent(nullptr);
        QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    });
    return kOk;
#else
    return QDesktopServices::openUrl(url) ? kOk : kNoAssociation;
#endif
}

// ---- application state ------------------------------------------------------

DesktopAppState::DesktopAppState()
{
    active_ = QGuiApplication::applicationState() == Qt::ApplicationActive;
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState) {
        // Focus moving between our own windows passes through "inactive"
        // for a moment; judge once the move has settled.
        if (checkQueued_) return;
        checkQueued_ = true;
        QTimer::singleShot(50, this, [this] { CheckActive(); });
    });
}

void DesktopAppState::CheckActive()
{
    checkQueued_ = false;
    const bool now = QGuiApplication::applicationState() == Qt::ApplicationActive;
    if (now == active_) return;
    active_ = now;
    if (active_ && OnActivate) OnActivate();
    if (!active_ && OnDeactivate) OnDeactivate();
}

bool DesktopAppState::IsMinimized()
{
    return main_ && (main_->windowState() & Qt::WindowMinimized);
}

void DesktopAppState::Minimize()
{
    if (!main_) return;
    main_->setWindowState(main_->windowState() | Qt::WindowMinimized);
    if (!main_->testAttribute(Qt::WA_WState_Created) || !x11::Available()) return;
    // A window the window manager does not manage yet (hidden, or shown but
    // not yet taken in): the toolkit skips a minimize it believes done
    // already (its state lags behind the window manager's after a withdraw),
    // and the window manager drops one asked before it manages the window.
    // So the hint is set for the next map, and the window manager's state is
    // checked for a while after.
    const unsigned long window = static_cast<unsigned long>(main_->winId());
    if (x11::ManagedState(window) != x11::WindowManagerState::Unmanaged) return;
    if (!main_->isVisible()) x11::SetInitialState(window, true);
    if (!iconicCheck_) {
        iconicCheck_ = new QTimer(this);
        iconicCheck_->setInterval(100);
        connect(iconicCheck_, &QTimer::timeout, this, [this] { CheckIconic(); });
    }
    iconicChecksLeft_ = 30;
    iconicCheck_->start();
}

void DesktopAppState::CheckIconic()
{
    // Ends at the first iconic state seen, so a restore by the user afterwards stands.
    if (!main_ || --iconicChecksLeft_ <= 0 || !main_->isVisible()) {
        iconicCheck_->stop();
        return;
    }
    const unsigned long window = static_cast<unsigned long>(main_->winId());
    switch (x11::ManagedState(window)) {
    case x11::WindowManagerState::Iconic:
        iconicCheck_->stop();
        break;
    case x11::WindowManagerState::Normal:
        x11::Iconify(window);
        break;
    case x11::WindowManagerState::Unmanaged:
        break;  // not yet taken in by the window manager
    }
}

void DesktopAppState::Restore()
{
    if (iconicCheck_) iconicCheck_->stop();
    if (main_ && IsMinimized()) main_->setWindowState(main_->windowState() & ~Qt::WindowMinimized);
}

void DesktopAppState::SetMainWindow(QWidget* window)
{
    if (main_) main_->removeEventFilter(this);
    main_ = window;
    if (main_) main_->installEventFilter(this);
}

bool DesktopAppState::eventFilter(QObject* watched, QEvent* event)
{
    // Shown again after a withdraw: a restore by the window manager left the
    // iconic initial state of the program's own minimize in the hints.
    if (watched == main_ && event->type() == QEvent::Show && !(main_->windowState() & Qt::WindowMinimized) &&
        main_->testAttribute(Qt::WA_WState_Created))
        x11::SetInitialState(static_cast<unsigned long>(main_->winId()), false);
    if (watched == main_ && event->type() == QEvent::WindowStateChange) {
        const bool now = main_->windowState() & Qt::WindowMinimized;
        if (now != minimized_) {
            minimized_ = now;
            if (now && OnMinimize) OnMinimize();
            if (!now && OnRestore) OnRestore();
        }
    }
    return false;
}

// ---- taskbar button --------------------------------------------------------

void X11Taskbar::SetButtonVisible(bool visible)
{
    visible_ = visible;
    Apply();
}

void X11Taskbar::SetMainWindow(QWidget* window)
{
    if (main_) main_->removeEventFilter(this);
    main_ = window;
    if (main_) main_->installEventFilter(this);
}

bool X11Taskbar::eventFilter(QObject* watched, QEvent* event)
{
    // The window manager drops a window's state when it is unmapped, so the
    // hint is set again before every map and once more after it.
    if (watched == main_ && event->type() == QEvent::Show) {
        Apply();
        QTimer::singleShot(100, this, [this] { Apply(); });
    }
    return false;
}

void X11Taskbar::Apply()
{
    if (!main_ || !main_->testAttribute(Qt::WA_WState_Created)) return;
    x11::SetSkipTaskbar(static_cast<unsigned long>(main_->winId()), !visible_);
}

// ---- the whole set -------------------------------------------------------------

DesktopPlatform::DesktopPlatform()
{
    platform.Clock = &clock;
    platform.Windows = &windows;
    platform.MessageBox = &messageBox;
    platform.Shell = &shell;
    platform.AppState = &appState;
    platform.Taskbar = &taskbar;
    platform.Registry = &registry;
    platform.WindowSystem = &windowSystem;
    x11::FlushBeforeEverySleep();
    lastInput = ChooseDesktopLastInput(clock);
    notifyIcons = CreateDesktopNotifyIcons(windows);
    input = CreateDesktopInput();
    keyboard = CreateDesktopKeyboardLayout();
    SetCurrentKeyboardLayout(keyboard.get());
    hotKeys = CreateDesktopHotKeys(windows, keyboard.get());
    soundPlayers = CreateDesktopSoundPlayers();
    browsers = CreateDesktopBrowsers();
    network = CreateDesktopNetworkStatus();
    secrets = std::make_unique<SecretServiceKeyring>();
    SetCurrentNetworkStatus(network.get());
    InstallAddedServices();
    SetCurrentPlatform(&platform);
}

void DesktopPlatform::InstallAddedServices()
{
    platform.NotifyIcons = notifyIcons.get();
    platform.Input = input.get();
    platform.HotKeys = hotKeys.get();
    platform.SoundPlayers = soundPlayers.get();
    platform.Browsers = browsers.get();
    platform.LastInput = lastInput.get();
    platform.Secrets = secrets.get();
}

DesktopPlatform::~DesktopPlatform()
{
    SetCurrentKeyboardLayout(nullptr);
    SetCurrentNetworkStatus(nullptr);
    SetCurrentPlatform(nullptr);
}

void DesktopPlatform::AttachMainWindow(QWidget* window)
{
    appState.SetMainWindow(window);
    taskbar.SetMainWindow(window);
}

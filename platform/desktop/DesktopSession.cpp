#include "platform/desktop/DesktopSession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEvent>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {
const char* const kLogin = "org.freedesktop.login1";
const char* const kLoginPath = "/org/freedesktop/login1";
const char* const kLoginManager = "org.freedesktop.login1.Manager";
const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop does the rest.
void OnSignal(int number)
{
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

std::int64_t ClockNs(clockid_t id)
{
    timespec ts{};
    ::clock_gettime(id, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

class QtEndSessionRequest : public IEndSessionRequest {
public:
    explicit QtEndSessionRequest(QSessionManager& manager) : manager_(manager) {}
    bool AllowsInteraction() override { return manager_.allowsInteraction(); }
    void Release() override { manager_.release(); }
    void Cancel() override { manager_.cancel(); }

private:
    QSessionManager& manager_;
};
}  // namespace

DesktopSession::DesktopSession()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        notifier_ = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { SignalArrived(); });
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int number : kSignals) ::sigaction(number, &action, nullptr);
    }

    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
            QtEndSessionRequest request(manager);
            if (OnQueryEnd) OnQueryEnd(request);
        });
        // The autostart entry starts the program with the session; a restart
        // by the session manager as well would start it where the user
        // unticked that.
        connect(app, &QGuiApplication::saveStateRequest, this,
                [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartNever); });
        // The session manager ends the program with a quit request of the
        // toolkit once the session really ends (never within the commit).
        app->installEventFilter(this);
    }

    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()) {
        system.connect(kLogin, kLoginPath, kLoginManager, "PrepareForSleep", this, SLOT(PrepareForSleep(bool)));
        TakeDelayLock();
    }
}

DesktopSession::~DesktopSession()
{
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : kSignals) ::sigaction(number, &action, nullptr);
    delete notifier_;
    notifier_ = nullptr;
    for (int& fd : g_signalPipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

bool SleepAwareLastInput::GetLastInputTick(std::uint32_t& tick)
{
    if (!inner_ || !inner_->GetLastInputTick(tick)) return false;
    // Readings of one input differ by a few milliseconds; a later input by more.
    if (sleptMs_ != 0 && static_cast<std::int32_t>(tick - inputAtSleep_) > 250) sleptMs_ = 0;
    tick -= sleptMs_;
    return true;
}

void SleepAwareLastInput::Slept(std::uint32_t ms)
{
    std::uint32_t tick = 0;
    if (!inner_ || !inner_->GetLastInputTick(tick)) return;
    if (sleptMs_ == 0 || static_cast<std::int32_t>(tick - inputAtSleep_) > 250) {
        sleptMs_ = 0;
        inputAtSleep_ = tick;
    }
    sleptMs_ += ms;
}

void DesktopSession::CountSleepAsIdle(Platform& platform)
{
    lastInput_ = std::make_unique<SleepAwareLastInput>(platform.LastInput);
    platform.LastInput = lastInput_.get();
}

std::int64_t DesktopSession::SuspendedMs()
{
    // The boot-time clock runs on while the machine sleeps; the monotonic one
    // stops. On a machine that never slept the two are equal, and a monotonic
    // read after the boot-time one can be a millisecond ahead of it; read on
    // both sides, the difference comes out as it is and never below zero.
    const std::int64_t before = ClockNs(CLOCK_MONOTONIC);
    const std::int64_t boot = ClockNs(CLOCK_BOOTTIME);
    const std::int64_t after = ClockNs(CLOCK_MONOTONIC);
    return std::max<std::int64_t>(0, (boot - (before + after) / 2) / 1000000);
}

void DesktopSession::SignalArrived()
{
    char buffer[16];
    while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
    }
    if (OnEnd) OnEnd();
}

bool DesktopSession::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit && OnEnd) OnEnd();
    return false;
}

void DesktopSession::TakeDelayLock()
{
    if (lockRequested_ || delayLock_.isValid()) return;
    lockRequested_ = true;
    QDBusMessage call = QDBusMessage::createMethodCall(kLogin, kLoginPath, kLoginManager, "Inhibit");
    call << QStringLiteral("sleep") << QStringLiteral("Chronel Timer")
         << QStringLiteral("Saving the settings before the machine sleeps") << QStringLiteral("delay");
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        lockRequested_ = false;
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        // Without logind (or its leave) sleep simply is not delayed.
        if (reply.isValid()) delayLock_ = reply.value();
    });
}

void DesktopSession::PrepareForSleep(bool start)
{
    if (start) {
        suspendedAtSleep_ = SuspendedMs();
        if (OnSuspend) OnSuspend();
        // Closing our copy of the descriptor releases the lock: the sleep goes ahead.
        delayLock_ = QDBusUnixFileDescriptor();
        return;
    }
    std::uint32_t slept = 0;
    if (suspendedAtSleep_) {
        const std::int64_t ms = SuspendedMs() - *suspendedAtSleep_;
        if (ms > 0) {
            slept = static_cast<std::uint32_t>(ms / 1000);
            if (lastInput_) lastInput_->Slept(static_cast<std::uint32_t>(ms));
        }
    }
    suspendedAtSleep_.reset();
    TakeDelayLock();
    if (OnResume) OnResume(slept);
}

// Idle time from a desktop service on the session bus. The answer of the
// previous question serves the current one and the next is asked without
// waiting, so a slow or stuck service never blocks the window.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <string>

#include "platform/desktop/idle/IdleSources.h"

namespace {
struct IdleService {
    const char* service;
    const char* path;
    const char* interface;
    const char* method;
    const char* signature;  // of the single reply argument
    unsigned long long msPerUnit;
    const char* description;
};

const IdleService kGnomeIdleMonitor = {"org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
                                       "org.gnome.Mutter.IdleMonitor", "GetIdletime", "t", 1,
                                       "GNOME idle monitor (org.gnome.Mutter.IdleMonitor)"};
const IdleService kScreenSaver = {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                  "org.freedesktop.ScreenSaver", "GetSessionIdleTime", "u", 1000,
                                  "freedesktop screen saver (org.freedesktop.ScreenSaver)"};

// How long the first answer, at start-up, may take.
constexpr int kProbeTimeoutMs = 2000;
constexpr int kCallTimeoutMs = 5000;

class DBusLastInput : public QObject, public ILastInput {
public:
    DBusLastInput(IClock& clock, const IdleService& service) : clock_(clock), service_(service) {}

    // Asks once and waits for the answer; false when the service gives none.
    bool Probe()
    {
        const QDBusMessage reply = QDBusConnection::sessionBus().call(Question(), QDBus::Block, kProbeTimeoutMs);
        return Take(reply);
    }

    bool GetLastInputTick(std::uint32_t& tick) override
    {
        if (failed_) return false;
        Ask();
        tick = lastInput_;
        return true;
    }

    std::string Describe() const override { return service_.description; }

private:
    QDBusMessage Question() const
    {
        return QDBusMessage::createMethodCall(service_.service, service_.path, service_.interface, service_.method);
    }

    void Ask()
    {
        if (pending_) return;
        pending_ = new QDBusPendingCallWatcher(
            QDBusConnection::sessionBus().asyncCall(Question(), kCallTimeoutMs), this);
        QObject::connect(pending_, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            pending_ = nullptr;
            // The service went away or answers nonsense: the idle time is
            // no longer known.
            if (!Take(call->reply())) failed_ = true;
        });
    }

    bool Take(const QDBusMessage& reply)
    {
        if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String(service_.signature))
            return false;
        const unsigned long long units = reply.arguments().at(0).toULongLong();
        const unsigned long long ms =
            units > kMaxIdleMs / service_.msPerUnit ? kMaxIdleMs : units * service_.msPerUnit;
        lastInput_ = clock_.GetTickCount() - static_cast<std::uint32_t>(ms);
        return true;
    }

    IClock& clock_;
    const IdleService& service_;
    QDBusPendingCallWatcher* pending_ = nullptr;
    std::uint32_t lastInput_ = 0;
    bool failed_ = false;
};

std::unique_ptr<ILastInput> Create(IClock& clock, const IdleService& service)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Only a running service: starting one on demand is not ours to do.
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service.service).value())
        return nullptr;
    auto source = std::make_unique<DBusLastInput>(clock, service);
    if (!source->Probe()) return nullptr;
    return source;
}
}  // namespace

std::unique_ptr<ILastInput> CreateGnomeIdleMonitorLastInput(IClock& clock)
{
    return Create(clock, kGnomeIdleMonitor);
}

std::unique_ptr<ILastInput> CreateScreenSaverLastInput(IClock& clock)
{
    return Create(clock, kScreenSaver);
}

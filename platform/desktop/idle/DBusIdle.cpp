// Idle time from a desktop service on the session bus. Each question is
// answered without waiting: the answer serves the beats that follow while it
// is fresh, so a slow or stuck service never blocks the window, and an old
// answer never stands for the present.
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
};

// Milliseconds, as the monitor's watches are.
const IdleService kGnomeIdleMonitor = {"org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
                                       "org.gnome.Mutter.IdleMonitor", "GetIdletime", "t"};
// Seconds by the interface's own description; Plasma's screen locker, which
// also owns org.kde.screensaver, answers its idle-time library's
// milliseconds (on X11; on Wayland it refuses with NotSupported).
const IdleService kScreenSaver = {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                  "org.freedesktop.ScreenSaver", "GetSessionIdleTime", "u"};
const char* const kPlasmaScreenSaver = "org.kde.screensaver";

class DBusLastInput : public QObject, public ILastInput {
public:
    DBusLastInput(IClock& clock, const QDBusConnection& bus, const IdleService& service, unsigned msPerUnit,
                  std::string description)
        : clock_(clock), bus_(bus), service_(service), msPerUnit_(msPerUnit), description_(std::move(description))
    {
    }

    // Asks once and waits for the answer; false when the service gives none.
    bool Probe()
    {
        const std::uint32_t asked = clock_.GetTickCount();
        return Take(bus_.call(Question(), QDBus::Block, static_cast<int>(kFreshMs)), asked);
    }

    bool GetLastInputTick(std::uint32_t& tick) override
    {
        const std::uint32_t now = clock_.GetTickCount();
        const bool fresh = known_ && now - readingAsked_ <= kFreshMs;
        if (fresh) tick = lastInput_;
        if (!pending_) Ask(now);
        return fresh;
    }

    bool Failing() const override { return failures_.Failing(); }
    std::string Describe() const override { return description_; }

private:
    QDBusMessage Question() const
    {
        QDBusMessage question =
            QDBusMessage::createMethodCall(service_.service, service_.path, service_.interface, service_.method);
        // Starting a service on demand is not ours to do.
        question.setAutoStartService(false);
        return question;
    }

    void Ask(std::uint32_t now)
    {
        // An answer later than kFreshMs could not be used: it counts as a failure.
        pending_ = new QDBusPendingCallWatcher(bus_.asyncCall(Question(), static_cast<int>(kFreshMs)), this);
        QObject::connect(pending_, &QDBusPendingCallWatcher::finished, this,
                         [this, now](QDBusPendingCallWatcher* call) {
                             call->deleteLater();
                             pending_ = nullptr;
                             if (Take(call->reply(), now)) failures_.Succeeded();
                             else failures_.Failed();
                         });
    }

    bool Take(const QDBusMessage& reply, std::uint32_t asked)
    {
        if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String(service_.signature))
            return false;
        const unsigned long long units = reply.arguments().at(0).toULongLong();
        const unsigned long long ms = units > kMaxIdleMs / msPerUnit_ ? kMaxIdleMs : units * msPerUnit_;
        lastInput_ = clock_.GetTickCount() - static_cast<std::uint32_t>(ms);
        readingAsked_ = asked;
        known_ = true;
        return true;
    }

    IClock& clock_;
    QDBusConnection bus_;
    const IdleService& service_;
    const unsigned msPerUnit_;
    const std::string description_;
    QDBusPendingCallWatcher* pending_ = nullptr;
    bool known_ = false;
    std::uint32_t lastInput_ = 0;
    std::uint32_t readingAsked_ = 0;  // when the question of the reading held was asked
    ReadingFailures failures_;
};

std::unique_ptr<ILastInput> Create(IClock& clock, const QDBusConnection& bus, const IdleService& service,
                                   unsigned msPerUnit, std::string description)
{
    // Only a running service: starting one on demand is not ours to do.
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service.service).value())
        return nullptr;
    auto source = std::make_unique<DBusLastInput>(clock, bus, service, msPerUnit, std::move(description));
    if (!source->Probe()) return nullptr;
    return source;
}
}  // namespace

std::unique_ptr<ILastInput> CreateGnomeIdleMonitorLastInput(IClock& clock, const QDBusConnection& bus)
{
    return Create(clock, bus, kGnomeIdleMonitor, 1, "GNOME idle monitor (org.gnome.Mutter.IdleMonitor)");
}

std::unique_ptr<ILastInput> CreateScreenSaverLastInput(IClock& clock, const QDBusConnection& bus)
{
    QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    if (!names) return nullptr;
    const QString owner = names->serviceOwner(QLatin1String(kScreenSaver.service)).value();
    const bool plasma = !owner.isEmpty() && names->serviceOwner(QLatin1String(kPlasmaScreenSaver)).value() == owner;
    return plasma ? Create(clock, bus, kScreenSaver, 1,
                           "freedesktop screen saver (org.freedesktop.ScreenSaver) of KDE Plasma, in milliseconds")
                  : Create(clock, bus, kScreenSaver, 1000,
                           "freedesktop screen saver (org.freedesktop.ScreenSaver), in seconds");
}

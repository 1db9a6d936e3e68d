// The idle-time sources against services that answer as the desktops' own
// do: bus services on a private bus (GNOME's idle monitor, the freedesktop
// screen saver alone and as Plasma's), and a compositor offering
// ext-idle-notify in version 1 or 2.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <wayland-server.h>

#include "ext-idle-notify-v1-server-protocol.h"
#include "platform/desktop/idle/IdleSources.h"

namespace {

class ManualClock : public IClock {
public:
    double Now() override { return 0; }
    std::uint32_t GetTickCount() override { return tick; }
    std::uint32_t tick = 1000;
};

template <class Pred>
bool RunUntil(Pred pred)
{
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return pred();
}

// ---- bus services -----------------------------------------------------------------------------

// Answers the idle-time method of whatever interface it is asked with the
// reply type the real service uses; errors and slow answers on request.
class IdleServiceStandIn : public QDBusVirtualObject {
public:
    std::atomic<unsigned long long> value{0};
    std::atomic<int> errorsToGive{0};  // NotSupported, as KWin answers on Wayland
    std::atomic<int> slowAnswersToGive{0};
    std::atomic<int> answered{0};

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        QDBusMessage reply;
        if (errorsToGive > 0) {
            --errorsToGive;
            reply = message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.NotSupported"),
                                             QStringLiteral("GetSessionIdleTime is not supported on this platform"));
        } else if (message.member() == QLatin1String("GetIdletime")) {
            reply = message.createReply(QVariant::fromValue(static_cast<qulonglong>(value)));
        } else {
            reply = message.createReply(QVariant::fromValue(static_cast<uint>(value)));
        }
        ++answered;
        if (slowAnswersToGive > 0) {
            --slowAnswersToGive;
            QTimer::singleShot(ILastInput::kFreshMs + 500, this, [connection, reply] {
                QDBusConnection(connection).send(reply);
            });
        } else {
            QDBusConnection(connection).send(reply);
        }
        return true;
    }
};

class PrivateBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1", "--address=unix:tmpdir=/tmp"});
        ASSERT_TRUE(daemon_.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(daemon_.readLine()).trimmed();
        client_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "idle-client"));
        service_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "idle-service"));
        ASSERT_TRUE(client_->isConnected() && service_->isConnected());
        // The client's start-up question waits for its answer: the service answers from a thread of its own.
        standIn_.moveToThread(&thread_);
        thread_.start();
        for (const char* path : {"/org/gnome/Mutter/IdleMonitor/Core", "/org/freedesktop/ScreenSaver"})
            ASSERT_TRUE(service_->registerVirtualObject(path, &standIn_));
    }
    void TearDown() override
    {
        service_->unregisterObject("/org/gnome/Mutter/IdleMonitor/Core");
        service_->unregisterObject("/org/freedesktop/ScreenSaver");
        thread_.quit();
        thread_.wait();
        QDBusConnection::disconnectFromBus("idle-client");
        QDBusConnection::disconnectFromBus("idle-service");
        daemon_.kill();
        daemon_.waitForFinished();
    }
    // Calls the source the way the window's beat does until pred holds.
    template <class Pred>
    bool Beat(ILastInput& source, Pred pred)
    {
        return RunUntil([&] {
            source.GetLastInputTick(tick_);
            return pred();
        });
    }
    std::uint32_t IdleMs() const { return clock_.tick - tick_; }

    QProcess daemon_;
    QThread thread_;
    IdleServiceStandIn standIn_;
    std::unique_ptr<QDBusConnection> client_, service_;
    ManualClock clock_;
    std::uint32_t tick_ = 0;
};

TEST_F(PrivateBus, EachServiceIsReadInTheUnitItsDesktopAnswers)
{
    standIn_.value = 600000;
    EXPECT_FALSE(CreateGnomeIdleMonitorLastInput(clock_, *client_));  // not running
    ASSERT_TRUE(service_->registerService("org.gnome.Mutter.IdleMonitor"));
    auto gnome = CreateGnomeIdleMonitorLastInput(clock_, *client_);
    ASSERT_TRUE(gnome);
    ASSERT_TRUE(gnome->GetLastInputTick(tick_));
    EXPECT_EQ(IdleMs(), 600000u);

    standIn_.value = 600;
    ASSERT_TRUE(service_->registerService("org.freedesktop.ScreenSaver"));
    auto seconds = CreateScreenSaverLastInput(clock_, *client_);
    ASSERT_TRUE(seconds);
    EXPECT_EQ(seconds->Describe(), "freedesktop screen saver (org.freedesktop.ScreenSaver), in seconds");
    ASSERT_TRUE(seconds->GetLastInputTick(tick_));
    EXPECT_EQ(IdleMs(), 600000u);

    // Plasma's screen locker owns both names and answers milliseconds.
    ASSERT_TRUE(service_->registerService("org.kde.screensaver"));
    standIn_.value = 1500;
    auto plasma = CreateScreenSaverLastInput(clock_, *client_);
    ASSERT_TRUE(plasma);
    EXPECT_EQ(plasma->Describe(),
              "freedesktop screen saver (org.freedesktop.ScreenSaver) of KDE Plasma, in milliseconds");
    ASSERT_TRUE(plasma->GetLastInputTick(tick_));
    EXPECT_EQ(IdleMs(), 1500u);
    // On Wayland it refuses the question: not a source.
    standIn_.errorsToGive = 100;
    EXPECT_FALSE(CreateScreenSaverLastInput(clock_, *client_));
    standIn_.errorsToGive = 0;
}

TEST_F(PrivateBus, OnlyFreshReadingsCountAndFailuresInARowMakeTheIdleTimeUnknown)
{
    ASSERT_TRUE(service_->registerService("org.gnome.Mutter.IdleMonitor"));
    standIn_.value = 0;
    auto source = CreateGnomeIdleMonitorLastInput(clock_, *client_);
    ASSERT_TRUE(source);

    // An hour without questions (idle stopping was off); the user is at work.
    clock_.tick += 3600 * 1000;
    standIn_.value = 300;
    EXPECT_FALSE(source->GetLastInputTick(tick_));  // the answer of an hour ago is not used
    EXPECT_FALSE(source->Failing());
    ASSERT_TRUE(RunUntil([&] { return source->GetLastInputTick(tick_); }));
    EXPECT_EQ(IdleMs(), 300u);

    // One failed and one late answer among good ones: detection stays on.
    for (std::atomic<int>* fault : {&standIn_.errorsToGive, &standIn_.slowAnswersToGive}) {
        *fault = 1;
        const int before = standIn_.answered;
        ASSERT_TRUE(Beat(*source, [&] {
            EXPECT_FALSE(source->Failing());
            return standIn_.answered >= before + 3;
        }));
    }
    // Failures in a row: unknown, until the service answers again.
    standIn_.errorsToGive = ILastInput::kFailuresBeforeUnknown;
    ASSERT_TRUE(Beat(*source, [&] { return source->Failing(); }));
    ASSERT_TRUE(Beat(*source, [&] { return !source->Failing(); }));
    // The service goes away and comes back.
    ASSERT_TRUE(service_->unregisterService("org.gnome.Mutter.IdleMonitor"));
    ASSERT_TRUE(Beat(*source, [&] { return source->Failing(); }));
    ASSERT_TRUE(service_->registerService("org.gnome.Mutter.IdleMonitor"));
    clock_.tick += 5000;
    ASSERT_TRUE(Beat(*source, [&] { return !source->Failing() && source->GetLastInputTick(tick_); }));
    EXPECT_EQ(IdleMs(), 300u);
}

// ---- a compositor ----------------------------------------------------------------------------

// The notifier's requests for a notice (opcodes).
enum NoticeRequest { kPlainNotice = 1, kInputOnlyNotice = 2 };

// Offers a seat and ext_idle_notifier_v1 in the given version; records how
// the notice was asked for and sends its events on request.
class Compositor {
public:
    Compositor(const char* socket, std::uint32_t version) : display_(wl_display_create())
    {
        if (wl_display_add_socket(display_, socket) != 0) ADD_FAILURE() << "socket " << socket;
        wl_global_create(display_, &wl_seat_interface, 1, this, [](wl_client* client, void*, std::uint32_t v,
                                                                   std::uint32_t id) {
            wl_resource_create(client, &wl_seat_interface, static_cast<int>(v), id);
        });
        wl_global_create(display_, &ext_idle_notifier_v1_interface, static_cast<int>(version), this, &BindNotifier);
        thread_ = std::thread([this] {
            while (!stop_) {
                wl_event_loop_dispatch(wl_display_get_event_loop(display_), 10);
                std::lock_guard<std::mutex> lock(mutex_);
                for (auto send : pending_)
                    if (notification_) send(notification_);
                pending_.clear();
                wl_display_flush_clients(display_);
            }
        });
    }
    ~Compositor()
    {
        stop_ = true;
        thread_.join();
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
    }
    void Send(void (*event)(wl_resource*))
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(event);
    }
    std::atomic<int> request{-1};  // the opcode that asked for the notice

private:
    static void BindNotifier(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
    {
        static const auto create = [](wl_client* c, wl_resource* notifier, std::uint32_t newId, std::uint32_t,
                                      wl_resource*, int opcode) {
            auto* self = static_cast<Compositor*>(wl_resource_get_user_data(notifier));
            static const struct ext_idle_notification_v1_interface destroy = {
                [](wl_client*, wl_resource* r) { wl_resource_destroy(r); }};
            wl_resource* n = wl_resource_create(c, &ext_idle_notification_v1_interface,
                                                wl_resource_get_version(notifier), newId);
            wl_resource_set_implementation(n, &destroy, nullptr, nullptr);
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->notification_ = n;
            self->request = opcode;
        };
        static const struct ext_idle_notifier_v1_interface implementation = {
            [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
            [](wl_client* c, wl_resource* r, std::uint32_t id, std::uint32_t ms, wl_resource* seat) {
                create(c, r, id, ms, seat, kPlainNotice);
            },
            [](wl_client* c, wl_resource* r, std::uint32_t id, std::uint32_t ms, wl_resource* seat) {
                create(c, r, id, ms, seat, kInputOnlyNotice);
            },
        };
        wl_resource* notifier = wl_resource_create(client, &ext_idle_notifier_v1_interface,
                                                   static_cast<int>(version), id);
        wl_resource_set_implementation(notifier, &implementation, data, nullptr);
    }

    wl_display* display_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    wl_resource* notification_ = nullptr;
    std::vector<void (*)(wl_resource*)> pending_;
};

TEST(WaylandIdle, InputOnlyNoticesWhereOfferedAndTheCompositorComingBack)
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    qputenv("WAYLAND_DISPLAY", "idle-test");
    for (const std::uint32_t version : {1u, 2u}) {
        SCOPED_TRACE(version);
        ManualClock clock;
        std::uint32_t tick = 0;
        auto compositor = std::make_unique<Compositor>("idle-test", version);
        auto source = CreateWaylandLastInput(clock);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->Describe().find("input only") != std::string::npos, version == 2) << source->Describe();
        EXPECT_EQ(source->Describe().find("idle inhibitor") != std::string::npos, version == 1);
        ASSERT_TRUE(source->GetLastInputTick(tick));
        EXPECT_EQ(tick, clock.tick);  // a fresh notice: no input known to be missing
        ASSERT_TRUE(RunUntil([&] { return compositor->request >= 0; }));
        EXPECT_EQ(compositor->request, version == 2 ? kInputOnlyNotice : kPlainNotice);

        compositor->Send(ext_idle_notification_v1_send_idled);
        ASSERT_TRUE(RunUntil([&] { return source->GetLastInputTick(tick) && tick != clock.tick; }));
        clock.tick += 10000;
        ASSERT_TRUE(source->GetLastInputTick(tick));
        EXPECT_EQ(clock.tick - tick, 12000u);
        compositor->Send(ext_idle_notification_v1_send_resumed);
        ASSERT_TRUE(RunUntil([&] { return source->GetLastInputTick(tick) && tick == clock.tick; }));

        // The compositor goes: unknown after failures in a row; it comes back: known again.
        compositor.reset();
        ASSERT_TRUE(RunUntil([&] { return !source->GetLastInputTick(tick) && source->Failing(); }));
        compositor = std::make_unique<Compositor>("idle-test", version);
        ASSERT_TRUE(source->GetLastInputTick(tick));
        EXPECT_FALSE(source->Failing());
        ASSERT_TRUE(RunUntil([&] { return compositor->request >= 0; }));
    }
    qunsetenv("WAYLAND_DISPLAY");
}

}  // namespace

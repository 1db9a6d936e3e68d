#include "platform/desktop/PortalHotKeys.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>
#include <memory>

#include <xkbcommon/xkbcommon.h>

#include "platform/MessageWindows.h"
#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/x11/X11.h"
#include "platform/desktop/x11/X11HotKeys.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
const QString kShortcutId = QStringLiteral("start-stop");
const QString kDescription = QStringLiteral("Start or stop the work clock");
// Asking whether the portal is there must not hold up the start for long.
constexpr int kProbeMs = 5000;
// Binding may put a question to the user first.
constexpr int kAnswerMs = 60000;

struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& a, const Shortcut& s)
{
    a.beginStructure();
    a << s.id << s.properties;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, Shortcut& s)
{
    a.beginStructure();
    a >> s.id >> s.properties;
    a.endStructure();
    return a;
}

}  // namespace

Q_DECLARE_METATYPE(Shortcut)

namespace {

// Waits for one Request's Response.
class ResponseWaiter : public QObject {
    Q_OBJECT
public:
    std::optional<std::pair<uint, QVariantMap>> answer;
    QEventLoop loop;
public slots:
    void Response(uint code, const QVariantMap& results)
    {
        answer = std::make_pair(code, results);
        loop.quit();
    }
};

// The unique bus name as the portal puts it into request paths.
QString SenderPart()
{
    QString name = QDBusConnection::sessionBus().baseService();
    if (name.startsWith(u':')) name.remove(0, 1);
    return name.replace(u'.', u'_');
}

}  // namespace

QString PortalTrigger(UINT modifiers, UINT virtualKey)
{
    const unsigned long sym = VirtualKeyToKeysym(virtualKey);
    if (!sym) return {};
    char name[64] = {};
    if (xkb_keysym_get_name(static_cast<xkb_keysym_t>(sym), name, sizeof name) <= 0) return {};
    QString trigger;
    if (modifiers & MOD_CONTROL) trigger += QStringLiteral("CTRL+");
    if (modifiers & MOD_ALT) trigger += QStringLiteral("ALT+");
    if (modifiers & MOD_SHIFT) trigger += QStringLiteral("SHIFT+");
    return trigger + QString::fromLatin1(name);
}

PortalHotKeys::PortalHotKeys(IMessageWindows& windows) : windows_(windows)
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    QDBusConnection::sessionBus().connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                                          SLOT(Activated(QDBusMessage)));
}

PortalHotKeys::~PortalHotKeys()
{
    for (auto& [key, binding] : bindings_) CloseSession(binding.session);
}

bool PortalHotKeys::Offered(bool activate)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    if (!activate && !bus.interface()->isServiceRegistered(kService).value()) return false;
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kProbeMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

QString PortalHotKeys::NextToken()
{
    return QStringLiteral("chronel%1_%2").arg(QCoreApplication::applicationPid()).arg(++tokens_);
}

std::optional<std::pair<uint, QVariantMap>> PortalHotKeys::Request(QDBusMessage call, const QString& token)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Listen before asking: the answer may come before the call returns.
    ResponseWaiter waiter;
    QString path = kPath + QStringLiteral("/request/") + SenderPart() + u'/' + token;
    bus.connect(kService, path, kRequest, QStringLiteral("Response"), &waiter, SLOT(Response(uint, QVariantMap)));
    const QDBusMessage reply = bus.call(call, QDBus::Block, kProbeMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        bus.disconnect(kService, path, kRequest, QStringLiteral("Response"), &waiter, SLOT(Response(uint, QVariantMap)));
        return std::nullopt;
    }
    const QString handle = qvariant_cast<QDBusObjectPath>(reply.arguments().at(0)).path();
    if (!handle.isEmpty() && handle != path) {  // a portal that names its requests otherwise
        bus.disconnect(kService, path, kRequest, QStringLiteral("Response"), &waiter, SLOT(Response(uint, QVariantMap)));
        path = handle;
        bus.connect(kService, path, kRequest, QStringLiteral("Response"), &waiter, SLOT(Response(uint, QVariantMap)));
    }
    if (!waiter.answer) {
        QTimer::singleShot(kAnswerMs, &waiter.loop, &QEventLoop::quit);
        // Input to our windows waits: a second registration must not start inside this one.
        waiter.loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    bus.disconnect(kService, path, kRequest, QStringLiteral("Response"), &waiter, SLOT(Response(uint, QVariantMap)));
    if (!waiter.answer) {
        QDBusMessage close = QDBusMessage::createMethodCall(kService, path, kRequest, QStringLiteral("Close"));
        bus.asyncCall(close);
    }
    return waiter.answer;
}

void PortalHotKeys::CloseSession(const QString& session)
{
    if (session.isEmpty()) return;
    QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(kService, session, kSession, QStringLiteral("Close")));
}

bool PortalHotKeys::RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey)
{
    lastFailure_ = HotKeyFailure::None;
    const QString trigger = PortalTrigger(modifiers, virtualKey);
    if (trigger.isEmpty()) {
        lastFailure_ = HotKeyFailure::KeyMissing;
        return false;
    }
    const Key key{wnd, id};
    auto it = bindings_.find(key);
    if (it != bindings_.end() && it->second.trigger == trigger) return true;
    for (const auto& [other, binding] : bindings_) {
        if (other != key && binding.trigger == trigger) {
            lastFailure_ = HotKeyFailure::Taken;
            return false;
        }
    }

    // A session binds its shortcuts once; every key gets a session of its own.
    QDBusMessage create = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CreateSession"));
    const QString createToken = NextToken();
    create << QVariantMap{{QStringLiteral("handle_token"), createToken},
                          {QStringLiteral("session_handle_token"), NextToken()}};
    const auto created = Request(create, createToken);
    QString session;
    if (created && created->first == 0) {
        const QVariant handle = created->second.value(QStringLiteral("session_handle"));
        session = handle.canConvert<QDBusObjectPath>() ? qvariant_cast<QDBusObjectPath>(handle).path() : handle.toString();
    }
    if (session.isEmpty()) {
        lastFailure_ = HotKeyFailure::Unavailable;
        return false;
    }

    QDBusMessage bind = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("BindShortcuts"));
    const QString bindToken = NextToken();
    const QList<Shortcut> shortcuts{Shortcut{kShortcutId, QVariantMap{{QStringLiteral("description"), kDescription},
                                                                     {QStringLiteral("preferred_trigger"), trigger}}}};
    bind << QVariant::fromValue(QDBusObjectPath(session)) << QVariant::fromValue(shortcuts) << QString()
         << QVariantMap{{QStringLiteral("handle_token"), bindToken}};
    const auto bound = Request(bind, bindToken);
    if (!bound) {
        CloseSession(session);
        lastFailure_ = HotKeyFailure::Unavailable;
        return false;
    }
    // The portal lists the shortcuts it bound; one missing, or bound to no
    // key, was refused (another program holds the key, or the user said no).
    bool granted = false;
    if (bound->first == 0) {
        QList<Shortcut> list;
        const QVariant value = bound->second.value(QStringLiteral("shortcuts"));
        if (value.canConvert<QDBusArgument>()) qvariant_cast<QDBusArgument>(value) >> list;
        for (const Shortcut& s : list) {
            const QVariant description = s.properties.value(QStringLiteral("trigger_description"));
            if (s.id == kShortcutId && (!description.isValid() || !description.toString().isEmpty())) granted = true;
        }
    }
    if (!granted) {
        CloseSession(session);
        lastFailure_ = HotKeyFailure::Taken;
        return false;
    }
    if (it != bindings_.end()) CloseSession(it->second.session);
    bindings_[key] = Binding{session, trigger};
    return true;
}

bool PortalHotKeys::UnregisterHotKey(HWND wnd, int id)
{
    auto it = bindings_.find({wnd, id});
    if (it == bindings_.end()) return false;
    CloseSession(it->second.session);
    bindings_.erase(it);
    return true;
}

void PortalHotKeys::Activated(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2) return;
    const QString session = qvariant_cast<QDBusObjectPath>(args.at(0)).path();
    if (args.at(1).toString() != kShortcutId) return;
    for (const auto& [key, binding] : bindings_)
        if (binding.session == session) windows_.PostMessage(key.first, WM_HOTKEY, static_cast<WPARAM>(key.second), 0);
}

// ---- the service the desktop offers ----------------------------------------------

namespace {
// A session whose desktop grabs no keys for others.
class NoHotKeys : public IHotKeys {
public:
    bool RegisterHotKey(HWND, int, UINT, UINT) override { return false; }
    bool UnregisterHotKey(HWND, int) override { return false; }
    HotKeyFailure LastFailure() const override { return HotKeyFailure::Unavailable; }
    std::string Describe() const override { return "none (the desktop offers no global shortcuts)"; }
};
}  // namespace

std::unique_ptr<IHotKeys> CreateDesktopHotKeys(IMessageWindows& windows)
{
    // Under a Wayland compositor an X client sees keys only while one of its
    // own windows has the focus, so a grab there is no global hot key.
    const bool wayland = QGuiApplication::platformName() == QLatin1String("wayland") ||
                         qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
                         qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
    if (PortalHotKeys::Offered(wayland)) return std::make_unique<PortalHotKeys>(windows);
    const bool gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (wayland || !gui || !x11::Available()) return std::make_unique<NoHotKeys>();
    return std::make_unique<X11HotKeys>(windows);
}

#include "PortalHotKeys.moc"

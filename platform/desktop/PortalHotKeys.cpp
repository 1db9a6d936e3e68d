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
#include <optional>
#include <vector>

#include "platform/KeyboardLayout.h"
#include "platform/MessageWindows.h"
#include "platform/TraceMarks.h"
#include "platform/VirtualKeys.h"
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

QString PortalTrigger(UINT modifiers, UINT virtualKey, const KeyboardMap& map)
{
    const std::string name = KeysymName(map, virtualKey);
    if (name.empty()) return {};
    QString trigger;
    if (modifiers & MOD_CONTROL) trigger += QStringLiteral("CTRL+");
    if (modifiers & MOD_ALT) trigger += QStringLiteral("ALT+");
    if (modifiers & MOD_SHIFT) trigger += QStringLiteral("SHIFT+");
    return trigger + QString::fromStdString(name);
}

PortalHotKeys::PortalHotKeys(IMessageWindows& windows, IKeyboardLayout* keyboard)
    : windows_(windows), keyboard_(keyboard)
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    QDBusConnection::sessionBus().connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                                          SLOT(Activated(QDBusMessage)));
    if (keyboard_) keyboard_->OnChanged = [this] { Rebind(); };
}

PortalHotKeys::~PortalHotKeys()
{
    if (keyboard_) keyboard_->OnChanged = nullptr;
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

std::string PortalHotKeys::Describe() const
{
    const std::string keys = keyboard_ ? keyboard_->Describe() : "a US keyboard";
    return "desktop portal global shortcuts (keys named by the " + keys + ")";
}

QString PortalHotKeys::NextToken()
{
    return QStringLiteral("chronel%1_%2").arg(QCoreApplication::applicationPid()).arg(++tokens_);
}

QString PortalHotKeys::Trigger(UINT modifiers, UINT virtualKey) const
{
    return PortalTrigger(modifiers, virtualKey,
                         keyboard_ ? KeyboardMap{keyboard_->Keymap(), keyboard_->Layout()} : KeyboardMap{});
}

PortalHotKeys::Answer PortalHotKeys::Request(QDBusMessage call, const QString& token)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Listen before asking: the answer may come before the call returns.
    ResponseWaiter waiter;
    QString path = kPath + QStringLiteral("/request/") + SenderPart() + u'/' + token;
    bus.connect(kService, path, kRequest, QStringLiteral("Response"), &waiter, SLOT(Response(uint, QVariantMap)));
    const QDBusMessage reply = bus.call(call, QDBus::Block, kProbeMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        bus.disconnect(kService, path, kRequest, QStringLiteral("Response"), &waiter, SLOT(Response(uint, QVariantMap)));
        return {};
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
    Answer answer;
    answer.called = true;
    if (waiter.answer) {
        answer.response = waiter.answer->first;
        answer.results = waiter.answer->second;
    } else {
        bus.asyncCall(QDBusMessage::createMethodCall(kService, path, kRequest, QStringLiteral("Close")));
    }
    return answer;
}

void PortalHotKeys::CloseSession(const QString& session)
{
    if (session.isEmpty()) return;
    QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(kService, session, kSession, QStringLiteral("Close")));
}

namespace {
// Success, the user's cancel, and every other end of a Request.
HotKeyFailure FromResponse(uint response)
{
    return response == 0 ? HotKeyFailure::None : response == 1 ? HotKeyFailure::Dismissed : HotKeyFailure::Failed;
}
}  // namespace

HotKeyFailure PortalHotKeys::Bind(const QString& trigger, QString& session)
{
    session.clear();
    const QList<Shortcut> shortcuts{Shortcut{kShortcutId, QVariantMap{{QStringLiteral("description"), kDescription},
                                                                     {QStringLiteral("preferred_trigger"), trigger}}}};
    // A session binds its shortcuts once; every trigger gets a session of its
    // own. Plasma takes the shortcuts from the session's options and ignores
    // the list given to BindShortcuts; others take that list.
    QDBusMessage create = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CreateSession"));
    const QString createToken = NextToken();
    create << QVariantMap{{QStringLiteral("handle_token"), createToken},
                          {QStringLiteral("session_handle_token"), NextToken()},
                          {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}};
    const Answer created = Request(create, createToken);
    if (!created.called) return HotKeyFailure::Unavailable;
    if (created.response != 0) return FromResponse(created.response);
    const QVariant handle = created.results.value(QStringLiteral("session_handle"));
    const QString path = handle.canConvert<QDBusObjectPath>() ? qvariant_cast<QDBusObjectPath>(handle).path() : handle.toString();
    if (path.isEmpty()) return HotKeyFailure::Failed;

    QDBusMessage bind = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("BindShortcuts"));
    const QString bindToken = NextToken();
    bind << QVariant::fromValue(QDBusObjectPath(path)) << QVariant::fromValue(shortcuts) << QString()
         << QVariantMap{{QStringLiteral("handle_token"), bindToken}};
    const Answer bound = Request(bind, bindToken);
    HotKeyFailure failure = bound.called ? FromResponse(bound.response) : HotKeyFailure::Failed;
    if (failure == HotKeyFailure::None) {
        // The portal lists what it bound: a shortcut missing, or bound to no
        // key, was refused (another program holds the key, the trigger means
        // nothing to the desktop, or the user gave it none).
        QList<Shortcut> list;
        const QVariant value = bound.results.value(QStringLiteral("shortcuts"));
        if (value.canConvert<QDBusArgument>()) qvariant_cast<QDBusArgument>(value) >> list;
        failure = HotKeyFailure::Taken;
        for (const Shortcut& s : list) {
            const QVariant description = s.properties.value(QStringLiteral("trigger_description"));
            if (s.id == kShortcutId && (!description.isValid() || !description.toString().isEmpty()))
                failure = HotKeyFailure::None;
        }
    }
    if (failure == HotKeyFailure::None) session = path;
    else CloseSession(path);
    TraceMark(QStringLiteral("portal-bind %1 %2").arg(trigger).arg(static_cast<int>(failure)).toUtf8().constData());
    return failure;
}

bool PortalHotKeys::RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey)
{
    lastFailure_ = HotKeyFailure::None;
    const QString trigger = Trigger(modifiers, virtualKey);
    if (trigger.isEmpty()) {
        lastFailure_ = HotKeyFailure::KeyMissing;
        return false;
    }
    const Key key{wnd, id};
    auto it = bindings_.find(key);
    if (it != bindings_.end() && it->second.trigger == trigger && !it->second.session.isEmpty()) return true;
    for (const auto& [other, binding] : bindings_) {
        if (other != key && binding.trigger == trigger) {
            lastFailure_ = HotKeyFailure::Taken;
            return false;
        }
    }
    QString session;
    lastFailure_ = Bind(trigger, session);
    if (lastFailure_ != HotKeyFailure::None) return false;
    it = bindings_.find(key);
    if (it != bindings_.end()) CloseSession(it->second.session);
    bindings_[key] = Binding{session, trigger, modifiers, virtualKey};
    // The layout may have changed while the portal was asked.
    if (Trigger(modifiers, virtualKey) != trigger) QTimer::singleShot(0, this, [this] { Rebind(); });
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

void PortalHotKeys::Rebind()
{
    // Binding waits for the portal, and the layout may change meanwhile.
    if (rebinding_) {
        rebindAgain_ = true;
        return;
    }
    rebinding_ = true;
    do {
        rebindAgain_ = false;
        std::vector<Key> keys;
        for (const auto& [key, binding] : bindings_) keys.push_back(key);
        for (const Key& key : keys) {
            auto it = bindings_.find(key);
            if (it == bindings_.end()) continue;
            const QString trigger = Trigger(it->second.modifiers, it->second.virtualKey);
            if (trigger == it->second.trigger && !it->second.session.isEmpty()) continue;
            // The old trigger now names another key: it goes before the new one is asked for.
            const bool wasBound = !it->second.session.isEmpty();
            CloseSession(it->second.session);
            it->second.session.clear();
            it->second.trigger = trigger;
            QString session;
            const HotKeyFailure failure = trigger.isEmpty() ? HotKeyFailure::KeyMissing : Bind(trigger, session);
            it = bindings_.find(key);
            if (it == bindings_.end() || it->second.trigger != trigger) {  // withdrawn or changed meanwhile
                CloseSession(session);
                continue;
            }
            it->second.session = session;
            if (failure != HotKeyFailure::None && wasBound)
                windows_.PostMessage(key.first, WM_HOTKEY_LOST, static_cast<WPARAM>(key.second),
                                     static_cast<LPARAM>(failure));
        }
    } while (rebindAgain_);
    rebinding_ = false;
}

void PortalHotKeys::Activated(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2) return;
    const QString session = qvariant_cast<QDBusObjectPath>(args.at(0)).path();
    if (args.at(1).toString() != kShortcutId) return;
    for (const auto& [key, binding] : bindings_)
        if (!session.isEmpty() && binding.session == session)
            windows_.PostMessage(key.first, WM_HOTKEY, static_cast<WPARAM>(key.second), 0);
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

std::unique_ptr<IHotKeys> CreateDesktopHotKeys(IMessageWindows& windows, IKeyboardLayout* keyboard)
{
    // Under a Wayland compositor an X client sees keys only while one of its
    // own windows has the focus, so a grab there is no global hot key.
    const bool wayland = QGuiApplication::platformName() == QLatin1String("wayland") ||
                         qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
                         qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
    if (PortalHotKeys::Offered(wayland)) return std::make_unique<PortalHotKeys>(windows, keyboard);
    const bool gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (wayland || !gui || !x11::Available() || !keyboard) return std::make_unique<NoHotKeys>();
    return std::make_unique<X11HotKeys>(windows, *keyboard);
}

#include "PortalHotKeys.moc"

#include "platform/desktop/PortalHotKeys.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeySequence>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include <xkbcommon/xkbcommon.h>

#include "platform/KeyboardLayout.h"
#include "platform/MessageWindows.h"
#include "platform/TraceMarks.h"
#include "platform/VirtualKeys.h"
#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/DesktopSingleInstance.h"
#include "platform/desktop/x11/X11.h"
#include "platform/desktop/x11/X11HotKeys.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
const QString kShortcutId = QStringLiteral("start-stop");
// Plasma's shortcut service, which keeps a portal session's shortcuts under
// the session's token and can tell which keys they really have.
const QString kAccelService = QStringLiteral("org.kde.kglobalaccel");
const QString kAccelPath = QStringLiteral("/kglobalaccel");
const QString kAccelInterface = QStringLiteral("org.kde.KGlobalAccel");
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

namespace {
// A trigger ("CTRL+ALT+t", "ALT+plus") in the toolkit's terms; empty when unreadable.
QKeySequence TriggerSequence(const QString& trigger)
{
    const int plus = trigger.lastIndexOf(u'+', trigger.size() - 2);
    const QString name = trigger.mid(plus + 1);
    const xkb_keysym_t sym = xkb_keysym_from_name(name.toUtf8().constData(), XKB_KEYSYM_NO_FLAGS);
    if (sym == XKB_KEY_NoSymbol) return {};
    Qt::KeyboardModifiers mods;
    for (const QString& part : trigger.left(std::max(plus, 0)).split(u'+', Qt::SkipEmptyParts)) {
        if (part == QLatin1String("CTRL")) mods |= Qt::ControlModifier;
        else if (part == QLatin1String("ALT")) mods |= Qt::AltModifier;
        else if (part == QLatin1String("SHIFT")) mods |= Qt::ShiftModifier;
        else return {};
    }
    // The toolkit names a character key by its capital, a dead key in a
    // range of its own, and the other keys by names close to the keysyms'.
    const char32_t c = xkb_keysym_to_utf32(xkb_keysym_to_upper(sym));
    int key = 0;
    if (c > U' ' && c != 0x7F) key = static_cast<int>(c);
    else if (sym >= XKB_KEY_dead_grave && sym <= XKB_KEY_dead_greek) key = Qt::Key_Dead_Grave + (sym - XKB_KEY_dead_grave);
    else if (const QKeySequence named = QKeySequence::fromString(name, QKeySequence::PortableText); named.count() == 1)
        key = named[0].key();
    if (!key) return {};
    return QKeySequence(QKeyCombination(mods, static_cast<Qt::Key>(key)));
}
}  // namespace

bool SameTrigger(const QString& description, const QString& trigger)
{
    const QKeySequence ours = TriggerSequence(trigger);
    const QKeySequence theirs = QKeySequence::fromString(description, QKeySequence::PortableText);
    return ours.count() == 1 && theirs.count() == 1 && ours == theirs;
}

QString PortalSessionToken(const std::string& settingsPath)
{
    const std::string digest = DesktopSingleInstance::KeyDigest(DesktopSingleInstance::InstanceKey(settingsPath));
    return QStringLiteral("chronel_") + QString::fromStdString(digest.substr(0, 16));
}

namespace {
std::optional<QList<int>> DesktopKeys(const QString& token);

// The settings file beside the executable, until the program names its own.
std::string SettingsBesideProgram()
{
    const QFileInfo program(QCoreApplication::applicationFilePath());
    return (program.absolutePath() + u'/' + program.completeBaseName() + QStringLiteral(".ini")).toStdString();
}
}  // namespace

PortalHotKeys::PortalHotKeys(IMessageWindows& windows, IKeyboardLayout* keyboard)
    : windows_(windows), keyboard_(keyboard), token_(PortalSessionToken(SettingsBesideProgram()))
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
    for (auto& [id, session] : sessions_) CloseSession(session);
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
    std::string text = "desktop portal global shortcuts (keys named by the " + keys + ")";
    // Before any registration (--version), what the desktop kept from the last start.
    bool taken = held_;
    if (!registered_) {
        const std::optional<QList<int>> kept = DesktopKeys(token_);
        taken = kept && !kept->isEmpty() && std::all_of(kept->begin(), kept->end(), [](int key) { return key == 0; });
    }
    if (taken) text += "; the start/stop key is taken: the desktop gives it no key";
    return text;
}

void PortalHotKeys::SetSettingsFile(const std::string& path)
{
    token_ = PortalSessionToken(path);
}

QString PortalHotKeys::TokenFor(int id) const
{
    return id == 0 ? token_ : token_ + QStringLiteral("_%1").arg(id);
}

QString PortalHotKeys::NextToken()
{
    // Requests only: a request's token lives as long as its answer.
    return QStringLiteral("chronel_r%1_%2").arg(QCoreApplication::applicationPid()).arg(++tokens_);
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
    // Waited for: the next session of the same token takes the same path.
    QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(kService, session, kSession, QStringLiteral("Close")),
                                       QDBus::Block, kProbeMs);
}

namespace {
// Success, the user's cancel, and every other end of a Request.
HotKeyFailure FromResponse(uint response)
{
    return response == 0 ? HotKeyFailure::None : response == 1 ? HotKeyFailure::Dismissed : HotKeyFailure::Failed;
}

// Our shortcut in a portal's list: null when it is not there.
std::optional<QString> ListedTrigger(const QVariant& value)
{
    QList<Shortcut> list;
    if (value.canConvert<QDBusArgument>()) qvariant_cast<QDBusArgument>(value) >> list;
    for (const Shortcut& s : list)
        if (s.id == kShortcutId) return s.properties.value(QStringLiteral("trigger_description")).toString();
    return std::nullopt;
}

// The keys Plasma's shortcut service has for the session's shortcut (none
// for a shortcut it does not know, 0 for one it keeps without a key); null
// where that service does not run or does not answer.
std::optional<QList<int>> DesktopKeys(const QString& token)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.interface() || !bus.interface()->isServiceRegistered(kAccelService).value()) return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(kAccelService, kAccelPath, kAccelInterface, QStringLiteral("shortcut"));
    call << QStringList{token, kShortcutId, token, kDescription};
    const QDBusMessage reply = bus.call(call, QDBus::Block, kProbeMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    QList<int> keys;
    const QVariant value = reply.arguments().at(0);
    if (value.canConvert<QDBusArgument>()) qvariant_cast<QDBusArgument>(value) >> keys;
    else keys = qvariant_cast<QList<int>>(value);
    return keys;
}

// Whether Plasma's shortcut service gives the session's shortcut a key;
// null where that service does not run or does not answer.
std::optional<bool> DesktopGivesKey(const QString& token)
{
    const std::optional<QList<int>> keys = DesktopKeys(token);
    if (!keys) return std::nullopt;
    return std::any_of(keys->begin(), keys->end(), [](int key) { return key != 0; });
}

// Gives the session's shortcut the trigger's key (none for an empty trigger)
// in Plasma's shortcut service, as its shortcut settings do: no question, no
// settings window. False when the service did not take the call.
bool SetDesktopKey(const QString& token, const QString& trigger)
{
    QList<int> keys;
    if (!trigger.isEmpty()) {
        const QKeySequence sequence = TriggerSequence(trigger);
        if (sequence.count() != 1) return false;
        keys << sequence[0].toCombined();
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kAccelService, kAccelPath, kAccelInterface, QStringLiteral("setForeignShortcut"));
    call << QStringList{token, kShortcutId, token, kDescription} << QVariant::fromValue(keys);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, kProbeMs).type() == QDBusMessage::ReplyMessage;
}

// Sets the key and reads back whether the desktop gave it.
HotKeyFailure DesktopKey(const QString& token, const QString& trigger)
{
    if (!SetDesktopKey(token, trigger)) return HotKeyFailure::Failed;
    const std::optional<bool> given = DesktopGivesKey(token);
    if (!given) return HotKeyFailure::Failed;
    return *given ? HotKeyFailure::None : HotKeyFailure::Held;
}
}  // namespace

bool PortalHotKeys::List(const QString& session, QVariant& shortcuts)
{
    QDBusMessage list = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("ListShortcuts"));
    const QString token = NextToken();
    list << QVariant::fromValue(QDBusObjectPath(session)) << QVariantMap{{QStringLiteral("handle_token"), token}};
    const Answer listed = Request(list, token);
    if (!listed.called || listed.response != 0) return false;
    shortcuts = listed.results.value(QStringLiteral("shortcuts"));
    return true;
}

HotKeyFailure PortalHotKeys::Bind(const QString& trigger, const QString& token, QString& session)
{
    session.clear();
    const QList<Shortcut> shortcuts{Shortcut{kShortcutId, QVariantMap{{QStringLiteral("description"), kDescription},
                                                                     {QStringLiteral("preferred_trigger"), trigger}}}};
    // A session binds its shortcuts once; a new trigger gets a new session
    // of the same token. Plasma takes the shortcuts from the session's
    // options and ignores the list given to BindShortcuts; others take that list.
    QDBusMessage create = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CreateSession"));
    const QString createToken = NextToken();
    create << QVariantMap{{QStringLiteral("handle_token"), createToken},
                          {QStringLiteral("session_handle_token"), token},
                          {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}};
    const Answer created = Request(create, createToken);
    if (!created.called) return HotKeyFailure::Unavailable;
    if (created.response != 0) return FromResponse(created.response);
    const QVariant handle = created.results.value(QStringLiteral("session_handle"));
    const QString path = handle.canConvert<QDBusObjectPath>() ? qvariant_cast<QDBusObjectPath>(handle).path() : handle.toString();
    if (path.isEmpty()) return HotKeyFailure::Failed;

    // What the desktop keeps for the session from an earlier start: binding
    // again puts a question to the user or opens the desktop's shortcut
    // settings, so that comes only when the shortcut is missing or its key
    // changed. Plasma keeps the shortcut in its shortcut service, which takes
    // a new key without either and tells which keys the shortcut really has.
    const std::optional<bool> given = DesktopGivesKey(token);
    QVariant listed;
    std::optional<QString> kept;
    if (List(path, listed)) kept = ListedTrigger(listed);
    desktopKeys_ = kept.has_value() && given.has_value();
    const bool same = kept && !kept->isEmpty() && SameTrigger(*kept, trigger);
    const char* how = "kept";
    HotKeyFailure failure = HotKeyFailure::None;
    if (same && given) {
        failure = *given ? HotKeyFailure::None : HotKeyFailure::Held;
    } else if (!same && desktopKeys_ && !TriggerSequence(trigger).isEmpty()) {
        how = "set";
        failure = DesktopKey(token, trigger);
    } else if (!same) {
        how = "bound";
        failure = BindShortcuts(path, QVariant::fromValue(shortcuts));
        // A bound key is one that fires: where the desktop can tell, it has a key.
        if (failure == HotKeyFailure::None || failure == HotKeyFailure::Taken) {
            if (const std::optional<bool> now = DesktopGivesKey(token))
                failure = *now ? HotKeyFailure::None : HotKeyFailure::Held;
        }
    }
    // Plasma's session stays for the run, also without a key: its next key
    // is set in it (a new session of the same token in the same connection
    // gets no activations there).
    if (failure == HotKeyFailure::None || desktopKeys_) session = path;
    else CloseSession(path);
    TraceMark(QStringLiteral("portal-bind %1 %2 %3").arg(trigger).arg(static_cast<int>(failure)).arg(how).toUtf8().constData());
    return failure;
}

HotKeyFailure PortalHotKeys::BindShortcuts(const QString& path, const QVariant& shortcuts)
{
    QDBusMessage bind = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("BindShortcuts"));
    const QString bindToken = NextToken();
    bind << QVariant::fromValue(QDBusObjectPath(path)) << shortcuts << QString()
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
    return failure;
}

HotKeyFailure PortalHotKeys::Apply(int id, const QString& trigger)
{
    registered_ = true;
    const QString token = TokenFor(id);
    HotKeyFailure failure;
    auto open = sessions_.find(id);
    if (open != sessions_.end() && desktopKeys_ && !TriggerSequence(trigger).isEmpty()) {
        failure = DesktopKey(token, trigger);
        TraceMark(QStringLiteral("portal-bind %1 %2 set").arg(trigger).arg(static_cast<int>(failure)).toUtf8().constData());
    } else {
        // Elsewhere a session binds its shortcuts once: a new key, a new session.
        if (open != sessions_.end()) {
            CloseSession(open->second);
            sessions_.erase(open);
        }
        QString session;
        failure = Bind(trigger, token, session);
        if (!session.isEmpty()) sessions_[id] = session;
    }
    held_ = failure == HotKeyFailure::Held;
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
    if (it != bindings_.end() && it->second.active && it->second.trigger == trigger) return true;
    for (const auto& [other, binding] : bindings_) {
        if (other != key && binding.active && binding.trigger == trigger) {
            lastFailure_ = HotKeyFailure::Taken;
            return false;
        }
    }
    bindings_[key] = Binding{trigger, modifiers, virtualKey, false};
    lastFailure_ = Apply(id, trigger);
    it = bindings_.find(key);
    if (it == bindings_.end()) return false;  // withdrawn meanwhile
    if (lastFailure_ != HotKeyFailure::None) {
        bindings_.erase(it);
        return false;
    }
    it->second.active = true;
    // The layout may have changed while the portal was asked.
    if (Trigger(modifiers, virtualKey) != trigger) QTimer::singleShot(0, this, [this] { Rebind(); });
    return true;
}

bool PortalHotKeys::UnregisterHotKey(HWND wnd, int id)
{
    auto it = bindings_.find({wnd, id});
    if (it == bindings_.end()) return false;
    bindings_.erase(it);
    auto open = sessions_.find(id);
    if (open == sessions_.end()) return true;
    if (desktopKeys_) {
        // The session waits for the next key, and the desktop frees this one
        // once the program goes on; at the end of the program the desktop
        // keeps it for the next start.
        QTimer::singleShot(0, this, [this, id] {
            for (const auto& [key, binding] : bindings_)
                if (key.second == id) return;
            SetDesktopKey(TokenFor(id), QString());
        });
    } else {
        CloseSession(open->second);
        sessions_.erase(open);
    }
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
            if (trigger == it->second.trigger && it->second.active) continue;
            const bool wasActive = it->second.active;
            it->second.trigger = trigger;
            it->second.active = false;
            const HotKeyFailure failure = trigger.isEmpty() ? HotKeyFailure::KeyMissing : Apply(key.second, trigger);
            it = bindings_.find(key);
            if (it == bindings_.end() || it->second.trigger != trigger) continue;  // withdrawn or changed meanwhile
            it->second.active = failure == HotKeyFailure::None;
            if (failure != HotKeyFailure::None && wasActive)
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
    if (session.isEmpty() || args.at(1).toString() != kShortcutId) return;
    for (const auto& [id, open] : sessions_) {
        if (open != session) continue;
        for (const auto& [key, binding] : bindings_)
            if (key.second == id && binding.active)
                windows_.PostMessage(key.first, WM_HOTKEY, static_cast<WPARAM>(key.second), 0);
    }
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

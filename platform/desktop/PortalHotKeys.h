#pragma once
// System-wide hot keys through the desktop portal's global shortcuts
// (org.freedesktop.portal.GlobalShortcuts on the session bus): one portal
// session per registration, bound to the key in the portal's trigger form
// as the current layout names it, and bound again when the layout changes;
// an activation posts WM_HOTKEY as a key grab would. The session's token,
// under which the desktop keeps the shortcut, is derived from the settings
// file, so every start meets the shortcut of the one before; it is bound
// only when the desktop does not have it with this trigger already.
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <map>
#include <utility>

#include "platform/HotKeys.h"

class IKeyboardLayout;
class IMessageWindows;
class QDBusMessage;
struct KeyboardMap;

// The portal's trigger for a hot key: the modifiers and the keysym the
// layout has at the key ("ALT+grave" on a US layout, "ALT+dead_circumflex"
// on a German one, "CTRL+SHIFT+F5"); empty when the layout lacks the key.
QString PortalTrigger(UINT modifiers, UINT virtualKey, const KeyboardMap& map);
// Whether a shortcut's trigger_description, as a desktop shows it
// ("Ctrl+Alt+T", "Alt++"), names the key of a trigger; false when either
// cannot be read.
bool SameTrigger(const QString& description, const QString& trigger);
// The portal session token of a settings file's hot keys.
QString PortalSessionToken(const std::string& settingsPath);

class PortalHotKeys : public QObject, public IHotKeys {
    Q_OBJECT
public:
    // keyboard: where the layout comes from; null for a US keyboard.
    PortalHotKeys(IMessageWindows& windows, IKeyboardLayout* keyboard);
    ~PortalHotKeys() override;
    // Whether the session's portal offers global shortcuts; with activate
    // false only a portal already running is asked.
    static bool Offered(bool activate);

    bool RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey) override;
    bool UnregisterHotKey(HWND wnd, int id) override;
    HotKeyFailure LastFailure() const override { return lastFailure_; }
    std::string Describe() const override;
    void SetSettingsFile(const std::string& path) override;

private slots:
    void Activated(const QDBusMessage& message);

private:
    struct Binding {
        QString trigger;  // as the current layout names the key
        UINT modifiers;
        UINT virtualKey;
        bool active;  // the desktop delivers the trigger
    };
    using Key = std::pair<HWND, int>;
    struct Answer {
        bool called = false;  // the portal took the call
        uint response = 2;    // the Request's Response; 2 also when none came in time
        QVariantMap results;
    };
    // Calls a portal method whose answer comes as a Request's Response.
    Answer Request(QDBusMessage call, const QString& token);
    // Binds the trigger in the session of the registration's token.
    HotKeyFailure Bind(const QString& trigger, const QString& token, QString& session);
    // The session's shortcuts as the portal lists them; false when it cannot.
    bool List(const QString& session, QVariant& shortcuts);
    // Asks the portal to bind the shortcuts (a(sa{sv})) in the session.
    HotKeyFailure BindShortcuts(const QString& session, const QVariant& shortcuts);
    QString TokenFor(int id) const;
    // Gives registration id the trigger, in its open session where the
    // desktop can change keys there, else in a new session.
    HotKeyFailure Apply(int id, const QString& trigger);
    // The layout changed: binds the triggers it names now.
    void Rebind();
    QString Trigger(UINT modifiers, UINT virtualKey) const;
    QString NextToken();
    void CloseSession(const QString& session);

    IMessageWindows& windows_;
    IKeyboardLayout* keyboard_;
    std::map<Key, Binding> bindings_;
    std::map<int, QString> sessions_;  // open portal sessions, by registration id
    bool desktopKeys_ = false;         // the desktop's shortcut service sets our keys (Plasma)
    HotKeyFailure lastFailure_ = HotKeyFailure::None;
    unsigned tokens_ = 0;
    QString token_;     // the settings file's session token
    bool held_ = false;        // the last binding's key is kept by the desktop for another
    bool registered_ = false;  // a registration was asked for
    bool rebinding_ = false;
    bool rebindAgain_ = false;
};

#pragma once
// System-wide hot keys through the desktop portal's global shortcuts
// (org.freedesktop.portal.GlobalShortcuts on the session bus): one portal
// session per registration, bound to the key in the portal's trigger form
// as the current layout names it, and bound again when the layout changes;
// an activation posts WM_HOTKEY as a key grab would.
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

private slots:
    void Activated(const QDBusMessage& message);

private:
    struct Binding {
        QString session;  // empty while the current layout's trigger is not bound
        QString trigger;
        UINT modifiers;
        UINT virtualKey;
    };
    using Key = std::pair<HWND, int>;
    struct Answer {
        bool called = false;  // the portal took the call
        uint response = 2;    // the Request's Response; 2 also when none came in time
        QVariantMap results;
    };
    // Calls a portal method whose answer comes as a Request's Response.
    Answer Request(QDBusMessage call, const QString& token);
    // Binds the trigger in a session of its own.
    HotKeyFailure Bind(const QString& trigger, QString& session);
    // The layout changed: binds the triggers it names now.
    void Rebind();
    QString Trigger(UINT modifiers, UINT virtualKey) const;
    QString NextToken();
    void CloseSession(const QString& session);

    IMessageWindows& windows_;
    IKeyboardLayout* keyboard_;
    std::map<Key, Binding> bindings_;
    HotKeyFailure lastFailure_ = HotKeyFailure::None;
    unsigned tokens_ = 0;
    bool rebinding_ = false;
    bool rebindAgain_ = false;
};

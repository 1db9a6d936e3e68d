#pragma once
// System-wide hot keys through the desktop portal's global shortcuts
// (org.freedesktop.portal.GlobalShortcuts on the session bus): one portal
// session per registration, bound to the key in the portal's trigger form;
// an activation posts WM_HOTKEY as a key grab would.
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <map>
#include <optional>
#include <utility>

#include "platform/HotKeys.h"

class IMessageWindows;
class QDBusMessage;

// The portal's trigger for a hot key ("ALT+grave", "CTRL+SHIFT+F5");
// empty when the virtual-key code has no key name.
QString PortalTrigger(UINT modifiers, UINT virtualKey);

class PortalHotKeys : public QObject, public IHotKeys {
    Q_OBJECT
public:
    explicit PortalHotKeys(IMessageWindows& windows);
    ~PortalHotKeys() override;
    // Whether the session's portal offers global shortcuts; with activate
    // false only a portal already running is asked.
    static bool Offered(bool activate);

    bool RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey) override;
    bool UnregisterHotKey(HWND wnd, int id) override;
    HotKeyFailure LastFailure() const override { return lastFailure_; }
    std::string Describe() const override { return "desktop portal global shortcuts"; }

private slots:
    void Activated(const QDBusMessage& message);

private:
    struct Binding {
        QString session;
        QString trigger;
    };
    using Key = std::pair<HWND, int>;
    // Calls a portal method whose answer comes as a Request's Response;
    // nothing when the call failed or no answer came in time.
    std::optional<std::pair<uint, QVariantMap>> Request(QDBusMessage call, const QString& token);
    QString NextToken();
    void CloseSession(const QString& session);

    IMessageWindows& windows_;
    std::map<Key, Binding> bindings_;
    HotKeyFailure lastFailure_ = HotKeyFailure::None;
    unsigned tokens_ = 0;
};

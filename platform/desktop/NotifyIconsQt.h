#pragma once
// The notification area on the Linux desktop: each icon is a QSystemTrayIcon
// (StatusNotifierItem where the desktop offers it, XEmbed otherwise); what
// the tray host reports comes back to the icon's window as the callback
// messages of the Windows shell; balloons are desktop notifications.
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <map>
#include <optional>
#include <memory>
#include <utility>

#include "platform/NotifyIcon.h"

class IMessageWindows;
class QAbstractNativeEventFilter;
class QDBusPendingCallWatcher;
class QTimer;
class XTrayFrames;

class QtNotifyIcons : public QObject, public INotifyIcons {
    Q_OBJECT
public:
    explicit QtNotifyIcons(IMessageWindows& windows);
    ~QtNotifyIcons() override;
    bool ShellNotifyIcon(DWORD message, const NotifyIconData& data) override;
    // An XEmbed tray manager owns the tray selection, or the
    // StatusNotifierWatcher has a host registered: whichever the icons speak.
    bool HostPresent() override;

    // The tooltip text the tray shows for a record's tip.
    static QString TipText(const char* szTip);
    // Whether icons speak StatusNotifierItem (no double click there).
    bool UsesStatusNotifier() const { return statusNotifier_; }

private slots:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString& actionKey);
    void TrayWindowChanged();
    void TrayOwnerGone();
    void StatusNotifierHostChanged();

private:
    using Key = std::pair<HWND, UINT>;
    struct Icon {
        HWND wnd = 0;
        UINT id = 0;
        UINT callback = 0;
        UINT version = 0;
        QSystemTrayIcon* tray = nullptr;
        qint64 iconKey = 0;
        QString tip;
        QMenu* menu = nullptr;
        // The balloon: its notification id once the server has answered, the
        // number of the latest request (older answers are closed at once),
        // and, without a server, the time-out of the tray's own message.
        uint notification = 0;
        unsigned balloonSerial = 0;
        QTimer* messageTimeout = nullptr;
        bool messageShown = false;
    };
    struct Notice {
        Key icon;
        bool clicked = false;
    };

    void Apply(Icon& icon, const NotifyIconData& data, bool adding);
    bool SpeaksStatusNotifier();
    void Activated(const Key& key, QSystemTrayIcon::ActivationReason reason);
    void Post(const Key& key, UINT notice);
    void Post(const Icon& icon, UINT notice);
    void ShowBalloon(Icon& icon, const NotifyIconData& data);
    void HideBalloon(Icon& icon);
    bool NotificationServer();
    // Whether the notification server announces "body-markup".
    bool ServerReadsBodyMarkup();
    void Remove(Icon& icon);
    void WatchHost();
    void HostAppeared();
    void SetHostPresent(bool present);
    void FollowTrayOwner();

    IMessageWindows& windows_;
    std::map<Key, Icon> icons_;
    std::map<uint, Notice> notices_;  // notifications of ours still on screen
    bool statusNotifier_ = false;
    std::optional<bool> speaksStatusNotifier_;
    bool signalsConnected_ = false;
    QString capabilitiesOwner_;  // the server connection bodyMarkup_ was asked of
    bool bodyMarkup_ = false;
    bool hostWatched_ = false;
    bool hostPresent_ = false;
    unsigned hostQuestion_ = 0;  // the latest question to the watcher; older answers are stale
    // Sees the tray hosts' announcements on the toolkit's X connection.
    std::unique_ptr<QAbstractNativeEventFilter> hostFilter_;
    // XEmbed icons: the images of a blink, kept by the X server.
    std::unique_ptr<XTrayFrames> frames_;
};

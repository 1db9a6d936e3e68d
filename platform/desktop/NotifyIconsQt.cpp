#include "platform/desktop/NotifyIconsQt.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QTextDocument>
#include <QTimer>
#include <optional>
#include <utility>

#include "platform/MessageWindows.h"
#include "platform/TraceMarks.h"
#include "platform/desktop/DesktopPlatform.h"
#include "platform/desktop/x11/TrayFrames.h"

namespace {

const QString kNotifyService = QStringLiteral("org.freedesktop.Notifications");
const QString kNotifyPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kNotifyInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

// Asks the watcher whether a host is registered with it.
QDBusMessage AskHostRegistered()
{
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    return get;
}
constexpr uint kClosedExpired = 1;

// The raw image of a notification (hint "image-data").
struct NotifyImage {
    int width = 0, height = 0, rowStride = 0;
    bool hasAlpha = true;
    int bitsPerSample = 8, channels = 4;
    QByteArray data;
};

QDBusArgument& operator<<(QDBusArgument& a, const NotifyImage& i)
{
    a.beginStructure();
    a << i.width << i.height << i.rowStride << i.hasAlpha << i.bitsPerSample << i.channels << i.data;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, NotifyImage& i)
{
    a.beginStructure();
    a >> i.width >> i.height >> i.rowStride >> i.hasAlpha >> i.bitsPerSample >> i.channels >> i.data;
    a.endStructure();
    return a;
}

// Where the latest ContextMenu call of a StatusNotifierItem host asked the
// menu to open, and when, until the call's delivery takes it.
std::optional<QPoint> hostMenuAnchor;
QElapsedTimer hostMenuAnchorAge;

void SpyOnItemCall(const QDBusMessage& call)
{
    if (call.type() != QDBusMessage::MethodCallMessage || call.member() != QLatin1String("ContextMenu") ||
        call.interface() != QLatin1String("org.kde.StatusNotifierItem") || call.arguments().size() != 2)
        return;
    hostMenuAnchor = QPoint(call.arguments()[0].toInt(), call.arguments()[1].toInt());
    hostMenuAnchorAge.start();
}

// The anchor of the call being delivered now; one that no delivery took
// (a call the item refused) is stale.
std::optional<QPoint> TakeHostMenuAnchor()
{
    const auto anchor = std::exchange(hostMenuAnchor, std::nullopt);
    return anchor && hostMenuAnchorAge.elapsed() < 1000 ? anchor : std::nullopt;
}

}  // namespace

Q_DECLARE_METATYPE(NotifyImage)

// The toolkit's StatusNotifierItem drops ContextMenu's coordinates. Its bus
// layer, which exports this, shows each incoming call to these hooks on the
// main thread just before delivering it.
void qDBusAddSpyHook(void (*hook)(const QDBusMessage&));

// Defined at the end, where Xlib's macros can do no harm.
static unsigned long SystemTrayOwner();
static std::unique_ptr<QAbstractNativeEventFilter> WatchTrayManager(QObject* receiver);
static unsigned long WatchTrayOwner(QAbstractNativeEventFilter* filter);

QtNotifyIcons::QtNotifyIcons(IMessageWindows& windows) : windows_(windows)
{
    qDBusRegisterMetaType<NotifyImage>();
}

QtNotifyIcons::~QtNotifyIcons()
{
    for (auto& [key, icon] : icons_) delete icon.tray;
}

QString QtNotifyIcons::TipText(const char* szTip)
{
    // As the shell shows a tip: "&&" is one "&", a lone "&" marks nothing.
    const QString tip = QString::fromUtf8(szTip);
    QString out;
    out.reserve(tip.size());
    for (qsizetype i = 0; i < tip.size(); ++i) {
        if (tip[i] == u'&') {
            if (i + 1 < tip.size() && tip[i + 1] == u'&') {
                out += u'&';
                ++i;
            }
            continue;
        }
        out += tip[i];
    }
    return out;
}

bool QtNotifyIcons::ShellNotifyIcon(DWORD message, const NotifyIconData& data)
{
    const Key key{data.hWnd, data.uID};
    auto it = icons_.find(key);
    switch (message) {
    case NIM_ADD: {
        if (it != icons_.end()) return false;
        WatchHost();
        Icon& icon = icons_[key];
        icon.wnd = data.hWnd;
        icon.id = data.uID;
        icon.tray = new QSystemTrayIcon(this);
        // No context menu of its own: the menu opens on the callback messages.
        connect(icon.tray, &QSystemTrayIcon::activated, this,
                [this, key](QSystemTrayIcon::ActivationReason reason) { Activated(key, reason); });
        connect(icon.tray, &QSystemTrayIcon::messageClicked, this, [this, key] {
            auto i = icons_.find(key);
            if (i == icons_.end() || !i->second.messageShown) return;
            i->second.messageShown = false;
            if (i->second.messageTimeout) i->second.messageTimeout->stop();
            Post(key, NIN_BALLOONUSERCLICK);
        });
        Apply(icon, data, true);
        return true;
    }
    case NIM_MODIFY:
        if (it == icons_.end()) return false;
        Apply(it->second, data, false);
        return true;
    case NIM_DELETE:
        if (it == icons_.end()) return false;
        Remove(it->second);
        icons_.erase(it);
        return true;
    case NIM_SETFOCUS:
        return it != icons_.end();  // tray icons take no keyboard focus here
    case NIM_SETVERSION:
        if (it == icons_.end() || data.uVersion > 4) return false;
        it->second.version = data.uVersion;
        return true;
    default:
        return false;
    }
}

void QtNotifyIcons::Apply(Icon& icon, const NotifyIconData& data, bool adding)
{
    if (data.uFlags & NIF_MESSAGE) icon.callback = data.uCallbackMessage;
    if ((data.uFlags & NIF_ICON) && (adding || data.hIcon.cacheKey() != icon.iconKey)) {
        icon.iconKey = data.hIcon.cacheKey();
        if (frames_)
            frames_->SetIcon(icon.tray, data.hIcon);
        else
            icon.tray->setIcon(data.hIcon);
    }
    if (data.uFlags & NIF_TIP) {
        QString tip = TipText(data.szTip);
        // The XEmbed tip would read markup as rich text; the shell shows plain text.
        if (!statusNotifier_ && Qt::mightBeRichText(tip)) tip = Qt::convertFromPlainText(tip);
        if (adding || tip != icon.tip) {
            icon.tip = tip;
            icon.tray->setToolTip(tip);
        }
    }
    if (adding) icon.tray->show();
    // A StatusNotifierItem host shows the menu itself: it gets it exported.
    if (data.menu != icon.menu && SpeaksStatusNotifier()) {
        icon.menu = data.menu;
        icon.tray->setContextMenu(data.menu);
    }
    if (data.uFlags & NIF_INFO) ShowBalloon(icon, data);
}

bool QtNotifyIcons::SpeaksStatusNotifier()
{
    // The toolkit chooses once, at its first icon: a StatusNotifierItem
    // gets a bus connection of its own, named after the process and the icon.
    if (!speaksStatusNotifier_) {
        bool found = false;
        for (int n = 1; n <= 16 && !found; ++n) {
            const QDBusConnection own(QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(n));
            found = own.isConnected() && own.objectRegisteredAt(QStringLiteral("/StatusNotifierItem"));
        }
        speaksStatusNotifier_ = found;
    }
    return *speaksStatusNotifier_;
}

void QtNotifyIcons::Post(const Icon& icon, UINT notice)
{
    windows_.PostMessage(icon.wnd, icon.callback, icon.id, static_cast<LPARAM>(notice));
}

void QtNotifyIcons::Post(const Key& key, UINT notice)
{
    auto it = icons_.find(key);
    if (it != icons_.end()) Post(it->second, notice);
}

void QtNotifyIcons::Activated(const Key& key, QSystemTrayIcon::ActivationReason reason)
{
    auto it = icons_.find(key);
    if (it == icons_.end()) return;
    const Icon& icon = it->second;
    // The host reports whole clicks; the shell reports presses and releases.
    const bool version3 = icon.version >= NOTIFYICON_VERSION;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        Post(icon, WM_LBUTTONDOWN);
        Post(icon, WM_LBUTTONUP);
        if (version3) Post(icon, NIN_SELECT);
        // StatusNotifierItem has no double click; its activation must still
        // bring back a window hidden to the tray, which listens for one.
        if (!SpeaksStatusNotifier()) break;
        [[fallthrough]];
    case QSystemTrayIcon::DoubleClick:
        Post(icon, WM_LBUTTONDBLCLK);
        Post(icon, WM_LBUTTONUP);
        if (version3) Post(icon, NIN_SELECT);
        break;
    case QSystemTrayIcon::Context:
        // A host's ContextMenu(x, y): the menu opens at x, y, so the pointer
        // reads there until these notices have been handled.
        // Posted events are handled in order, so the clearing comes last.
        if (const auto anchor = TakeHostMenuAnchor()) SetTrayMenuAnchor(anchor);
        Post(icon, WM_RBUTTONDOWN);
        Post(icon, WM_RBUTTONUP);
        if (version3) Post(icon, WM_CONTEXTMENU);
        QMetaObject::invokeMethod(this, [] { SetTrayMenuAnchor(std::nullopt); }, Qt::QueuedConnection);
        break;
    case QSystemTrayIcon::MiddleClick:
        Post(icon, WM_MBUTTONDOWN);
        Post(icon, WM_MBUTTONUP);
        break;
    default:
        break;
    }
}

// ---- balloons ---------------------------------------------------------------

bool QtNotifyIcons::NotificationServer()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const bool present = bus.interface()->isServiceRegistered(kNotifyService).value() ||
                         bus.interface()->activatableServiceNames().value().contains(kNotifyService);
    if (present && !signalsConnected_) {
        signalsConnected_ = true;
        bus.connect(kNotifyService, kNotifyPath, kNotifyInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(NotificationClosed(uint, uint)));
        bus.connect(kNotifyService, kNotifyPath, kNotifyInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(ActionInvoked(uint, QString)));
    }
    return present;
}

bool QtNotifyIcons::ServerReadsBodyMarkup()
{
    // Asked of the server that answers now; another server (a restart of
    // the desktop's) may announce otherwise, so the answer is kept only
    // while the same connection owns the name.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString owner = bus.interface() ? bus.interface()->serviceOwner(kNotifyService).value() : QString();
    if (owner.isEmpty() || owner != capabilitiesOwner_) {
        QDBusMessage ask = QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyInterface,
                                                          QStringLiteral("GetCapabilities"));
        const QDBusReply<QStringList> reply = bus.call(ask, QDBus::Block, 2000);
        bodyMarkup_ = reply.isValid() && reply.value().contains(QStringLiteral("body-markup"));
        capabilitiesOwner_ = reply.isValid() ? bus.interface()->serviceOwner(kNotifyService).value() : QString();
    }
    return bodyMarkup_;
}

void QtNotifyIcons::HideBalloon(Icon& icon)
{
    ++icon.balloonSerial;  // an answer still on its way is closed when it comes
    if (icon.notification) {
        QDBusMessage close =
            QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyInterface, QStringLiteral("CloseNotification"));
        close << icon.notification;
        QDBusConnection::sessionBus().asyncCall(close);  // the server answers with NotificationClosed
        icon.notification = 0;
    }
    if (icon.messageShown) {
        icon.messageShown = false;
        if (icon.messageTimeout) icon.messageTimeout->stop();
        icon.tray->showMessage(QString(), QString());  // empty texts take the message down
        Post(icon, NIN_BALLOONHIDE);
    }
}

void QtNotifyIcons::ShowBalloon(Icon& icon, const NotifyIconData& data)
{
    const bool wide = data.szInfoW[0] != 0;
    const QString text = wide ? QString::fromUtf16(data.szInfoW) : QString::fromUtf8(data.szInfo);
    const QString title = wide ? QString::fromUtf16(data.szInfoTitleW) : QString::fromUtf8(data.szInfoTitle);
    HideBalloon(icon);
    if (text.isEmpty() && title.isEmpty()) return;  // the request to take it down
    const unsigned serial = icon.balloonSerial;
    const Key key{icon.wnd, icon.id};
    const DWORD kind = data.dwInfoFlags & 0x0F;
    // A zero time-out would keep it for ever; the shell never does that.
    const int timeoutMs = data.uTimeout ? static_cast<int>(data.uTimeout) : -1;

    if (!NotificationServer()) {
        QSystemTrayIcon::MessageIcon type = QSystemTrayIcon::NoIcon;
        if (kind == NIIF_INFO) type = QSystemTrayIcon::Information;
        if (kind == NIIF_WARNING) type = QSystemTrayIcon::Warning;
        if (kind == NIIF_ERROR) type = QSystemTrayIcon::Critical;
        const int shownMs = timeoutMs > 0 ? timeoutMs : 10000;
        if (kind == NIIF_USER)
            icon.tray->showMessage(title, text, data.hIcon, shownMs);
        else
            icon.tray->showMessage(title, text, type, shownMs);
        icon.messageShown = true;
        if (!icon.messageTimeout) {
            icon.messageTimeout = new QTimer(this);
            icon.messageTimeout->setSingleShot(true);
            connect(icon.messageTimeout, &QTimer::timeout, this, [this, key] {
                auto it = icons_.find(key);
                if (it == icons_.end() || !it->second.messageShown) return;
                it->second.messageShown = false;
                Post(it->second, NIN_BALLOONTIMEOUT);
            });
        }
        icon.messageTimeout->start(shownMs);
        Post(icon, NIN_BALLOONSHOW);
        return;
    }

    QString iconName;
    QVariantMap hints;
    if (kind == NIIF_INFO) iconName = QStringLiteral("dialog-information");
    if (kind == NIIF_WARNING) iconName = QStringLiteral("dialog-warning");
    if (kind == NIIF_ERROR) iconName = QStringLiteral("dialog-error");
    if (kind == NIIF_USER && !data.hIcon.isNull()) {
        // The icon's own image, as the shell shows it for a user balloon.
        const QImage image = data.hIcon.pixmap(32).toImage().convertToFormat(QImage::Format_RGBA8888);
        NotifyImage raw;
        raw.width = image.width();
        raw.height = image.height();
        raw.rowStride = static_cast<int>(image.bytesPerLine());
        raw.data = QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(raw));
    }
    // A server that reads markup in the body would take "<" and "&" for it.
    const QString body = ServerReadsBodyMarkup() ? text.toHtmlEscaped() : text;
    QDBusMessage notify = QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyInterface, QStringLiteral("Notify"));
    notify << QGuiApplication::applicationDisplayName() << uint(0) << iconName << title << body
           << QStringList{QStringLiteral("default"), QStringLiteral("Open")} << hints << timeoutMs;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, key, serial](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) return;  // no balloon, so no notice of one
        const uint id = reply.value();
        notices_[id] = Notice{key};
        Post(key, NIN_BALLOONSHOW);
        auto it = icons_.find(key);
        if (it != icons_.end() && it->second.balloonSerial == serial) {
            it->second.notification = id;
            return;
        }
        // Replaced or taken down while on its way.
        QDBusMessage close =
            QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyInterface, QStringLiteral("CloseNotification"));
        close << id;
        QDBusConnection::sessionBus().asyncCall(close);
    });
}

void QtNotifyIcons::NotificationClosed(uint id, uint reason)
{
    auto it = notices_.find(id);
    if (it == notices_.end()) return;
    const Notice notice = it->second;
    notices_.erase(it);
    auto icon = icons_.find(notice.icon);
    if (icon != icons_.end() && icon->second.notification == id) icon->second.notification = 0;
    // As the shell: a balloon the user clicked is not reported hidden as well.
    if (notice.clicked) return;
    Post(notice.icon, reason == kClosedExpired ? NIN_BALLOONTIMEOUT : NIN_BALLOONHIDE);
}

void QtNotifyIcons::ActionInvoked(uint id, const QString& actionKey)
{
    auto it = notices_.find(id);
    if (it == notices_.end() || actionKey != QLatin1String("default")) return;
    it->second.clicked = true;
    Post(it->second.icon, NIN_BALLOONUSERCLICK);
}

// ---- icons going and the tray host coming back -------------------------------------

void QtNotifyIcons::Remove(Icon& icon)
{
    HideBalloon(icon);
    if (frames_) frames_->Forget(icon.tray);
    icon.tray->hide();
    icon.tray->deleteLater();  // may be inside its own signal
    icon.tray = nullptr;
    delete icon.messageTimeout;
    icon.messageTimeout = nullptr;
}

void QtNotifyIcons::WatchHost()
{
    if (hostWatched_) return;
    hostWatched_ = true;
    // The toolkit makes the same choice once, at its first tray icon.
    QDBusConnection bus = QDBusConnection::sessionBus();
    statusNotifier_ = QGuiApplication::platformName() != QLatin1String("xcb") ||
                      (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kWatcherService).value());
    if (statusNotifier_) {
        qDBusAddSpyHook(SpyOnItemCall);
        auto* watcher = new QDBusServiceWatcher(kWatcherService, bus,
                                                QDBusServiceWatcher::WatchForRegistration |
                                                    QDBusServiceWatcher::WatchForUnregistration,
                                                this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
            HostAppeared();
            StatusNotifierHostChanged();
        });
        connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
            ++hostQuestion_;
            SetHostPresent(false);
        });
        // A watcher may be there with no host to show its items.
        for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
            bus.connect(kWatcherService, kWatcherPath, kWatcherInterface, QLatin1String(signal), this,
                        SLOT(StatusNotifierHostChanged()));
        if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kWatcherService).value()) {
            const QDBusReply<QDBusVariant> reply = bus.call(AskHostRegistered(), QDBus::Block, 2000);
            hostPresent_ = reply.isValid() && reply.value().variant().toBool();
        }
        return;
    }
    // An XEmbed tray host announces itself with a MANAGER message on the root
    // window when it takes the tray selection, a restarted one too, even
    // under the window id of the one before: listen for that, no polling.
    // Its going is the destruction of the selection owner's window.
    hostFilter_ = WatchTrayManager(this);
    frames_ = std::make_unique<XTrayFrames>();
    FollowTrayOwner();
}

bool QtNotifyIcons::HostPresent()
{
    WatchHost();
    return hostPresent_;
}

void QtNotifyIcons::SetHostPresent(bool present)
{
    if (present == hostPresent_) return;
    hostPresent_ = present;
    TraceMark(present ? "tray-host-present" : "tray-host-gone");
    if (OnHostChanged) OnHostChanged(present);
}

void QtNotifyIcons::StatusNotifierHostChanged()
{
    const unsigned question = ++hostQuestion_;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(AskHostRegistered(), 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, question](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (question != hostQuestion_) return;
        const QDBusPendingReply<QDBusVariant> reply = *w;
        SetHostPresent(!reply.isError() && reply.value().variant().toBool());
    });
}

void QtNotifyIcons::FollowTrayOwner()
{
    SetHostPresent(hostFilter_ && WatchTrayOwner(hostFilter_.get()) != 0);
}

void QtNotifyIcons::TrayWindowChanged()
{
    FollowTrayOwner();
    if (hostPresent_) HostAppeared();
}

void QtNotifyIcons::TrayOwnerGone()
{
    FollowTrayOwner();  // a successor may have taken the selection already
}

void QtNotifyIcons::HostAppeared()
{
    // As after a shell restart: no icon of ours is left; their owners add
    // them again when told.
    for (auto& [key, icon] : icons_) Remove(icon);
    icons_.clear();
    windows_.BroadcastMessage(windows_.RegisterWindowMessage("TaskbarCreated"), 0, 0);
}

std::unique_ptr<INotifyIcons> CreateDesktopNotifyIcons(IMessageWindows& windows)
{
    return std::make_unique<QtNotifyIcons>(windows);
}

// ---- Xlib ----------------------------------------------------------------------------

#include <X11/Xlib.h>

static unsigned long SystemTrayOwner()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) return 0;
    static Atom selection = 0;
    if (!selection) {
        const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display));
        selection = XInternAtom(display, name.constData(), False);
    }
    return XGetSelectionOwner(display, selection);
}

#include <QAbstractNativeEventFilter>
#include <xcb/xcb.h>

namespace {
// Queues TrayWindowChanged on the receiver for each MANAGER message that
// announces a new owner of the tray selection, and TrayOwnerGone when the
// owner's window followed is destroyed.
class TrayManagerFilter : public QAbstractNativeEventFilter {
public:
    TrayManagerFilter(QObject* receiver, std::uint32_t manager, std::uint32_t selection)
        : receiver_(receiver), manager_(manager), selection_(selection)
    {
    }
    ~TrayManagerFilter() override
    {
        if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
    }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) == XCB_DESTROY_NOTIFY) {
            const auto* d = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            if (owner_ && d->window == owner_ && receiver_)
                QMetaObject::invokeMethod(receiver_, "TrayOwnerGone", Qt::QueuedConnection);
            return false;
        }
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
        const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if (m->format == 32 && m->type == manager_ && m->data.data32[1] == selection_ && receiver_)
            QMetaObject::invokeMethod(receiver_, "TrayWindowChanged", Qt::QueuedConnection);
        return false;
    }

    std::uint32_t owner_ = 0;

private:
    QPointer<QObject> receiver_;
    std::uint32_t manager_, selection_;
};
}  // namespace

// The tray selection's owner now, with its destruction reported to the
// filter; 0 without one.
static unsigned long WatchTrayOwner(QAbstractNativeEventFilter* filter)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    auto* tray = static_cast<TrayManagerFilter*>(filter);
    if (!connection) return tray->owner_ = 0;
    unsigned long owner = SystemTrayOwner();
    // The owner may go between the question and the selection of its
    // events; asked again after it, an owner gone by then reads as none.
    for (int tries = 0; owner && tries < 3; ++tries) {
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, static_cast<xcb_window_t>(owner), XCB_CW_EVENT_MASK, &mask);
        const unsigned long again = SystemTrayOwner();
        if (again == owner) break;
        owner = again;
    }
    tray->owner_ = static_cast<std::uint32_t>(owner);
    return owner;
}

static std::unique_ptr<QAbstractNativeEventFilter> WatchTrayManager(QObject* receiver)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) return nullptr;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display));
    auto filter = std::make_unique<TrayManagerFilter>(receiver, XInternAtom(display, "MANAGER", False),
                                                      XInternAtom(display, name.constData(), False));
    QCoreApplication::instance()->installNativeEventFilter(filter.get());
    return filter;
}

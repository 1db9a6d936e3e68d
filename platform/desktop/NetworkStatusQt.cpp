#include "platform/desktop/NetworkStatusQt.h"

#include <QNetworkInformation>
#include <QObject>
#include <QTimer>

namespace {
class QtNetworkStatus : public INetworkStatus {
public:
    // The backend asks the system's network service over the bus: done on
    // the first turn of the event loop, so the window's start does not wait.
    QtNetworkStatus() { QTimer::singleShot(0, &context_, [this] { Load(); }); }
    ~QtNetworkStatus() override { QObject::disconnect(connection_); }

private:
    void Load()
    {
        if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) return;
        QNetworkInformation* info = QNetworkInformation::instance();
        if (!info) return;
        online_ = info->reachability() == QNetworkInformation::Reachability::Online;
        connection_ = QObject::connect(info, &QNetworkInformation::reachabilityChanged, &context_,
                                       [this](QNetworkInformation::Reachability r) {
                                           const bool online = r == QNetworkInformation::Reachability::Online;
                                           const bool back = online && !online_;
                                           online_ = online;
                                           if (back && OnOnline) OnOnline();
                                       });
    }

    QObject context_;
    bool online_ = true;
    QMetaObject::Connection connection_;
};
}  // namespace

std::unique_ptr<INetworkStatus> CreateDesktopNetworkStatus()
{
    return std::make_unique<QtNetworkStatus>();
}

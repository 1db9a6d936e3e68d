#include "platform/desktop/NetworkStatusQt.h"

#include <QNetworkInformation>
#include <QObject>

namespace {
class QtNetworkStatus : public INetworkStatus {
public:
    QtNetworkStatus()
    {
        if (!QNetworkInformation::load(QNetworkInformation::Feature::Reachability)) return;
        QNetworkInformation* info = QNetworkInformation::instance();
        if (!info) return;
        online_ = info->reachability() == QNetworkInformation::Reachability::Online;
        connection_ = QObject::connect(info, &QNetworkInformation::reachabilityChanged,
                                       [this](QNetworkInformation::Reachability r) {
                                           const bool online = r == QNetworkInformation::Reachability::Online;
                                           const bool back = online && !online_;
                                           online_ = online;
                                           if (back && OnOnline) OnOnline();
                                       });
    }
    ~QtNetworkStatus() override { QObject::disconnect(connection_); }

private:
    bool online_ = true;
    QMetaObject::Connection connection_;
};
}  // namespace

std::unique_ptr<INetworkStatus> CreateDesktopNetworkStatus()
{
    return std::make_unique<QtNetworkStatus>();
}

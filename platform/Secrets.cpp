#include "platform/Secrets.h"

#include <QString>
#include <QUrl>

std::string SecretLabel(const SecretKey& key)
{
    const QUrl url(QString::fromStdString(key.baseUrl));
    const std::string host = url.host().isEmpty() ? key.baseUrl : url.host().toStdString();
    return "Chronel Timer: " + key.user + " at " + host;
}

#include "platform/desktop/DesktopSingleInstance.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {
const char* const kObjectPath = "/org/chronel/Timer";
const char* const kInterface = "org.chronel.Timer.Instance";
constexpr int kAnswerMs = 10000;
const QByteArray kRaise = "raise\n";
const QByteArray kDone = "ok\n";

QString Hash(const std::string& key)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromStdString(key), QCryptographicHash::Sha256).toHex().left(32));
}

QString SocketName(const std::string& key)
{
    return QStringLiteral("chronel-timer-%1-%2").arg(::getuid()).arg(Hash(key));
}
}  // namespace

DesktopSingleInstance::DesktopSingleInstance(bool useSessionBus) : useSessionBus_(useSessionBus) {}

DesktopSingleInstance::~DesktopSingleInstance() = default;

std::string DesktopSingleInstance::InstanceKey(const std::string& settingsPath)
{
    const QFileInfo file(QString::fromStdString(settingsPath));
    if (file.exists()) return file.canonicalFilePath().toStdString();
    // Not created yet: its folder decides.
    const QFileInfo dir(file.absolutePath());
    const QString folder = dir.exists() ? dir.canonicalFilePath() : QDir::cleanPath(file.absolutePath());
    return (folder.endsWith('/') ? folder : folder + '/').toStdString() + file.fileName().toStdString();
}

std::string DesktopSingleInstance::BusName(const std::string& settingsPath)
{
    return "org.chronel.Timer.Settings_" + Hash(InstanceKey(settingsPath)).toStdString();
}

ISingleInstance::Claim DesktopSingleInstance::ClaimSettingsFile(const std::string& settingsPath)
{
    error_.clear();
    const std::string key = InstanceKey(settingsPath);
    if (useSessionBus_ && QDBusConnection::sessionBus().isConnected()) return ClaimOnBus(key);
    return ClaimWithLock(key);
}

ISingleInstance::Claim DesktopSingleInstance::ClaimOnBus(const std::string& key)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString name = QString::fromStdString("org.chronel.Timer.Settings_" + Hash(key).toStdString());
    // Ready before the name is, so a start that finds the name can call.
    bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots);
    // The bus hands a name to one owner at a time: two starts at once cannot both win.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto reply = bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                                            QDBusConnectionInterface::DontAllowReplacement);
        if (!reply.isValid()) {
            error_ = "could not claim the bus name " + name.toStdString() + ": " +
                     reply.error().message().toStdString();
            return Claim::Failed;
        }
        if (reply.value() == QDBusConnectionInterface::ServiceRegistered) return Claim::First;
        const QDBusMessage answer =
            bus.call(QDBusMessage::createMethodCall(name, kObjectPath, kInterface, "Raise"), QDBus::Block, kAnswerMs);
        if (answer.type() == QDBusMessage::ReplyMessage) return Claim::Raised;
        // The owner ended in between: try to take the name again.
        if (answer.errorName() == "org.freedesktop.DBus.Error.ServiceUnknown" ||
            answer.errorName() == "org.freedesktop.DBus.Error.NameHasNoOwner")
            continue;
        error_ = "another instance runs with the settings file " + key + " but did not answer: " +
                 answer.errorMessage().toStdString();
        return Claim::Failed;
    }
    error_ = "another instance with the settings file " + key + " keeps starting and ending";
    return Claim::Failed;
}

ISingleInstance::Claim DesktopSingleInstance::ClaimWithLock(const std::string& key)
{
    // Beside the file as the key names it, so every spelling meets the same lock.
    const QString lockPath = QString::fromStdString(key) + ".lock";
    const QString socketName = SocketName(key);
    for (int attempt = 0; attempt < 3; ++attempt) {
        lock_ = std::make_unique<QLockFile>(lockPath);
        // Only a dead owner makes a lock stale, never its age.
        lock_->setStaleLockTime(0);
        if (lock_->tryLock(0)) {
            server_ = new QLocalServer(this);
            server_->setSocketOptions(QLocalServer::UserAccessOption);
            QLocalServer::removeServer(socketName);  // left by an owner that died
            server_->listen(socketName);
            connect(server_, &QLocalServer::newConnection, this, [this] {
                while (QLocalSocket* peer = server_->nextPendingConnection()) {
                    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                    connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                        if (!peer->canReadLine()) return;
                        if (peer->readLine() == kRaise) {
                            peer->write(kDone);
                            peer->flush();
                            Raise();
                        }
                        peer->disconnectFromServer();
                    });
                }
            });
            return Claim::First;
        }
        if (lock_->error() != QLockFile::LockFailedError) {
            // The folder takes no lock file (nor, mostly, a settings file): run unguarded.
            std::fprintf(stderr, "ChronelGui: cannot create the lock file %s; a second start is not detected.\n",
                         lockPath.toLocal8Bit().constData());
            lock_.reset();
            return Claim::First;
        }
        QLocalSocket socket;
        socket.connectToServer(socketName);
        if (socket.waitForConnected(kAnswerMs)) {
            socket.write(kRaise);
            socket.flush();
            while (!socket.canReadLine() && socket.waitForReadyRead(kAnswerMs)) {
            }
            if (socket.canReadLine() && socket.readLine() == kDone) return Claim::Raised;
        }
        qint64 pid = 0;
        QString host, app;
        if (!lock_->getLockInfo(&pid, &host, &app)) continue;  // released meanwhile
        error_ = "another instance (process " + std::to_string(pid) + ") uses the settings file " + key +
                 " but did not answer (lock file " + lockPath.toStdString() + ")";
        lock_.reset();
        return Claim::Failed;
    }
    error_ = "the lock file " + lockPath.toStdString() + " keeps changing hands";
    lock_.reset();
    return Claim::Failed;
}

void DesktopSingleInstance::Raise()
{
    // After the answer: the caller need not wait for the window.
    QTimer::singleShot(0, this, [this] {
        if (OnRaise) OnRaise();
    });
}

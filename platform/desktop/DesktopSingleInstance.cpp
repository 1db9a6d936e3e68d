#include "platform/desktop/DesktopSingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char* const kObjectPath = "/org/chronel/Timer";
const char* const kInterface = "org.chronel.Timer.Instance";
const char* const kClosingError = "org.chronel.Timer.Instance.Error.Closing";
constexpr int kAnswerMs = 10000;
constexpr unsigned long kRetryMs = 100;
const QByteArray kRaise = "raise\n";
const QByteArray kConfirm = "confirm\n";
const QByteArray kDone = "ok\n";
const QByteArray kClosing = "closing\n";

// A folder only this user can enter: one whose owner is this user and that
// nobody else may read, write or pass through. Not a symbolic link.
bool IsPrivateFolder(const QString& path, std::string* why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = path.toStdString() + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
    ::close(fd);
    if (!ok) *why = path.toStdString() + " is not this user's own private folder";
    return ok;
}
}  // namespace

std::string DesktopSingleInstance::SocketFolder(std::string* error)
{
    std::string why;
    // The session's runtime folder, where it is what it should be.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && IsPrivateFolder(runtime, &why))
        return QDir::cleanPath(runtime).toStdString();
    // Else a folder of our own in the shared temporary folder. The name is
    // known in advance, so another user may have taken it first: a folder
    // made now or found is used only when it is ours and closed to others.
    const QString own = QDir::tempPath() + QStringLiteral("/chronel-timer-%1").arg(::getuid());
    if (::mkdir(QFile::encodeName(own).constData(), 0700) != 0 && errno != EEXIST) {
        if (error) *error = own.toStdString() + ": " + std::strerror(errno);
        return {};
    }
    if (!IsPrivateFolder(own, &why)) {
        if (error) *error = why;
        return {};
    }
    return own.toStdString();
}

namespace {
QString SocketFile(const std::string& folder, const std::string& key)
{
    return QString::fromStdString(folder) + QStringLiteral("/chronel-timer-") +
           QString::fromStdString(DesktopSingleInstance::KeyDigest(key));
}

// A lock's owner runs here when its process number is a live copy of this
// program on this machine. The host name and machine id it wrote do not
// count: a shared home folder meets other machines' ids, and a machine's id
// may change under a lock left by a crash. A process that cannot be looked
// at is another user's, not the owner.
bool OwnerRunsHere(qint64 pid)
{
    if (pid <= 0) return false;
    // An upgrade replaces the file under a running program: the link then names it "(deleted)".
    const auto program = [](const QString& link) {
        QString exe = QFile::symLinkTarget(link);
        if (exe.endsWith(" (deleted)")) exe.chop(10);
        return QFileInfo(exe).fileName();
    };
    const QString owner = program(QStringLiteral("/proc/%1/exe").arg(pid));
    return !owner.isEmpty() && owner == program("/proc/self/exe");
}
}  // namespace

DesktopSingleInstance::DesktopSingleInstance(bool useSessionBus, int closingWaitMs)
    : useSessionBus_(useSessionBus), closingWaitMs_(closingWaitMs)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &DesktopSingleInstance::StopAnswering);
}

DesktopSingleInstance::~DesktopSingleInstance() = default;

std::string DesktopSingleInstance::KeyDigest(const std::string& key)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(key), QCryptographicHash::Sha256)
        .toHex()
        .left(32)
        .toStdString();
}

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
    return "org.chronel.Timer.Settings_" + KeyDigest(InstanceKey(settingsPath));
}

ISingleInstance::Claim DesktopSingleInstance::ClaimSettingsFile(const std::string& settingsPath, bool show)
{
    error_.clear();
    const std::string key = InstanceKey(settingsPath);
    if (useSessionBus_ && QDBusConnection::sessionBus().isConnected()) return ClaimOnBus(key, show);
    return ClaimWithLock(key, show);
}

ISingleInstance::Claim DesktopSingleInstance::ClaimOnBus(const std::string& key, bool show)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString name = QString::fromStdString("org.chronel.Timer.Settings_" + KeyDigest(key));
    // Ready before the name is, so a start that finds the name can call.
    bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots);
    QElapsedTimer waited;
    waited.start();
    // The bus hands a name to one owner at a time: two starts at once cannot both win.
    for (;;) {
        const auto reply = bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                                            QDBusConnectionInterface::DontAllowReplacement);
        if (!reply.isValid()) {
            error_ = "could not claim the bus name " + name.toStdString() + ": " +
                     reply.error().message().toStdString();
            return Claim::Failed;
        }
        if (reply.value() == QDBusConnectionInterface::ServiceRegistered) return Claim::First;
        const QDBusMessage answer = bus.call(
            QDBusMessage::createMethodCall(name, kObjectPath, kInterface, show ? "Raise" : "Confirm"), QDBus::Block,
            kAnswerMs);
        if (answer.type() == QDBusMessage::ReplyMessage) return Claim::Running;
        const QString error = answer.errorName();
        // An owner of an older version has no Confirm: it runs on all the same.
        if (error == "org.freedesktop.DBus.Error.UnknownMethod") return Claim::Running;
        // A closing owner refuses, or has no object left to call once its
        // event loop has ended; one that ended meanwhile leaves the name free.
        const bool closing = error == kClosingError || error == "org.freedesktop.DBus.Error.UnknownObject";
        const bool gone =
            error == "org.freedesktop.DBus.Error.ServiceUnknown" || error == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
            (error == "org.freedesktop.DBus.Error.NoReply" && !bus.interface()->isServiceRegistered(name));
        if (!closing && !gone) {
            error_ = "another instance runs with the settings file " + key + " but did not answer: " +
                     answer.errorMessage().toStdString();
            return Claim::Failed;
        }
        if (waited.elapsed() > closingWaitMs_) {
            error_ = "another instance with the settings file " + key + " is still closing after " +
                     std::to_string(closingWaitMs_ / 1000) + " seconds";
            return Claim::Failed;
        }
        if (closing) QThread::msleep(kRetryMs);
    }
}

void DesktopSingleInstance::Listen(const QString& socketPath)
{
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath);  // left by an owner that died
    if (!server_->listen(socketPath)) {
        // The settings file is ours all the same (the lock says so); only a
        // later start cannot reach us to show the window.
        std::fprintf(stderr,
                     "ChronelGui: cannot listen on %s (%s); a second start with this settings file will not find "
                     "this one.\n",
                     socketPath.toLocal8Bit().constData(), server_->errorString().toLocal8Bit().constData());
        delete server_;
        server_ = nullptr;
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (!peer->canReadLine()) return;
                const QByteArray request = peer->readLine();
                if (request == kRaise || request == kConfirm) {
                    const bool closing = IsClosing();
                    peer->write(closing ? kClosing : kDone);
                    peer->flush();
                    if (!closing && request == kRaise) Raise();
                }
                peer->disconnectFromServer();
            });
        }
    });
}

DesktopSingleInstance::Answer DesktopSingleInstance::Ask(const QString& socketName, const QByteArray& request)
{
    QLocalSocket socket;
    socket.connectToServer(socketName);
    // No one listening: the owner has stopped answering, or not begun yet.
    if (!socket.waitForConnected(kAnswerMs)) return Answer::Closing;
    socket.write(request);
    socket.flush();
    while (!socket.canReadLine() && socket.waitForReadyRead(kAnswerMs)) {
    }
    if (!socket.canReadLine()) return Answer::None;
    const QByteArray line = socket.readLine();
    return line == kDone ? Answer::Done : line == kClosing ? Answer::Closing : Answer::None;
}

ISingleInstance::Claim DesktopSingleInstance::ClaimWithLock(const std::string& key, bool show)
{
    // Beside the file as the key names it, so every spelling meets the same lock.
    const QString lockPath = QString::fromStdString(key) + ".lock";
    std::string folderError;
    const std::string folder = SocketFolder(&folderError);
    const QString socketName = folder.empty() ? QString() : SocketFile(folder, key);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        lock_ = std::make_unique<QLockFile>(lockPath);
        // Only a dead owner makes a lock stale, never its age.
        lock_->setStaleLockTime(0);
        if (lock_->tryLock(0)) {
            if (!socketName.isEmpty()) Listen(socketName);
            else
                std::fprintf(stderr,
                             "ChronelGui: no private folder for the one-instance socket (%s); a second start with "
                             "this settings file will not find this one.\n",
                             folderError.c_str());
            return Claim::First;
        }
        if (lock_->error() != QLockFile::LockFailedError) {
            // The folder takes no lock file (nor, mostly, a settings file): run unguarded.
            std::fprintf(stderr, "ChronelGui: cannot create the lock file %s; a second start is not detected.\n",
                         lockPath.toLocal8Bit().constData());
            lock_.reset();
            return Claim::First;
        }
        if (socketName.isEmpty()) {
            error_ = "another instance holds the settings file " + key + " (lock file " + lockPath.toStdString() +
                     ") but cannot be asked to show itself: no private folder for the one-instance socket (" +
                     folderError + ")";
            lock_.reset();
            return Claim::Failed;
        }
        const Answer answer = Ask(socketName, show ? kRaise : kConfirm);
        if (answer == Answer::Done) return Claim::Running;
        qint64 pid = 0;
        QString host, app;
        if (!lock_->getLockInfo(&pid, &host, &app)) continue;  // released meanwhile
        if (!OwnerRunsHere(pid)) {
            // Left by a crash. The removal takes the file's own lock first,
            // so a live owner's lock stays, wherever that owner runs.
            if (lock_->removeStaleLockFile()) continue;
            error_ = "the lock file " + lockPath.toStdString() + " is held by process " + std::to_string(pid) +
                     " on " + host.toStdString() + ", which cannot be reached from here";
            lock_.reset();
            return Claim::Failed;
        }
        if (answer == Answer::None) {
            error_ = "another instance (process " + std::to_string(pid) + ") uses the settings file " + key +
                     " but did not answer (lock file " + lockPath.toStdString() + ")";
            lock_.reset();
            return Claim::Failed;
        }
        if (waited.elapsed() > closingWaitMs_) {
            error_ = "another instance (process " + std::to_string(pid) + ") with the settings file " + key +
                     " is still closing after " + std::to_string(closingWaitMs_ / 1000) + " seconds";
            lock_.reset();
            return Claim::Failed;
        }
        QThread::msleep(kRetryMs);
    }
}

std::string DesktopSingleInstance::SocketPath() const
{
    return server_ ? server_->fullServerName().toStdString() : std::string();
}

bool DesktopSingleInstance::IsClosing() const
{
    return stopped_ || (Closing && Closing());
}

bool DesktopSingleInstance::RefusedOnBus()
{
    if (!IsClosing()) return false;
    if (calledFromDBus()) sendErrorReply(kClosingError, "this instance is closing");
    return true;
}

void DesktopSingleInstance::Raise()
{
    if (RefusedOnBus()) return;
    // After the answer: the caller need not wait for the window.
    QTimer::singleShot(0, this, [this] {
        if (OnRaise) OnRaise();
    });
}

void DesktopSingleInstance::Confirm()
{
    RefusedOnBus();
}

void DesktopSingleInstance::StopAnswering()
{
    if (stopped_) return;
    stopped_ = true;
    // Calls are then answered by the bus library itself (no such object),
    // also while this process is busy ending.
    if (QDBusConnection::sessionBus().isConnected()) QDBusConnection::sessionBus().unregisterObject(kObjectPath);
    if (server_) server_->close();
}

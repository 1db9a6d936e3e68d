#pragma once
// One instance per settings file: a well-known name on the session bus, or
// without a bus a lock file beside the settings file and a local socket in a
// folder only this user can enter.
#include <QDBusContext>
#include <QObject>
#include <memory>
#include <string>

#include "platform/SingleInstance.h"

class QLocalServer;
class QLockFile;

class DesktopSingleInstance : public QObject, public ISingleInstance, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.chronel.Timer.Instance")
public:
    // useSessionBus false: the lock file even where a session bus exists.
    // closingWaitMs: how long a later start waits for a closing owner to end.
    explicit DesktopSingleInstance(bool useSessionBus = true, int closingWaitMs = 60000);
    ~DesktopSingleInstance() override;
    Claim ClaimSettingsFile(const std::string& settingsPath, bool show) override;
    std::string Error() const override { return error_; }

    // The program is ending: from now on a later start gets no answer from
    // here and waits until this process has gone. Runs when the event loop ends.
    void StopAnswering();

    // The file as one key: symbolic links and "." or ".." resolved.
    static std::string InstanceKey(const std::string& settingsPath);
    // A short hexadecimal digest of a key, for names derived from it.
    static std::string KeyDigest(const std::string& key);
    // The program's own bus name for a settings file.
    static std::string BusName(const std::string& settingsPath);
    // Where the local socket goes: the session's runtime folder when it is
    // private, else a private folder of the program's own in the temporary
    // folder. Empty (and *error says why) when there is no such folder.
    static std::string SocketFolder(std::string* error = nullptr);
    // The socket this instance listens on; empty when it does not.
    std::string SocketPath() const;

public Q_SLOTS:
    // Called over the bus by a later start: show the main window.
    Q_SCRIPTABLE void Raise();
    // Called over the bus by a later start into the tray: only answers
    // (with an error while closing).
    Q_SCRIPTABLE void Confirm();

private:
    enum class Answer { Done, Closing, None };
    Claim ClaimOnBus(const std::string& key, bool show);
    Claim ClaimWithLock(const std::string& key, bool show);
    void Listen(const QString& socketPath);
    bool IsClosing() const;
    // Refuses a bus call while closing; true when it did.
    bool RefusedOnBus();
    static Answer Ask(const QString& socketName, const QByteArray& request);

    bool useSessionBus_;
    int closingWaitMs_;
    bool stopped_ = false;
    std::string error_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

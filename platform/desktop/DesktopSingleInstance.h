#pragma once
// One instance per settings file: a well-known name on the session bus, or
// without a bus a lock file beside the settings file and a local socket.
#include <QObject>
#include <memory>
#include <string>

#include "platform/SingleInstance.h"

class QLocalServer;
class QLockFile;

class DesktopSingleInstance : public QObject, public ISingleInstance {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.chronel.Timer.Instance")
public:
    // useSessionBus false: the lock file even where a session bus exists.
    explicit DesktopSingleInstance(bool useSessionBus = true);
    ~DesktopSingleInstance() override;
    Claim ClaimSettingsFile(const std::string& settingsPath) override;
    std::string Error() const override { return error_; }

    // The file as one key: symbolic links and "." or ".." resolved.
    static std::string InstanceKey(const std::string& settingsPath);
    // The program's own bus name for a settings file.
    static std::string BusName(const std::string& settingsPath);

public Q_SLOTS:
    // Called over the bus by a later start.
    Q_SCRIPTABLE void Raise();

private:
    Claim ClaimOnBus(const std::string& key);
    Claim ClaimWithLock(const std::string& key);

    bool useSessionBus_;
    std::string error_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

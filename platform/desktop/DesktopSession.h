#pragma once
// The session on the Linux desktop: termination signals, the session
// manager (through the toolkit) and logind's sleep signal with a delay lock.
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <cstdint>

#include "platform/Session.h"

class QSocketNotifier;

class DesktopSession : public QObject, public ISession {
    Q_OBJECT
public:
    DesktopSession();
    ~DesktopSession() override;

    // Time the machine has spent suspended since boot, in milliseconds.
    static std::int64_t SuspendedMs();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void PrepareForSleep(bool start);

private:
    void SignalArrived();
    void TakeDelayLock();

    QSocketNotifier* notifier_ = nullptr;
    QDBusUnixFileDescriptor delayLock_;
    bool lockRequested_ = false;
    std::int64_t suspendedAtSleep_ = -1;
};

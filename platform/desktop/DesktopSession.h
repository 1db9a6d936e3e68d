#pragma once
// The session on the Linux desktop: termination signals, the session
// manager (through the toolkit) and logind's sleep signal with a delay lock.
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/Platform.h"

#include "platform/LastInput.h"
#include "platform/Session.h"

class QSocketNotifier;

// Last input as the idle rules need it: time asleep counts as idle time (the
// tick count stops while the machine sleeps), until the next input.
class SleepAwareLastInput : public ILastInput {
public:
    explicit SleepAwareLastInput(ILastInput* inner) : inner_(inner) {}
    bool GetLastInputTick(std::uint32_t& tick) override;
    bool Failing() const override { return !inner_ || inner_->Failing(); }
    // The machine slept this long since the last input.
    void Slept(std::uint32_t ms);

private:
    ILastInput* inner_;
    std::uint32_t sleptMs_ = 0;
    std::uint32_t inputAtSleep_ = 0;
};

class DesktopSession : public QObject, public ISession {
    Q_OBJECT
public:
    DesktopSession();
    ~DesktopSession() override;

    // Time the machine has spent suspended since boot, in milliseconds.
    static std::int64_t SuspendedMs();
    // Counts sleep as idle time in the platform's last-input service from now on.
    void CountSleepAsIdle(Platform& platform);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void PrepareForSleep(bool start);

private:
    void SignalArrived();
    void TakeDelayLock();

    QSocketNotifier* notifier_ = nullptr;
    std::unique_ptr<SleepAwareLastInput> lastInput_;
    QDBusUnixFileDescriptor delayLock_;
    bool lockRequested_ = false;
    std::optional<std::int64_t> suspendedAtSleep_;  // set between the sleep and the resume
};

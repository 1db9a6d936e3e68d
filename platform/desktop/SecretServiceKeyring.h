#pragma once
// The password in the freedesktop Secret Service (GNOME Keyring, KWallet,
// KeePassXC, ...) through libsecret's asynchronous calls, whose answers the
// toolkit's message loop delivers: no thread of ours.
#include <memory>
#include <set>

#include "platform/Secrets.h"

class QDBusServiceWatcher;
class QTimer;

class SecretServiceKeyring : public ISecrets {
public:
    SecretServiceKeyring();
    // Pending calls are let go, not cancelled (see CancelAll); their answers never come.
    ~SecretServiceKeyring() override;
    void Probe(Answer answer) override;
    void Read(const SecretKey& key, Answer answer) override;
    void Store(const SecretKey& key, const std::string& password, Answer answer) override;
    void Delete(const SecretKey& key, Answer answer) override;
    // Nothing is cancelled: cancelling a call's GCancellable makes libsecret
    // dismiss the prompt it waits on.
    void CancelAll() override;
    void WatchService(std::function<void()> appeared) override;

    struct Call;

private:
    void Start(std::unique_ptr<Call> call);
    friend struct Call;
    std::set<Call*> calls_;
    // Where the toolkit's loop does not run GLib's (QT_NO_GLIB), it is run
    // from a timer while calls are on their way.
    std::unique_ptr<QTimer> glibPump_;
    std::unique_ptr<QDBusServiceWatcher> watcher_;
    std::function<void()> appeared_;
};

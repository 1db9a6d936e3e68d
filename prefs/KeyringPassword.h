#pragma once
// The password kept in the desktop's keyring instead of the settings file:
// where it lives, its moves between the two, and what the login may use.
//
// The box "Keep the password in the desktop's keyring" is the user's wish;
// where the password lives is changed only once the keyring has answered, so
// that no step loses it: the file gives it up after the keyring took it, and
// gets it back before the keyring's entry is removed. The keyring's calls go
// one at a time, in the order they were asked for.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "components/Controls.h"
#include "platform/Secrets.h"

class TKeyringPassword {
public:
    TKeyringPassword(TEdit& password, TCheckBox& box);
    ~TKeyringPassword();
    TKeyringPassword(const TKeyringPassword&) = delete;
    TKeyringPassword& operator=(const TKeyringPassword&) = delete;

    // Whose password it is: the base URL and user name as typed.
    std::function<SecretKey()> KeyOf;
    // Writes the settings file now (a move ended); false when that failed
    // (the failure has been shown).
    std::function<bool()> OnSaveNow;

    // ---- the settings file
    // After a load: the file's PasswordInKeyring and (clear) Password.
    void Loaded(bool inKeyring, const std::string& filePassword);
    // No settings file yet: the box is ticked where a keyring answers
    // unlocked (also one that appears later in the run), unless the user or
    // a load set it first.
    void FirstRun();
    // Where the password lives, as the file says it once written.
    bool InKeyring() const { return inKeyring_; }
    // The Password key's value in clear: empty while the keyring keeps it.
    std::string PasswordForFile() const;
    // The file has been written: a password changed while the keyring keeps
    // it (or one for another user name) goes to the keyring now.
    void Saved();
    // Before the program ends: waits at most ms (never above kSettleMaxMs)
    // for the keyring to take a changed password, then lets every call on
    // its way go unanswered. A password not taken by then is kept for this
    // run only, as the user chose the keyring for it: the file still says
    // the keyring has it.
    void Settle(std::uint32_t ms);
    static constexpr std::uint32_t kSettleMaxMs = 1000;
    // A call is on its way.
    bool Busy() const { return running_ || !queue_.empty(); }

    // ---- the login
    enum class Login { Ready, Waiting, Unavailable };
    // Ready: the password field holds the password to log in with. Waiting:
    // the keyring has not answered yet; then runs when it has. Unavailable:
    // Problem() says why; then runs if a keyring service that appears later
    // gives the password. A failure is reported once; the next login after
    // it asks the keyring again.
    Login ForLogin(std::function<void()> then);
    // Why the keyring did not give the password, for the user.
    const std::string& Problem() const { return problem_; }
    // The status page's text for it.
    std::string UnavailableMessage() const;
    // The keyring is being asked for the password.
    bool Reading() const { return reading_; }

    // ---- the user
    void BoxClicked();
    void PasswordTyped();

private:
    using Call = std::function<void(ISecrets&, ISecrets::Answer)>;
    using Handle = std::function<void(const SecretAnswer&)>;
    void Run(Call call, Handle handle);
    void Probe();
    // A keyring service took its name on the bus.
    void ServiceAppeared();
    void RunNext();
    void SetBox(bool ticked);
    void SetField(const std::string& password);
    void StartRead(const SecretKey& key);
    void MoveToKeyring();
    void MoveToFile();
    // The file holds the password now; then the keyring's entry goes.
    void CommitToFile(const std::optional<SecretKey>& entry);
    void StoreChanged(const SecretKey& key);
    // A changed password the keyring did not take: asked whether it goes to the file.
    void StoreFailed(const std::string& reason);
    void DeleteEntry(const SecretKey& key);
    void Tell(const std::string& text);
    void Moving(bool moving);

    TEdit& password_;
    TCheckBox& box_;
    bool inKeyring_ = false;
    // The field holds the password (in the file's case it always does).
    bool known_ = true;
    // Whose password the field holds, once known from the keyring or typed.
    std::optional<SecretKey> fieldKey_;
    // The entry the keyring holds for us, as far as this run knows.
    std::optional<SecretKey> entryKey_;
    // Typed since the keyring last took or gave it: it must be stored.
    bool typed_ = false;
    // A changed password is on its way to the keyring and kept nowhere else.
    bool unsafe_ = false;
    bool reading_ = false;
    bool moving_ = false;
    bool boxSet_ = false;  // by a load or the user: the first run's default does not apply
    bool probed_ = false;
    bool firstRun_ = false;  // no settings file: the box's default is the keyring's to say
    bool probing_ = false;
    bool settingBox_ = false;
    bool storing_ = false;
    std::string problem_;
    bool problemReported_ = false;
    std::vector<std::function<void()>> waiters_;
    // The login held for want of the password goes on when a read gives it.
    std::function<void()> afterProblem_;
    std::deque<std::pair<Call, Handle>> queue_;
    bool running_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

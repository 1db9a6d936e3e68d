#pragma once
// The desktop's keyring: one password for each pair of the service's base URL
// and a user name, kept encrypted by the desktop instead of in the settings
// file. Every answer comes later, from the message loop, never inside the call.
#include <functional>
#include <string>

// Which password: the base URL and the user name, as the user typed them (UTF-8).
struct SecretKey {
    std::string baseUrl, user;
    bool operator==(const SecretKey&) const = default;
};

enum class SecretStatus {
    Done,       // read (the password is in the answer), stored or deleted
    NotFound,   // the keyring holds no password for the key
    NoKeyring,  // there is no keyring on this desktop to keep it
    Locked,     // the keyring is locked and was not unlocked (the user declined)
    Failed,     // any other error
};

struct SecretAnswer {
    SecretStatus status = SecretStatus::Failed;
    std::string password;  // a read's password, as stored (bytes)
    std::string reason;    // why not, for the user (not for Done or NotFound)
};

class ISecrets {
public:
    using Answer = std::function<void(const SecretAnswer&)>;
    virtual ~ISecrets() = default;
    // Done when a keyring answers and has an unlocked default place for new
    // passwords; Locked when that place is locked; NoKeyring (or another
    // status) says why not. Starts nothing the user sees (no unlock prompt).
    virtual void Probe(Answer answer) = 0;
    // May ask the user to unlock the keyring.
    virtual void Read(const SecretKey& key, Answer answer) = 0;
    // Replaces the key's entry, labelled SecretLabel(key).
    virtual void Store(const SecretKey& key, const std::string& password, Answer answer) = 0;
    // NotFound when there was no entry.
    virtual void Delete(const SecretKey& key, Answer answer) = 0;
    // Every call on its way ends without its answer. An unlock prompt one of
    // them opened is left to the user: GNOME Keyring 42 aborts when a prompt
    // is dismissed (Prompt.Dismiss) while it asks for the password, and lives
    // on when the client just goes.
    virtual void CancelAll() = 0;
    // appeared runs whenever a keyring service takes its name on the bus
    // (started after the program, or again); replaces an earlier one.
    virtual void WatchService(std::function<void()> appeared) = 0;
};

// The entry's name in the keyring's own manager: "Chronel Timer: <user> at <host>".
std::string SecretLabel(const SecretKey& key);
// The texts of the answers that carry no reason of their own.
inline const char* const kKeyringLockedReason = "the keyring is locked";

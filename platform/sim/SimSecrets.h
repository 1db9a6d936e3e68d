#pragma once
// Simulated keyring: entries in memory, a state the test sets (not running,
// no default keyring, locked), scripted failures, and answers that come only
// when the test delivers them, in the order of the calls.
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/Secrets.h"

class SimSecrets : public ISecrets {
public:
    void Probe(Answer answer) override;
    void Read(const SecretKey& key, Answer answer) override;
    void Store(const SecretKey& key, const std::string& password, Answer answer) override;
    void Delete(const SecretKey& key, Answer answer) override;
    // Drops the waiting calls (a "cancel" in calls when there were any).
    void CancelAll() override;
    void WatchService(std::function<void()> appeared) override { appeared_ = std::move(appeared); }
    // The keyring service takes its name on the bus.
    void Appear();

    // Answers the oldest call; false when none waits.
    bool DeliverOne();
    // Answers every call, also those made by the answers themselves.
    void Deliver();
    std::size_t Waiting() const { return waiting_.size(); }

    struct Entry {
        std::string password, label;
    };
    std::map<std::pair<std::string, std::string>, Entry> entries;  // (base URL, user)
    bool running = true;     // false: no keyring service answers
    bool hasDefault = true;  // false: no default keyring to store into
    bool locked = false;     // locked, and the user declines to unlock it
    // Answered in place of the next calls, whatever they are.
    std::deque<SecretAnswer> failNext;
    // "probe", "read USER@BASE", "store USER@BASE", "delete USER@BASE", "cancel", in call order.
    std::vector<std::string> calls;

    const Entry* Find(const std::string& baseUrl, const std::string& user) const;

private:
    enum class Kind { Probe, Read, Store, Delete };
    struct Call {
        Kind kind;
        SecretKey key;
        std::string password;
        Answer answer;
    };
    void Add(Kind kind, const SecretKey& key, std::string password, Answer answer, const char* name);
    SecretAnswer Carry(const Call& call);
    std::deque<Call> waiting_;
    std::function<void()> appeared_;
};

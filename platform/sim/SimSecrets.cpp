#include "platform/sim/SimSecrets.h"

namespace {
SecretAnswer Answered(SecretStatus status, std::string reason = {})
{
    SecretAnswer a;
    a.status = status;
    a.reason = std::move(reason);
    return a;
}
}  // namespace

void SimSecrets::Add(Kind kind, const SecretKey& key, std::string password, Answer answer, const char* name)
{
    calls.push_back(kind == Kind::Probe ? std::string(name) : std::string(name) + " " + key.user + "@" + key.baseUrl);
    waiting_.push_back(Call{kind, key, std::move(password), std::move(answer)});
}

void SimSecrets::Probe(Answer answer)
{
    Add(Kind::Probe, {}, {}, std::move(answer), "probe");
}

void SimSecrets::Read(const SecretKey& key, Answer answer)
{
    Add(Kind::Read, key, {}, std::move(answer), "read");
}

void SimSecrets::Store(const SecretKey& key, const std::string& password, Answer answer)
{
    Add(Kind::Store, key, password, std::move(answer), "store");
}

void SimSecrets::Delete(const SecretKey& key, Answer answer)
{
    Add(Kind::Delete, key, {}, std::move(answer), "delete");
}

void SimSecrets::CancelAll()
{
    if (waiting_.empty()) return;
    calls.push_back("cancel");
    waiting_.clear();
}

void SimSecrets::Appear()
{
    running = true;
    if (appeared_) appeared_();
}

const SimSecrets::Entry* SimSecrets::Find(const std::string& baseUrl, const std::string& user) const
{
    auto it = entries.find({baseUrl, user});
    return it == entries.end() ? nullptr : &it->second;
}

SecretAnswer SimSecrets::Carry(const Call& call)
{
    if (!failNext.empty()) {
        SecretAnswer a = failNext.front();
        failNext.pop_front();
        return a;
    }
    if (!running) return Answered(SecretStatus::NoKeyring, "no keyring service is running");
    const std::pair<std::string, std::string> id{call.key.baseUrl, call.key.user};
    switch (call.kind) {
    case Kind::Probe:
        if (!hasDefault) return Answered(SecretStatus::NoKeyring, "it has no default keyring");
        return locked ? Answered(SecretStatus::Locked, kKeyringLockedReason) : Answered(SecretStatus::Done);
    case Kind::Read: {
        // A locked keyring cannot tell whether it holds the entry.
        if (locked) return Answered(SecretStatus::Locked, kKeyringLockedReason);
        auto it = entries.find(id);
        if (it == entries.end()) return Answered(SecretStatus::NotFound);
        SecretAnswer a = Answered(SecretStatus::Done);
        a.password = it->second.password;
        return a;
    }
    case Kind::Store:
        if (!hasDefault) return Answered(SecretStatus::NoKeyring, "it has no default keyring");
        if (locked) return Answered(SecretStatus::Locked, kKeyringLockedReason);
        entries[id] = Entry{call.password, SecretLabel(call.key)};
        return Answered(SecretStatus::Done);
    case Kind::Delete:
        if (locked) return Answered(SecretStatus::Locked, kKeyringLockedReason);
        if (!entries.count(id)) return Answered(SecretStatus::NotFound);
        entries.erase(id);
        return Answered(SecretStatus::Done);
    }
    return Answered(SecretStatus::Failed, "unknown call");
}

bool SimSecrets::DeliverOne()
{
    if (waiting_.empty()) return false;
    Call call = std::move(waiting_.front());
    waiting_.pop_front();
    const SecretAnswer answer = Carry(call);
    if (call.answer) call.answer(answer);
    return true;
}

void SimSecrets::Deliver()
{
    while (DeliverOne()) {
    }
}

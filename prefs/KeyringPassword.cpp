#include "prefs/KeyringPassword.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "components/Application.h"
#include "platform/Platform.h"
#include "platform/TraceMarks.h"

namespace {
std::string Reason(const SecretAnswer& answer)
{
    if (!answer.reason.empty()) return answer.reason;
    switch (answer.status) {
    case SecretStatus::Locked: return kKeyringLockedReason;
    case SecretStatus::NoKeyring: return "no keyring service is running";
    default: return "unknown error";
    }
}

bool Gave(const SecretAnswer& answer)
{
    return answer.status == SecretStatus::Done || answer.status == SecretStatus::NotFound;
}
}  // namespace

TKeyringPassword::TKeyringPassword(TEdit& password, TCheckBox& box) : password_(password), box_(box)
{
    if (ISecrets* secrets = CurrentPlatform().Secrets) {
        std::weak_ptr<bool> alive = alive_;
        secrets->WatchService([this, alive] {
            if (!alive.expired()) Application().Guard([this] { ServiceAppeared(); });
        });
    }
}

TKeyringPassword::~TKeyringPassword() = default;

// ---- the calls, one at a time ----------------------------------------------------

void TKeyringPassword::Run(Call call, Handle handle)
{
    queue_.emplace_back(std::move(call), std::move(handle));
    if (!running_) RunNext();
}

void TKeyringPassword::RunNext()
{
    if (queue_.empty()) {
        running_ = false;
        return;
    }
    auto [call, handle] = std::move(queue_.front());
    queue_.pop_front();
    running_ = true;
    std::weak_ptr<bool> alive = alive_;
    auto answer = [this, alive, handle = std::move(handle)](const SecretAnswer& a) {
        if (alive.expired()) return;  // the window is gone
        TraceMark("keyring-answered");
        Application().Guard([&] { handle(a); });
        RunNext();
    };
    if (ISecrets* secrets = CurrentPlatform().Secrets) {
        call(*secrets, std::move(answer));
    } else {
        SecretAnswer none;
        none.status = SecretStatus::NoKeyring;
        none.reason = "this desktop has no keyring service";
        answer(none);
    }
}

// ---- the settings file ------------------------------------------------------------

void TKeyringPassword::Loaded(bool inKeyring, const std::string& filePassword)
{
    boxSet_ = true;
    inKeyring_ = inKeyring;
    if (!moving_) SetBox(inKeyring);
    if (!inKeyring) {
        SetField(filePassword);
        known_ = true;
        typed_ = false;
        fieldKey_.reset();
        problem_.clear();
        return;
    }
    const SecretKey key = KeyOf();
    if (!filePassword.empty()) {
        // Written by a program that keeps it in the file (the Windows one):
        // the newest password, for the keyring at the next save.
        SetField(filePassword);
        known_ = true;
        typed_ = true;
        fieldKey_ = key;
        problem_.clear();
        return;
    }
    // Asked once a run: a restore from the tray reads the file again, not the keyring.
    if ((known_ && fieldKey_ == key) || reading_ || !problem_.empty()) return;
    SetField("");
    known_ = false;
    fieldKey_.reset();
    StartRead(key);
}

void TKeyringPassword::FirstRun()
{
    if (probed_ || boxSet_) return;
    probed_ = true;
    firstRun_ = true;
    Probe();
}

void TKeyringPassword::Probe()
{
    probing_ = true;
    Run([](ISecrets& s, ISecrets::Answer a) { s.Probe(std::move(a)); },
        [this](const SecretAnswer& a) {
            probing_ = false;
            // Only an unlocked keyring: a locked one would prompt at every start.
            if (a.status != SecretStatus::Done || boxSet_ || inKeyring_) return;
            // Nothing is in the file yet: the password goes to the keyring at the first save.
            inKeyring_ = true;
            SetBox(true);
            known_ = true;
            if (!password_.Text().empty()) typed_ = true;
        });
}

std::string TKeyringPassword::PasswordForFile() const
{
    return inKeyring_ ? std::string() : password_.Text();
}

void TKeyringPassword::Saved()
{
    if (!inKeyring_ || moving_ || storing_ || !known_) return;
    const SecretKey key = KeyOf();
    // A new user name takes the password along; the old entry goes.
    if (typed_ || (entryKey_ && !(*entryKey_ == key))) StoreChanged(key);
}

void TKeyringPassword::Settle(std::uint32_t ms)
{
    // Only a password kept nowhere else is waited for: a move on its way
    // leaves it where it was.
    const QDeadlineTimer deadline(std::min(ms, kSettleMaxMs));
    QTimer wake;  // the wait sleeps until something happens; this ends it in time
    wake.start(50);
    while (unsafe_ && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (unsafe_) {
        unsafe_ = false;
        std::fprintf(stderr, "ChronelGui: The changed password was not stored in the desktop's keyring before the "
                             "exit (it did not answer in time); it was kept for this run only.\n");
    }
    queue_.clear();
    if (!running_) return;
    running_ = false;
    reading_ = false;
    storing_ = false;
    Moving(false);
    // No answer may act (ask, write the file) after this; an unlock prompt
    // still up stays with the user.
    if (ISecrets* secrets = CurrentPlatform().Secrets) secrets->CancelAll();
    TraceMark("keyring-settled");
}

void TKeyringPassword::ServiceAppeared()
{
    TraceMark("keyring-appeared");
    // The first run's default, where no keyring answered unlocked before.
    if (firstRun_ && !boxSet_ && !inKeyring_ && !probing_) Probe();
    // A password the keyring could not give is asked for again; a login held for it goes on.
    if (inKeyring_ && !known_ && !reading_ && !problem_.empty()) StartRead(KeyOf());
}

// ---- the login ----------------------------------------------------------------------

TKeyringPassword::Login TKeyringPassword::ForLogin(std::function<void()> then)
{
    afterProblem_ = nullptr;
    if (!inKeyring_ || (known_ && !reading_)) return Login::Ready;
    if (!reading_ && !problem_.empty() && !problemReported_) {
        problemReported_ = true;
        afterProblem_ = std::move(then);
        return Login::Unavailable;
    }
    waiters_.push_back(std::move(then));
    if (!reading_) StartRead(KeyOf());
    return Login::Waiting;
}

std::string TKeyringPassword::UnavailableMessage() const
{
    return "The password is kept in the desktop's keyring, which is not available: " + problem_ + ".";
}

void TKeyringPassword::StartRead(const SecretKey& key)
{
    reading_ = true;
    problem_.clear();
    problemReported_ = false;
    Run([key](ISecrets& s, ISecrets::Answer a) { s.Read(key, std::move(a)); },
        [this, key](const SecretAnswer& a) {
            reading_ = false;
            if (Gave(a)) {
                if (a.status == SecretStatus::Done) entryKey_ = key;
                if (!typed_) {  // what the user typed meanwhile stands
                    SetField(a.password);
                    known_ = true;
                    fieldKey_ = key;
                }
            } else {
                problem_ = Reason(a);
            }
            std::vector<std::function<void()>> waiters;
            waiters.swap(waiters_);
            for (auto& then : waiters) then();
            if (known_ && afterProblem_) std::exchange(afterProblem_, nullptr)();
        });
}

// ---- the user -----------------------------------------------------------------------

void TKeyringPassword::PasswordTyped()
{
    typed_ = true;
    known_ = true;
    fieldKey_ = KeyOf();
}

void TKeyringPassword::BoxClicked()
{
    if (settingBox_) return;
    boxSet_ = true;
    const bool wanted = box_.Checked();
    if (moving_ || wanted == inKeyring_) return;
    if (wanted) MoveToKeyring();
    else MoveToFile();
}

void TKeyringPassword::MoveToKeyring()
{
    const SecretKey key = KeyOf();
    const std::string password = password_.Text();
    if (password.empty()) {  // nothing to move
        inKeyring_ = true;
        if (OnSaveNow) OnSaveNow();
        return;
    }
    Moving(true);
    typed_ = false;
    Run([key, password](ISecrets& s, ISecrets::Answer a) { s.Store(key, password, std::move(a)); },
        [this, key](const SecretAnswer& a) {
            Moving(false);
            if (a.status != SecretStatus::Done) {
                SetBox(false);
                Tell("The password could not be stored in the desktop's keyring: " + Reason(a) +
                     ". It stays in the settings file.");
                return;
            }
            inKeyring_ = true;
            SetBox(true);
            entryKey_ = key;
            fieldKey_ = key;
            problem_.clear();
            // The file gives it up only now.
            if (OnSaveNow) OnSaveNow();
        });
}

void TKeyringPassword::MoveToFile()
{
    if (known_) {
        CommitToFile(entryKey_);
        return;
    }
    const SecretKey key = KeyOf();
    Moving(true);
    Run([key](ISecrets& s, ISecrets::Answer a) { s.Read(key, std::move(a)); },
        [this, key](const SecretAnswer& a) {
            Moving(false);
            if (!Gave(a)) {
                SetBox(true);
                Tell("The password could not be read from the desktop's keyring: " + Reason(a) + ". It stays there.");
                return;
            }
            if (!typed_) SetField(a.password);
            known_ = true;
            fieldKey_ = key;
            problem_.clear();
            CommitToFile(a.status == SecretStatus::Done ? std::optional<SecretKey>(key) : entryKey_);
        });
}

void TKeyringPassword::CommitToFile(const std::optional<SecretKey>& entry)
{
    inKeyring_ = false;
    SetBox(false);
    if (OnSaveNow && !OnSaveNow()) {
        // The file does not hold it: the keyring keeps it.
        inKeyring_ = true;
        SetBox(true);
        return;
    }
    typed_ = false;
    unsafe_ = false;
    // A password typed by hand while the keyring was away may still have an entry there.
    DeleteEntry(entry.value_or(KeyOf()));
}

void TKeyringPassword::DeleteEntry(const SecretKey& key)
{
    Run([key](ISecrets& s, ISecrets::Answer a) { s.Delete(key, std::move(a)); },
        [this, key](const SecretAnswer& a) {
            if (Gave(a)) {
                if (entryKey_ == key) entryKey_.reset();
                return;
            }
            Tell("The password is in the settings file now, but its entry in the desktop's keyring could not be "
                 "removed: " + Reason(a) + ".");
        });
}

void TKeyringPassword::StoreChanged(const SecretKey& key)
{
    const std::string password = password_.Text();
    const std::optional<SecretKey> old = entryKey_;
    storing_ = true;
    unsafe_ = true;
    typed_ = false;  // typing from now on is stored by a later save
    Run([key, password](ISecrets& s, ISecrets::Answer a) { s.Store(key, password, std::move(a)); },
        [this, key, old](const SecretAnswer& a) {
            storing_ = false;
            if (a.status != SecretStatus::Done) {
                StoreFailed(Reason(a));
                return;
            }
            unsafe_ = false;
            entryKey_ = key;
            fieldKey_ = key;
            if (old && !(*old == key)) DeleteEntry(*old);
        });
}

void TKeyringPassword::StoreFailed(const std::string& reason)
{
    const int answer = CurrentPlatform().MessageBox->Show(
        "The password could not be stored in the desktop's keyring: " + reason +
            ". Keep it in the settings file instead?\n\nNo keeps it for this run only; the keyring is tried again "
            "when you change it.",
        Application().Title(), MB_YESNO | MB_ICONWARNING);
    unsafe_ = false;
    // No holds for the run: no later save (the exit's neither) asks the
    // keyring or writes it to the file; typing it again does.
    if (answer != IDYES) return;
    inKeyring_ = false;
    SetBox(false);
    typed_ = false;
    if (OnSaveNow) OnSaveNow();
}

// ---- the controls -----------------------------------------------------------------------

void TKeyringPassword::SetBox(bool ticked)
{
    settingBox_ = true;
    box_.SetChecked(ticked);
    settingBox_ = false;
}

void TKeyringPassword::SetField(const std::string& password)
{
    password_.SetText(password);
}

void TKeyringPassword::Moving(bool moving)
{
    moving_ = moving;
    box_.setEnabled(!moving);  // one move at a time
}

void TKeyringPassword::Tell(const std::string& text)
{
    CurrentPlatform().MessageBox->Show(text, Application().Title(), MB_OK | MB_ICONWARNING);
}

// The password in the desktop's keyring: moves between the settings file and
// the keyring that never lose it, the login that waits for the keyring, and
// files of the Windows program that stay as they are.
#include <QElapsedTimer>
#include <QTimer>

#include "ClockFixture.h"

namespace {

const std::string kBase = "http://127.0.0.1:8080/";

// A file as the Windows program writes it: CR LF, the fifteen keys, "pw" in Rot13.
std::string WindowsFile(const std::string& password = "cj", const std::string& extra = "")
{
    return "[Form]\r\nTop=10\r\nLeft=20\r\nMinimizeOnClose=0\r\nUseTransparency=1\r\nRemoveFromTaskBar=1\r\n"
           "[Prefs]\r\nBaseURL=" + kBase + "\r\nUsername=ann\r\nPassword=" + password +
           "\r\nPlayTickingSound=0\r\nTickingSoundInterval=60\r\nHotKeyStartStop=32960\r\nShowMinuteReminder=0\r\n"
           "MinuteReminderInterval=20\r\nAutoStopStartOnIdleTime=0\r\nAutoStopStartOnIdleTimeMinutes=2\r\n" + extra;
}

class Keyring : public ClockFixture {
protected:
    TKeyringPassword& Ring() { return prefs->Keyring(); }
    SimSecrets& secrets() { return sim.secrets; }

    // The file says the keyring keeps the password, and it does.
    void LoadFromKeyring(const std::string& password = "pw")
    {
        secrets().entries[{kBase, "ann"}] = {password, "old"};
        WriteIni(WindowsFile("", "PasswordInKeyring=1\r\n"));
        form->FormShow();
    }
    std::string Value(const std::string& key) const
    {
        const std::string text = ReadIni();
        const auto at = text.find("\n" + key + "=");
        if (at == std::string::npos) return "<none>";
        const auto from = at + key.size() + 2;
        return text.substr(from, text.find_first_of("\r\n", from) - from);
    }
    void Type(const std::string& password)
    {
        prefs->edtPassword->SetText(password);
        emit prefs->edtPassword->textEdited(QString::fromStdString(password));
    }
    std::string LastMessage() const { return sim.messageBox.shown.empty() ? "" : sim.messageBox.shown.back().text; }
    // The first paint, with the keyring's and the service's answers arriving while the window waits.
    void Paint()
    {
        QTimer::singleShot(0, form.get(), [this] { secrets().Deliver(); });
        QTimer::singleShot(1, form.get(), [this] { Load(); });
        form->FormPaint();
    }
    std::string LastPost() const { return view->navigations.empty() ? "" : view->navigations.back().postData; }
    bool StatusPageShown() const { return view->document && view->document->url == kLocalPageUrl; }
};

TEST_F(Keyring, MovesBothWaysTheFileGivingItUpOnlyAfterTheKeyringTookIt)
{
    WriteIni(WindowsFile());
    form->FormShow();
    prefs->cbxPasswordInKeyring->SetChecked(true);  // the user ticks the box
    // Until the keyring answers, the file keeps it and the box waits.
    EXPECT_EQ(secrets().calls, std::vector<std::string>{"store ann@" + kBase});
    EXPECT_FALSE(prefs->cbxPasswordInKeyring->isEnabled());
    EXPECT_EQ(ReadIni(), WindowsFile());
    secrets().Deliver();
    ASSERT_NE(secrets().Find(kBase, "ann"), nullptr);
    EXPECT_EQ(secrets().Find(kBase, "ann")->password, "pw");
    EXPECT_EQ(secrets().Find(kBase, "ann")->label, "Chronel Timer: ann at 127.0.0.1");
    EXPECT_EQ(ReadIni(), WindowsFile("", "PasswordInKeyring=1\r\n"));  // after the existing keys
    EXPECT_TRUE(prefs->cbxPasswordInKeyring->isEnabled());
    EXPECT_EQ(prefs->edtPassword->Text(), "pw");

    // Back: the file has it before the entry goes.
    prefs->cbxPasswordInKeyring->SetChecked(false);
    EXPECT_EQ(ReadIni(), WindowsFile("cj", "PasswordInKeyring=0\r\n"));
    EXPECT_NE(secrets().Find(kBase, "ann"), nullptr);
    secrets().Deliver();
    EXPECT_EQ(secrets().Find(kBase, "ann"), nullptr);
    EXPECT_TRUE(sim.messageBox.shown.empty()) << LastMessage();

    // A password not read yet (keyring mode, the read still out) is read before it moves back.
    secrets().calls.clear();
    prefs->cbxPasswordInKeyring->SetChecked(true);
    secrets().Deliver();
    WriteIni(WindowsFile("", "PasswordInKeyring=1\r\n"));
    auto fresh = std::make_unique<TfrmPrefs>(form.get(), form.get());
    frmPrefs = fresh.get();
    fresh->LoadSettings(ini);
    fresh->cbxPasswordInKeyring->SetChecked(false);
    EXPECT_EQ(Value("Password"), "");
    secrets().Deliver();
    EXPECT_EQ(Value("Password"), "cj");
    EXPECT_EQ(Value("PasswordInKeyring"), "0");
    EXPECT_EQ(secrets().entries.size(), 0u);
    frmPrefs = prefs.get();
}

TEST_F(Keyring, EachFailedStepKeepsThePasswordAndUndoesTheBox)
{
    // Ticking while the keyring is locked: the file keeps it.
    WriteIni(WindowsFile());
    form->FormShow();
    secrets().locked = true;
    prefs->cbxPasswordInKeyring->SetChecked(true);
    secrets().Deliver();
    EXPECT_FALSE(prefs->cbxPasswordInKeyring->Checked());
    EXPECT_EQ(LastMessage(),
              "The password could not be stored in the desktop's keyring: the keyring is locked. It stays in the "
              "settings file.");
    EXPECT_EQ(ReadIni(), WindowsFile());

    // Unticking while the keyring cannot be read: it stays there.
    secrets().locked = false;
    LoadFromKeyring();
    secrets().failNext.push_back({SecretStatus::Failed, "", "Object does not exist"});
    secrets().Deliver();
    prefs->cbxPasswordInKeyring->SetChecked(false);
    secrets().running = false;
    secrets().Deliver();
    EXPECT_TRUE(prefs->cbxPasswordInKeyring->Checked());
    EXPECT_EQ(LastMessage(), "The password could not be read from the desktop's keyring: no keyring service is "
                             "running. It stays there.");
    EXPECT_EQ(Value("Password"), "");
    EXPECT_EQ(Value("PasswordInKeyring"), "1");

    // The entry cannot be removed after the move back: said, and the file has it.
    secrets().running = true;
    prefs->cbxPasswordInKeyring->SetChecked(false);
    secrets().DeliverOne();  // the read
    secrets().failNext.push_back({SecretStatus::Locked, "", kKeyringLockedReason});
    secrets().Deliver();  // the delete
    EXPECT_EQ(Value("Password"), "cj");
    EXPECT_NE(LastMessage().find("could not be removed: the keyring is locked."), std::string::npos) << LastMessage();

    // A changed password the keyring does not take: asked; Yes puts it in the file.
    LoadFromKeyring();
    prefs->cbxPasswordInKeyring->SetChecked(true);
    secrets().Deliver();
    Type("new");
    secrets().locked = true;
    sim.messageBox.answers = {IDYES};
    prefs->SaveSettings(ini);
    EXPECT_EQ(Value("Password"), "");
    secrets().Deliver();
    EXPECT_NE(LastMessage().find("Keep it in the settings file instead?"), std::string::npos) << LastMessage();
    EXPECT_EQ(Value("Password"), "arj");
    EXPECT_EQ(Value("PasswordInKeyring"), "0");
    EXPECT_FALSE(prefs->cbxPasswordInKeyring->Checked());
}

TEST_F(Keyring, LoginWaitsForTheKeyringAndALockedOneHoldsTheLink)
{
    LoadFromKeyring("s3cret");
    secrets().locked = true;
    Paint();
    ASSERT_TRUE(StatusPageShown());
    const std::string shown = view->document->html;
    EXPECT_NE(shown.find("The password is kept in the desktop's keyring, which is not available: the keyring is "
                         "locked."),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find(">Try now</a>"), std::string::npos);
    EXPECT_EQ(shown.find("Next try at"), std::string::npos);
    EXPECT_EQ(form->tryIcon->Hint(),
              "The password is kept in the desktop's keyring, which is not available: the keyring is locked.");
    EXPECT_EQ(form->Link.State(), TLinkState::Held);
    const std::size_t navigations = view->navigations.size();
    sim.Advance(600000);  // no retries by itself, nor when the network comes back
    sim.network.ComeBack();
    EXPECT_EQ(view->navigations.size(), navigations);

    // Unlocked now: "Try now" asks the keyring again and logs in with its password.
    secrets().locked = false;
    view->PageNavigate(form->Link.TryNowUrl());
    EXPECT_EQ(view->navigations.size(), navigations);
    secrets().Deliver();
    EXPECT_EQ(LastPost(), "pw=s3cret");
    Load();
    EXPECT_TRUE(form->Link.Connected());
}

TEST_F(Keyring, PasswordTypedByHandWhileTheKeyringIsAwayLogsIn)
{
    LoadFromKeyring();
    secrets().running = false;
    Paint();
    ASSERT_TRUE(StatusPageShown());
    EXPECT_NE(view->document->html.find("not available: no keyring service is running."), std::string::npos);
    Type("typed");
    view->PageNavigate(form->Link.TryNowUrl());
    EXPECT_EQ(LastPost(), "pw=typed");
    EXPECT_EQ(secrets().Waiting(), 0u);
    // Saved with No to the file: for this run only, the file still has no password.
    prefs->SaveSettings(ini);
    secrets().Deliver();
    EXPECT_EQ(Value("Password"), "");
    EXPECT_TRUE(prefs->cbxPasswordInKeyring->Checked());
}

TEST_F(Keyring, ANoHoldsForTheRunAndTheExitLeavesTheKeyringAlone)
{
    LoadFromKeyring("s3cret");
    secrets().locked = true;  // and its unlock prompt is cancelled
    Paint();
    ASSERT_TRUE(StatusPageShown());
    Type("new");
    sim.messageBox.answers = {IDNO};
    prefs->SaveSettings(ini);
    secrets().Deliver();
    EXPECT_NE(LastMessage().find("Keep it in the settings file instead?"), std::string::npos) << LastMessage();
    // The exit: its save and the wait for the keyring ask nothing, write no password, take no time.
    secrets().calls.clear();
    const std::size_t asked = sim.messageBox.shown.size();
    QElapsedTimer took;
    took.start();
    prefs->SaveSettings(ini);
    Ring().Settle(10000);
    EXPECT_LT(took.elapsed(), 500);
    EXPECT_TRUE(secrets().calls.empty()) << secrets().calls.front();
    EXPECT_EQ(sim.messageBox.shown.size(), asked);
    EXPECT_EQ(Value("Password"), "");  // the next start asks the keyring again
    EXPECT_EQ(Value("PasswordInKeyring"), "1");
    EXPECT_EQ(prefs->edtPassword->Text(), "new");  // still this run's password

    // Typed again: the keyring is tried again.
    secrets().locked = false;
    Type("newer");
    prefs->SaveSettings(ini);
    secrets().Deliver();
    EXPECT_EQ(secrets().Find(kBase, "ann")->password, "newer");

    // Changed and saved at the exit while the keyring asks to be unlocked:
    // the prompt is dismissed within the exit's wait, the file stays as it was.
    Type("newest");
    prefs->SaveSettings(ini);
    took.restart();
    Ring().Settle(10000);
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_EQ(secrets().calls.back(), "cancel");
    EXPECT_EQ(secrets().Waiting(), 0u);
    EXPECT_EQ(Value("Password"), "");
    EXPECT_EQ(Value("PasswordInKeyring"), "1");
    EXPECT_EQ(secrets().Find(kBase, "ann")->password, "newer");
    EXPECT_EQ(sim.messageBox.shown.size(), asked);
}

TEST_F(Keyring, TheWindowSaysItWaitsForTheKeyring)
{
    // While the keyring has not answered (its unlock prompt may be up), the window says so.
    LoadFromKeyring("s3cret");
    std::string shown;
    QTimer::singleShot(0, form.get(), [&] {
        Load();
        shown = view->document ? view->document->html : "";
        secrets().Deliver();
    });
    QTimer::singleShot(1, form.get(), [this] { Load(); });
    form->FormPaint();
    EXPECT_NE(shown.find("Waiting for the desktop's keyring\u2026"), std::string::npos) << shown;
    EXPECT_NE(shown.find("href=\"" + form->Link.PreferencesUrl() + "\">Preferences</a>"), std::string::npos) << shown;
    EXPECT_EQ(LastPost(), "pw=s3cret");
    EXPECT_TRUE(form->Link.Connected());
}

TEST_F(Keyring, AKeyringThatComesLaterIsAskedByItself)
{
    LoadFromKeyring("s3cret");
    secrets().running = false;
    Paint();
    ASSERT_TRUE(StatusPageShown());
    EXPECT_EQ(form->Link.State(), TLinkState::Held);
    // Its name gets an owner on the bus: the held login goes on without "Try now".
    secrets().Appear();
    secrets().Deliver();
    EXPECT_EQ(LastPost(), "pw=s3cret");
    Load();
    EXPECT_TRUE(form->Link.Connected());
}

TEST_F(Keyring, ChangedPasswordOrUserReplacesTheEntry)
{
    LoadFromKeyring();
    secrets().Deliver();
    EXPECT_EQ(prefs->edtPassword->Text(), "pw");
    Type("new");
    prefs->SaveSettings(ini);
    secrets().Deliver();
    ASSERT_EQ(secrets().entries.size(), 1u);
    EXPECT_EQ(secrets().Find(kBase, "ann")->password, "new");
    EXPECT_EQ(Value("Password"), "");
    // Saving again without a change asks nothing of the keyring.
    secrets().calls.clear();
    prefs->SaveSettings(ini);
    EXPECT_TRUE(secrets().calls.empty());
    // A new user name takes the password along.
    prefs->edtUsername->SetText("bob");
    prefs->SaveSettings(ini);
    secrets().Deliver();
    ASSERT_EQ(secrets().entries.size(), 1u);
    EXPECT_EQ(secrets().Find(kBase, "bob")->password, "new");
    // A restore from the tray reads the file again, not the keyring.
    secrets().calls.clear();
    form->FormShow();
    EXPECT_TRUE(secrets().calls.empty());
    EXPECT_EQ(prefs->edtPassword->Text(), "new");
}

TEST_F(Keyring, WindowsFilesStayAsTheyAre)
{
    // Without the key: read as before and written back byte for byte.
    WriteIni(WindowsFile());
    form->FormShow();
    EXPECT_EQ(prefs->edtPassword->Text(), "pw");
    EXPECT_FALSE(prefs->cbxPasswordInKeyring->Checked());
    prefs->SaveSettings(ini);
    EXPECT_EQ(ReadIni(), WindowsFile());
    EXPECT_TRUE(secrets().calls.empty());

    // The Windows program wrote a password into a file whose key says keyring:
    // the newest password, moved to the keyring at the next save.
    WriteIni(WindowsFile("arj", "PasswordInKeyring=1\r\n"));
    form->FormShow();
    EXPECT_EQ(prefs->edtPassword->Text(), "new");
    EXPECT_TRUE(secrets().calls.empty());
    prefs->SaveSettings(ini);
    secrets().Deliver();
    EXPECT_EQ(secrets().Find(kBase, "ann")->password, "new");
    EXPECT_EQ(Value("Password"), "");
}

TEST_F(Keyring, FirstRunTicksTheBoxWhereAKeyringAnswersUnlocked)
{
    // None at first; a keyring service started later is asked by itself.
    secrets().running = false;
    prefs->show();
    secrets().Deliver();
    EXPECT_FALSE(prefs->cbxPasswordInKeyring->Checked());
    // Locked (an automatic-login session): no prompt at every start.
    secrets().locked = true;
    secrets().Appear();
    secrets().Deliver();
    EXPECT_EQ(secrets().calls, (std::vector<std::string>{"probe", "probe"}));
    EXPECT_FALSE(prefs->cbxPasswordInKeyring->Checked());
    secrets().locked = false;
    secrets().Appear();
    secrets().Deliver();
    EXPECT_TRUE(prefs->cbxPasswordInKeyring->Checked());
    prefs->edtUsername->SetText("ann");
    Type("pw");
    prefs->SaveSettings(ini);
    EXPECT_EQ(Value("Password"), "");
    EXPECT_EQ(Value("PasswordInKeyring"), "1");
    secrets().Deliver();
    EXPECT_EQ(secrets().Find(prefs->edtBaseURL->Text(), "ann")->password, "pw");
    prefs->hide();
}

}  // namespace

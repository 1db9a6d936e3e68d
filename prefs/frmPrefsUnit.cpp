#include "prefs/frmPrefsUnit.h"

#include <QCloseEvent>
#include <cstdio>
#include <filesystem>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "components/Application.h"
#include "components/Exceptions.h"
#include "components/ImageList.h"
#include "components/IniFile.h"
#include "components/SettingsPath.h"
#include "components/Timer.h"
#include "platform/MessageBox.h"
#include "platform/PrivateProfile.h"
#include "platform/Platform.h"
#include "prefs/PrefsHost.h"

TfrmPrefs* frmPrefs = nullptr;

std::string Rot13(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + 13) % 26);
        else if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    }
    return out;
}

std::string PublicBaseURL() { return CHRONEL_SERVICE_BASE_URL; }
std::string LocalBaseURL() { return CHRONEL_LOCAL_BASE_URL; }

bool IsValidBaseUrl(const std::string& url)
{
    // Blanks and control bytes would be guessed at by the engine, not loaded as typed.
    for (unsigned char c : url)
        if (c <= ' ' || c == 0x7F) return false;
    const QUrl u(QString::fromStdString(url), QUrl::StrictMode);
    if (!u.isValid() || u.isRelative() || u.host().isEmpty()) return false;
    const QString scheme = u.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

std::string InvalidBaseUrlMessage(const std::string& url)
{
    return "The base URL '" + url + "' is not a valid http or https address.";
}

bool TfrmPrefs::ShowBaseUrlProblem()
{
    const std::string url = edtBaseURL->Text();
    const bool valid = IsValidBaseUrl(url);
    lblBaseURLProblem->setText(valid ? QString() : QString::fromStdString(InvalidBaseUrlMessage(url)));
    lblBaseURLProblem->setVisible(!valid);
    return valid;
}
std::string ServiceWebSite() { return CHRONEL_SERVICE_WEB_SITE; }

namespace {
QLabel* Heading(const char* text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

TCSpinEdit* Spin(int min, int max, int step, int value, QWidget* parent)
{
    auto* s = new TCSpinEdit(parent);
    s->SetRange(min, max);
    s->SetIncrement(step);
    s->SetValue(value);
    s->setFixedWidth(42);
    return s;
}

// A row that reads as one sentence: check box, number, unit.
QHBoxLayout* Sentence(QWidget* first, QWidget* second, QWidget* third)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    row->addWidget(first);
    row->addWidget(second);
    if (third) row->addWidget(third);
    row->addStretch(1);
    return row;
}
}  // namespace

TfrmPrefs::TfrmPrefs(IPrefsHost* host, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      host_(host)
{
    setWindowTitle("Chronel Timer Preferences");
    // A compact font, so each row of the small window reads as one sentence.
    QFont small = font();
    small.setPixelSize(10);
    setFont(small);
    setFixedSize(315, 249);

    PageControl1 = new QTabWidget(this);
    PageControl1->setGeometry(8, 8, 300, 201);

    // Enhancements.
    tabExtra = new QWidget;
    cbxMinuteReminder = new TCheckBox("Show reminder every                   minutes on the clock", tabExtra);
    {
        // Only "Show reminder every" shows; the number stands on the blank part.
        TCheckBox probe("Show reminder every");
        probe.setFont(small);
        cbxMinuteReminder->setFixedWidth(probe.sizeHint().width());
    }
    edtMinuteReminder = Spin(1, 600, 10, 20, tabExtra);
    auto* Label10 = new QLabel("minutes on the clock", tabExtra);
    cbxPlayTickingSound = new TCheckBox("Play ticking sound every", tabExtra);
    edtTickingSound = Spin(0, 600, 10, 60, tabExtra);
    auto* Label5 = new QLabel("seconds on the clock", tabExtra);
    cbxIdleTimeCheck = new TCheckBox("Stop/restart clock if system idle for ", tabExtra);
    edtIdleTimeCheck = Spin(1, 600, 1, 2, tabExtra);
    auto* Label11 = new QLabel("minutes", tabExtra);
    auto* Label4 = new QLabel("Start/Stop Timer Hotkey", tabExtra);
    hotkeyStartStop = new THotKey(tabExtra);
    hotkeyStartStop->SetHotKey(32960);
    hotkeyStartStop->setFixedWidth(120);
    {
        auto* v = new QVBoxLayout(tabExtra);
        v->setContentsMargins(4, 6, 2, 6);
        v->setSpacing(5);
        v->addWidget(Heading("Visual/Hearing Enhancements", tabExtra));
        v->addLayout(Sentence(cbxMinuteReminder, edtMinuteReminder, Label10));
        v->addLayout(Sentence(cbxPlayTickingSound, edtTickingSound, Label5));
        v->addWidget(Heading("Timing Enhancements", tabExtra));
        v->addLayout(Sentence(cbxIdleTimeCheck, edtIdleTimeCheck, Label11));
        v->addLayout(Sentence(Label4, hotkeyStartStop, nullptr));
        v->addStretch(1);
    }

    // Window.
    tabWindow = new QWidget;
    cbxMinimizeOnClose = new TCheckBox("Minimize to tray on close (instead of exiting)", tabWindow);
    cbxUseTransparency = new TCheckBox("Make window transparent when out of focus", tabWindow);
    cbxUseTransparency->SetChecked(true);
    cbxRemoveFromTaskBar = new TCheckBox("Remove from task bar (only show in system tray)", tabWindow);
    cbxRemoveFromTaskBar->SetChecked(true);
    cbxStartWithSession = new TCheckBox("Start with my desktop session", tabWindow);
    {
        auto* v = new QVBoxLayout(tabWindow);
        v->setContentsMargins(6, 10, 6, 6);
        v->addWidget(cbxMinimizeOnClose);
        v->addWidget(cbxUseTransparency);
        v->addWidget(cbxRemoveFromTaskBar);
        v->addWidget(cbxStartWithSession);
        v->addStretch(1);
    }

    // Server.
    tabServer = new QWidget;
    edtBaseURL = new TEdit(tabServer);
    edtBaseURL->SetText(PublicBaseURL());
    edtBaseURL->setStatusTip("The base url of the chronel application");  // hints are off here
    edtUsername = new TEdit(tabServer);
    edtPassword = new TEdit(tabServer);
    edtPassword->setEchoMode(QLineEdit::Password);
    cbxPasswordInKeyring = new TCheckBox("&Keep the password in the desktop's keyring", tabServer);
    lblBaseURLProblem = new QLabel(tabServer);
    lblBaseURLProblem->setObjectName("lblBaseURLProblem");
    lblBaseURLProblem->setWordWrap(true);
    lblBaseURLProblem->setStyleSheet("color: #b00000");
    lblBaseURLProblem->setVisible(false);
    edtBaseURL->OnChange = [this](TEdit*) { ShowBaseUrlProblem(); };
    auto* Label16 = new QLabel(
        "If changing these settings, please make sure you restart the program so changes are in effect.", tabServer);
    Label16->setWordWrap(true);
    {
        auto* g = new QGridLayout(tabServer);
        g->setContentsMargins(6, 8, 6, 6);
        g->addWidget(new QLabel("Base URL", tabServer), 0, 0);
        g->addWidget(edtBaseURL, 0, 1);
        g->addWidget(lblBaseURLProblem, 1, 0, 1, 2);
        g->addWidget(new QLabel("Automatically login with credentials below", tabServer), 2, 0, 1, 2);
        g->addWidget(new QLabel("Username", tabServer), 3, 0);
        g->addWidget(edtUsername, 3, 1);
        g->addWidget(new QLabel("Password", tabServer), 4, 0);
        g->addWidget(edtPassword, 4, 1);
        g->addWidget(cbxPasswordInKeyring, 5, 0, 1, 2);
        g->addWidget(Label16, 6, 0, 1, 2);
        g->setRowStretch(7, 1);
    }

    // About.
    tabAbout = new QWidget;
    {
        auto* icon = new QLabel(tabAbout);
        icon->setPixmap(ApplicationIcon().pixmap(32, 32));
        auto* Label6 = new QLabel("Chronel Timer Client for Windows", tabAbout);
        QFont title("Arial");
        title.setPointSize(11);
        title.setBold(true);
        Label6->setFont(title);
        auto* Label14 = new QLabel("Your work clock, one click away.", tabAbout);
        QFont italic = Label14->font();
        italic.setItalic(true);
        Label14->setFont(italic);
        auto* Label8 = new QLabel("Version: 0.93", tabAbout);
        auto* Label7 = new QLabel("Written by the Chronel team", tabAbout);
        const QString domain = QUrl(QString::fromStdString(ServiceWebSite())).host();
        Label9 = new QLabel(QString("<a href=\"#\" style=\"color:blue\">%1</a>").arg(domain.toHtmlEscaped()), tabAbout);
        Label9->setCursor(Qt::PointingHandCursor);
        Label9->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        connect(Label9, &QLabel::linkActivated, this, [this](const QString&) { Application().Guard([this] { Label9Click(); }); });

        auto* v = new QVBoxLayout(tabAbout);
        v->setContentsMargins(8, 8, 8, 8);
        auto* top = new QHBoxLayout;
        top->addWidget(icon);
        top->addWidget(Label6, 1);
        v->addLayout(top);
        v->addWidget(Label14);
        v->addWidget(Label8);
        auto* credit = new QHBoxLayout;
        credit->addWidget(Label7);
        credit->addWidget(Label9);
        credit->addStretch(1);
        v->addLayout(credit);
        v->addStretch(1);
    }

    PageControl1->addTab(tabExtra, "Enhancements");
    PageControl1->addTab(tabWindow, "Window");
    PageControl1->addTab(tabServer, "Server");
    PageControl1->addTab(tabAbout, "About");
    PageControl1->setCurrentWidget(tabAbout);

    OKBtn = new QPushButton("Close", this);
    OKBtn->setGeometry(145, 216, 75, 25);
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    HelpBtn = new QPushButton("&Help", this);
    HelpBtn->setGeometry(233, 216, 75, 25);
    HelpBtn->setAutoDefault(false);
    connect(OKBtn, &QPushButton::clicked, this, [this] { accept(); });
    connect(HelpBtn, &QPushButton::clicked, this, [this] { Application().Guard([this] { HelpBtnClick(); }); });

    // Handlers come last so that the initial state marks nothing.
    hotkeyStartStop->OnChange = [this](THotKey*) { edtsChange(); };
    hotkeyStartStop->OnExit = [this](THotKey*) { hotkeyStartStopExit(); };
    edtUsername->OnChange = [this](TEdit*) { edtsChange(); };
    edtPassword->OnChange = [this](TEdit*) { edtsChange(); };
    cbxPlayTickingSound->OnClick = [this](TCheckBox*) { cbxsClick(); };
    cbxUseTransparency->OnClick = [this](TCheckBox*) { cbxsClick(); };
    edtTickingSound->OnChange = [this](TCSpinEdit*) { edtTickingSoundChange(); };
    edtMinuteReminder->OnChange = [this](TCSpinEdit*) { edtMinuteReminderChange(); };
    cbxMinuteReminder->OnClick = [this](TCheckBox*) { cbxMinuteReminderClick(); };
    cbxRemoveFromTaskBar->OnClick = [this](TCheckBox*) { cbxRemoveFromTaskBarClick(); };
    ShowAutostart();
    cbxStartWithSession->OnClick = [this](TCheckBox*) { cbxStartWithSessionClick(); };

    keyring_ = std::make_unique<TKeyringPassword>(*edtPassword, *cbxPasswordInKeyring);
    keyring_->KeyOf = [this] { return SecretKey{edtBaseURL->ShownText(), edtUsername->ShownText()}; };
    keyring_->OnSaveNow = [this] {
        try {
            SaveSettings(SettingsFilePath());
            return true;
        } catch (const std::exception& e) {
            Application().ShowException(e.what());
            return false;
        }
    };
    cbxPasswordInKeyring->OnClick = [this](TCheckBox*) { keyring_->BoxClicked(); };
    // Only what the user types is a new password; the program's own settings are not.
    connect(edtPassword, &QLineEdit::textEdited, this, [this] { keyring_->PasswordTyped(); });
}

// ---- start with the desktop session ----------------------------------------------

void TfrmPrefs::ShowAutostart()
{
    IAutostart* autostart = CurrentPlatform().Autostart;
    const bool enabled = autostart && autostart->Enabled();
    if (cbxStartWithSession->Checked() == enabled) return;
    showingAutostart_ = true;
    cbxStartWithSession->SetChecked(enabled);
    showingAutostart_ = false;
}

void TfrmPrefs::cbxStartWithSessionClick()
{
    if (showingAutostart_) return;
    IAutostart* autostart = CurrentPlatform().Autostart;
    const bool wanted = cbxStartWithSession->Checked();
    // The entry is the setting: the box shows what is on disk, also after a failure.
    const bool ok = autostart && autostart->SetEnabled(wanted);
    ShowAutostart();
    if (!ok) Application().ShowException(autostart ? autostart->Error() : "Starting with the desktop session is not available here");
}

void TfrmPrefs::showEvent(QShowEvent* event)
{
    ShowAutostart();  // the entry may have been changed outside
    std::error_code ec;
    if (!std::filesystem::exists(SettingsFilePath(), ec)) keyring_->FirstRun();
    QDialog::showEvent(event);
}

// ---- handlers ----------------------------------------------------------

void TfrmPrefs::edtsChange()
{
    SettingsChanged = true;
}

void TfrmPrefs::cbxsClick()
{
    SettingsChanged = true;
}

namespace {
// A typed negative number (not yet clamped) keeps the timer from firing.
unsigned Milliseconds(int value, unsigned factor)
{
    return value <= 0 ? 0u : static_cast<unsigned>(value) * factor;
}
}  // namespace

void TfrmPrefs::edtTickingSoundChange()
{
    host_->TickingSoundTimer().SetInterval(Milliseconds(edtTickingSound->Value(), 1000));
    SettingsChanged = true;
}

void TfrmPrefs::edtMinuteReminderChange()
{
    host_->MinuteReminderTimer().SetInterval(Milliseconds(edtMinuteReminder->Value(), 60000));
    if (host_->IsClockRunning() && cbxMinuteReminder->Checked()) host_->MinuteReminderTimer().SetEnabled(true);
}

void TfrmPrefs::cbxMinuteReminderClick()
{
    if (cbxMinuteReminder->Checked())
        host_->MinuteReminderTimer().SetInterval(Milliseconds(edtMinuteReminder->Value(), 60000));
    host_->MinuteReminderTimer().SetEnabled(host_->IsClockRunning() && cbxMinuteReminder->Checked());
}

void TfrmPrefs::cbxRemoveFromTaskBarClick()
{
    SettingsChanged = true;
    CurrentPlatform().Taskbar->SetButtonVisible(!cbxRemoveFromTaskBar->Checked());
}

void TfrmPrefs::hotkeyStartStopExit()
{
    host_->RegisterStartStopHotKey();
}

void TfrmPrefs::HelpBtnClick()
{
    CurrentPlatform().Shell->ShellExecute("open", ServiceWebSite());
}

void TfrmPrefs::Label9Click()
{
    HelpBtnClick();
}

bool TfrmPrefs::FormClose()
{
    if (!SettingsChanged) return true;
    bool saved = false;
    const bool close = SaveSettingsOrAskToClose(SettingsFilePath(), &saved);
    if (saved) SettingsChanged = false;  // a close without saving keeps the mark
    return close;
}

bool TfrmPrefs::SaveSettingsOrAskToClose(const std::string& path, bool* saved)
{
    if (saved) *saved = false;
    std::string reason;
    try {
        SaveSettings(path);
        if (saved) *saved = true;
        return true;
    } catch (const std::exception& e) {
        reason = e.what();
    }
    // A save that cannot succeed must not trap the user in the window.
    const std::string question = "The settings could not be saved (" + reason + "). Close anyway?";
    std::fprintf(stderr, "%s: %s\n", Application().Title().c_str(), question.c_str());  // also for the log
    return CurrentPlatform().MessageBox->Show(question, Application().Title(), MB_YESNO | MB_ICONWARNING) == IDYES;
}

void TfrmPrefs::done(int result)
{
    // The window stays open when its settings could not be saved.
    if (!FormClose()) return;
    QDialog::done(result);
}

void TfrmPrefs::closeEvent(QCloseEvent* event)
{
    if (!FormClose()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmPrefs::keyPressEvent(QKeyEvent* event)
{
    // No cancel button: Escape does not close the window.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- the settings file ----------------------------------------------------

void TfrmPrefs::SaveSettings(const std::string& path)
{
    TIniFile ini(path);
    ini.WriteInteger("Form", "Top", host_->Top());
    ini.WriteInteger("Form", "Left", host_->Left());
    ini.WriteBool("Form", "MinimizeOnClose", cbxMinimizeOnClose->Checked());
    ini.WriteBool("Form", "UseTransparency", cbxUseTransparency->Checked());
    ini.WriteBool("Form", "RemoveFromTaskBar", cbxRemoveFromTaskBar->Checked());
    ini.WriteString("Prefs", "BaseURL", edtBaseURL->Text());
    ini.WriteString("Prefs", "Username", edtUsername->Text());
    ini.WriteString("Prefs", "Password", Rot13(keyring_->PasswordForFile()));
    ini.WriteBool("Prefs", "PlayTickingSound", cbxPlayTickingSound->Checked());
    ini.WriteInteger("Prefs", "TickingSoundInterval", edtTickingSound->Value());
    ini.WriteInteger("Prefs", "HotKeyStartStop", hotkeyStartStop->HotKey());
    ini.WriteBool("Prefs", "ShowMinuteReminder", cbxMinuteReminder->Checked());
    ini.WriteInteger("Prefs", "MinuteReminderInterval", edtMinuteReminder->Value());
    ini.WriteBool("Prefs", "AutoStopStartOnIdleTime", cbxIdleTimeCheck->Checked());
    ini.WriteInteger("Prefs", "AutoStopStartOnIdleTimeMinutes", edtIdleTimeCheck->Value());
    // Written once the keyring keeps the password, so a file shared with the
    // Windows program changes only then (that program ignores the key).
    if (keyring_->InKeyring() || ini.ReadString("Prefs", "PasswordInKeyring", "\n") != "\n")
        ini.WriteBool("Prefs", "PasswordInKeyring", keyring_->InKeyring());
    keyring_->Saved();
}

void TfrmPrefs::LoadSettings(const std::string& path)
{
    // Copies of a save killed half way are of no use any more.
    platform::RemoveStaleProfileTemps(path);
    TIniFile ini(path);
    try {
        ini.Load();  // one read and parse for all the keys
    } catch (const Exception& e) {
        Application().ShowException(e.Message());
        return;
    }
    host_->SetTop(ini.ReadInteger("Form", "Top", 0));
    host_->SetLeft(ini.ReadInteger("Form", "Left", 0));
    cbxMinimizeOnClose->SetChecked(ini.ReadBool("Form", "MinimizeOnClose", false));
    cbxUseTransparency->SetChecked(ini.ReadBool("Form", "UseTransparency", true));
    cbxRemoveFromTaskBar->SetChecked(ini.ReadBool("Form", "RemoveFromTaskBar", true));
    edtBaseURL->SetText(ini.ReadString("Prefs", "BaseURL", LocalBaseURL()));
    edtUsername->SetText(ini.ReadString("Prefs", "Username", ""));
    const std::string password = Rot13(ini.ReadString("Prefs", "Password", ""));
    cbxPlayTickingSound->SetChecked(ini.ReadBool("Prefs", "PlayTickingSound", false));
    edtTickingSound->SetValue(ini.ReadInteger("Prefs", "TickingSoundInterval", 60));
    hotkeyStartStop->SetHotKey(
        static_cast<std::uint16_t>(ini.ReadInteger("Prefs", "HotKeyStartStop", hotkeyStartStop->HotKey()) & 0xFFFF));
    cbxMinuteReminder->SetChecked(ini.ReadBool("Prefs", "ShowMinuteReminder", true));
    edtMinuteReminder->SetValue(ini.ReadInteger("Prefs", "MinuteReminderInterval", 20));
    cbxIdleTimeCheck->SetChecked(ini.ReadBool("Prefs", "AutoStopStartOnIdleTime", false));
    edtIdleTimeCheck->SetValue(ini.ReadInteger("Prefs", "AutoStopStartOnIdleTimeMinutes", 2));
    // The password field is filled last, from the file or, once it answers, the keyring.
    keyring_->Loaded(ini.ReadBool("Prefs", "PasswordInKeyring", false), password);
}

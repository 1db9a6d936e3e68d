#include "prefs/frmPrefsUnit.h"

#include <QCloseEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QTextLayout>
#include <QPushButton>
#include <QSysInfo>
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
    // Room for the widest value and the arrows, in whatever font the desktop uses.
    s->setFixedWidth(std::max(42, s->fontMetrics().horizontalAdvance(QStringLiteral("8888")) + 30));
    return s;
}

// A message that wraps within the width the other controls give the page,
// rather than widening the window.
void Wrapping(QLabel* label)
{
    label->setWordWrap(true);
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    label->setSizePolicy(policy);
}

// A message that wraps at word boundaries, and inside a word wider than the
// line (a long address) rather than running past the window's edge. Its text
// stays as given, also for screen readers.
class MessageLabel : public QLabel {
public:
    explicit MessageLabel(QWidget* parent) : QLabel(parent) { setProperty("wrapAnywhere", true); }

    int heightForWidth(int width) const override
    {
        const QMargins m = contentsMargins();
        QTextLayout layout(text(), font(), const_cast<MessageLabel*>(this));
        return LayOut(layout, width - m.left() - m.right() - 2 * margin()) + m.top() + m.bottom() + 2 * margin();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
        QTextLayout layout(text(), font(), this);
        LayOut(layout, room.width());
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        layout.draw(&painter, room.topLeft());
    }

private:
    static int LayOut(QTextLayout& layout, int width)
    {
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        qreal y = 0;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(width, 1));
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        layout.endLayout();
        return static_cast<int>(std::ceil(y));
    }
};

// Keeps a check box as wide as the part of its caption that it shows (its
// "shownText"), in whatever font and style it has.
class ShownPartWidth : public QObject {
public:
    explicit ShownPartWidth(QCheckBox* box) : QObject(box) { Fit(box); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            Fit(static_cast<QCheckBox*>(watched));
        return false;
    }

private:
    static void Fit(QCheckBox* box)
    {
        QCheckBox probe(box->property("shownText").toString());
        probe.setFont(box->font());
        probe.setStyle(box->style());
        box->setFixedWidth(probe.sizeHint().width());
    }
};

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

    PageControl1 = new QTabWidget(this);
    // Never smaller than it always was; larger where the desktop's font or scale needs it.
    PageControl1->setMinimumSize(300, 201);

    // Enhancements.
    tabExtra = new QWidget;
    cbxMinuteReminder = new TCheckBox("Show reminder every                   minutes on the clock", tabExtra);
    // Only "Show reminder every" shows; the number stands on the blank part.
    cbxMinuteReminder->setProperty("shownText", QStringLiteral("Show reminder every"));
    cbxMinuteReminder->installEventFilter(new ShownPartWidth(cbxMinuteReminder));
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
    Label4->setBuddy(hotkeyStartStop);
    hotkeyStartStop->setAccessibleDescription(
        "The key combination that starts and stops the clock from anywhere. Press the keys to change it, "
        "Backspace to clear it.");
    // The numbers stand inside sentences; each is named for what it counts.
    cbxMinuteReminder->setAccessibleName("Show reminder every few minutes on the clock");
    edtMinuteReminder->SetAccessibleName("Reminder interval (minutes)");
    edtTickingSound->SetAccessibleName("Ticking sound interval (seconds)");
    edtIdleTimeCheck->SetAccessibleName("Idle time (minutes)");
    hotkeyStartStop->setFixedWidth(
        std::max(120, hotkeyStartStop->fontMetrics().horizontalAdvance(QStringLiteral("Ctrl + Shift + Alt + F12")) + 12));
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
        // Filled by the main window when the stored key is not active on this
        // desktop; the key itself stays stored.
        auto* lblHotKeyNote = new QLabel(tabExtra);
        lblHotKeyNote->setObjectName("lblHotKeyNote");
        Wrapping(lblHotKeyNote);
        v->addWidget(lblHotKeyNote);
        v->addStretch(1);
    }

    // Window.
    tabWindow = new QWidget;
    cbxMinimizeOnClose = new TCheckBox("Minimize to tray on close (instead of exiting)", tabWindow);
    cbxUseTransparency = new TCheckBox("Make window transparent when out of focus", tabWindow);
    cbxRemoveFromTaskBar = new TCheckBox("Remove from task bar (only show in system tray)", tabWindow);
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
    edtBaseURL->setStatusTip("The base url of the chronel application");  // hints are off here
    edtUsername = new TEdit(tabServer);
    edtPassword = new TEdit(tabServer);
    edtPassword->setEchoMode(QLineEdit::Password);
    cbxPasswordInKeyring = new TCheckBox("&Keep the password in the desktop's keyring", tabServer);
    lblBaseURLProblem = new MessageLabel(tabServer);
    lblBaseURLProblem->setObjectName("lblBaseURLProblem");
    Wrapping(lblBaseURLProblem);
    lblBaseURLProblem->setStyleSheet("color: #b00000");
    lblBaseURLProblem->setVisible(false);
    edtBaseURL->OnChange = [this](TEdit*) { ShowBaseUrlProblem(); };
    auto* Label16 = new QLabel(
        "Changes to these settings take effect when this window is closed.", tabServer);
    Wrapping(Label16);
    {
        auto* g = new QGridLayout(tabServer);
        g->setContentsMargins(6, 8, 6, 6);
        auto* lblBaseURL = new QLabel("Base URL", tabServer);
        lblBaseURL->setBuddy(edtBaseURL);
        g->addWidget(lblBaseURL, 0, 0);
        g->addWidget(edtBaseURL, 0, 1);
        g->addWidget(lblBaseURLProblem, 1, 0, 1, 2);
        g->addWidget(new QLabel("Automatically login with credentials below", tabServer), 2, 0, 1, 2);
        auto* lblUsername = new QLabel("Username", tabServer);
        lblUsername->setBuddy(edtUsername);
        g->addWidget(lblUsername, 3, 0);
        g->addWidget(edtUsername, 3, 1);
        auto* lblPassword = new QLabel("Password", tabServer);
        lblPassword->setBuddy(edtPassword);
        g->addWidget(lblPassword, 4, 0);
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
        icon->setAccessibleName("Chronel Timer");
        // Named after the system it runs on.
        const QString kernel = QSysInfo::kernelType();
        const QString system = kernel == QLatin1String("winnt")    ? QStringLiteral("Windows")
                               : kernel == QLatin1String("linux")  ? QStringLiteral("Linux")
                               : kernel == QLatin1String("darwin") ? QStringLiteral("macOS")
                                                                   : QSysInfo::prettyProductName();
        auto* Label6 = new QLabel("Chronel Timer Client for " + system, tabAbout);
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
        // Tab reaches the link, Enter opens it.
        Label9->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        Label9->setAccessibleName(domain);
        Label9->setAccessibleDescription("Opens the service's web site in the browser");
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
    // A screen reader names the pages as their tabs do.
    PageControl1->setAccessibleName("Preferences");
    for (int i = 0; i < PageControl1->count(); ++i) PageControl1->widget(i)->setAccessibleName(PageControl1->tabText(i));
    PageControl1->setCurrentWidget(tabAbout);

    OKBtn = new QPushButton("Close", this);
    OKBtn->setMinimumSize(75, 25);
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    HelpBtn = new QPushButton("&Help", this);
    HelpBtn->setMinimumSize(75, 25);
    HelpBtn->setAutoDefault(false);
    {
        auto* v = new QVBoxLayout(this);
        v->setContentsMargins(8, 8, 7, 8);
        v->addWidget(PageControl1, 1);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch(1);
        buttons->addWidget(OKBtn);
        buttons->addSpacing(13);
        buttons->addWidget(HelpBtn);
        v->addLayout(buttons);
        // A fixed border, at the size the pages need (the base URL's message included).
        v->setSizeConstraint(QLayout::SetFixedSize);
    }
    connect(OKBtn, &QPushButton::clicked, this, [this] { accept(); });
    connect(HelpBtn, &QPushButton::clicked, this, [this] { Application().Guard([this] { HelpBtnClick(); }); });

    // A first run's settings until a file is loaded.
    ShowSettings(TSettings::FirstRun());

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

    // The settings value follows every control, whoever changes it.
    for (QCheckBox* box : {static_cast<QCheckBox*>(cbxMinimizeOnClose), static_cast<QCheckBox*>(cbxUseTransparency),
                           static_cast<QCheckBox*>(cbxRemoveFromTaskBar), static_cast<QCheckBox*>(cbxPlayTickingSound),
                           static_cast<QCheckBox*>(cbxMinuteReminder), static_cast<QCheckBox*>(cbxIdleTimeCheck),
                           static_cast<QCheckBox*>(cbxPasswordInKeyring)})
        connect(box, &QCheckBox::toggled, this, [this] { SyncSettings(); });
    for (QLineEdit* edit : {static_cast<QLineEdit*>(edtBaseURL), static_cast<QLineEdit*>(edtUsername),
                            static_cast<QLineEdit*>(edtPassword), static_cast<QLineEdit*>(hotkeyStartStop),
                            edtTickingSound->Editor(), edtMinuteReminder->Editor(), edtIdleTimeCheck->Editor()})
        connect(edit, &QLineEdit::textChanged, this, [this] { SyncSettings(); });
    SyncSettings();
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
    // Where no program opens web pages the user learns it, not a silent click.
    const std::string site = ServiceWebSite();
    if (CurrentPlatform().Shell->ShellExecute("open", site) <= 32)
        CurrentPlatform().MessageBox->Show(OpenLinkErrorText(site),
                                           Application().Title(), MB_OK);
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

void TfrmPrefs::SyncSettings()
{
    TSettings& s = CurrentSettings();
    s.MinimizeOnClose = cbxMinimizeOnClose->Checked();
    s.UseTransparency = cbxUseTransparency->Checked();
    s.RemoveFromTaskBar = cbxRemoveFromTaskBar->Checked();
    s.BaseURL = edtBaseURL->Text();
    s.Username = edtUsername->Text();
    s.Password = edtPassword->Text();
    s.PlayTickingSound = cbxPlayTickingSound->Checked();
    s.TickingSoundInterval = edtTickingSound->Peek();
    s.HotKeyStartStop = hotkeyStartStop->HotKey();
    s.ShowMinuteReminder = cbxMinuteReminder->Checked();
    s.MinuteReminderInterval = edtMinuteReminder->Peek();
    s.AutoStopStartOnIdleTime = cbxIdleTimeCheck->Checked();
    s.AutoStopStartOnIdleTimeMinutes = edtIdleTimeCheck->Peek();
    s.PasswordInKeyring = keyring_ && keyring_->InKeyring();
}

void TfrmPrefs::ShowSettings(const TSettings& s)
{
    cbxMinimizeOnClose->SetChecked(s.MinimizeOnClose);
    cbxUseTransparency->SetChecked(s.UseTransparency);
    cbxRemoveFromTaskBar->SetChecked(s.RemoveFromTaskBar);
    edtBaseURL->SetText(s.BaseURL);
    edtUsername->SetText(s.Username);
    cbxPlayTickingSound->SetChecked(s.PlayTickingSound);
    edtTickingSound->SetValue(s.TickingSoundInterval);
    hotkeyStartStop->SetHotKey(static_cast<std::uint16_t>(s.HotKeyStartStop));
    cbxMinuteReminder->SetChecked(s.ShowMinuteReminder);
    edtMinuteReminder->SetValue(s.MinuteReminderInterval);
    cbxIdleTimeCheck->SetChecked(s.AutoStopStartOnIdleTime);
    edtIdleTimeCheck->SetValue(s.AutoStopStartOnIdleTimeMinutes);
}

void TfrmPrefs::SaveSettings(const std::string& path)
{
    SyncSettings();
    TSettings s = CurrentSettings();
    s.Top = host_->Top();
    s.Left = host_->Left();
    // The file holds the password only while the keyring does not.
    s.Password = keyring_->PasswordForFile();
    s.PasswordInKeyring = keyring_->InKeyring();
    WriteSettingsFile(path, s);
    keyring_->Saved();
}

void TfrmPrefs::LoadSettings(const std::string& path)
{
    // Copies of a save killed half way are of no use any more.
    platform::RemoveStaleProfileTemps(path);
    TSettings s;
    try {
        SyncSettings();
        s = ReadSettingsFile(path, CurrentSettings());
    } catch (const Exception& e) {
        Application().ShowException(e.Message());
        return;
    }
    host_->SetTop(s.Top);
    host_->SetLeft(s.Left);
    ShowSettings(s);
    // The password field is filled last, from the file or, once it answers, the keyring.
    keyring_->Loaded(s.PasswordInKeyring, s.Password);
    SyncSettings();
}

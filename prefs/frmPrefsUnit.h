#pragma once
// The preferences window: it edits the settings value (CurrentSettings()),
// which follows its controls; LoadSettings and SaveSettings move the value
// to and from the file.
#include <QDialog>
#include <memory>
#include <string>

#include "components/Controls.h"
#include "components/HotKey.h"
#include "components/SpinEdit.h"
#include "prefs/KeyringPassword.h"
#include "session/Settings.h"

class QLabel;
class QPushButton;
class QTabWidget;
class IPrefsHost;

// An absolute http or https URL with a host, loadable exactly as typed.
bool IsValidBaseUrl(const std::string& url);
std::string InvalidBaseUrlMessage(const std::string& url);

class TfrmPrefs : public QDialog {
public:
    explicit TfrmPrefs(IPrefsHost* host, QWidget* parent = nullptr);

    // A settings file too large to be one is reported and left alone: the
    // controls keep their state.
    void LoadSettings(const std::string& path);
    // Shows under the base URL why it cannot be used (nothing when it can);
    // true when it can.
    bool ShowBaseUrlProblem();
    void SaveSettings(const std::string& path);
    // The controls show these settings (the position is the host's).
    void ShowSettings(const TSettings& settings);
    // The settings value takes what the controls show.
    void SyncSettings();
    // Saves; when that fails asks "The settings could not be saved (<reason>).
    // Close anyway?". True when saved (*saved set) or answered Yes.
    bool SaveSettingsOrAskToClose(const std::string& path, bool* saved = nullptr);

    // Handlers.
    void edtsChange();
    void cbxsClick();
    void edtTickingSoundChange();
    void edtMinuteReminderChange();
    void cbxMinuteReminderClick();
    void cbxRemoveFromTaskBarClick();
    void hotkeyStartStopExit();
    void HelpBtnClick();
    void Label9Click();
    // Writes or removes the desktop session's autostart entry.
    void cbxStartWithSessionClick();
    // False when saving failed and the user chose to keep the window open.
    bool FormClose();

    bool SettingsChanged = false;
    // The password in the desktop's keyring: what the login may use, and the
    // keyring's work before the program ends.
    TKeyringPassword& Keyring() { return *keyring_; }

    QTabWidget* PageControl1;
    QWidget* tabExtra;
    QWidget* tabWindow;
    QWidget* tabServer;
    QLabel* lblBaseURLProblem;
    QWidget* tabAbout;
    TCheckBox* cbxMinuteReminder;
    TCSpinEdit* edtMinuteReminder;
    TCheckBox* cbxPlayTickingSound;
    TCSpinEdit* edtTickingSound;
    TCheckBox* cbxIdleTimeCheck;
    TCSpinEdit* edtIdleTimeCheck;
    THotKey* hotkeyStartStop;
    TCheckBox* cbxMinimizeOnClose;
    TCheckBox* cbxUseTransparency;
    TCheckBox* cbxRemoveFromTaskBar;
    TCheckBox* cbxStartWithSession;  // not in the settings file: the autostart entry is the setting
    TEdit* edtBaseURL;
    TEdit* edtUsername;
    TEdit* edtPassword;
    TCheckBox* cbxPasswordInKeyring;  // "PasswordInKeyring": the password is not in the file
    QLabel* Label9;
    QPushButton* OKBtn;
    QPushButton* HelpBtn;

protected:
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The box follows the autostart entry on disk.
    void ShowAutostart();
    bool showingAutostart_ = false;
    IPrefsHost* host_;
    std::unique_ptr<TKeyringPassword> keyring_;
};

// The one preferences window of the program (created at start-up).
extern TfrmPrefs* frmPrefs;

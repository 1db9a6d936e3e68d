#include "main_window/ChronelUnit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>

#include "components/Application.h"
#include "components/SettingsPath.h"
#include "platform/Platform.h"
#include "prefs/frmPrefsUnit.h"

TForm1* Form1 = nullptr;

namespace {
constexpr int kOuterWidth = 132;
constexpr int kOuterHeight = 176;
}  // namespace

TForm1::TForm1()
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint)
{
    Form1 = this;
    setWindowTitle("Chronel Timer");
    QFont f("MS Sans Serif");
    f.setPointSize(8);
    setFont(f);
    resize(kOuterWidth, kOuterHeight);

    WebHost = new QWidget(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(WebHost);

    ApplicationEvents1.OnActivate = nullptr;
    ApplicationEvents1.OnDeactivate = nullptr;
    ApplicationEvents1.OnMinimize = nullptr;

    HidetoTray1 = mnuApp.Add("HidetoTray1", "Hide to Tray");
    Preferences1 = mnuApp.Add("Preferences1", "Preferences");
    Exit1 = mnuApp.Add("Exit1", "Exit");
    N1 = mnuApp.Add("N1", "-");
    StartClock1 = mnuApp.Add("StartClock1", "Start Clock");
    StopClock1 = mnuApp.Add("StopClock1", "Stop Clock");
    StopClock1->SetVisible(false);
    HidetoTray1->OnClick = [this](TMenuItem*) { HidetoTray1Click(); };
    Preferences1->OnClick = [this](TMenuItem*) { Preferences1Click(); };
    Exit1->OnClick = [this](TMenuItem*) { Exit1Click(); };
    StartClock1->OnClick = [this](TMenuItem*) { StartClock1Click(); };
    StopClock1->OnClick = [this](TMenuItem*) { StartClock1Click(); };
    mnuApp.OnPopup = [this](TPopupMenu*) { mnuAppPopup(); };

    FillClockIcons(icons);
    preg.SetOptions(preCaseLess);

    tmrTickingSound.SetEnabled(false);
    tmrTickingSound.SetInterval(60000);
    tmrTickingSound.OnTimer = [this](TTimer*) { tmrTickingSoundTimer(); };
    tmrMinuteReminder.SetEnabled(false);
    tmrMinuteReminder.SetInterval(1200000);
    tmrMinuteReminder.OnTimer = [this](TTimer*) { tmrMinuteReminderTimer(); };
    tmrEverything.SetInterval(1000);
    tmrEverything.SetEnabled(true);
    tmrEverything.OnTimer = [this](TTimer*) { tmrEverythingTimer(); };

    FormCreate();
}

TForm1::~TForm1()
{
    if (IHotKeys* hotKeys = CurrentPlatform().HotKeys) hotKeys->UnregisterHotKey(tmrEverything.Handle(), 0);
    if (Form1 == this) Form1 = nullptr;
}

// ---- lifecycle ------------------------------------------------------------

void TForm1::FormCreate()
{
    RunningUnderWine = IsRunningUnderWine();
}

bool TForm1::IsRunningUnderWine()
{
    return CurrentPlatform().Registry->CanOpenLocalMachineKey("Software\\Wine");
}

void TForm1::FormShow()
{
    const std::string path = SettingsFilePath();
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        frmPrefs->LoadSettings(path);
        frmPrefs->PageControl1->setCurrentWidget(frmPrefs->tabExtra);
    } else {
        frmPrefs->show();
        frmPrefs->PageControl1->setCurrentWidget(frmPrefs->tabServer);
        frmPrefs->edtUsername->setFocus();
        frmPrefs->raise();
        frmPrefs->activateWindow();
    }
    CurrentPlatform().Taskbar->SetButtonVisible(!frmPrefs->cbxRemoveFromTaskBar->Checked());
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) return;  // a restore, not a show
    Application().Guard([this] { FormShow(); });
    if (!shownOnce_) {
        shownOnce_ = true;
        // The first show is centred, whatever position was loaded.
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.center().x() - kOuterWidth / 2, area.center().y() - kOuterHeight / 2);
        }
        QTimer::singleShot(300, this, [this] { FitOuterSize(); });
        // The window may never get a paint of its own when the browser covers it.
        QTimer::singleShot(0, this, [this] { update(); });
    }
}

void TForm1::FitOuterSize()
{
    // The outer size includes the frame the window manager added.
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame.width() >= 0 && frame.height() >= 0 && frame.width() < kOuterWidth && frame.height() < kOuterHeight)
        resize(kOuterWidth - frame.width(), kOuterHeight - frame.height());
}

void TForm1::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (paintHandlerAttached_) Application().Guard([this] { FormPaint(); });
}

void TForm1::FormPaint()
{
    paintHandlerAttached_ = false;  // once per run
}

void TForm1::Preferences1Click()
{
    if (frmPrefs->isVisible()) {
        // Already open without a modal loop (first run): bring it forward.
        frmPrefs->raise();
        frmPrefs->activateWindow();
        return;
    }
    frmPrefs->exec();
}

void TForm1::Exit1Click()
{
    ExitRequested = true;
    Close();
}

void TForm1::HidetoTray1Click()
{
    hide();
}

void TForm1::mnuAppPopup()
{
    HidetoTray1->SetVisible(isVisible());
}

bool TForm1::Close()
{
    return close();
}

bool TForm1::FormCloseQuery()
{
    if (frmPrefs->cbxMinimizeOnClose->Checked() && !ExitRequested) {
        HidetoTray1->Click();
        return false;
    }
    if (!ClockRunning) return true;
    AskToStopAndExit();
    return false;
}

bool TForm1::AskToStopAndExit()
{
    const int answer = CurrentPlatform().MessageBox->Show("Do you want to stop your time clock and exit?",
                                                          "Time Clock Still Running", MB_YESNO);
    if (answer != IDYES) return false;
    CloseWhenStopped = true;
    StartClock1->Click();
    return true;
}

bool TForm1::FormClose()
{
    return Application().Guard([] { frmPrefs->SaveSettings(SettingsFilePath()); });
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (closed_) {
        event->accept();
        return;
    }
    bool canClose = false;
    Application().Guard([&] { canClose = FormCloseQuery(); });
    if (!canClose || closed_ || !FormClose()) {
        // closed_ may have been set by a nested close inside the question.
        if (!closed_) event->ignore();
        return;
    }
    closed_ = true;
    event->accept();
    QCoreApplication::quit();
}

bool TForm1::QueryEndSession()
{
    if (closed_) return true;
    if (!ClockRunning) {
        // Hiding to the tray must not hold the session up: save and let it end.
        if (!FormClose()) return false;
        closed_ = true;
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return true;
    }
    // While the clock runs the user is asked; the session waits either way.
    // A Yes means exit, so the close that follows the stop must not hide.
    if (AskToStopAndExit()) ExitRequested = true;
    return closed_;
}

// ---- clock ------------------------------------------------------------------

void TForm1::SetCaption(const std::string& caption)
{
    setWindowTitle(QString::fromStdString(caption));
    Application().SetTitle(caption);
}

void TForm1::StartClock1Click() {}

void TForm1::tmrEverythingTimer() {}

void TForm1::tmrMinuteReminderTimer() {}

void TForm1::tmrTickingSoundTimer() {}

void TForm1::RegisterStartStopHotKey() {}

// ---- position -----------------------------------------------------------------

int TForm1::Top() const
{
    return y();
}

int TForm1::Left() const
{
    return x();
}

void TForm1::SetTop(int top)
{
    move(x(), top);
}

void TForm1::SetLeft(int left)
{
    move(left, y());
}

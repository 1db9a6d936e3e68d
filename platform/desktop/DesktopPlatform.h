#pragma once
// The real services on the Linux desktop (Qt, plus X11 where Qt has none).
#include <QHash>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/KeyboardLayout.h"
#include "platform/Network.h"
#include "platform/Platform.h"

class QTimer;

class QTimeZone;

// Local time of a UTC instant as days since 1899-12-30 with the fraction of
// the day. The zone's offset is looked up once per period between two of its
// transitions, not at every reading.
class ZoneOffsets {
public:
    double LocalDays(const QTimeZone& zone, qint64 utcMs);
    void Forget() { known_ = false; }

private:
    bool known_ = false;
    qint64 from_ = 0, until_ = 0;  // the UTC span the offset holds for
    qint64 offsetMs_ = 0;
};

class DesktopClock : public IClock {
public:
    DesktopClock();
    ~DesktopClock() override;
    double Now() override;
    std::uint32_t GetTickCount() override;

private:
    // The local zone, looked up once and again only when the system's zone
    // changes, not at every reading of the time.
    struct Zone;
    std::unique_ptr<Zone> zone_;
};

class DesktopMessageWindows : public QObject, public IMessageWindows {
    Q_OBJECT
public:
    ~DesktopMessageWindows() override;
    HWND AllocateHWnd(TWndMethod method) override;
    void DeallocateHWnd(HWND wnd) override;
    bool IsWindow(HWND wnd) override;
    bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool SetTimer(HWND wnd, UINT_PTR id, UINT elapseMs) override;
    bool KillTimer(HWND wnd, UINT_PTR id) override;
    UINT RegisterWindowMessage(const std::string& name) override;
    void BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
    void customEvent(QEvent* event) override;

private:
    struct Window {
        std::shared_ptr<TWndMethod> method;
        std::map<UINT_PTR, QTimer*> timers;
    };
    void Beat();
    void LeaveBeat(HWND wnd, UINT_PTR id);

    HWND next_ = 0x1000;
    // One-second timers share one beat, so the program wakes once a second
    // however many of them run; each holds the time it was set.
    std::map<std::pair<HWND, UINT_PTR>, qint64> beatMembers_;
    QTimer* beat_ = nullptr;
    std::map<HWND, Window> windows_;
    RegisteredMessages registered_;
};

class DesktopMessageBox : public IMessageBox {
public:
    int Show(const std::string& text, const std::string& caption, UINT type) override;
};

class DesktopShell : public IShell {
public:
    std::intptr_t ShellExecute(const std::string& verb, const std::string& file) override;
};

class DesktopAppState : public QObject, public IAppState {
    Q_OBJECT
public:
    DesktopAppState();
    bool IsActive() override { return active_; }
    bool IsMinimized() override;
    void Minimize() override;
    void Restore() override;
    void SetMainWindow(QWidget* window) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CheckActive();
    void CheckIconic();
    QPointer<QWidget> main_;
    QTimer* iconicCheck_ = nullptr;
    int iconicChecksLeft_ = 0;
    bool active_ = false;
    bool minimized_ = false;
    bool checkQueued_ = false;
};

class X11Taskbar : public QObject, public ITaskbar {
    Q_OBJECT
public:
    void SetButtonVisible(bool visible) override;
    bool ButtonVisible() override { return visible_; }
    void SetMainWindow(QWidget* window) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Apply();
    QPointer<QWidget> main_;
    bool visible_ = true;
};

class LinuxRegistry : public IRegistry {
public:
    bool CanOpenLocalMachineKey(const std::string&) override { return false; }
};

class DesktopWindowSystem : public IWindowSystem {
public:
    bool Offers(WindowBehaviour behaviour) const override;
    std::string Describe() const override;
    // The user's name for a toolkit platform ("xcb", "wayland", ...).
    static std::string DescribePlatform(const std::string& platform);
};

// Before the toolkit starts: picks the window system the program runs on,
// and software painting for the window and its page.
void ChooseWindowSystem();
// Once the toolkit has started: the environment the programs it starts get is the user's again.
void WindowSystemStarted();

// The window system, idle-time source and hot-key service the program would
// use on this session, one "Name: description" line each. Starts and ends a
// toolkit application of its own: call it where none exists. settingsFile:
// the settings file the program would run with (the desktop may hold its
// hot key under that file's name).
std::vector<std::string> DescribeDesktopServices(const std::string& settingsFile = {});

// Factories of the services that live in units of their own.
std::unique_ptr<INotifyIcons> CreateDesktopNotifyIcons(IMessageWindows& windows);
std::unique_ptr<IDesktopInput> CreateDesktopInput();
// Where a tray host asked for an icon's menu to open: until cleared, the
// pointer position the desktop input reports, so that the menu opens there
// and not wherever the pointer happens to be.
void SetTrayMenuAnchor(std::optional<QPoint> at);
// The keymap keys are pressed on: the Wayland compositor's in a Wayland
// session, else the X server's; null when neither can be read.
std::unique_ptr<IKeyboardLayout> CreateDesktopKeyboardLayout();
// keyboard: where keys are found; null when the layout is not known.
std::unique_ptr<IHotKeys> CreateDesktopHotKeys(IMessageWindows& windows, IKeyboardLayout* keyboard);
std::unique_ptr<ISoundPlayers> CreateDesktopSoundPlayers();
std::unique_ptr<IBrowsers> CreateDesktopBrowsers();

// Owns the desktop services and installs them as the current platform.
class DesktopPlatform {
public:
    DesktopPlatform();
    ~DesktopPlatform();
    void AttachMainWindow(QWidget* window);

    DesktopClock clock;
    DesktopMessageWindows windows;
    DesktopMessageBox messageBox;
    DesktopShell shell;
    DesktopAppState appState;
    X11Taskbar taskbar;
    LinuxRegistry registry;
    DesktopWindowSystem windowSystem;
    std::unique_ptr<ILastInput> lastInput;  // the session's best idle-time source
    // Services added by their own units; may be replaced.
    std::unique_ptr<INotifyIcons> notifyIcons;
    std::unique_ptr<IDesktopInput> input;
    std::unique_ptr<IKeyboardLayout> keyboard;
    std::unique_ptr<IHotKeys> hotKeys;
    std::unique_ptr<ISoundPlayers> soundPlayers;
    std::unique_ptr<IBrowsers> browsers;
    std::unique_ptr<INetworkStatus> network;
    std::unique_ptr<ISecrets> secrets;
    Platform platform;

private:
    void InstallAddedServices();
};

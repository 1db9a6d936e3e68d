#pragma once
// Deterministic platform for tests: virtual time, recorded effects, scripted
// answers. Nothing fires until the test advances the clock or pumps messages.
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/KeyboardLayout.h"
#include "platform/Network.h"
#include "platform/Platform.h"
#include "platform/sim/SimSecrets.h"
#include "platform/sim/SimSession.h"

struct xkb_context;

class SimClock : public IClock {
public:
    double Now() override;
    std::uint32_t GetTickCount() override;

    std::uint64_t elapsedMs = 0;       // virtual milliseconds since the start
    double startDateTime = 46027.375;  // 2026-01-05 09:00 local
    std::uint32_t tickAtStart = 1000000;
};

class SimMessageWindows : public IMessageWindows {
public:
    explicit SimMessageWindows(SimClock& clock) : clock_(clock) {}
    HWND AllocateHWnd(TWndMethod method) override;
    void DeallocateHWnd(HWND wnd) override;
    bool IsWindow(HWND wnd) override;
    bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool SetTimer(HWND wnd, UINT_PTR id, UINT elapseMs) override;
    bool KillTimer(HWND wnd, UINT_PTR id) override;
    UINT RegisterWindowMessage(const std::string& name) override;
    void BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Delivers the posted messages, including those posted meanwhile.
    void ProcessMessages();
    // Moves virtual time forward, firing due timers in order.
    void Advance(std::uint64_t ms);
    bool HasTimer(HWND wnd, UINT_PTR id) const;
    UINT TimerInterval(HWND wnd, UINT_PTR id) const;
    std::size_t TimerCount() const { return timers_.size(); }
    std::size_t WindowCount() const { return windows_.size(); }

private:
    struct Timer {
        UINT interval = 0;
        std::uint64_t due = 0;
    };
    struct Posted {
        HWND wnd;
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    SimClock& clock_;
    HWND next_ = 0x100;
    std::map<HWND, std::shared_ptr<TWndMethod>> windows_;
    std::map<std::pair<HWND, UINT_PTR>, Timer> timers_;
    std::deque<Posted> posted_;
    RegisteredMessages registered_;
};

class SimMessageBox : public IMessageBox {
public:
    struct Shown {
        std::string text, caption;
        UINT type;
    };
    int Show(const std::string& text, const std::string& caption, UINT type) override;
    std::vector<Shown> shown;
    std::deque<int> answers;  // scripted; when empty: IDOK, or IDNO for a question
};

class SimShell : public IShell {
public:
    std::intptr_t ShellExecute(const std::string& verb, const std::string& file) override;
    std::vector<std::pair<std::string, std::string>> opened;  // verb, file
    std::intptr_t result = 42;
};

class SimAppState : public IAppState {
public:
    bool IsActive() override { return active; }
    bool IsMinimized() override { return minimized; }
    void Minimize() override;
    void Restore() override;
    void Activate();
    void Deactivate();
    bool active = true;
    bool minimized = false;
};

class SimTaskbar : public ITaskbar {
public:
    void SetButtonVisible(bool v) override { visible = v; history.push_back(v); }
    bool ButtonVisible() override { return visible; }
    bool visible = true;
    std::vector<bool> history;
};

class SimRegistry : public IRegistry {
public:
    bool CanOpenLocalMachineKey(const std::string& subKey) override { return keys.count(subKey) > 0; }
    std::set<std::string> keys;
};

class SimNotifyIcons : public INotifyIcons {
public:
    explicit SimNotifyIcons(SimMessageWindows& windows) : windows_(windows) {}
    bool ShellNotifyIcon(DWORD message, const NotifyIconData& data) override;
    // Posts a callback as the shell would for a mouse action or notice.
    void Inject(UINT id, UINT lParamMessage);
    // The tray host restarts: all icons are gone and "TaskbarCreated" is broadcast.
    void RestartHost();
    const NotifyIconData* Find(UINT id) const;
    bool HostPresent() override { return hostPresent; }
    // The tray host goes away (icons stay recorded, unseen) or comes back,
    // which a restart announces.
    void SetHostPresent(bool present);

    struct Call {
        DWORD message;
        NotifyIconData data;
    };
    std::vector<Call> calls;
    std::map<UINT, NotifyIconData> icons;
    bool fail = false;
    bool hostPresent = true;

private:
    SimMessageWindows& windows_;
};

class SimInput : public IDesktopInput {
public:
    TPoint GetCursorPos() override { return cursor; }
    bool ShiftDown() override { return shift; }
    bool CtrlDown() override { return ctrl; }
    bool AltDown() override { return alt; }
    UINT GetDoubleClickTime() override { return doubleClickTime; }
    bool SetForegroundWindow(QWidget* window) override
    {
        foreground.push_back(window);
        return window != nullptr;
    }
    TPoint cursor;
    bool shift = false, ctrl = false, alt = false;
    UINT doubleClickTime = 500;
    std::vector<QWidget*> foreground;  // every window brought to the front, in order
};

class SimHotKeys : public IHotKeys {
public:
    explicit SimHotKeys(SimMessageWindows& windows) : windows_(windows) {}
    bool RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey) override;
    bool UnregisterHotKey(HWND wnd, int id) override;
    HotKeyFailure LastFailure() const override { return lastFailure; }
    // A combination held by another program.
    void Reserve(UINT modifiers, UINT virtualKey) { reserved.insert({modifiers, virtualKey}); }
    // Set: every registration fails this way (a desktop without grabs, a layout without the key).
    HotKeyFailure failAll = HotKeyFailure::None;
    HotKeyFailure lastFailure = HotKeyFailure::None;
    // The user presses a combination; true when a registration took it.
    bool Press(UINT modifiers, UINT virtualKey);

    struct Registration {
        HWND wnd;
        int id;
    };
    std::map<std::pair<UINT, UINT>, Registration> registered;
    std::set<std::pair<UINT, UINT>> reserved;

private:
    SimMessageWindows& windows_;
};

// A keymap compiled from layout names, as a desktop's would be; none at first.
class SimKeyboardLayout : public IKeyboardLayout {
public:
    ~SimKeyboardLayout() override;
    // The keymap of these layouts ("de", "de,us") with the given one active;
    // an empty list: no keymap known. Raises OnChanged.
    void Use(const std::string& layouts, unsigned active = 0);
    xkb_keymap* Keymap() const override { return keymap_; }
    unsigned Layout() const override { return layout_; }
    std::string Describe() const override { return "simulated keymap"; }

private:
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    unsigned layout_ = 0;
};

class SimLastInput : public ILastInput {
public:
    bool GetLastInputTick(std::uint32_t& t) override { t = tick; return ok; }
    bool Failing() const override { return !ok && !pending; }
    std::uint32_t tick = 0;
    bool ok = true;
    // With ok false: the reading is only late (the source still works).
    bool pending = false;
};

class SimSoundPlayer : public ISoundPlayer {
public:
    bool Open(const std::string& fileName) override;
    void Play() override;
    bool AtEnd() override { return atEnd; }
    void Rewind() override;
    void Stop() override;
    void Close() override;
    TMPModes Mode() override { return mode; }
    std::string ErrorText() override { return errorText; }
    // The device reports the end of a play (a failure with errorText).
    void Finish(TMPNotifyValues value = TMPNotifyValues::nvSuccessful);

    std::vector<std::string> log;  // "open <file>", "play", "rewind", "stop", "close"
    bool atEnd = false;
    std::string errorText;
    std::set<std::string> existingFiles;  // empty: every file opens
    TMPModes mode = TMPModes::mpNotReady;
};

class SimSoundPlayers : public ISoundPlayers {
public:
    std::unique_ptr<ISoundPlayer> Create() override;
    std::vector<SimSoundPlayer*> created;
    bool openFails = false;  // given to every new device: no file opens
};

class SimBrowserView;

class SimDocument : public IHtmlDocument {
public:
    SimDocument() = default;
    SimDocument(const SimDocument&) = delete;
    SimDocument& operator=(const SimDocument&) = delete;
    ~SimDocument() override;
    bool HasBody() override { return hasBody; }
    bool BodyIsBodyElement() override { return bodyIsBodyElement; }
    void SetBodyBorderStyle(const std::string& s) override { borderStyle = s; }
    void SetBodyScroll(const std::string& s) override { scroll = s; }
    bool ExecScript(const std::string& script) override;
    bool SaveHtml(std::string& out) override;
    void SetUIHandler(IDocHostUIHandler* h) override;  // holds a reference

    std::string url, html;
    bool hasBody = true, bodyIsBodyElement = true, saveFails = false;
    std::string borderStyle, scroll;
    std::vector<std::string> scripts;
    IDocHostUIHandler* uiHandler = nullptr;
    std::function<void(const std::string&)> onScript;  // what running a script does
    SimBrowserView* view = nullptr;
};

class SimBrowserView : public IBrowserView {
public:
    explicit SimBrowserView(QWidget* parent);
    ~SimBrowserView() override;
    QWidget* Widget() override { return widget_; }
    void Navigate(const std::string& url, int flags, const std::string& target,
                  const std::string& postData, const std::string& headers) override;
    bool Busy() override { return busy; }
    IHtmlDocument* Document() override { return document.get(); }
    void LoadHtml(const std::string& html) override;
    bool TakeUserGesture() override
    {
        if (gestures == 0) return false;
        --gestures;
        return true;
    }
    int gestures = 0;  // clicks and keys of the user in the page not yet used
    void Discard() override;
    bool Discarded() override { return discarded; }
    bool discarded = false;
    int discards = 0;
    int pagesMade = 0;  // pages the engine made: the first load's, and each after a discard
    // Finishes the pending navigation: the page loads and completes.
    void CompleteNavigation();
    // The pending navigation fails: not busy, then OnNavigateError.
    void FailNavigation(int statusCode, const std::string& reason);
    // The same with what an engine says of it (its URL is the pending one).
    void FailNavigation(TNavigateErrorArgs error);
    // The pending navigation ends without a page (a 204, a stopped load): not busy, then OnLoadEnded.
    void EndNavigation();
    // The page navigates by itself (a link, a form, a script, a redirect):
    // before-navigate, then pending unless cancelled. With asyncEngine, one
    // that a script starts is reported only when posted messages are next
    // processed, after the script call has returned (as the desktop engine does).
    void PageNavigate(const std::string& url, const std::string& postData = {});
    bool asyncEngine = false;
    // A right click in the page at a screen point: asks the document's UI
    // handler; true when the browser's own menu would open (counted in engineMenus).
    bool RightClick(TPoint at, DWORD kind = 0);
    int engineMenus = 0;

    struct Navigation {
        std::string url, target, postData, headers;
        int flags;
    };
    std::vector<Navigation> navigations;
    std::map<std::string, std::string> pages;  // url -> html; unknown urls load empty
    std::unique_ptr<SimDocument> document;
    std::string pendingUrl;
    std::string pendingLocalHtml;  // LoadHtml's page while pending
    bool pendingLocal = false;
    bool busy = false;
    std::function<void(const std::string&)> onScript;  // given to every new document

private:
    friend class SimDocument;
    void DeliverLateNavigations();
    // A load needs a page: made at the first one and after a discard.
    void MakePage();
    bool hasPage_ = false;
    QWidget* widget_;
    HWND wnd_ = 0;
    int scriptDepth_ = 0;
    std::deque<std::pair<std::string, std::string>> late_;  // url, post data
};

class SimBrowsers : public IBrowsers {
public:
    std::unique_ptr<IBrowserView> Create(QWidget* parent) override;
    std::vector<SimBrowserView*> created;
};

class SimNetworkStatus : public INetworkStatus {
public:
    // The system reports the network reachable again.
    void ComeBack()
    {
        if (OnOnline) OnOnline();
    }
};

// All simulated services, installed as the current platform while alive.
class SimPlatform {
public:
    SimPlatform();
    ~SimPlatform();
    void Advance(std::uint64_t ms) { windows.Advance(ms); }
    void ProcessMessages() { windows.ProcessMessages(); }

    SimClock clock;
    SimMessageWindows windows{clock};
    SimMessageBox messageBox;
    SimShell shell;
    SimAppState appState;
    SimTaskbar taskbar;
    SimRegistry registry;
    SimNotifyIcons notifyIcons{windows};
    SimInput input;
    SimHotKeys hotKeys{windows};
    SimKeyboardLayout keyboard;
    SimLastInput lastInput;
    SimSoundPlayers soundPlayers;
    SimBrowsers browsers;
    SimSingleInstance instance;
    SimSession session;
    SimAutostart autostart;
    SimNetworkStatus network;
    SimSecrets secrets;
    Platform platform;

private:
    Platform* previous_ = nullptr;
};

#include "platform/sim/SimPlatform.h"

#include "platform/DocHostUIHandler.h"

#include <QWidget>
#include <algorithm>

#include <xkbcommon/xkbcommon.h>

double SimClock::Now()
{
    return startDateTime + static_cast<double>(elapsedMs) / 86400000.0;
}

std::uint32_t SimClock::GetTickCount()
{
    return static_cast<std::uint32_t>(tickAtStart + elapsedMs);
}

// ---- message windows -------------------------------------------------------

HWND SimMessageWindows::AllocateHWnd(TWndMethod method)
{
    HWND wnd = next_++;
    windows_[wnd] = std::make_shared<TWndMethod>(std::move(method));
    return wnd;
}

void SimMessageWindows::DeallocateHWnd(HWND wnd)
{
    windows_.erase(wnd);
    for (auto it = timers_.begin(); it != timers_.end();)
        it = it->first.first == wnd ? timers_.erase(it) : std::next(it);
}

bool SimMessageWindows::IsWindow(HWND wnd)
{
    return windows_.count(wnd) > 0;
}

bool SimMessageWindows::PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!IsWindow(wnd)) return false;
    posted_.push_back({wnd, msg, wParam, lParam});
    return true;
}

LRESULT SimMessageWindows::SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto it = windows_.find(wnd);
    if (it == windows_.end()) return 0;
    auto method = it->second;  // survives deallocation inside the handler
    TMessage m{msg, wParam, lParam, 0};
    if (*method) (*method)(m);
    return m.Result;
}

bool SimMessageWindows::SetTimer(HWND wnd, UINT_PTR id, UINT elapseMs)
{
    if (!IsWindow(wnd)) return false;
    UINT interval = ClampTimerElapse(elapseMs);
    timers_[{wnd, id}] = Timer{interval, clock_.elapsedMs + interval};
    return true;
}

bool SimMessageWindows::KillTimer(HWND wnd, UINT_PTR id)
{
    return timers_.erase({wnd, id}) > 0;
}

UINT SimMessageWindows::RegisterWindowMessage(const std::string& name)
{
    return registered_.Get(name);
}

void SimMessageWindows::BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    std::vector<HWND> all;
    for (auto& [wnd, method] : windows_) all.push_back(wnd);
    for (HWND wnd : all) SendMessage(wnd, msg, wParam, lParam);
}

void SimMessageWindows::ProcessMessages()
{
    while (!posted_.empty()) {
        Posted p = posted_.front();
        posted_.pop_front();
        SendMessage(p.wnd, p.msg, p.wParam, p.lParam);
    }
}

void SimMessageWindows::Advance(std::uint64_t ms)
{
    const std::uint64_t target = clock_.elapsedMs + ms;
    ProcessMessages();
    for (;;) {
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it)
            if (it->second.due <= target && (next == timers_.end() || it->second.due < next->second.due))
                next = it;
        if (next == timers_.end()) break;
        auto key = next->first;
        clock_.elapsedMs = next->second.due;
        next->second.due += next->second.interval;
        SendMessage(key.first, WM_TIMER, key.second, 0);
        ProcessMessages();
    }
    clock_.elapsedMs = target;
    ProcessMessages();
}

bool SimMessageWindows::HasTimer(HWND wnd, UINT_PTR id) const
{
    return timers_.count({wnd, id}) > 0;
}

UINT SimMessageWindows::TimerInterval(HWND wnd, UINT_PTR id) const
{
    auto it = timers_.find({wnd, id});
    return it == timers_.end() ? 0 : it->second.interval;
}

// ---- boxes, shell, app state ----------------------------------------------

int SimMessageBox::Show(const std::string& text, const std::string& caption, UINT type)
{
    shown.push_back({text, caption, type});
    if (!answers.empty()) {
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    UINT buttons = type & MB_BUTTONS_MASK;
    return (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) ? IDNO : IDOK;
}

std::intptr_t SimShell::ShellExecute(const std::string& verb, const std::string& file)
{
    opened.emplace_back(verb, file);
    return result;
}

void SimAppState::Minimize()
{
    if (minimized) return;
    minimized = true;
    if (OnMinimize) OnMinimize();
}

void SimAppState::Restore()
{
    if (!minimized) return;
    minimized = false;
    if (OnRestore) OnRestore();
}

void SimAppState::Activate()
{
    if (active) return;
    active = true;
    if (OnActivate) OnActivate();
}

void SimAppState::Deactivate()
{
    if (!active) return;
    active = false;
    if (OnDeactivate) OnDeactivate();
}

// ---- notify icons, hot keys -----------------------------------------------

bool SimNotifyIcons::ShellNotifyIcon(DWORD message, const NotifyIconData& data)
{
    calls.push_back({message, data});
    if (fail) return false;
    switch (message) {
    case NIM_ADD:
        if (icons.count(data.uID)) return false;
        icons[data.uID] = data;
        return true;
    case NIM_MODIFY:
        if (!icons.count(data.uID)) return false;
        icons[data.uID] = data;
        return true;
    case NIM_DELETE:
        return icons.erase(data.uID) > 0;
    default:
        return icons.count(data.uID) > 0;
    }
}

void SimNotifyIcons::Inject(UINT id, UINT lParamMessage)
{
    auto it = icons.find(id);
    if (it == icons.end()) return;
    windows_.PostMessage(it->second.hWnd, it->second.uCallbackMessage, id, lParamMessage);
}

void SimNotifyIcons::RestartHost()
{
    icons.clear();
    windows_.BroadcastMessage(windows_.RegisterWindowMessage("TaskbarCreated"), 0, 0);
}

void SimNotifyIcons::SetHostPresent(bool present)
{
    if (present == hostPresent) return;
    hostPresent = present;
    if (present) RestartHost();
}

const NotifyIconData* SimNotifyIcons::Find(UINT id) const
{
    auto it = icons.find(id);
    return it == icons.end() ? nullptr : &it->second;
}

bool SimHotKeys::RegisterHotKey(HWND wnd, int id, UINT modifiers, UINT virtualKey)
{
    auto key = std::make_pair(modifiers, virtualKey);
    lastFailure = failAll;
    if (failAll != HotKeyFailure::None) return false;
    lastFailure = HotKeyFailure::Taken;
    if (reserved.count(key)) return false;
    auto it = registered.find(key);
    if (it != registered.end() && (it->second.wnd != wnd || it->second.id != id)) return false;
    lastFailure = HotKeyFailure::None;
    registered[key] = {wnd, id};
    return true;
}

bool SimHotKeys::UnregisterHotKey(HWND wnd, int id)
{
    bool any = false;
    for (auto it = registered.begin(); it != registered.end();) {
        if (it->second.wnd == wnd && it->second.id == id) {
            it = registered.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

bool SimHotKeys::Press(UINT modifiers, UINT virtualKey)
{
    auto it = registered.find({modifiers, virtualKey});
    if (it == registered.end()) return false;
    windows_.PostMessage(it->second.wnd, WM_HOTKEY, static_cast<WPARAM>(it->second.id),
                         static_cast<LPARAM>(modifiers | (virtualKey << 16)));
    return true;
}

// ---- keyboard layout ---------------------------------------------------------

SimKeyboardLayout::~SimKeyboardLayout()
{
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

void SimKeyboardLayout::Use(const std::string& layouts, unsigned active)
{
    xkb_keymap_unref(keymap_);
    keymap_ = nullptr;
    layout_ = active;
    if (!layouts.empty()) {
        // The system's layout descriptions, not the environment's choice.
        if (!context_) context_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
        const xkb_rule_names names{"evdev", "pc105", layouts.c_str(), "", ""};
        keymap_ = xkb_keymap_new_from_names(context_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    if (OnChanged) OnChanged();
}

// ---- sound -------------------------------------------------------------

bool SimSoundPlayer::Open(const std::string& fileName)
{
    log.push_back("open " + fileName);
    if (!existingFiles.empty() && !existingFiles.count(fileName)) {
        mode = TMPModes::mpNotReady;
        return false;
    }
    mode = TMPModes::mpStopped;
    atEnd = false;
    return true;
}

void SimSoundPlayer::Rewind()
{
    log.push_back("rewind");
    atEnd = false;
}

void SimSoundPlayer::Play()
{
    log.push_back("play");
    if (mode != TMPModes::mpNotReady) mode = TMPModes::mpPlaying;
}

void SimSoundPlayer::Stop()
{
    log.push_back("stop");
    if (mode == TMPModes::mpPlaying) mode = TMPModes::mpStopped;
}

void SimSoundPlayer::Close()
{
    log.push_back("close");
    mode = TMPModes::mpNotReady;
}

void SimSoundPlayer::Finish(TMPNotifyValues value)
{
    if (mode == TMPModes::mpPlaying) mode = TMPModes::mpStopped;
    if (value == TMPNotifyValues::nvSuccessful || value == TMPNotifyValues::nvFailure) atEnd = true;
    if (OnNotify) OnNotify(value);
}

std::unique_ptr<ISoundPlayer> SimSoundPlayers::Create()
{
    auto p = std::make_unique<SimSoundPlayer>();
    if (openFails) p->existingFiles = {std::string()};
    created.push_back(p.get());
    return p;
}

// ---- browser -------------------------------------------------------------

SimDocument::~SimDocument()
{
    if (uiHandler) uiHandler->Release();
}

void SimDocument::SetUIHandler(IDocHostUIHandler* h)
{
    if (h) h->AddRef();
    IDocHostUIHandler* old = uiHandler;
    uiHandler = h;
    if (old) old->Release();
}

bool SimDocument::ExecScript(const std::string& script)
{
    scripts.push_back(script);
    if (view) ++view->scriptDepth_;
    SimBrowserView* v = view;
    if (onScript) onScript(script);
    if (v) --v->scriptDepth_;
    return true;
}

bool SimDocument::SaveHtml(std::string& out)
{
    if (saveFails) return false;
    out = html;
    return true;
}

SimBrowserView::SimBrowserView(QWidget* parent) : widget_(new QWidget(parent))
{
    if (IMessageWindows* windows = CurrentPlatform().Windows)
        wnd_ = windows->AllocateHWnd([this](TMessage& m) {
            if (m.Msg == WM_USER) DeliverLateNavigations();
        });
}

SimBrowserView::~SimBrowserView()  // the widget belongs to its parent
{
    if (wnd_ && CurrentPlatform().Windows) CurrentPlatform().Windows->DeallocateHWnd(wnd_);
}

void SimBrowserView::DeliverLateNavigations()
{
    while (!late_.empty()) {
        auto [url, post] = late_.front();
        late_.pop_front();
        TBeforeNavigateArgs args{url, 0, {}, post, {}, false};
        if (OnBeforeNavigate2) OnBeforeNavigate2(args);
        if (args.Cancel) continue;
        pendingUrl = url;
        pendingLocal = false;
        busy = true;
    }
}

void SimBrowserView::Navigate(const std::string& url, int flags, const std::string& target,
                              const std::string& postData, const std::string& headers)
{
    navigations.push_back({url, target, postData, headers, flags});
    TBeforeNavigateArgs args{url, flags, target, postData, headers, false};
    if (OnBeforeNavigate2) OnBeforeNavigate2(args);
    if (args.Cancel) return;
    MakePage();
    pendingUrl = url;
    pendingLocal = false;
    busy = true;
}

void SimBrowserView::MakePage()
{
    if (hasPage_) return;
    hasPage_ = true;
    discarded = false;
    ++pagesMade;
}

void SimBrowserView::Discard()
{
    if (!hasPage_) return;
    hasPage_ = false;
    discarded = true;
    ++discards;
    document.reset();
    late_.clear();
    pendingUrl.clear();
    pendingLocal = false;
    busy = false;
}

void SimBrowserView::LoadHtml(const std::string& html)
{
    MakePage();
    pendingUrl = kLocalPageUrl;
    pendingLocalHtml = html;
    pendingLocal = true;
    busy = true;
}

void SimBrowserView::CompleteNavigation()
{
    if (!busy) return;
    busy = false;
    document = std::make_unique<SimDocument>();
    document->url = pendingUrl;
    if (pendingLocal) {
        document->html = pendingLocalHtml;
    } else {
        auto it = pages.find(pendingUrl);
        if (it != pages.end()) document->html = it->second;
    }
    pendingLocal = false;
    document->onScript = onScript;
    document->view = this;
    if (OnDocumentComplete) OnDocumentComplete(document->url);
}

void SimBrowserView::FailNavigation(int statusCode, const std::string& reason)
{
    FailNavigation(TNavigateErrorArgs{pendingUrl, statusCode, reason});
}

void SimBrowserView::FailNavigation(TNavigateErrorArgs error)
{
    if (!busy || pendingLocal) return;
    busy = false;
    error.URL = pendingUrl;
    if (OnNavigateError) OnNavigateError(error);
}

void SimBrowserView::EndNavigation()
{
    if (!busy || pendingLocal) return;
    busy = false;
    if (OnLoadEnded) OnLoadEnded(pendingUrl);
}

void SimBrowserView::PageNavigate(const std::string& url, const std::string& postData)
{
    if (discarded) return;  // no page to navigate from
    if (asyncEngine && scriptDepth_ > 0 && wnd_) {
        late_.emplace_back(url, postData);
        CurrentPlatform().Windows->PostMessage(wnd_, WM_USER, 0, 0);
        return;
    }
    TBeforeNavigateArgs args{url, 0, {}, postData, {}, false};
    if (OnBeforeNavigate2) OnBeforeNavigate2(args);
    if (args.Cancel) return;
    pendingUrl = url;
    pendingLocal = false;
    busy = true;
}

bool SimBrowserView::RightClick(TPoint at, DWORD kind)
{
    IDocHostUIHandler* h = document ? document->uiHandler : nullptr;
    const bool own = !h || h->ShowContextMenu(kind, &at, nullptr, nullptr) != S_OK;
    if (own) ++engineMenus;
    return own;
}

std::unique_ptr<IBrowserView> SimBrowsers::Create(QWidget* parent)
{
    auto v = std::make_unique<SimBrowserView>(parent);
    created.push_back(v.get());
    return v;
}

// ---- the whole set ---------------------------------------------------------

SimPlatform::SimPlatform()
{
    platform.Clock = &clock;
    platform.Windows = &windows;
    platform.MessageBox = &messageBox;
    platform.Shell = &shell;
    platform.AppState = &appState;
    platform.Taskbar = &taskbar;
    platform.Registry = &registry;
    platform.NotifyIcons = &notifyIcons;
    platform.Input = &input;
    platform.HotKeys = &hotKeys;
    SetCurrentKeyboardLayout(&keyboard);
    platform.LastInput = &lastInput;
    platform.SoundPlayers = &soundPlayers;
    platform.Browsers = &browsers;
    platform.Instance = &instance;
    platform.Session = &session;
    platform.Autostart = &autostart;
    platform.Secrets = &secrets;
    SetCurrentNetworkStatus(&network);
    SetCurrentPlatform(&platform);
}

SimPlatform::~SimPlatform()
{
    SetCurrentKeyboardLayout(nullptr);
    SetCurrentNetworkStatus(nullptr);
    SetCurrentPlatform(nullptr);
}

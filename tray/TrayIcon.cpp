#include "tray/TrayIcon.h"

#include <QApplication>
#include <QBitmap>
#include <QEvent>
#include <QStyle>
#include <QWidget>
#include <QWindowStateChangeEvent>
#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

#include "components/Application.h"
#include "components/ImageList.h"
#include "components/Menus.h"
#include "platform/Platform.h"

namespace {

constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ENDSESSION = 0x0016;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT kDefaultFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// The services in force, or null once the program has uninstalled them.
Platform* Installed()
{
    try {
        return &CurrentPlatform();
    } catch (const std::logic_error&) {
        return nullptr;
    }
}

// Copies at most cap - 1 bytes and zero-fills the rest; never splits a UTF-8
// sequence, so a cut text still reads as text.
void CopyText(char* dst, std::size_t cap, const std::string& src)
{
    std::size_t n = std::min(src.size(), cap - 1);
    if (n < src.size())
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) --n;
    std::memset(dst, 0, cap);
    std::memcpy(dst, src.data(), n);
}

// The same for UTF-16: never splits a surrogate pair.
void CopyText(char16_t* dst, std::size_t cap, const std::u16string& src)
{
    std::size_t n = std::min(src.size(), cap - 1);
    if (n < src.size() && n > 0 && src[n] >= 0xDC00 && src[n] <= 0xDFFF) --n;
    std::fill(dst, dst + cap, u'\0');
    std::copy(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(n), dst);
}

// Calls a handler through a copy: the handler may destroy the icon and, with
// it, the member that holds the handler.
template <class F, class... Args>
void FireCopy(const F& handler, Args&&... args)
{
    const F copy = handler;
    Fire(copy, std::forward<Args>(args)...);
}

DWORD InfoFlags(TBalloonHintIcon icon)
{
    switch (icon) {
    case bitInfo: return NIIF_INFO;
    case bitWarning: return NIIF_WARNING;
    case bitError: return NIIF_ERROR;
    case bitCustom: return NIIF_USER;
    default: return NIIF_NONE;
    }
}

}  // namespace

void TIcon::Assign(const QIcon& image)
{
    image_ = image;
    if (OnChange) OnChange();
}

// ---- the shared window ------------------------------------------------------

// Owns the hidden window that receives the callback messages of all icons.
// An icon's id is its own address cut to the 32 bits the shell carries; the
// table of live icons turns an id back into its icon, so a callback that
// arrives after its icon is gone finds nothing.
class TTrayIconHandler {
public:
    static TTrayIconHandler* instance;

    static UINT AddRef(TTrayIcon* icon)
    {
        if (!instance) instance = new TTrayIconHandler(*CurrentPlatform().Windows);
        auto& icons = instance->icons;
        UINT id = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(icon));
        while (id == 0 || icons.count(id)) ++id;
        icons[id] = icon;
        return id;
    }

    static void Release(UINT id)
    {
        if (!instance) return;
        instance->icons.erase(id);
        if (!instance->icons.empty()) return;
        delete instance;
        instance = nullptr;
    }

    explicit TTrayIconHandler(IMessageWindows& windows) : windows(windows)
    {
        taskbarCreated = windows.RegisterWindowMessage("TaskbarCreated");
        wnd = windows.AllocateHWnd([this](TMessage& m) { WndProc(m); });
    }

    ~TTrayIconHandler()
    {
        if (wnd) windows.DeallocateHWnd(wnd);
    }

    void WndProc(TMessage& m)
    {
        if (m.Msg == WM_TRAYNOTIFY) {
            if (m.WParam > 0xFFFFFFFFu) return;
            auto it = icons.find(static_cast<UINT>(m.WParam));
            if (it != icons.end()) it->second->HandleCallback(static_cast<UINT>(m.LParam));
            return;
        }
        if (m.Msg == taskbarCreated) {
            // The tray host came back without our icons: add the visible ones again.
            std::vector<UINT> ids;
            for (auto& [id, icon] : icons) ids.push_back(id);
            for (UINT id : ids) {
                auto it = icons.find(id);
                if (it != icons.end() && it->second->IconVisible()) it->second->ShowIcon();
            }
            return;
        }
        switch (m.Msg) {
        case WM_DESTROY:
        case WM_CLOSE:
        case WM_QUIT:
        case WM_QUERYENDSESSION:
        case WM_ENDSESSION:
        case WM_NCDESTROY:
            // The window lives as long as the icons; nobody else ends it.
            m.Result = 1;
            break;
        default:
            break;
        }
    }

    IMessageWindows& windows;
    HWND wnd = 0;
    UINT taskbarCreated = 0;
    std::map<UINT, TTrayIcon*> icons;
};

TTrayIconHandler* TTrayIconHandler::instance = nullptr;

namespace {
struct TrayHandlerFinalization {
    ~TrayHandlerFinalization()
    {
        auto* h = TTrayIconHandler::instance;
        if (!h) return;
        Platform* p = Installed();
        if (!p || p->Windows != &h->windows) h->wnd = 0;  // went with its service
        TTrayIconHandler::instance = nullptr;
        delete h;
    }
} g_trayFinalization;
}  // namespace

// ---- hooks on the owner window ---------------------------------------------

// Watches the owner: brings it to the front whenever the program shows it,
// and takes a minimize to the tray when MinimizeToTray asks for it.
class TTrayIconHooks : public QObject {
public:
    explicit TTrayIconHooks(TTrayIcon& icon) : icon_(icon) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        QWidget* owner = icon_.owner_;
        if (watched != owner) return false;
        switch (event->type()) {
        case QEvent::Show:
            // A show by the program, not the window system mapping it back.
            if (!event->spontaneous())
                if (Platform* p = Installed(); p && p->Input) p->Input->SetForegroundWindow(owner);
            break;
        case QEvent::WindowStateChange: {
            const bool was = static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized;
            const bool now = owner->windowState() & Qt::WindowMinimized;
            if (!was && now) {
                icon_.MinimizeStep();
            } else if (was && !now) {
                // Restored from the taskbar: the main form comes back visible.
                QWidget* form = icon_.mainForm_;
                if (form && !form->isVisible()) form->setVisible(true);
            }
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    TTrayIcon& icon_;
};

// ---- construction -------------------------------------------------------------

TTrayIcon::TTrayIcon(QWidget* owner) : owner_(owner), mainForm_(owner ? owner->window() : nullptr)
{
    data_.uID = TTrayIconHandler::AddRef(this);
    enabled_ = true;
    showHint_ = true;
    icon_.OnChange = [this] { ModifyIcon(); };
    data_.hWnd = TTrayIconHandler::instance->wnd;
    data_.uFlags = kDefaultFlags;
    data_.uCallbackMessage = WM_TRAYNOTIFY;
    cycleTimer_ = std::make_unique<TMessageTimer>(1000, [this](TMessageTimer*) { CycleTick(); });
    clickTimer_ = std::make_unique<TMessageTimer>(1000, [this](TMessageTimer*) { ClickTick(); });
    exitTimer_ = std::make_unique<TMessageTimer>(20, [this](TMessageTimer*) { ExitTick(); });
    exited_ = true;
    SetDesignPreview(designPreview_);
    if (owner) {
        hooks_ = std::make_unique<TTrayIconHooks>(*this);
        owner->installEventFilter(hooks_.get());
    }
}

TTrayIcon::~TTrayIcon()
{
    *alive_ = false;
    if (Installed()) {
        SetIconVisible(false);
        SetDesignPreview(false);
    }
    cycleTimer_.reset();
    clickTimer_.reset();
    exitTimer_.reset();
    icon_.OnChange = nullptr;
    hooks_.reset();  // a deleted filter leaves the owner's filter list by itself
    TTrayIconHandler::Release(data_.uID);
}

void TTrayIcon::Loaded()
{
    if (owner_) {
        bool showMainForm = true;
        const auto alive = alive_;
        FireCopy(OnStartup, this, showMainForm);
        if (!*alive) return;
        if (!showMainForm) {
            Application().SetShowMainForm(false);
            HideMainForm();
        }
    }
    ModifyIcon();
    SetIconVisible(iconVisible_);
    SetCycleIcons(cycleIcons_);
    SetWantEnterExitEvents(wantEnterExitEvents_);
    SetBehavior(behavior_);
}

void TTrayIcon::Notification(const void* component, TOperation operation)
{
    if (operation != opRemove || !component) return;
    if (component == iconList_) {
        iconList_ = nullptr;
        SetIconList(nullptr);
    }
    if (component == popupMenu_) popupMenu_ = nullptr;
}

// ---- properties -----------------------------------------------------------------

void TTrayIcon::SetDesignPreview(bool v)
{
    // There is no form designer here, so the preview only keeps its flag.
    settingPreview_ = true;
    designPreview_ = v;
    settingPreview_ = false;
}

void TTrayIcon::SetIconList(TImageList* list)
{
    iconList_ = list;
    SetIconIndex(0);
}

void TTrayIcon::SetCycleIcons(bool v)
{
    cycleIcons_ = v;
    if (v) {
        SetIconIndex(0);
        cycleTimer_->SetInterval(cycleInterval_);
        cycleTimer_->SetEnabled(true);  // a zero interval leaves it stopped
    } else {
        cycleTimer_->SetEnabled(false);
    }
}

void TTrayIcon::SetCycleInterval(std::uint32_t ms)
{
    if (ms == cycleInterval_) return;
    cycleInterval_ = ms;
    SetCycleIcons(cycleIcons_);
}

void TTrayIcon::SetHint(const std::string& hint)
{
    hint_ = hint;
    ModifyIcon();
}

void TTrayIcon::SetShowHint(bool v)
{
    showHint_ = v;
    ModifyIcon();
}

void TTrayIcon::SetIcon(const QIcon& icon)
{
    auto notify = std::move(icon_.OnChange);
    icon_.OnChange = nullptr;
    icon_.Assign(icon);
    icon_.OnChange = std::move(notify);
    ModifyIcon();
}

void TTrayIcon::SetIconVisible(bool v)
{
    if (v)
        ShowIcon();
    else
        HideIcon();
}

void TTrayIcon::SetIconIndex(int v)
{
    if (iconList_) {
        const int count = iconList_->Count();
        if (count == 0) {
            iconIndex_ = 0;  // nothing to show; the current image stays
        } else {
            iconIndex_ = std::clamp(v, 0, count - 1);
            LoadImage(iconIndex_);
        }
    } else {
        iconIndex_ = 0;
    }
    ModifyIcon();
}

void TTrayIcon::SetWantEnterExitEvents(bool v)
{
    wantEnterExitEvents_ = v;
    exitTimer_->SetEnabled(v);
}

void TTrayIcon::SetBehavior(TBehavior b)
{
    behavior_ = b;
    data_.uVersion = b == bhWin2000 ? NOTIFYICON_VERSION : 0;
    Shell(NIM_SETVERSION);
}

void TTrayIcon::LoadImage(int index)
{
    icon_.Assign(iconList_->GetIcon(index));  // its change notice modifies the icon
}

// ---- shell calls -------------------------------------------------------------------

bool TTrayIcon::InitIcon()
{
    data_.hIcon = icon_.Image();
    data_.menu = popupMenu_ ? popupMenu_->Menu() : nullptr;
    if (!hint_.empty() && showHint_)
        CopyText(data_.szTip, sizeof data_.szTip, hint_);
    else
        std::memset(data_.szTip, 0, sizeof data_.szTip);
    return true;
}

bool TTrayIcon::Shell(DWORD message)
{
    Platform* p = Installed();
    if (!p || !p->NotifyIcons) return false;
    return p->NotifyIcons->ShellNotifyIcon(message, data_);
}

bool TTrayIcon::ShowIcon()
{
    if (!settingPreview_) iconVisible_ = true;
    return InitIcon() && Shell(NIM_ADD);
}

bool TTrayIcon::HideIcon()
{
    if (!settingPreview_) iconVisible_ = false;
    return InitIcon() && Shell(NIM_DELETE);
}

bool TTrayIcon::ModifyIcon()
{
    return InitIcon() && Shell(NIM_MODIFY);
}

bool TTrayIcon::SetFocus()
{
    return Shell(NIM_SETFOCUS);
}

// ---- balloons -------------------------------------------------------------------------

bool TTrayIcon::HideBalloonHint()
{
    // No text and no title: a balloon with a title alone is still shown.
    data_.uFlags |= NIF_INFO;
    std::memset(data_.szInfo, 0, sizeof data_.szInfo);
    std::fill(std::begin(data_.szInfoW), std::end(data_.szInfoW), u'\0');
    std::memset(data_.szInfoTitle, 0, sizeof data_.szInfoTitle);
    std::fill(std::begin(data_.szInfoTitleW), std::end(data_.szInfoTitleW), u'\0');
    return ModifyIcon();
}

bool TTrayIcon::ShowBalloonHint(const std::string& title, const std::string& text, TBalloonHintIcon iconType,
                                int timeoutSeconds)
{
    HideBalloonHint();
    data_.uFlags |= NIF_INFO;
    CopyText(data_.szInfo, sizeof data_.szInfo, text);
    CopyText(data_.szInfoTitle, sizeof data_.szInfoTitle, title);
    std::fill(std::begin(data_.szInfoTitleW), std::end(data_.szInfoTitleW), u'\0');
    return FinishBalloon(iconType, timeoutSeconds);
}

bool TTrayIcon::ShowBalloonHintUnicode(const std::u16string& title, const std::u16string& text,
                                       TBalloonHintIcon iconType, int timeoutSeconds)
{
    HideBalloonHint();
    data_.uFlags |= NIF_INFO;
    CopyText(data_.szInfoW, std::size(data_.szInfoW), text);
    CopyText(data_.szInfoTitleW, std::size(data_.szInfoTitleW), title);
    std::memset(data_.szInfoTitle, 0, sizeof data_.szInfoTitle);
    return FinishBalloon(iconType, timeoutSeconds);
}

bool TTrayIcon::FinishBalloon(TBalloonHintIcon iconType, int timeoutSeconds)
{
    // The seconds are an 8-bit number, not held to the declared 10..60.
    data_.uTimeout = static_cast<UINT>(static_cast<TBalloonHintTimeOut>(timeoutSeconds)) * 1000u;
    data_.dwInfoFlags = InfoFlags(iconType);
    const bool result = ModifyIcon();
    data_.uFlags = kDefaultFlags;
    return result;
}

// ---- callback messages -------------------------------------------------------------

TShiftState TTrayIcon::ShiftState() const
{
    TShiftState s = 0;
    Platform* p = Installed();
    if (!p || !p->Input) return s;
    if (p->Input->ShiftDown()) s |= ssShift;
    if (p->Input->CtrlDown()) s |= ssCtrl;
    if (p->Input->AltDown()) s |= ssAlt;
    return s;
}

void TTrayIcon::HandleCallback(UINT message)
{
    switch (message) {
    case NIN_BALLOONSHOW: FireCopy(OnBalloonHintShow, this); return;
    case NIN_BALLOONHIDE: FireCopy(OnBalloonHintHide, this); return;
    case NIN_BALLOONTIMEOUT: FireCopy(OnBalloonHintTimeout, this); return;
    case NIN_BALLOONUSERCLICK: FireCopy(OnBalloonHintClick, this); return;
    default: break;
    }
    if (!enabled_) return;
    // Every handler below may destroy the icon: after each, stop if it did.
    const auto alive = alive_;
    IDesktopInput& input = *CurrentPlatform().Input;
    const TPoint at = input.GetCursorPos();
    const TShiftState shift = ShiftState();
    const bool autoPopup = popupMenu_ && popupMenu_->AutoPopup();
    switch (message) {
    case WM_MOUSEMOVE:
        if (wantEnterExitEvents_ && exited_) {
            exited_ = false;
            MouseEnter();
            if (!*alive) return;
        }
        lastMove_ = at;
        MouseMove(shift, at.X, at.Y);
        break;
    case WM_LBUTTONDOWN:
        if (OnDblClick) {
            // A single click waits the double-click time for a second press.
            clickTimer_->SetInterval(input.GetDoubleClickTime());
            clickTimer_->SetEnabled(true);
        }
        MouseDown(mbLeft, shift | ssLeft, at.X, at.Y);
        if (!*alive) return;
        clickPending_ = true;
        if (leftPopup_ && autoPopup) PopupAtCursor();
        break;
    case WM_LBUTTONUP:
        if (clickPending_) clickReady_ = true;
        if (clickPending_ && !clickTimer_->Enabled()) {
            clickPending_ = false;
            clickReady_ = false;
            Click();
            if (!*alive) return;
        }
        clickPending_ = false;
        MouseUp(mbLeft, shift | ssLeft, at.X, at.Y);
        break;
    case WM_LBUTTONDBLCLK:
        clickReady_ = false;
        doubleClickSeen_ = true;
        DblClick();
        if (!*alive) return;
        if (popupMenu_ && popupMenu_->AutoPopup() && !leftPopup_) {
            for (int i = 0; i < popupMenu_->Count(); ++i) {
                if (popupMenu_->Items(i)->Default()) {
                    popupMenu_->Items(i)->Click();
                    break;
                }
            }
        }
        break;
    case WM_RBUTTONDOWN:
        MouseDown(mbRight, shift | ssRight, at.X, at.Y);
        if (!*alive) return;
        if (autoPopup) PopupAtCursor();
        break;
    case WM_RBUTTONUP:
        if (behavior_ == bhWin95) MouseUp(mbRight, shift | ssRight, at.X, at.Y);
        break;
    case WM_CONTEXTMENU:
    case NIN_SELECT:
    case NIN_KEYSELECT:
        if (behavior_ == bhWin2000) MouseUp(mbRight, shift | ssRight, at.X, at.Y);
        break;
    case WM_MBUTTONDOWN:
        MouseDown(mbMiddle, shift | ssMiddle, at.X, at.Y);
        break;
    case WM_MBUTTONUP:
        MouseUp(mbMiddle, shift | ssMiddle, at.X, at.Y);
        break;
    default:
        break;
    }
}

void TTrayIcon::ClickTick()
{
    clickTimer_->SetEnabled(false);
    const bool click = !doubleClickSeen_ && clickReady_;
    doubleClickSeen_ = false;
    if (click) {
        clickReady_ = false;
        Click();  // last: the handler may destroy the icon
    }
}

void TTrayIcon::ExitTick()
{
    if (exited_) return;
    const TPoint at = CurrentPlatform().Input->GetCursorPos();
    if (at.X != lastMove_.X || at.Y != lastMove_.Y) {
        exited_ = true;
        MouseExit();  // last: the handler may destroy the icon
    }
}

void TTrayIcon::CycleTick()
{
    if (!iconList_) return;
    LoadImage(iconIndex_);
    const auto alive = alive_;
    CycleIcon();
    if (!*alive) return;
    if (iconList_ && iconIndex_ < iconList_->Count() - 1)
        SetIconIndex(iconIndex_ + 1);
    else
        SetIconIndex(0);
}

// ---- event dispatchers ----------------------------------------------------------

void TTrayIcon::Click() { FireCopy(OnClick, this); }
void TTrayIcon::DblClick() { FireCopy(OnDblClick, this); }

void TTrayIcon::CycleIcon()
{
    const int next = iconList_ && iconIndex_ < iconList_->Count() - 1 ? iconIndex_ + 1 : 0;
    FireCopy(OnCycle, this, next);
}

void TTrayIcon::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    FireCopy(OnMouseDown, this, button, shift, x, y);
}

void TTrayIcon::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    FireCopy(OnMouseUp, this, button, shift, x, y);
}

void TTrayIcon::MouseMove(TShiftState shift, int x, int y) { FireCopy(OnMouseMove, this, shift, x, y); }
void TTrayIcon::MouseEnter() { FireCopy(OnMouseEnter, this); }
void TTrayIcon::MouseExit() { FireCopy(OnMouseExit, this); }

void TTrayIcon::DoMinimizeToTray()
{
    HideMainForm();
    SetIconVisible(true);
}

void TTrayIcon::MinimizeStep()
{
    // One step whichever way the minimize came: the owner's own minimize
    // and the application's both end here on this desktop.
    if (!minimizeToTray_) return;
    const auto alive = alive_;
    FireCopy(OnMinimizeToTray, this);
    if (*alive) DoMinimizeToTray();
}

// ---- menu, main form, taskbar ---------------------------------------------------

void TTrayIcon::Popup(int x, int y)
{
    if (!popupMenu_) return;
    const auto alive = alive_;
    Application().ProcessMessages();
    if (!*alive || !popupMenu_) return;  // a pending message may have ended us
    popupMenu_->SetPopupComponent(this);
    popupMenu_->Popup(x, y);  // returns when the menu closes; an item may have ended us
}

void TTrayIcon::PopupAtCursor()
{
    const TPoint at = CurrentPlatform().Input->GetCursorPos();
    Popup(at.X, at.Y);
}

void TTrayIcon::ShowMainForm()
{
    if (!owner_ || !mainForm_) return;
    Application().Restore();
    if (mainForm_->windowState() & Qt::WindowMinimized)
        mainForm_->setWindowState(mainForm_->windowState() & ~Qt::WindowMinimized);
    mainForm_->setVisible(true);
    CurrentPlatform().Input->SetForegroundWindow(mainForm_);
}

void TTrayIcon::HideMainForm()
{
    if (!owner_ || !mainForm_) return;
    mainForm_->setVisible(false);
    HideTaskbarIcon();
}

void TTrayIcon::ShowTaskbarIcon()
{
    ITaskbar* taskbar = CurrentPlatform().Taskbar;
    if (taskbar && !taskbar->ButtonVisible()) taskbar->SetButtonVisible(true);
}

void TTrayIcon::HideTaskbarIcon()
{
    ITaskbar* taskbar = CurrentPlatform().Taskbar;
    if (taskbar && taskbar->ButtonVisible()) taskbar->SetButtonVisible(false);
}

bool TTrayIcon::BitmapToIcon(const QPixmap& bitmap, QIcon& icon, const QColor& maskColor)
{
    QPixmap image = bitmap.copy(0, 0, 16, 16);
    if (!image.isNull()) image.setMask(image.createMaskFromColor(maskColor, Qt::MaskInColor));
    icon = QIcon(image);
    return true;
}

TPoint TTrayIcon::GetClientIconPos(int x, int y) const
{
    const int h = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight) - 3;
    const int cell = std::max(h + 2, 1);
    QPoint p(x, y);
    if (QWidget* w = QApplication::widgetAt(p)) p = w->mapFromGlobal(p);
    return {p.x() % cell - 1, p.y() % cell - 1};
}

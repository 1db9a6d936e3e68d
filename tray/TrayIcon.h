#pragma once
// One icon in the notification area: turns the shell's callback messages into
// events (click, double click, mouse down/up/move, enter/exit, balloon
// notices), cycles the icon through an image list, shows balloon hints, pops
// up a menu at the cursor, and can hide and show the main form and the
// taskbar button.
//
// Property P is read with P() and set with SetP(v). All icons of the process
// share one hidden window that receives the callback messages.
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/NotifyIcon.h"
#include "tray/MessageTimer.h"

class QWidget;
class TImageList;
class TPopupMenu;
class TTrayIconHooks;

enum TBehavior { bhWin95, bhWin2000 };
enum TBalloonHintIcon { bitNone, bitInfo, bitWarning, bitError, bitCustom };
// Seconds; the declared range is 10..60 but wider values are passed on as
// they are (read as an unsigned 8-bit number).
using TBalloonHintTimeOut = std::uint8_t;
enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftStateFlag : unsigned { ssShift = 0x01, ssAlt = 0x02, ssCtrl = 0x04, ssLeft = 0x08, ssRight = 0x10, ssMiddle = 0x20 };
using TShiftState = unsigned;
enum TOperation { opInsert, opRemove };

// The callback message of every icon: WM_USER + 0x400.
constexpr UINT WM_TRAYNOTIFY = 0x0800;

// The icon shown in the tray; it tells its owner when its image changes.
class TIcon {
public:
    const QIcon& Image() const { return image_; }
    void Assign(const QIcon& image);
    bool Empty() const { return image_.isNull(); }
    std::function<void()> OnChange;

private:
    QIcon image_;
};

class TTrayIcon {
public:
    using TNotifyEvent = std::function<void(TTrayIcon*)>;
    using TMouseEvent = std::function<void(TTrayIcon*, TMouseButton, TShiftState, int, int)>;
    using TMouseMoveEvent = std::function<void(TTrayIcon*, TShiftState, int, int)>;
    using TCycleEvent = std::function<void(TTrayIcon*, int NextIndex)>;
    using TStartupEvent = std::function<void(TTrayIcon*, bool& ShowMainForm)>;

    // owner: the window that declares the icon; may be null.
    explicit TTrayIcon(QWidget* owner);
    virtual ~TTrayIcon();
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    // ---- published properties, in streaming order
    bool DesignPreview() const { return designPreview_; }
    void SetDesignPreview(bool v);
    TImageList* IconList() const { return iconList_; }
    void SetIconList(TImageList* list);
    bool CycleIcons() const { return cycleIcons_; }
    void SetCycleIcons(bool v);
    std::uint32_t CycleInterval() const { return cycleInterval_; }
    void SetCycleInterval(std::uint32_t ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v) { enabled_ = v; }
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool v);
    const QIcon& Icon() const { return icon_.Image(); }
    void SetIcon(const QIcon& icon);
    bool IconVisible() const { return iconVisible_; }
    void SetIconVisible(bool v);
    int IconIndex() const { return iconIndex_; }
    void SetIconIndex(int v);
    TPopupMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(TPopupMenu* menu) { popupMenu_ = menu; }
    bool LeftPopup() const { return leftPopup_; }
    void SetLeftPopup(bool v) { leftPopup_ = v; }
    bool WantEnterExitEvents() const { return wantEnterExitEvents_; }
    void SetWantEnterExitEvents(bool v);
    bool MinimizeToTray() const { return minimizeToTray_; }
    void SetMinimizeToTray(bool v) { minimizeToTray_ = v; }

    TNotifyEvent OnClick, OnDblClick;
    TMouseEvent OnMouseDown, OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TNotifyEvent OnMouseEnter, OnMouseExit;
    TCycleEvent OnCycle;
    TNotifyEvent OnBalloonHintShow, OnBalloonHintHide, OnBalloonHintTimeout, OnBalloonHintClick;
    TNotifyEvent OnMinimizeToTray;
    TStartupEvent OnStartup;

    // ---- public, not streamed
    TBehavior Behavior() const { return behavior_; }
    void SetBehavior(TBehavior b);
    QWidget* Owner() const { return owner_; }
    // The form that ShowMainForm/HideMainForm act on; the owner's window
    // unless set otherwise.
    QWidget* MainForm() const { return mainForm_; }
    void SetMainForm(QWidget* form) { mainForm_ = form; }

    // ---- operations
    virtual bool ShowIcon();
    virtual bool HideIcon();
    virtual bool ModifyIcon();
    bool Refresh() { return ModifyIcon(); }
    bool SetFocus();
    bool ShowBalloonHint(const std::string& title, const std::string& text, TBalloonHintIcon iconType,
                         int timeoutSeconds);
    bool ShowBalloonHintUnicode(const std::u16string& title, const std::u16string& text, TBalloonHintIcon iconType,
                                int timeoutSeconds);
    bool HideBalloonHint();
    void Popup(int x, int y);
    void PopupAtCursor();
    void ShowMainForm();
    void HideMainForm();
    void ShowTaskbarIcon();
    void HideTaskbarIcon();
    // The top-left 16 x 16 of the bitmap, with pixels of maskColor transparent.
    static bool BitmapToIcon(const QPixmap& bitmap, QIcon& icon, const QColor& maskColor);
    TPoint GetClientIconPos(int x, int y) const;
    // Tool windows of the Windows shell; there are none here.
    HWND GetTooltipHandle() const { return 0; }
    HWND GetBalloonHintHandle() const { return 0; }

    // After the owner has set the properties.
    virtual void Loaded();
    // The owner tells of a component it is about to free (image list, menu).
    virtual void Notification(const void* component, TOperation operation);

    // The record handed to the shell, and the id it reports back.
    const NotifyIconData& IconData() const { return data_; }
    UINT IconId() const { return data_.uID; }

protected:
    virtual bool LoadDefaultIcon() { return true; }
    virtual void Click();
    virtual void DblClick();
    virtual void CycleIcon();
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseEnter();
    virtual void MouseExit();
    virtual void DoMinimizeToTray();

private:
    friend class TTrayIconHandler;
    friend class TTrayIconHooks;

    bool InitIcon();
    bool Shell(DWORD message);
    void HandleCallback(UINT message);
    TShiftState ShiftState() const;
    void LoadImage(int index);
    void CycleTick();
    void ClickTick();
    void ExitTick();
    void MinimizeStep();
    bool FinishBalloon(TBalloonHintIcon iconType, int timeoutSeconds);

    QPointer<QWidget> owner_;
    QPointer<QWidget> mainForm_;
    NotifyIconData data_;

    bool designPreview_ = false;
    TImageList* iconList_ = nullptr;
    bool cycleIcons_ = false;
    std::uint32_t cycleInterval_ = 0;
    bool enabled_ = true;
    std::string hint_;
    bool showHint_ = true;
    TIcon icon_;
    bool iconVisible_ = false;
    int iconIndex_ = 0;
    TPopupMenu* popupMenu_ = nullptr;
    bool leftPopup_ = false;
    bool wantEnterExitEvents_ = false;
    bool minimizeToTray_ = false;
    TBehavior behavior_ = bhWin95;

    std::unique_ptr<TMessageTimer> cycleTimer_, clickTimer_, exitTimer_;
    bool clickPending_ = false;
    bool clickReady_ = false;
    bool doubleClickSeen_ = false;
    bool exited_ = true;
    TPoint lastMove_;
    bool settingPreview_ = false;
    std::unique_ptr<TTrayIconHooks> hooks_;
    // False once the icon is destroyed: a handler may delete the icon, and
    // whoever called it checks this before touching the icon again.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

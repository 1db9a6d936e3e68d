// A handler may destroy the icon that called it, from every call site; the
// icon must not touch itself afterwards. Run under the address sanitizer too
// (tests/sanitize), where any later use of the freed icon is reported.
#include <gtest/gtest.h>

#include <QWidget>
#include <functional>
#include <string>

#include "components/ImageList.h"
#include "platform/sim/SimPlatform.h"
#include "tray/TrayIcon.h"

namespace {

class TrayIconDestroy : public ::testing::Test {
protected:
    // A fresh icon whose handler `set` deletes it; then `drive` runs.
    void Case(const std::string& name, const std::function<void(TTrayIcon&, std::function<void()>)>& set,
              const std::function<void(UINT)>& drive, QWidget* owner = nullptr)
    {
        SCOPED_TRACE(name);
        icon = new TTrayIcon(owner);
        icon->SetIconList(&images);
        icon->SetIconVisible(true);
        deleted = false;
        set(*icon, [this] {
            delete icon;
            icon = nullptr;
            deleted = true;
        });
        const UINT id = icon->IconId();
        drive(id);
        EXPECT_TRUE(deleted) << "the handler did not run";
        delete icon;  // when it did not
        icon = nullptr;
        EXPECT_EQ(sim.notifyIcons.Find(id), nullptr);
    }
    void Inject(UINT id, std::initializer_list<UINT> messages)
    {
        for (UINT m : messages) sim.notifyIcons.Inject(id, m);
        sim.ProcessMessages();
    }

    SimPlatform sim;
    TImageList images;
    TTrayIcon* icon = nullptr;
    bool deleted = false;
};

using Notify = TTrayIcon::TNotifyEvent;

TEST_F(TrayIconDestroy, EveryHandlerMayDeleteTheIcon)
{
    FillClockIcons(images);
    auto notify = [](Notify TTrayIcon::*event) {
        return [event](TTrayIcon& t, std::function<void()> kill) { t.*event = [kill](TTrayIcon*) { kill(); }; };
    };
    auto mouse = [](TTrayIcon::TMouseEvent TTrayIcon::*event) {
        return [event](TTrayIcon& t, std::function<void()> kill) {
            t.*event = [kill](TTrayIcon*, TMouseButton, TShiftState, int, int) { kill(); };
        };
    };

    Case("click at once", notify(&TTrayIcon::OnClick), [&](UINT id) { Inject(id, {WM_LBUTTONDOWN, WM_LBUTTONUP}); });
    Case("click after the double-click time",
         [&](TTrayIcon& t, std::function<void()> kill) {
             notify(&TTrayIcon::OnClick)(t, kill);
             t.OnDblClick = [](TTrayIcon*) {};
         },
         [&](UINT id) {
             Inject(id, {WM_LBUTTONDOWN, WM_LBUTTONUP});
             sim.Advance(sim.input.doubleClickTime + 1);
         });
    Case("double click", notify(&TTrayIcon::OnDblClick), [&](UINT id) { Inject(id, {WM_LBUTTONDBLCLK}); });
    for (UINT down : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN})
        Case("mouse down " + std::to_string(down), mouse(&TTrayIcon::OnMouseDown), [&](UINT id) { Inject(id, {down}); });
    for (UINT up : {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP})
        Case("mouse up " + std::to_string(up), mouse(&TTrayIcon::OnMouseUp),
             [&](UINT id) { Inject(id, {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN, up}); });
    Case("mouse up, newer shell",
         [&](TTrayIcon& t, std::function<void()> kill) {
             t.SetBehavior(bhWin2000);
             mouse(&TTrayIcon::OnMouseUp)(t, kill);
         },
         [&](UINT id) { Inject(id, {WM_CONTEXTMENU}); });
    Case("mouse move",
         [&](TTrayIcon& t, std::function<void()> kill) {
             t.OnMouseMove = [kill](TTrayIcon*, TShiftState, int, int) { kill(); };
         },
         [&](UINT id) { Inject(id, {WM_MOUSEMOVE}); });
    Case("mouse enter",
         [&](TTrayIcon& t, std::function<void()> kill) {
             t.SetWantEnterExitEvents(true);
             notify(&TTrayIcon::OnMouseEnter)(t, kill);
         },
         [&](UINT id) { Inject(id, {WM_MOUSEMOVE}); });
    Case("mouse exit",
         [&](TTrayIcon& t, std::function<void()> kill) {
             t.SetWantEnterExitEvents(true);
             notify(&TTrayIcon::OnMouseExit)(t, kill);
         },
         [&](UINT id) {
             Inject(id, {WM_MOUSEMOVE});
             sim.input.cursor = {sim.input.cursor.X + 50, sim.input.cursor.Y};
             sim.Advance(100);
         });
    Case("cycle",
         [&](TTrayIcon& t, std::function<void()> kill) {
             t.SetCycleInterval(500);
             t.SetCycleIcons(true);
             t.OnCycle = [kill](TTrayIcon*, int) { kill(); };
         },
         [&](UINT) { sim.Advance(600); });
    const std::pair<Notify TTrayIcon::*, UINT> balloons[] = {{&TTrayIcon::OnBalloonHintShow, NIN_BALLOONSHOW},
                                                             {&TTrayIcon::OnBalloonHintHide, NIN_BALLOONHIDE},
                                                             {&TTrayIcon::OnBalloonHintTimeout, NIN_BALLOONTIMEOUT},
                                                             {&TTrayIcon::OnBalloonHintClick, NIN_BALLOONUSERCLICK}};
    for (auto [event, message] : balloons)
        Case("balloon " + std::to_string(message), notify(event), [&](UINT id) { Inject(id, {message}); });
}

TEST_F(TrayIconDestroy, OwnerHandlersMayDeleteTheIcon)
{
    QWidget form;
    Case("start-up",
         [&](TTrayIcon& t, std::function<void()> kill) {
             t.OnStartup = [kill](TTrayIcon*, bool& show) {
                 show = false;
                 kill();
             };
         },
         [&](UINT) { icon->Loaded(); }, &form);
    Case("minimize to tray",
         [&](TTrayIcon& t, std::function<void()> kill) {
             t.SetMinimizeToTray(true);
             t.OnMinimizeToTray = [kill](TTrayIcon*) { kill(); };
         },
         [&](UINT) {
             form.show();
             form.setWindowState(Qt::WindowMinimized);
         },
         &form);
}

}  // namespace

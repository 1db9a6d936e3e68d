#include <gtest/gtest.h>

#include <QMenu>
#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "components/ImageList.h"
#include "components/Menus.h"
#include "platform/sim/SimPlatform.h"
#include "tray/TrayIcon.h"

namespace {

class TrayIconTest : public ::testing::Test {
protected:
    TrayIconTest()
    {
        FillClockIcons(icons);
        icons.Add(QIcon(DrawClock(16, false).transformed(QTransform().rotate(90))));  // a third image
    }

    // The icon as the main window sets it up.
    void SetUpAsMainWindow()
    {
        tray.SetIconList(&icons);
        tray.SetCycleInterval(1000);
        tray.SetIconVisible(true);
        tray.SetIconIndex(0);
        tray.Loaded();
    }

    const NotifyIconData& Shown() const
    {
        const NotifyIconData* d = sim.notifyIcons.Find(tray.IconId());
        if (!d) throw std::logic_error("icon not in the tray");
        return *d;
    }
    bool ShowsImage(int index) const { return Shown().hIcon.cacheKey() == icons.GetIcon(index).cacheKey(); }
    void Inject(std::initializer_list<UINT> messages)
    {
        for (UINT m : messages) sim.notifyIcons.Inject(tray.IconId(), m);
        sim.ProcessMessages();
    }
    // Records every event as a word.
    void Record()
    {
        tray.OnClick = [this](TTrayIcon*) { events.push_back("click"); };
        tray.OnDblClick = [this](TTrayIcon*) { events.push_back("dblclick"); };
        tray.OnMouseDown = [this](TTrayIcon*, TMouseButton b, TShiftState, int, int) {
            events.push_back(b == mbLeft ? "down-l" : b == mbRight ? "down-r" : "down-m");
        };
        tray.OnMouseUp = [this](TTrayIcon*, TMouseButton b, TShiftState, int, int) {
            events.push_back(b == mbLeft ? "up-l" : b == mbRight ? "up-r" : "up-m");
        };
        tray.OnMouseMove = [this](TTrayIcon*, TShiftState, int, int) { events.push_back("move"); };
        tray.OnMouseEnter = [this](TTrayIcon*) { events.push_back("enter"); };
        tray.OnMouseExit = [this](TTrayIcon*) { events.push_back("exit"); };
        tray.OnBalloonHintShow = [this](TTrayIcon*) { events.push_back("balloon-show"); };
        tray.OnBalloonHintHide = [this](TTrayIcon*) { events.push_back("balloon-hide"); };
        tray.OnBalloonHintTimeout = [this](TTrayIcon*) { events.push_back("balloon-timeout"); };
        tray.OnBalloonHintClick = [this](TTrayIcon*) { events.push_back("balloon-click"); };
    }
    int Count(const std::string& e) const { return static_cast<int>(std::count(events.begin(), events.end(), e)); }

    SimPlatform sim;
    TImageList icons;
    TTrayIcon tray{nullptr};
    std::vector<std::string> events;
};

using Events = std::vector<std::string>;

TEST_F(TrayIconTest, AfterLoadingTheTrayShowsImageZeroWithAnEmptyTip)
{
    SetUpAsMainWindow();
    EXPECT_TRUE(ShowsImage(0));
    EXPECT_STREQ(Shown().szTip, "");
    EXPECT_EQ(sim.notifyIcons.icons.size(), 1u);
}

TEST_F(TrayIconTest, IconIndexIsHeldToTheList)
{
    SetUpAsMainWindow();
    tray.SetIconIndex(7);
    EXPECT_EQ(tray.IconIndex(), 2);
    EXPECT_TRUE(ShowsImage(2));
    tray.SetIconIndex(-3);
    EXPECT_EQ(tray.IconIndex(), 0);
    EXPECT_TRUE(ShowsImage(0));

    tray.SetIconList(nullptr);
    tray.SetIconIndex(1);
    EXPECT_EQ(tray.IconIndex(), 0);
}

TEST_F(TrayIconTest, CyclingAdvancesOneImagePerTickAndWraps)
{
    SetUpAsMainWindow();
    std::vector<int> next;
    tray.OnCycle = [&](TTrayIcon*, int n) { next.push_back(n); };
    tray.SetIconIndex(1);
    tray.SetCycleIcons(true);  // starts from image 0
    EXPECT_TRUE(ShowsImage(0));
    sim.Advance(1000);
    EXPECT_TRUE(ShowsImage(1));
    sim.Advance(1000);
    EXPECT_TRUE(ShowsImage(2));
    sim.Advance(1000);
    EXPECT_TRUE(ShowsImage(0));
    EXPECT_EQ(next, (std::vector<int>{1, 2, 0}));

    sim.Advance(1000);
    tray.SetCycleIcons(false);  // the current image stays
    sim.Advance(5000);
    EXPECT_TRUE(ShowsImage(1));
    EXPECT_EQ(next.size(), 4u);

    tray.SetCycleIcons(true);
    tray.SetCycleInterval(500);  // a new interval starts again from image 0
    EXPECT_TRUE(ShowsImage(0));
    sim.Advance(500);
    EXPECT_TRUE(ShowsImage(1));
}

TEST_F(TrayIconTest, CycleIntervalZeroShowsImageZeroAndStays)
{
    tray.SetIconList(&icons);
    tray.SetIconVisible(true);
    tray.Loaded();
    int cycles = 0;
    tray.OnCycle = [&](TTrayIcon*, int) { ++cycles; };
    tray.SetIconIndex(1);
    tray.SetCycleIcons(true);
    sim.Advance(10000);
    EXPECT_TRUE(ShowsImage(0));
    EXPECT_EQ(cycles, 0);
    EXPECT_EQ(TMessageTimer::GetMessageTimerActiveCount(), 0);
}

TEST_F(TrayIconTest, RemovingTheImageListResetsTheIndexAndStopsTheImages)
{
    SetUpAsMainWindow();
    tray.SetIconIndex(2);
    tray.SetCycleIcons(true);
    sim.Advance(1000);
    ASSERT_EQ(tray.IconIndex(), 1);
    tray.Notification(&icons, opRemove);
    EXPECT_EQ(tray.IconList(), nullptr);
    EXPECT_EQ(tray.IconIndex(), 0);
    const qint64 shown = Shown().hIcon.cacheKey();
    sim.Advance(5000);  // cycling has nothing to go through
    EXPECT_EQ(Shown().hIcon.cacheKey(), shown);

    TPopupMenu menu;
    tray.SetPopupMenu(&menu);
    tray.Notification(&icons, opRemove);  // not the menu
    EXPECT_EQ(tray.PopupMenu(), &menu);
    tray.Notification(&menu, opRemove);
    EXPECT_EQ(tray.PopupMenu(), nullptr);
}

TEST_F(TrayIconTest, TipKeepsTheFirst127CharactersAndOnlyWhenShown)
{
    SetUpAsMainWindow();
    const std::string hint(100, 'a');
    tray.SetHint(hint + std::string(100, 'b'));
    EXPECT_EQ(std::string(Shown().szTip), hint + std::string(27, 'b'));

    tray.SetShowHint(false);
    EXPECT_STREQ(Shown().szTip, "");
    tray.SetShowHint(true);
    tray.SetHint("");
    EXPECT_STREQ(Shown().szTip, "");

    // A cut never splits a character: 100 two-byte letters keep 63 whole ones.
    std::string accents;
    for (int i = 0; i < 100; ++i) accents += "\xC3\xA9";
    tray.SetHint(accents);
    EXPECT_EQ(std::string(Shown().szTip), accents.substr(0, 126));
}

TEST_F(TrayIconTest, BalloonTextsAreCutAndTheTimeOutIsAnEightBitNumberOfSeconds)
{
    SetUpAsMainWindow();
    const std::size_t before = sim.notifyIcons.calls.size();
    EXPECT_TRUE(tray.ShowBalloonHint(std::string(80, 't'), std::string(300, 'x'), bitInfo, 136));

    // First the previous balloon is taken down, then the new one goes up.
    ASSERT_EQ(sim.notifyIcons.calls.size(), before + 2);
    const auto& hide = sim.notifyIcons.calls[before];
    EXPECT_EQ(hide.message, NIM_MODIFY);
    EXPECT_TRUE(hide.data.uFlags & NIF_INFO);
    EXPECT_STREQ(hide.data.szInfo, "");
    const auto& show = sim.notifyIcons.calls[before + 1].data;
    EXPECT_EQ(show.uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO);
    EXPECT_EQ(std::string(show.szInfoTitle), std::string(63, 't'));
    EXPECT_EQ(std::string(show.szInfo), std::string(255, 'x'));
    EXPECT_EQ(show.uTimeout, 136000u);
    EXPECT_EQ(show.dwInfoFlags, NIIF_INFO);
    EXPECT_EQ(tray.IconData().uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP);  // later calls carry no balloon

    tray.ShowBalloonHint("t", "x", bitCustom, 300);  // 300 read as 8 bits is 44
    EXPECT_EQ(Shown().uTimeout, 44000u);
    EXPECT_EQ(Shown().dwInfoFlags, NIIF_USER);
    tray.ShowBalloonHint("t", "x", bitError, 10);
    EXPECT_EQ(Shown().dwInfoFlags, NIIF_ERROR);
    EXPECT_EQ(Shown().uTimeout, 10000u);
}

TEST_F(TrayIconTest, WideBalloonKeepsWholeCharacters)
{
    SetUpAsMainWindow();
    std::u16string title(62, u'T');
    title += u"\U0001F552";  // a clock face: two UTF-16 units at 62 and 63
    EXPECT_TRUE(tray.ShowBalloonHintUnicode(title, std::u16string(300, u'\u00E9'), bitWarning, 60));
    EXPECT_EQ(std::u16string(Shown().szInfoTitleW), std::u16string(62, u'T'));
    EXPECT_EQ(std::u16string(Shown().szInfoW), std::u16string(255, u'\u00E9'));
    EXPECT_EQ(Shown().dwInfoFlags, NIIF_WARNING);

    tray.ShowBalloonHint("plain", "text", bitInfo, 10);  // the wide texts give way
    EXPECT_STREQ(Shown().szInfo, "text");
    EXPECT_EQ(Shown().szInfoW[0], u'\0');
}

TEST_F(TrayIconTest, DoubleClickGivesOneDoubleClickAndNoClick)
{
    SetUpAsMainWindow();
    Record();
    Inject({WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
    sim.Advance(sim.input.doubleClickTime * 3);
    EXPECT_EQ(events, (Events{"down-l", "up-l", "dblclick", "up-l"}));
}

TEST_F(TrayIconTest, SingleClickWaitsForTheDoubleClickTimeOnlyWhenDoubleClicksAreWanted)
{
    SetUpAsMainWindow();
    Record();
    Inject({WM_LBUTTONDOWN, WM_LBUTTONUP});
    sim.Advance(sim.input.doubleClickTime - 1);
    EXPECT_EQ(Count("click"), 0);
    sim.Advance(1);
    EXPECT_EQ(events, (Events{"down-l", "up-l", "click"}));
    sim.Advance(5000);
    EXPECT_EQ(Count("click"), 1);

    events.clear();
    tray.OnDblClick = nullptr;
    Inject({WM_LBUTTONDOWN, WM_LBUTTONUP});
    EXPECT_EQ(events, (Events{"down-l", "click", "up-l"}));
    Inject({WM_LBUTTONUP});  // a release without a press is no click
    EXPECT_EQ(Count("click"), 1);
}

TEST_F(TrayIconTest, MouseEventsCarryButtonShiftStateAndCursor)
{
    SetUpAsMainWindow();
    std::vector<TShiftState> shifts;
    TPoint at;
    tray.OnMouseDown = [&](TTrayIcon*, TMouseButton, TShiftState s, int x, int y) {
        shifts.push_back(s);
        at = {x, y};
    };
    tray.OnMouseMove = [&](TTrayIcon*, TShiftState s, int, int) { shifts.push_back(s); };
    sim.input.cursor = {1000, 5};
    sim.input.shift = sim.input.alt = true;
    Inject({WM_MBUTTONDOWN, WM_MOUSEMOVE});
    sim.input.shift = sim.input.alt = false;
    sim.input.ctrl = true;
    Inject({WM_LBUTTONDOWN});
    EXPECT_EQ(shifts, (std::vector<TShiftState>{ssShift | ssAlt | ssMiddle, ssShift | ssAlt, ssCtrl | ssLeft}));
    EXPECT_EQ(at, (TPoint{1000, 5}));
}

TEST_F(TrayIconTest, RightButtonOpensTheMenuOnPressForTheIcon)
{
    SetUpAsMainWindow();
    Record();
    TPopupMenu menu;
    menu.Add("Exit1", "E&xit");
    int popups = 0;
    menu.OnPopup = [&](TPopupMenu*) { ++popups; };
    menu.OnShown = [&](TPopupMenu* m) {
        events.push_back("menu");
        m->Menu()->close();
    };
    tray.SetPopupMenu(&menu);
    Inject({WM_RBUTTONDOWN, WM_RBUTTONUP});
    EXPECT_EQ(events, (Events{"down-r", "menu", "up-r"}));
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(menu.PopupComponent(), &tray);

    events.clear();
    menu.SetAutoPopup(false);
    Inject({WM_RBUTTONDOWN});
    EXPECT_EQ(events, (Events{"down-r"}));

    events.clear();
    menu.SetAutoPopup(true);
    tray.SetLeftPopup(true);
    Inject({WM_LBUTTONDOWN});
    EXPECT_EQ(events, (Events{"down-l", "menu"}));
}

TEST_F(TrayIconTest, DoubleClickRunsTheFirstDefaultItemUnlessTheMenuIsOnTheLeft)
{
    SetUpAsMainWindow();
    TPopupMenu menu;
    std::vector<std::string> clicked;
    for (const char* name : {"A", "B", "C"}) menu.Add(name, name)->OnClick = [&](TMenuItem* i) { clicked.push_back(i->Name()); };
    menu.Find("B")->SetDefault(true);
    menu.Find("C")->SetDefault(true);
    tray.SetPopupMenu(&menu);
    Inject({WM_LBUTTONDBLCLK});
    EXPECT_EQ(clicked, (std::vector<std::string>{"B"}));

    tray.SetLeftPopup(true);
    Inject({WM_LBUTTONDBLCLK});
    EXPECT_EQ(clicked.size(), 1u);
}

TEST_F(TrayIconTest, BehaviorDecidesWhichMessageEndsARightClick)
{
    SetUpAsMainWindow();
    Record();
    tray.SetBehavior(bhWin2000);
    EXPECT_EQ(sim.notifyIcons.calls.back().message, NIM_SETVERSION);
    EXPECT_EQ(sim.notifyIcons.calls.back().data.uVersion, NOTIFYICON_VERSION);
    Inject({WM_RBUTTONUP, WM_CONTEXTMENU, NIN_SELECT, NIN_KEYSELECT});
    EXPECT_EQ(events, (Events{"up-r", "up-r", "up-r"}));

    events.clear();
    tray.SetBehavior(bhWin95);
    EXPECT_EQ(sim.notifyIcons.calls.back().data.uVersion, 0u);
    Inject({WM_RBUTTONUP, WM_CONTEXTMENU, NIN_SELECT, WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK});
    EXPECT_EQ(events, (Events{"up-r"}));
}

TEST_F(TrayIconTest, DisabledIconIgnoresTheMouseButStillReportsBalloons)
{
    SetUpAsMainWindow();
    Record();
    TPopupMenu menu;
    menu.OnShown = [&](TPopupMenu* m) {
        events.push_back("menu");
        m->Menu()->close();
    };
    tray.SetPopupMenu(&menu);
    tray.SetWantEnterExitEvents(true);
    tray.SetEnabled(false);
    Inject({WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_RBUTTONDOWN,
            WM_RBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONUP});
    sim.Advance(2000);
    EXPECT_TRUE(events.empty());

    Inject({NIN_BALLOONSHOW, NIN_BALLOONHIDE, NIN_BALLOONTIMEOUT, NIN_BALLOONUSERCLICK});
    EXPECT_EQ(events, (Events{"balloon-show", "balloon-hide", "balloon-timeout", "balloon-click"}));
}

TEST_F(TrayIconTest, EnterOnTheFirstMoveAndExitWhenTheCursorLeaves)
{
    SetUpAsMainWindow();
    Record();
    Inject({WM_MOUSEMOVE});  // not wanted: no enter
    EXPECT_EQ(events, (Events{"move"}));

    events.clear();
    tray.SetWantEnterExitEvents(true);
    sim.input.cursor = {10, 10};
    Inject({WM_MOUSEMOVE, WM_MOUSEMOVE});
    sim.Advance(100);  // the cursor rests where the last move was
    EXPECT_EQ(events, (Events{"enter", "move", "move"}));
    sim.input.cursor = {11, 10};
    sim.Advance(20);
    EXPECT_EQ(events.back(), "exit");
    sim.Advance(200);
    EXPECT_EQ(Count("exit"), 1);
    Inject({WM_MOUSEMOVE});
    EXPECT_EQ(Count("enter"), 2);

    tray.SetWantEnterExitEvents(false);
    sim.input.cursor = {50, 50};
    sim.Advance(200);
    EXPECT_EQ(Count("exit"), 1);
}

TEST_F(TrayIconTest, ShowHideAndTheTrayHostComingBack)
{
    SetUpAsMainWindow();
    tray.SetHint("Work item");
    EXPECT_FALSE(tray.ShowIcon());  // already there
    sim.notifyIcons.RestartHost();
    ASSERT_NE(sim.notifyIcons.Find(tray.IconId()), nullptr);
    EXPECT_STREQ(Shown().szTip, "Work item");
    EXPECT_TRUE(ShowsImage(0));

    EXPECT_TRUE(tray.HideIcon());
    EXPECT_FALSE(tray.IconVisible());
    sim.notifyIcons.RestartHost();
    EXPECT_EQ(sim.notifyIcons.Find(tray.IconId()), nullptr);
}

TEST_F(TrayIconTest, DestructionTakesTheIconTheTimersAndTheWindowAway)
{
    auto other = std::make_unique<TTrayIcon>(nullptr);
    other->SetIconVisible(true);
    SetUpAsMainWindow();
    Record();
    const UINT otherId = other->IconId();
    EXPECT_EQ(other->IconData().hWnd, tray.IconData().hWnd);  // one window for all icons
    EXPECT_NE(otherId, tray.IconId());
    sim.notifyIcons.Inject(otherId, WM_LBUTTONDOWN);  // still queued when it goes
    other.reset();
    EXPECT_EQ(sim.notifyIcons.Find(otherId), nullptr);
    sim.ProcessMessages();
    EXPECT_TRUE(events.empty());
    Inject({WM_LBUTTONDOWN});
    EXPECT_EQ(events, (Events{"down-l"}));

    {
        TTrayIcon passing(nullptr);
    }
    EXPECT_EQ(sim.windows.WindowCount(), 2u);  // the shared windows stay for the icon left
}

TEST(TrayIconLifetime, TheLastIconTakesTheSharedWindowAndItsTimers)
{
    SimPlatform sim;
    {
        TTrayIcon tray(nullptr);
        tray.SetIconVisible(true);
        tray.SetWantEnterExitEvents(true);
        EXPECT_EQ(TMessageTimer::GetMessageTimerCount(), 3);
        EXPECT_EQ(sim.windows.WindowCount(), 2u);  // the icons' and the timers'
    }
    EXPECT_TRUE(sim.notifyIcons.icons.empty());
    EXPECT_EQ(TMessageTimer::GetMessageTimerCount(), 0);
    EXPECT_EQ(sim.windows.WindowCount(), 0u);
    EXPECT_EQ(sim.windows.TimerCount(), 0u);
}

}  // namespace

// Hide to Tray keeps the taskbar button when "Remove from task bar" is
// unticked: the window is iconified instead of withdrawn. Without a tray
// host it is always iconified, with its button.
#include <QCoreApplication>
#include <cstring>

#include "WindowsFixture.h"
#include "components/OnceNotices.h"

namespace {

using HideToTray = WindowsFixture;

TEST_F(HideToTray, UntickedBoxIconifiesAndKeepsTheButton)
{
    form->show();
    prefs->cbxRemoveFromTaskBar->SetChecked(false);
    form->HidetoTray1Click();
    EXPECT_TRUE(sim.appState.minimized);
    EXPECT_TRUE(form->isVisible());  // still mapped: its button stays
    EXPECT_TRUE(sim.taskbar.visible);
    form->mnuAppPopup();
    EXPECT_FALSE(form->HidetoTray1->Visible());  // hidden to the taskbar counts as hidden

    // The tray's double click brings it back.
    form->tryIconDblClick();
    EXPECT_FALSE(sim.appState.minimized);
    form->mnuAppPopup();
    EXPECT_TRUE(form->HidetoTray1->Visible());
}

TEST_F(HideToTray, TickedBoxWithdrawsTheWindow)
{
    form->show();
    prefs->cbxRemoveFromTaskBar->SetChecked(true);
    form->HidetoTray1Click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(sim.appState.minimized);
    EXPECT_FALSE(sim.taskbar.visible);
}

TEST_F(HideToTray, WithoutATrayHostTheWindowGoesToTheTaskbarUntilOneAppears)
{
    const auto notices = [this] {
        int n = 0;
        for (auto& c : sim.notifyIcons.calls)
            if ((c.data.uFlags & NIF_INFO) && std::strstr(c.data.szInfo, "no system tray")) ++n;
        return n;
    };
    form->show();
    prefs->cbxRemoveFromTaskBar->SetChecked(true);
    prefs->cbxMinimizeOnClose->SetChecked(true);
    sim.taskbar.SetButtonVisible(false);  // as the ticked box has it
    sim.notifyIcons.SetHostPresent(false);
    form->mnuAppPopup();
    EXPECT_EQ(form->HidetoTray1->Caption(), "Minimize");

    // The close minimizes with the button, whatever the box says; told once.
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(sim.appState.minimized);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(sim.taskbar.visible);
    EXPECT_EQ(notices(), 1);
    sim.appState.Restore();  // the taskbar button
    EXPECT_FALSE(sim.taskbar.visible);  // the box's choice again while shown
    form->HidetoTray1Click();
    EXPECT_TRUE(sim.appState.minimized);
    EXPECT_TRUE(sim.taskbar.visible);
    EXPECT_EQ(notices(), 1);
    EXPECT_FALSE(OnceNotices(ini).First("no system tray"));  // kept beside the settings file
    sim.appState.Restore();

    // A tray host appears: hiding withdraws again.
    sim.notifyIcons.SetHostPresent(true);
    sim.ProcessMessages();
    form->mnuAppPopup();
    EXPECT_EQ(form->HidetoTray1->Caption(), "Hide to Tray");
    EXPECT_FALSE(form->close());
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(sim.appState.minimized);
    EXPECT_FALSE(sim.taskbar.visible);
    EXPECT_EQ(notices(), 1);
}

TEST_F(HideToTray, StartedHiddenWithoutATrayHostTheWindowWaitsInTheTaskbar)
{
    prefs->cbxRemoveFromTaskBar->SetChecked(true);
    sim.notifyIcons.SetHostPresent(false);
    form->StartHidden();
    // Not withdrawn where nothing could bring it back: minimized, with its button.
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(sim.appState.minimized);
    EXPECT_TRUE(sim.taskbar.visible);
}

TEST_F(HideToTray, ASingleClickOnTheIconShowsTheWindowOrBringsItToTheFront)
{
    form->show();
    QCoreApplication::processEvents();  // the icon docks
    ASSERT_EQ(sim.notifyIcons.icons.size(), 1u);
    const UINT icon = sim.notifyIcons.icons.begin()->first;
    const auto click = [&] {
        sim.notifyIcons.Inject(icon, WM_LBUTTONDOWN);
        sim.notifyIcons.Inject(icon, WM_LBUTTONUP);
        sim.ProcessMessages();
        sim.Advance(sim.input.doubleClickTime + 1);  // no second press
    };
    prefs->cbxRemoveFromTaskBar->SetChecked(true);
    form->HidetoTray1Click();
    ASSERT_FALSE(form->isVisible());
    click();
    EXPECT_TRUE(form->isVisible());

    // Shown behind other windows: brought to the front.
    sim.input.foreground.clear();
    click();
    ASSERT_FALSE(sim.input.foreground.empty());
    EXPECT_EQ(sim.input.foreground.back(), form.get());

    // Minimized: restored; a double click still restores.
    sim.appState.Minimize();
    click();
    EXPECT_FALSE(sim.appState.minimized);
    sim.appState.Minimize();
    for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) sim.notifyIcons.Inject(icon, m);
    sim.ProcessMessages();
    EXPECT_FALSE(sim.appState.minimized);
}

}  // namespace

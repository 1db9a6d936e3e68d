// Hide to Tray keeps the taskbar button when "Remove from task bar" is
// unticked: the window is iconified instead of withdrawn.
#include "WindowsFixture.h"

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

}  // namespace

// The icon with an owner window: the hooks on the owner, the main form and
// the taskbar button; and the desktop tray's reading of the tip.
#include <gtest/gtest.h>

#include <QMenu>
#include <QWidget>
#include <memory>

#include "components/Application.h"
#include "components/Menus.h"
#include "platform/desktop/NotifyIconsQt.h"
#include "platform/sim/SimPlatform.h"
#include "tray/TrayIcon.h"

namespace {

class TrayIconWindowTest : public ::testing::Test {
protected:
    ~TrayIconWindowTest() override { Application().SetShowMainForm(true); }

    SimPlatform sim;
    QWidget form;
    std::unique_ptr<TTrayIcon> tray = std::make_unique<TTrayIcon>(&form);
};

TEST_F(TrayIconWindowTest, EveryShowBringsTheOwnerToTheFront)
{
    EXPECT_EQ(tray->MainForm(), &form);
    form.show();
    form.hide();
    form.show();
    EXPECT_EQ(sim.input.foreground, (std::vector<QWidget*>{&form, &form}));
}

TEST_F(TrayIconWindowTest, MinimizeGoesToTheTrayOnlyWhenAskedFor)
{
    form.show();
    form.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(sim.notifyIcons.icons.empty());
    form.setWindowState(Qt::WindowNoState);

    int asked = 0;
    tray->SetMinimizeToTray(true);
    tray->OnMinimizeToTray = [&](TTrayIcon*) { ++asked; };
    form.setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(sim.taskbar.visible);
    EXPECT_TRUE(tray->IconVisible());
    EXPECT_NE(sim.notifyIcons.Find(tray->IconId()), nullptr);

    tray->ShowMainForm();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(sim.input.foreground.back(), &form);

    tray->OnMinimizeToTray = nullptr;  // the application's minimize still goes
    form.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(asked, 1);
}

TEST_F(TrayIconWindowTest, StartupEventMayKeepTheMainFormHidden)
{
    form.show();
    tray->OnStartup = [](TTrayIcon*, bool& show) { show = false; };
    tray->Loaded();
    EXPECT_FALSE(Application().ShowMainForm());
    EXPECT_FALSE(form.isVisible());

    Application().SetShowMainForm(true);
    int calls = 0;
    TTrayIcon ownerless(nullptr);
    ownerless.OnStartup = [&](TTrayIcon*, bool& show) {
        ++calls;
        show = false;
    };
    ownerless.Loaded();
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(Application().ShowMainForm());
}

TEST_F(TrayIconWindowTest, OwnerMayGoFirst)
{
    auto owner = std::make_unique<QWidget>();
    auto icon = std::make_unique<TTrayIcon>(owner.get());
    icon->SetIconVisible(true);
    owner.reset();
    icon->ShowMainForm();
    icon.reset();
    EXPECT_EQ(sim.notifyIcons.icons.size(), 0u);
}

TEST_F(TrayIconWindowTest, PopupNeedsAMenuAndNamesTheIconAsItsSource)
{
    tray->Popup(10, 10);  // without a menu: nothing, and no hang
    TPopupMenu menu;
    bool shown = false;
    menu.OnShown = [&](TPopupMenu* m) {
        shown = true;
        m->Menu()->close();
    };
    tray->SetPopupMenu(&menu);
    sim.input.cursor = {40, 50};
    tray->PopupAtCursor();
    EXPECT_TRUE(shown);
    EXPECT_EQ(menu.PopupComponent(), tray.get());
}

TEST(DesktopTrayTip, AmpersandsReadAsTheShellReadsThem)
{
    EXPECT_EQ(QtNotifyIcons::TipText("Fish && Chips"), "Fish & Chips");
    EXPECT_EQ(QtNotifyIcons::TipText("&Work item"), "Work item");
    EXPECT_EQ(QtNotifyIcons::TipText("a&&&b&"), "a&b");
    EXPECT_EQ(QtNotifyIcons::TipText("Caf\xC3\xA9"), QString::fromUtf8("Caf\xC3\xA9"));
}

}  // namespace

// The hot key on desktops that refuse it, lack a way to grab keys, or lack
// the key on their layout; the portal's trigger names and the key positions.
#include "ClockFixture.h"
#include "platform/desktop/PortalHotKeys.h"
#include "platform/desktop/x11/X11HotKeys.h"

namespace {

struct HotKey : ClockFixture {
    int Shown() const  // balloons put up (a new one first takes the last one down)
    {
        int n = 0;
        for (auto& c : sim.notifyIcons.calls)
            if ((c.data.uFlags & NIF_INFO) && c.data.szInfo[0]) ++n;
        return n;
    }
};

TEST_F(HotKey, OnlyARefusalClearsTheFieldOtherFailuresTellTheUserOnce)
{
    prefs->hotkeyStartStop->SetHotKey(32960);
    sim.hotKeys.failAll = HotKeyFailure::Unavailable;
    form->RegisterStartStopHotKey();
    form->RegisterStartStopHotKey();  // the hot-key field left again
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 32960);
    EXPECT_EQ(Shown(), 1);
    EXPECT_EQ(LastBalloon().text, "Global hot keys are not available on this desktop.");

    sim.hotKeys.failAll = HotKeyFailure::KeyMissing;
    form->RegisterStartStopHotKey();
    form->RegisterStartStopHotKey();
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 32960);
    EXPECT_EQ(Shown(), 2);
    EXPECT_EQ(LastBalloon().text, "The start/stop hot key is not on the current keyboard layout.");

    sim.hotKeys.failAll = HotKeyFailure::Taken;
    form->RegisterStartStopHotKey();
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 0);
    EXPECT_EQ(Shown(), 2);  // a refusal stays silent

    sim.hotKeys.failAll = HotKeyFailure::None;
    prefs->hotkeyStartStop->SetHotKey(32960);
    form->RegisterStartStopHotKey();
    EXPECT_TRUE(sim.hotKeys.Press(MOD_ALT, 0xC0));
}

TEST_F(HotKey, ALayoutSwitchThatLosesTheKeyIsToldOnceAndKeepsIt)
{
    prefs->hotkeyStartStop->SetHotKey(32960);
    form->RegisterStartStopHotKey();
    for (int i = 0; i < 2; ++i) {
        sim.windows.PostMessage(form->Handle(), WM_HOTKEY_LOST, 0, static_cast<LPARAM>(HotKeyFailure::KeyMissing));
        sim.windows.ProcessMessages();
    }
    EXPECT_EQ(Shown(), 1);
    EXPECT_EQ(LastBalloon().text, "The start/stop hot key is not on the current keyboard layout.");
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 32960);
}

TEST(HotKeyNames, PortalTriggersAndKeyPositions)
{
    EXPECT_EQ(PortalTrigger(MOD_ALT, 0xC0).toStdString(), "ALT+grave");
    EXPECT_EQ(PortalTrigger(MOD_CONTROL | MOD_ALT | MOD_SHIFT, 'A').toStdString(), "CTRL+ALT+SHIFT+a");
    EXPECT_EQ(PortalTrigger(MOD_CONTROL, 0x74).toStdString(), "CTRL+F5");
    EXPECT_EQ(PortalTrigger(MOD_ALT, 0xBB).toStdString(), "ALT+equal");
    EXPECT_EQ(PortalTrigger(MOD_ALT, 0xFF).toStdString(), "");  // no such key

    // Windows names the punctuation keys and the digits by their US positions.
    EXPECT_STREQ(VirtualKeyToKeyName(0xC0), "TLDE");
    EXPECT_STREQ(VirtualKeyToKeyName('1'), "AE01");
    EXPECT_STREQ(VirtualKeyToKeyName('0'), "AE10");
    EXPECT_STREQ(VirtualKeyToKeyName(0xE2), "LSGT");
    EXPECT_STREQ(VirtualKeyToKeyName(0xDE), "AC11");
    // Letters follow the layout's symbols, as on Windows.
    EXPECT_EQ(VirtualKeyToKeyName('A'), nullptr);
    EXPECT_EQ(VirtualKeyToKeyName(0x70), nullptr);
}

}  // namespace

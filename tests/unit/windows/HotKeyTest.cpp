// The hot key on desktops that refuse it, lack a way to grab keys, lack the
// key on their layout, or leave the question unanswered; the portal's
// trigger names on each layout.
#include <QLabel>
#include <filesystem>

#include "ClockFixture.h"
#include "platform/desktop/PortalHotKeys.h"
#include "platform/VirtualKeys.h"

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

    // The desktop's question dismissed, or its service failing: kept, told once each.
    sim.hotKeys.failAll = HotKeyFailure::Dismissed;
    form->RegisterStartStopHotKey();
    form->RegisterStartStopHotKey();
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 32960);
    EXPECT_EQ(Shown(), 3);
    EXPECT_EQ(LastBalloon().text,
              "The desktop's question about the start/stop hot key was dismissed; it is asked again at the next start.");
    sim.hotKeys.failAll = HotKeyFailure::Failed;
    form->RegisterStartStopHotKey();
    form->RegisterStartStopHotKey();
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 32960);
    EXPECT_EQ(Shown(), 4);
    EXPECT_EQ(LastBalloon().text, "The desktop could not bind the start/stop hot key; it is tried again at the next start.");

    sim.hotKeys.failAll = HotKeyFailure::Taken;
    form->RegisterStartStopHotKey();
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 0);
    EXPECT_EQ(Shown(), 4);  // a refusal stays silent

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

TEST_F(HotKey, PortalTriggersNameWhatTheLayoutHasAtTheKey)
{
    auto trigger = [&](UINT modifiers, UINT vk) {
        return PortalTrigger(modifiers, vk, KeyboardMap{sim.keyboard.Keymap(), sim.keyboard.Layout()}).toStdString();
    };
    EXPECT_EQ(trigger(MOD_ALT, 0xC0), "ALT+grave");  // no keymap known: a US keyboard's names
    sim.keyboard.Use("us");
    EXPECT_EQ(trigger(MOD_ALT, 0xC0), "ALT+grave");
    EXPECT_EQ(trigger(MOD_CONTROL | MOD_ALT | MOD_SHIFT, 'A'), "CTRL+ALT+SHIFT+a");
    EXPECT_EQ(trigger(MOD_CONTROL, 0x74), "CTRL+F5");
    EXPECT_EQ(trigger(MOD_ALT, 0x67), "ALT+KP_7");
    EXPECT_EQ(trigger(MOD_ALT, 0xFF), "");  // no such key
    sim.keyboard.Use("de,us");
    EXPECT_EQ(trigger(MOD_ALT, 0xC0), "ALT+dead_circumflex");
    EXPECT_EQ(trigger(MOD_ALT, 0xDD), "ALT+plus");
    EXPECT_EQ(trigger(MOD_ALT, '1'), "ALT+1");
    EXPECT_EQ(trigger(MOD_CONTROL | MOD_ALT, 'Z'), "CTRL+ALT+z");
    sim.keyboard.Use("de,us", 1);
    EXPECT_EQ(trigger(MOD_ALT, 0xDD), "ALT+bracketright");
    sim.keyboard.Use("ru");
    EXPECT_EQ(trigger(MOD_ALT, 'Q'), "");  // the layout types no Q
    sim.keyboard.Use("us,ru", 1);
    EXPECT_EQ(trigger(MOD_CONTROL | MOD_ALT, 'T'), "CTRL+ALT+t");  // a letter by its Latin name on every layout

    // What the desktop lists is compared by key, not by spelling.
    EXPECT_TRUE(SameTrigger("Ctrl+Alt+T", "CTRL+ALT+t"));
    EXPECT_TRUE(SameTrigger("Alt++", "ALT+plus"));
    EXPECT_TRUE(SameTrigger("Alt+`", "ALT+grave"));
    EXPECT_TRUE(SameTrigger("Ctrl+F5", "CTRL+F5"));
    EXPECT_FALSE(SameTrigger("Alt++", "ALT+bracketright"));
    EXPECT_FALSE(SameTrigger("Ctrl+Alt+T", "ALT+t"));
    EXPECT_FALSE(SameTrigger("", "ALT+grave"));          // kept without a key
    EXPECT_FALSE(SameTrigger("Alt+`", "ALT+nosuchkey"));  // unreadable: bound again
}

TEST_F(HotKey, ADesktopWithoutHotKeysOrKeepingTheKeyIsToldOncePerSettingsFileAndTheFieldNotes)
{
    auto* note = prefs->findChild<QLabel*>("lblHotKeyNote");
    ASSERT_NE(note, nullptr);
    prefs->hotkeyStartStop->SetHotKey(32960);
    sim.hotKeys.failAll = HotKeyFailure::Held;
    form->RegisterStartStopHotKey();
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 32960);  // kept: the desktop may free it
    EXPECT_EQ(Shown(), 1);
    EXPECT_NE(LastBalloon().text.find("The start/stop hot key Alt + ` is kept by the desktop"), std::string::npos);
    EXPECT_EQ(note->text().toStdString(), "Not active: the desktop keeps this key for itself or another program.");
    sim.hotKeys.failAll = HotKeyFailure::Unavailable;
    form->RegisterStartStopHotKey();
    EXPECT_EQ(Shown(), 2);
    EXPECT_EQ(note->text().toStdString(), "Not active: this desktop offers no global hot keys.");

    // The next start with the same settings file says neither again; the note stays.
    TForm1 next;
    for (HotKeyFailure why : {HotKeyFailure::Held, HotKeyFailure::Unavailable}) {
        sim.hotKeys.failAll = why;
        next.RegisterStartStopHotKey();
    }
    EXPECT_EQ(Shown(), 2);
    EXPECT_EQ(note->text().toStdString(), "Not active: this desktop offers no global hot keys.");
    EXPECT_EQ(prefs->hotkeyStartStop->HotKey(), 32960);
    // Another key kept by the desktop is named once too; the settings file is untouched.
    prefs->hotkeyStartStop->SetHotKey(scCtrl | scAlt | 'T');
    sim.hotKeys.failAll = HotKeyFailure::Held;
    next.RegisterStartStopHotKey();
    EXPECT_EQ(Shown(), 3);
    EXPECT_FALSE(std::filesystem::exists(ini));
    EXPECT_TRUE(std::filesystem::exists(dir + "/ChronelGui.notices"));

    // Active again: the note goes.
    sim.hotKeys.failAll = HotKeyFailure::None;
    next.RegisterStartStopHotKey();
    EXPECT_TRUE(note->text().isEmpty());
}

}  // namespace

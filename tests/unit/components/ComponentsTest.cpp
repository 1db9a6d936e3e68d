// The component stand-ins on the simulated platform.
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <climits>
#include <filesystem>
#include <gtest/gtest.h>

#include "components/Application.h"
#include "components/Exceptions.h"
#include "components/Format.h"
#include "components/HotKey.h"
#include "components/Menus.h"
#include "components/OnceNotices.h"
#include "components/SpinEdit.h"
#include "components/Timer.h"
#include "platform/VirtualKeys.h"
#include "platform/sim/SimPlatform.h"

namespace {

class Components : public ::testing::Test {
protected:
    SimPlatform sim;
};

// ---- timers ---------------------------------------------------------------

TEST_F(Components, TimerFiresOnVirtualTimeOnly)
{
    TTimer t;
    int ticks = 0;
    t.OnTimer = [&](TTimer*) { ++ticks; };
    t.SetInterval(1000);
    sim.Advance(999);
    EXPECT_EQ(ticks, 0);
    sim.Advance(1);
    EXPECT_EQ(ticks, 1);
    sim.Advance(3000);
    EXPECT_EQ(ticks, 4);
}

TEST_F(Components, TimerIntervalZeroNeverFiresAndSameValuesChangeNothing)
{
    TTimer t;
    int ticks = 0;
    t.OnTimer = [&](TTimer*) { ++ticks; };
    t.SetInterval(0);
    sim.Advance(100000);
    EXPECT_EQ(ticks, 0);

    t.SetInterval(1000);
    sim.Advance(600);
    t.SetInterval(1000);  // same interval: the count goes on
    sim.Advance(400);
    EXPECT_EQ(ticks, 1);

    sim.Advance(600);
    t.SetEnabled(true);  // same state: the count goes on
    sim.Advance(400);
    EXPECT_EQ(ticks, 2);
}

TEST_F(Components, TimerNewIntervalRestartsCountAndDisableStops)
{
    TTimer t;
    int ticks = 0;
    t.OnTimer = [&](TTimer*) { ++ticks; };
    t.SetInterval(1000);
    sim.Advance(900);
    t.SetInterval(500);  // restarts from zero
    sim.Advance(499);
    EXPECT_EQ(ticks, 0);
    sim.Advance(1);
    EXPECT_EQ(ticks, 1);
    t.SetEnabled(false);
    sim.Advance(10000);
    EXPECT_EQ(ticks, 1);
    t.SetEnabled(true);
    sim.Advance(499);
    EXPECT_EQ(ticks, 1);
    sim.Advance(1);
    EXPECT_EQ(ticks, 2);
}

TEST_F(Components, TimerDestructionReleasesItsWindow)
{
    const auto before = sim.windows.WindowCount();
    {
        TTimer t;
        EXPECT_EQ(sim.windows.WindowCount(), before + 1);
    }
    EXPECT_EQ(sim.windows.WindowCount(), before);
    EXPECT_EQ(sim.windows.TimerCount(), 0u);
}

// ---- minutes text ------------------------------------------------------------

TEST(Format, MinutesPattern)
{
    EXPECT_EQ(FormatMinutes(0.0, '.'), "");
    EXPECT_EQ(FormatMinutes(0.5, '.'), ".5");
    EXPECT_EQ(FormatMinutes(1.0, '.'), "1");
    EXPECT_EQ(FormatMinutes(12.25, '.'), "12.25");
    EXPECT_EQ(FormatMinutes(2.0 / 3.0, '.'), ".67");
    EXPECT_EQ(FormatMinutes(1.10, '.'), "1.1");
    EXPECT_EQ(FormatMinutes(0.004, '.'), "");
    EXPECT_EQ(FormatMinutes(1.5, ','), "1,5");
    EXPECT_EQ(FormatMinutes(-0.5, '.'), "-.5");
}

TEST(Format, MinutesRoundHalvesAwayFromZero)
{
    EXPECT_EQ(FormatMinutes(0.125, '.'), ".13");
    EXPECT_EQ(FormatMinutes(0.375, '.'), ".38");
    EXPECT_EQ(FormatMinutes(0.005, '.'), ".01");
    EXPECT_EQ(FormatMinutes(-0.125, '.'), "-.13");
    EXPECT_EQ(FormatMinutes(9.995, '.'), "10");
}

TEST(Format, SecondsBetweenSurvivesRounding)
{
    const double start = 46027.5;
    EXPECT_EQ(SecondsBetween(start, start + 30.0 / 86400.0), 30);
    EXPECT_EQ(SecondsBetween(start + 61.0 / 86400.0, start), 61);
    EXPECT_EQ(SecondsBetween(start, start + 330.0 / 86400.0), 330);
}

TEST(Format, LongTimeHasSecondsAndNoZone)
{
    const std::string t = FormatLongTime(46027.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0);
    EXPECT_NE(t.find("05"), std::string::npos) << t;
    EXPECT_NE(t.find("09"), std::string::npos) << t;
    EXPECT_EQ(t.find("UTC"), std::string::npos) << t;
}

// ---- spin field -------------------------------------------------------------

TEST_F(Components, SpinEditReadsResetBadTextToMinimum)
{
    TCSpinEdit e;
    e.SetRange(1, 600);
    int changes = 0;
    e.OnChange = [&](TCSpinEdit*) { ++changes; };
    e.SetText("");
    EXPECT_EQ(e.Value(), 1);
    EXPECT_EQ(e.Text(), "1");
    e.SetText("-");
    EXPECT_EQ(e.Value(), 1);
    e.SetText("12x");
    EXPECT_EQ(e.Value(), 1);
    EXPECT_GE(changes, 4);
}

TEST_F(Components, SpinEditClampsOnSetAndOnLeavingButNotWhileTyping)
{
    TCSpinEdit e;
    e.SetRange(0, 600);
    e.SetIncrement(10);
    e.SetValue(900);
    EXPECT_EQ(e.Value(), 600);
    e.SetValue(-5);
    EXPECT_EQ(e.Value(), 0);
    e.StepDown();
    EXPECT_EQ(e.Value(), 0);
    e.SetValue(595);
    e.StepUp();
    EXPECT_EQ(e.Value(), 600);

    e.SetText("900");  // typed: not clamped yet
    EXPECT_EQ(e.Value(), 900);
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(e.Editor(), &out);
    EXPECT_EQ(e.Value(), 600);
}

TEST_F(Components, SpinEditStepsAndTypedValuesNeverOverflow)
{
    TCSpinEdit e;
    e.SetRange(0, 600);
    e.SetIncrement(10);
    e.SetText("2147483647");  // typed, then Up
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(e.Editor(), &up);
    EXPECT_EQ(e.Text(), "600");
    e.SetText("-2147483648");
    e.StepDown();
    EXPECT_EQ(e.Text(), "0");

    TCSpinEdit wide;
    wide.SetRange(INT_MIN, INT_MAX);
    wide.SetIncrement(10);
    wide.SetValue(INT_MAX - 3);
    wide.StepUp();
    EXPECT_EQ(wide.Value(), INT_MAX);
    wide.SetValue(INT_MIN + 3);
    wide.StepDown();
    EXPECT_EQ(wide.Value(), INT_MIN);

    // Typed past the int range: the nearer bound, now or when the field is left.
    e.SetText("99999999999999999999");
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(e.Editor(), &out);
    EXPECT_EQ(e.Text(), "600");
    e.SetText("-99999999999");
    EXPECT_EQ(e.Value(), 0);
}

TEST_F(Components, SpinEditRefusesLettersButTakesDigitsAndSigns)
{
    TCSpinEdit e;
    e.SetRange(0, 600);
    e.SetText("");
    for (const char* k : {"1", "x", "2", "+", "-"}) {
        const int key = k[0] >= 'a' ? Qt::Key_A + (k[0] - 'a') : k[0];
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString::fromLatin1(k));
        QApplication::sendEvent(e.Editor(), &press);
    }
    EXPECT_EQ(e.Text(), "12+-");
}

// ---- hot-key field ---------------------------------------------------------

TEST(HotKeyCodes, MappingKeepsWindowsCodes)
{
    EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_A, false), 0x41);
    EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_QuoteLeft, false), 0xC0);
    EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_AsciiTilde, false), 0xC0);
    EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_F5, false), 0x74);
    EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_5, true), 0x65);
    EXPECT_EQ(QtKeyToVirtualKey(Qt::Key_5, false), 0x35);
    for (int vk : {0x41, 0x5A, 0x30, 0x70, 0x87, 0xC0, 0xBA, 0xDE, 0x20, 0x2E, 0x25})
        EXPECT_EQ(QtKeyToVirtualKey(VirtualKeyToQtKey(vk), false), vk) << vk;
}

TEST(HotKeyCodes, PlainKeyOrShiftAloneBecomesAlt)
{
    EXPECT_EQ(NormalizeHotKey(0x41), scAlt | 0x41);
    EXPECT_EQ(NormalizeHotKey(scShift | 0x41), scAlt | 0x41);
    EXPECT_EQ(NormalizeHotKey(scCtrl | 0x41), scCtrl | 0x41);
    EXPECT_EQ(NormalizeHotKey(scCtrl | scShift | 0x41), scCtrl | scShift | 0x41);
    EXPECT_EQ(NormalizeHotKey(0), 0);
    EXPECT_EQ(HotKeyText(0xC041), "Ctrl + Alt + A");
    EXPECT_EQ(HotKeyText(0), "None");
}

TEST(HotKeyField, UserEntryChangesProgramSetDoesNot)
{
    THotKey f;
    int changes = 0;
    f.OnChange = [&](THotKey*) { ++changes; };
    f.SetHotKey(32960);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(f.HotKey(), 32960);

    QKeyEvent plain(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, "b");
    QApplication::sendEvent(&f, &plain);
    EXPECT_EQ(f.HotKey(), scAlt | 0x42);
    EXPECT_EQ(changes, 1);

    QKeyEvent combo(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier, "");
    QApplication::sendEvent(&f, &combo);
    EXPECT_EQ(f.HotKey(), 0xC041);
    EXPECT_EQ(f.text().toStdString(), "Ctrl + Alt + A");

    QKeyEvent modifierOnly(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, "");
    QApplication::sendEvent(&f, &modifierOnly);
    EXPECT_EQ(f.HotKey(), 0xC041);
    EXPECT_EQ(changes, 2);
}

TEST(HotKeyField, DialogKeysPassAndBackspaceOrDeleteEmpty)
{
    // Enter presses the dialog's default button, Escape does not close it,
    // Tab moves on: none of them becomes a hot key.
    QDialog dialog;
    auto* f = new THotKey(&dialog);
    auto* next = new QLineEdit(&dialog);
    auto* close = new QPushButton("Close", &dialog);
    close->setDefault(true);
    int clicks = 0;
    QObject::connect(close, &QPushButton::clicked, [&] { ++clicks; });
    int changes = 0;
    f->OnChange = [&](THotKey*) { ++changes; };
    f->SetHotKey(32960);
    dialog.show();
    f->setFocus();
    QApplication::processEvents();

    for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(f, &press);
    }
    EXPECT_EQ(clicks, 2);

    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(f, &tab);
    EXPECT_EQ(QApplication::focusWidget(), next);

    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(f, &esc);
    EXPECT_FALSE(dialog.isVisible());  // the plain dialog took it and closed
    EXPECT_EQ(f->HotKey(), 32960);
    EXPECT_EQ(changes, 0);

    for (int key : {Qt::Key_Backspace, Qt::Key_Delete}) {
        f->SetHotKey(32960);
        QKeyEvent press(QEvent::KeyPress, key, Qt::ShiftModifier);
        QApplication::sendEvent(f, &press);
        EXPECT_EQ(f->HotKey(), 0);
        EXPECT_EQ(f->text().toStdString(), "None");
    }
    EXPECT_EQ(changes, 2);
}

TEST_F(Components, HotKeyFieldStoresAndShowsThePressedKeyOnEachLayout)
{
    THotKey f;
    int changes = 0;
    f.OnChange = [&](THotKey*) { ++changes; };
    // Alt with a key as the desktop reports it: its key code and what it types.
    auto press = [&](unsigned keycode, int qtKey, const char* text) {
        QKeyEvent e(QEvent::KeyPress, qtKey, Qt::AltModifier, keycode, 0, 0, QString::fromUtf8(text));
        QApplication::sendEvent(&f, &e);
        return std::make_pair(static_cast<int>(f.HotKey()), f.text().toStdString());
    };
    using Result = std::pair<int, std::string>;
    sim.keyboard.Use("fr");
    EXPECT_EQ(press(10, Qt::Key_Ampersand, "&"), Result(scAlt | '1', "Alt + &"));  // not the 7 key
    EXPECT_EQ(press(24, Qt::Key_A, "a"), Result(scAlt | 'A', "Alt + A"));          // letters by their symbol
    EXPECT_EQ(press(47, Qt::Key_M, "m"), Result(scAlt | 'M', "Alt + M"));
    EXPECT_EQ(press(61, Qt::Key_Exclam, "!"), Result(scAlt | 0xBF, "Alt + !"));
    sim.keyboard.Use("de");
    EXPECT_EQ(press(35, Qt::Key_Plus, "+"), Result(scAlt | 0xDD, "Alt + +"));        // not the key right of ß
    EXPECT_EQ(press(51, Qt::Key_NumberSign, "#"), Result(scAlt | 0xDC, "Alt + #"));  // not the 3 key
    EXPECT_EQ(press(49, Qt::Key_Dead_Circumflex, ""), Result(scAlt | 0xC0, "Alt + ^"));
    EXPECT_EQ(press(47, Qt::Key_Odiaeresis, "ö"), Result(scAlt | 0xBA, "Alt + Ö"));
    EXPECT_EQ(press(52, Qt::Key_Y, "y"), Result(scAlt | 'Y', "Alt + Y"));
    EXPECT_EQ(press(79, Qt::Key_Home, ""), Result(scAlt | 0x67, "Alt + Num 7"));  // the keypad's 7
    EXPECT_EQ(press(71, Qt::Key_F5, ""), Result(scAlt | 0x74, "Alt + F5"));
    EXPECT_EQ(changes, 11);

    // A code means the same key on every layout and is shown as each labels it.
    f.SetHotKey(scAlt | 0xC0);
    for (auto [layout, label] : {std::pair{"us", "Alt + `"}, {"de", "Alt + ^"}, {"fr", "Alt + ²"}}) {
        sim.keyboard.Use(layout);
        f.SetHotKey(f.HotKey());
        EXPECT_EQ(f.text().toStdString(), label) << layout;
    }
    // A punctuation key where a US keyboard has a letter names no code: the field keeps its key.
    EXPECT_EQ(press(58, Qt::Key_Comma, ","), Result(scAlt | 0xC0, "Alt + ²"));
    EXPECT_EQ(changes, 11);

    // A non-Latin layout active: the key takes the Latin letter the other layout has there.
    sim.keyboard.Use("us,ru", 1);
    auto ctrlAlt = [&](unsigned keycode, const char* text) {
        QKeyEvent e(QEvent::KeyPress, 0x0415, Qt::ControlModifier | Qt::AltModifier, keycode, 0, 0,
                    QString::fromUtf8(text));
        QApplication::sendEvent(&f, &e);
        return std::make_pair(static_cast<int>(f.HotKey()), f.text().toStdString());
    };
    EXPECT_EQ(ctrlAlt(28, "е"), Result(scCtrl | scAlt | 'T', "Ctrl + Alt + T"));
    sim.keyboard.Use("us,ru", 0);
    f.SetHotKey(f.HotKey());
    EXPECT_EQ(f.text().toStdString(), "Ctrl + Alt + T");
    EXPECT_EQ(changes, 12);
}

TEST_F(Components, VirtualKeysNameTheSameKeyBothWaysOnEveryLayout)
{
    for (const char* layouts : {"us", "de", "fr", "gb", "ch", "ru,us"}) {
        sim.keyboard.Use(layouts, 0);
        const KeyboardMap map{sim.keyboard.Keymap(), sim.keyboard.Layout()};
        ASSERT_TRUE(map) << layouts;
        int named = 0;
        for (unsigned key = 9; key < 256; ++key) {
            const unsigned vk = VirtualKeyForKeycode(map, key);
            if (!vk) continue;
            ++named;
            // A symbol can be on two keys (a second Print key): either stands for the code.
            const bool symbol = !(vk >= 'A' && vk <= 'Z') && !VirtualKeyToKeyName(vk);
            const unsigned back = KeycodeForVirtualKey(map, vk);
            EXPECT_EQ(symbol ? VirtualKeyForKeycode(map, back) : back, symbol ? vk : key)
                << layouts << " key " << key << " code " << vk;
        }
        EXPECT_GT(named, 60) << layouts;
        // Digits and punctuation stay where a US keyboard has them.
        EXPECT_EQ(KeycodeForVirtualKey(map, 0xC0), 49u) << layouts;
        EXPECT_EQ(KeycodeForVirtualKey(map, '1'), 10u) << layouts;
        EXPECT_EQ(KeycodeForVirtualKey(map, 0xDD), 35u) << layouts;
    }
    // A letter is on the key a Latin layout of the keymap gives it, whichever
    // layout is active, and named by its Latin letter; the active layout's own
    // key wins where it has the letter (Z and Y change places on German).
    for (const char* layouts : {"ru,us", "us,ru", "gr,us", "il,us", "ua,us", "de,us"}) {
        for (unsigned active : {0u, 1u}) {
            sim.keyboard.Use(layouts, active);
            const KeyboardMap map{sim.keyboard.Keymap(), active};
            const bool german = std::string(layouts) == "de,us" && active == 0;
            EXPECT_EQ(KeycodeForVirtualKey(map, 'T'), 28u) << layouts << active;
            EXPECT_EQ(KeycodeForVirtualKey(map, 'Z'), german ? 29u : 52u) << layouts << active;
            EXPECT_EQ(VirtualKeyForKeycode(map, 28), static_cast<unsigned>('T')) << layouts << active;
            EXPECT_EQ(KeyLabel(map, 'T'), "T") << layouts << active;
            EXPECT_EQ(KeysymName(map, 'T'), "t") << layouts << active;
        }
    }
    // Without a Latin layout the letter is on no key.
    sim.keyboard.Use("ru");
    EXPECT_EQ(KeycodeForVirtualKey({sim.keyboard.Keymap(), 0}, 'Q'), 0u);
    EXPECT_EQ(VirtualKeyForKeycode({sim.keyboard.Keymap(), 0}, 24), 0u);
    EXPECT_EQ(KeysymName({sim.keyboard.Keymap(), 0}, 'Q'), "");
    EXPECT_EQ(KeycodeForVirtualKey({}, 'Q'), 0u);  // no keymap known
}

TEST(OnceNotices, GivenOncePerListBesideTheSettingsFileAndAlwaysWhenItCannotBeKept)
{
    char tmpl[] = "/tmp/chronel-once.XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    OnceNotices notices(dir + "/ChronelGui.ini");
    EXPECT_EQ(notices.Path(), dir + "/ChronelGui.notices");
    EXPECT_EQ(OnceNotices(dir + "/my.settings/timer").Path(), dir + "/my.settings/timer.notices");
    EXPECT_EQ(OnceNotices(dir + "/.ini").Path(), dir + "/.ini.notices");
    EXPECT_TRUE(notices.First("hot keys unavailable on sway"));
    EXPECT_FALSE(notices.First("hot keys unavailable on sway"));
    EXPECT_TRUE(notices.First("hot keys unavailable on GNOME"));  // another desktop
    EXPECT_TRUE(notices.First("two\nlines"));
    EXPECT_FALSE(OnceNotices(dir + "/ChronelGui.ini").First("two\nlines"));  // the next start
    EXPECT_FALSE(std::filesystem::exists(dir + "/ChronelGui.ini"));
    // A list that cannot be written: told every time rather than never.
    OnceNotices nowhere(dir + "/missing/ChronelGui.ini");
    EXPECT_TRUE(nowhere.First("x"));
    EXPECT_TRUE(nowhere.First("x"));
    std::filesystem::remove_all(dir);
}

// ---- menus and the error report --------------------------------------------

TEST_F(Components, HiddenMenuItemStillClicks)
{
    TPopupMenu menu;
    TMenuItem* stop = menu.Add("StopClock1", "Stop Clock");
    int clicks = 0;
    stop->OnClick = [&](TMenuItem*) { ++clicks; };
    stop->SetVisible(false);
    stop->Click();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(stop->Action()->isVisible());
    TMenuItem* sep = menu.Add("N1", "-");
    EXPECT_TRUE(sep->Action()->isSeparator());
    EXPECT_EQ(menu.Find("StopClock1"), stop);
}

TEST_F(Components, EscapingExceptionIsReportedAndProgramGoesOn)
{
    Application().SetTitle("Chronel Timer");
    TPopupMenu menu;
    TMenuItem* item = menu.Add("Exit1", "Exit");
    item->OnClick = [](TMenuItem*) { throw Exception("Unable to write to /x/ChronelGui.ini"); };
    item->Click();
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].text, "Unable to write to /x/ChronelGui.ini.");
    EXPECT_EQ(sim.messageBox.shown[0].caption, "Chronel Timer");
    EXPECT_EQ(sim.messageBox.shown[0].type & MB_ICON_MASK, MB_ICONERROR);
    EXPECT_FALSE(Application().Guard([] { throw std::runtime_error("x."); }));
    EXPECT_EQ(sim.messageBox.shown[1].text, "x.");
}

TEST(Exceptions, AssertionMessageNamesFileAndLine)
{
    try {
        CHRONEL_REQUIRE(false, "REQUIRE: Strings");
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message().rfind("REQUIRE: Strings (ComponentsTest.cpp, line ", 0), 0u) << e.Message();
    }
}

// ---- simulated platform ------------------------------------------------------

TEST_F(Components, SimHotKeysRefuseHeldCombinationsAndDeliverPresses)
{
    std::vector<WPARAM> got;
    HWND w = sim.windows.AllocateHWnd([&](TMessage& m) { if (m.Msg == WM_HOTKEY) got.push_back(m.WParam); });
    sim.hotKeys.Reserve(MOD_ALT, 0x41);
    EXPECT_FALSE(sim.hotKeys.RegisterHotKey(w, 0, MOD_ALT, 0x41));
    EXPECT_TRUE(sim.hotKeys.RegisterHotKey(w, 0, MOD_ALT, 0xC0));
    EXPECT_TRUE(sim.hotKeys.Press(MOD_ALT, 0xC0));
    sim.ProcessMessages();
    EXPECT_EQ(got, std::vector<WPARAM>{0});
    EXPECT_TRUE(sim.hotKeys.UnregisterHotKey(w, 0));
    EXPECT_FALSE(sim.hotKeys.Press(MOD_ALT, 0xC0));
    sim.windows.DeallocateHWnd(w);
}

}  // namespace

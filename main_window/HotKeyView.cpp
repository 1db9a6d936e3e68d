#include "main_window/HotKeyView.h"

#include <QString>
#include <string>

#include "components/HotKey.h"
#include "components/OnceNotices.h"
#include "components/SettingsPath.h"
#include "main_window/ChronelUnit.h"
#include "platform/Platform.h"
#include "platform/TraceMarks.h"
#include "prefs/frmPrefsUnit.h"
#include "session/Settings.h"

void THotKeyView::ShowNote(const char* note)
{
    // The note beside the field says when its key is not active here.
    if (!frmPrefs) return;
    if (QObject* label = frmPrefs->findChild<QObject*>("lblHotKeyNote"))
        label->setProperty("text", QString::fromUtf8(note));
}

void THotKeyView::Register()
{
    IHotKeys* hotKeys = CurrentPlatform().HotKeys;
    const auto code = static_cast<std::uint16_t>(CurrentSettings().HotKeyStartStop);
    ShowNote("");
    if (code == 0) {
        if (hotKeys) hotKeys->UnregisterHotKey(form_.Handle(), 0);
        return;
    }
    UINT modifiers = 0;
    if (code & scAlt) modifiers |= MOD_ALT;
    if (code & scCtrl) modifiers |= MOD_CONTROL;
    if (code & scShift) modifiers |= MOD_SHIFT;
    if (hotKeys) hotKeys->SetSettingsFile(SettingsFilePath());
    if (hotKeys && hotKeys->RegisterHotKey(form_.Handle(), 0, modifiers, code & scKeyMask)) return;
    // Only a combination the desktop refused is cleared; a desktop, layout or
    // answer that says nothing against the key leaves it stored for the next start.
    const HotKeyFailure why = hotKeys ? hotKeys->LastFailure() : HotKeyFailure::Unavailable;
    if (why != HotKeyFailure::Taken) {
        Notice(why);
    } else if (frmPrefs) {
        frmPrefs->hotkeyStartStop->SetHotKey(0);
        frmPrefs->SyncSettings();
    }
}

void THotKeyView::Notice(HotKeyFailure why)
{
    const std::string key = HotKeyText(static_cast<std::uint16_t>(CurrentSettings().HotKeyStartStop));
    std::string held;  // names the key
    const char* text = nullptr;
    const char* note = "Not active: the desktop did not bind it; it is tried again at the next start.";
    switch (why) {
    case HotKeyFailure::Unavailable:
        text = "Global hot keys are not available on this desktop.";
        note = "Not active: this desktop offers no global hot keys.";
        break;
    case HotKeyFailure::Held:
        held = "The start/stop hot key " + key +
               " is kept by the desktop for itself or another program, so it does nothing here. Choose another key in "
               "the preferences, or free it in the desktop's shortcut settings.";
        text = held.c_str();
        note = "Not active: the desktop keeps this key for itself or another program.";
        break;
    case HotKeyFailure::KeyMissing:
        text = "The start/stop hot key is not on the current keyboard layout.";
        note = "Not active: the key is not on the current keyboard layout.";
        break;
    case HotKeyFailure::Dismissed:
        text = "The desktop's question about the start/stop hot key was dismissed; it is asked again at the next start.";
        break;
    case HotKeyFailure::Failed:
        text = "The desktop could not bind the start/stop hot key; it is tried again at the next start.";
        break;
    case HotKeyFailure::Taken:  // only after a layout change: a refusal in the field empties it
        text = "The desktop gave the start/stop hot key no key on the current keyboard layout.";
        note = "Not active: the desktop gave it no key on the current keyboard layout.";
        break;
    default: return;
    }
    ShowNote(note);
    // A key the desktop keeps is named once per key, below.
    const unsigned bit = why == HotKeyFailure::Held ? 0u : 1u << static_cast<unsigned>(why);
    if (told_ & bit) return;
    told_ |= bit;
    // A desktop without global hot keys, or one that keeps the key, stays so:
    // said once per settings file and desktop (and key), not at every start.
    if (why == HotKeyFailure::Unavailable || why == HotKeyFailure::Held) {
        std::string once = why == HotKeyFailure::Unavailable ? "hot keys unavailable" : "hot key held " + key;
        if (!OnceNotices(SettingsFilePath()).First(once + " on " + OnceNotices::Desktop())) {
            TraceMark(("hotkey-notice " + std::to_string(static_cast<int>(why)) + " known").c_str());
            return;
        }
    }
    TraceMark(("hotkey-notice " + std::to_string(static_cast<int>(why)) + " said").c_str());
    form_.tryIcon->ShowBalloonHint("Chronel Timer", text, bitWarning, 10);
}

#pragma once
// The start/stop hot key: registered with the desktop from the stored
// setting, and what the user is told when the desktop cannot give it.
#include "platform/HotKeys.h"

class TForm1;

class THotKeyView {
public:
    explicit THotKeyView(TForm1& form) : form_(form) {}
    // Registers the stored key (none: the old one goes).
    void Register();
    // Tells the user once per kind why the hot key cannot work; the stored key stays.
    void Notice(HotKeyFailure why);

private:
    void ShowNote(const char* note);

    TForm1& form_;
    // Hot-key problems the user has been told of (each once a run).
    unsigned told_ = 0;
};

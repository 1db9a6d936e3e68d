#pragma once
// The X server's keymap and active layout, read through XKB on the
// toolkit's connection and read again when the server reports a new keymap
// or another layout group.
#include <QAbstractNativeEventFilter>
#include <QTimer>
#include <memory>

#include "platform/KeyboardLayout.h"

struct xkb_context;

class X11KeyboardLayout : public IKeyboardLayout, public QAbstractNativeEventFilter {
public:
    // Null without an X display or its keyboard extension.
    static std::unique_ptr<X11KeyboardLayout> Create();
    ~X11KeyboardLayout() override;
    xkb_keymap* Keymap() const override { return keymap_; }
    unsigned Layout() const override { return layout_; }
    std::string Describe() const override { return "X server keymap"; }
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    X11KeyboardLayout() = default;
    bool Load();
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    unsigned layout_ = 0;
    int device_ = -1;
    unsigned xkbEventBase_ = 0;
    QTimer changed_;
};

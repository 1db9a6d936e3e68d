#pragma once

class QWidget;

// The application's taskbar button.
class ITaskbar {
public:
    virtual ~ITaskbar() = default;
    virtual void SetButtonVisible(bool visible) = 0;
    virtual bool ButtonVisible() = 0;
    // The top-level window that carries the button.
    virtual void SetMainWindow(QWidget* window) { (void)window; }
};

#include <QCursor>
#include <QGuiApplication>
#include <QStyleHints>
#include <QWidget>

#include "platform/desktop/DesktopPlatform.h"

namespace {

std::optional<QPoint> trayMenuAnchor;

class QtDesktopInput : public IDesktopInput {
public:
    TPoint GetCursorPos() override
    {
        const QPoint p = trayMenuAnchor.value_or(QCursor::pos());
        return {p.x(), p.y()};
    }
    // The keys as they are now, not as the last event saw them.
    bool ShiftDown() override { return QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier; }
    bool CtrlDown() override { return QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier; }
    bool AltDown() override { return QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier; }
    UINT GetDoubleClickTime() override
    {
        return static_cast<UINT>(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    }
    bool SetForegroundWindow(QWidget* window) override
    {
        if (!window) return false;
        QWidget* top = window->window();
        top->raise();
        top->activateWindow();
        return true;
    }
};

}  // namespace

void SetTrayMenuAnchor(std::optional<QPoint> at)
{
    trayMenuAnchor = at;
}

std::unique_ptr<IDesktopInput> CreateDesktopInput()
{
    return std::make_unique<QtDesktopInput>();
}

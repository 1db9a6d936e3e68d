#pragma once
// A blinking XEmbed tray icon without the toolkit's repaint at each blink.
//
// The toolkit paints an XEmbed icon like any widget: each new image is a
// paint into its backing store and an image upload to the X server, once a
// second while the clock runs. Here each image the icon has shown is kept
// by the X server as a picture, and showing it again is one composite
// request. Where that cannot be done (no X11, no render extension, a scaled
// screen, several icons), the icon is set through the toolkit as before.
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <cstdint>
#include <vector>

class QSystemTrayIcon;
class QWidget;

class XTrayFrames : public QObject {
public:
    ~XTrayFrames() override;
    // Shows icon on tray, from a kept picture when there is one.
    void SetIcon(QSystemTrayIcon* tray, const QIcon& icon);
    // The tray icon goes away: its pictures are freed.
    void Forget(const QSystemTrayIcon* tray);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Frame {
        qint64 key = 0;
        std::uint32_t pixmap = 0, picture = 0;
    };
    QWidget* TrayWindow() const;
    bool Prepare(QWidget* window);
    const Frame* Find(qint64 key) const;
    void Keep(const QIcon& icon);
    void Show(const Frame& frame);
    void Redraw();
    void Release();

    QPointer<QSystemTrayIcon> tray_;
    QPointer<QWidget> window_;  // the toolkit's icon window, watched
    QIcon current_;
    bool drawn_ = false;  // the window shows current_ from a picture of ours
    bool redrawQueued_ = false;
    std::uint32_t windowId_ = 0, windowPicture_ = 0, argbFormat_ = 0;
    std::uint8_t depth_ = 0;
    QSize size_;
    std::vector<Frame> frames_;  // the latest images shown, newest last
};

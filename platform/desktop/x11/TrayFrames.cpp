#include "platform/desktop/x11/TrayFrames.h"

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QSysInfo>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <xcb/render.h>
#include <xcb/xcb.h>
#include <xcb/xcb_renderutil.h>

#include "platform/desktop/x11/X11.h"

namespace {
constexpr std::size_t kFramesKept = 2;  // the two images of a blink
using x11::Connection;
}  // namespace

XTrayFrames::~XTrayFrames()
{
    Release();
}

void XTrayFrames::SetIcon(QSystemTrayIcon* tray, const QIcon& icon)
{
    if (tray != tray_) {
        Release();
        tray_ = tray;
    }
    current_ = icon;
    drawn_ = false;
    QWidget* window = TrayWindow();
    if (!window || !Prepare(window)) {
        Release();
        tray_ = tray;
        tray->setIcon(icon);
        return;
    }
    if (const Frame* frame = Find(icon.cacheKey())) {
        Show(*frame);
        return;
    }
    // New to the window: the toolkit paints it, and the server keeps a copy
    // for the next time.
    tray->setIcon(icon);
    Keep(icon);
}

void XTrayFrames::Forget(const QSystemTrayIcon* tray)
{
    if (tray == tray_) Release();
}

QWidget* XTrayFrames::TrayWindow() const
{
    // The toolkit's XEmbed icon window is a top-level widget of its own
    // class; with one icon there is one such window.
    QWidget* found = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") != 0) continue;
        if (found) return nullptr;
        found = w;
    }
    if (!found || !found->isVisible() || !found->windowHandle() || found->devicePixelRatio() != 1.0) return nullptr;
    return found;
}

bool XTrayFrames::Prepare(QWidget* window)
{
    xcb_connection_t* c = Connection();
    if (!c) return false;
    const auto id = static_cast<std::uint32_t>(window->winId());
    if (id == windowId_ && window->size() == size_ && windowPicture_) return true;

    // A new window or a new size: nothing kept fits it.
    Release();
    const xcb_query_extension_reply_t* render = xcb_get_extension_data(c, &xcb_render_id);
    if (!render || !render->present) return false;
    // Pictures go up as 32-bit pixels in the server's byte order.
    if (xcb_get_setup(c)->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST ||
        QSysInfo::ByteOrder != QSysInfo::LittleEndian)
        return false;
    const QSize size = window->size();
    if (size.isEmpty() || std::size_t(size.width()) * size.height() * 4 + 64 > xcb_get_maximum_request_length(c) * 4)
        return false;

    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr);
    const xcb_render_query_pict_formats_reply_t* formats = xcb_render_util_query_formats(c);
    const xcb_render_pictvisual_t* visual =
        attributes && formats ? xcb_render_util_find_visual_format(formats, attributes->visual) : nullptr;
    const xcb_render_pictforminfo_t* argb =
        formats ? xcb_render_util_find_standard_format(formats, XCB_PICT_STANDARD_ARGB_32) : nullptr;
    const bool ok = geometry && visual && argb;
    if (ok) {
        depth_ = geometry->depth;
        argbFormat_ = argb->id;
        windowId_ = id;
        size_ = size;
        windowPicture_ = xcb_generate_id(c);
        xcb_render_create_picture(c, windowPicture_, id, visual->format, 0, nullptr);
    }
    free(attributes);
    free(geometry);
    if (!ok) return false;

    // Release() above stopped watching the window before.
    window_ = window;
    window->installEventFilter(this);
    window->windowHandle()->installEventFilter(this);
    return true;
}

const XTrayFrames::Frame* XTrayFrames::Find(qint64 key) const
{
    for (const Frame& f : frames_)
        if (f.key == key) return &f;
    return nullptr;
}

void XTrayFrames::Keep(const QIcon& icon)
{
    xcb_connection_t* c = Connection();
    // As the toolkit paints the icon window: the image over transparency.
    QImage image(size_, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        icon.paint(&painter, QRect(QPoint(0, 0), size_));
    }
    if (frames_.size() == kFramesKept) {
        xcb_render_free_picture(c, frames_.front().picture);
        xcb_free_pixmap(c, frames_.front().pixmap);
        frames_.erase(frames_.begin());
    }
    Frame frame{icon.cacheKey(), xcb_generate_id(c), xcb_generate_id(c)};
    xcb_create_pixmap(c, 32, frame.pixmap, windowId_, size_.width(), size_.height());
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, frame.pixmap, 0, nullptr);
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, frame.pixmap, gc, size_.width(), size_.height(), 0, 0, 0, 32,
                  image.sizeInBytes(), image.constBits());
    xcb_free_gc(c, gc);
    xcb_render_create_picture(c, frame.picture, frame.pixmap, argbFormat_, 0, nullptr);
    frames_.push_back(frame);
}

void XTrayFrames::Show(const Frame& frame)
{
    xcb_connection_t* c = Connection();
    const auto w = std::uint16_t(size_.width()), h = std::uint16_t(size_.height());
    if (depth_ == 32) {
        xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, frame.picture, XCB_NONE, windowPicture_, 0, 0, 0, 0, 0, 0, w, h);
    } else {
        // Without alpha the window shows the tray behind it: the server
        // paints that back, and the image goes over it.
        xcb_clear_area(c, 0, windowId_, 0, 0, w, h);
        xcb_render_composite(c, XCB_RENDER_PICT_OP_OVER, frame.picture, XCB_NONE, windowPicture_, 0, 0, 0, 0, 0, 0, w,
                             h);
    }
    xcb_flush(c);
    drawn_ = true;
}

bool XTrayFrames::eventFilter(QObject* watched, QEvent* event)
{
    // The toolkit shows its own image again on an expose or a paint; where
    // that is not the current one, the current one follows at once.
    const bool exposed = event->type() == QEvent::Expose && window_ && watched == window_->windowHandle();
    const bool painted = event->type() == QEvent::Paint && watched == window_;
    if ((exposed || painted) && drawn_ && !redrawQueued_ && tray_ && tray_->icon().cacheKey() != current_.cacheKey()) {
        redrawQueued_ = true;
        QTimer::singleShot(0, this, [this] { Redraw(); });
    }
    return QObject::eventFilter(watched, event);
}

void XTrayFrames::Redraw()
{
    redrawQueued_ = false;
    // A window changed under us drops its pictures; the toolkit then paints.
    if (drawn_ && tray_) SetIcon(tray_, current_);
}

void XTrayFrames::Release()
{
    xcb_connection_t* c = Connection();
    if (c) {
        for (const Frame& f : frames_) {
            xcb_render_free_picture(c, f.picture);
            xcb_free_pixmap(c, f.pixmap);
        }
        // A destroyed window took its picture with it.
        if (windowPicture_ && window_ && window_->internalWinId() == windowId_)
            xcb_render_free_picture(c, windowPicture_);
        xcb_flush(c);
    }
    frames_.clear();
    windowPicture_ = windowId_ = 0;
    size_ = {};
    if (window_) {
        window_->removeEventFilter(this);
        if (window_->windowHandle()) window_->windowHandle()->removeEventFilter(this);
    }
    window_ = nullptr;
    drawn_ = false;
}

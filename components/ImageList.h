#pragma once
#include <QIcon>
#include <functional>
#include <vector>

class QPainter;

// A list of same-sized images with transparency.
class TImageList {
public:
    TImageList(int width = 16, int height = 16) : width_(width), height_(height) {}
    int Count() const { return static_cast<int>(images_.size()); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void Add(const QIcon& icon);
    void Clear();
    QIcon GetIcon(int index) const;
    // Told when the list changes or is destroyed.
    std::function<void()> OnChange;

private:
    int width_, height_;
    std::vector<QIcon> images_;
};

// The clock images: 0 a grey clock, 1 the same clock with a red prohibition
// sign over its lower right corner.
QPixmap DrawClock(int size, bool prohibited);
// The same drawing on any paint device of size x size (the installed icons
// are rendered from it at build time).
void PaintClock(QPainter& painter, qreal size, bool prohibited);
void FillClockIcons(TImageList& list);
// The application's own icon (16 and 32 pixels).
QIcon ApplicationIcon();

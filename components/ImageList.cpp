#include "components/ImageList.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

void TImageList::Add(const QIcon& icon)
{
    images_.push_back(icon);
    if (OnChange) OnChange();
}

void TImageList::Clear()
{
    images_.clear();
    if (OnChange) OnChange();
}

QIcon TImageList::GetIcon(int index) const
{
    if (index < 0 || index >= Count()) return QIcon();
    return images_[static_cast<std::size_t>(index)];
}

void PaintClock(QPainter& p, qreal s, bool prohibited)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF face(s * 0.06, s * 0.06, s * 0.88, s * 0.88);
    p.setPen(QPen(QColor(70, 70, 70), s / 12.0));
    p.setBrush(QColor(200, 200, 200));
    p.drawEllipse(face);
    const QPointF c = face.center();
    p.setPen(QPen(QColor(40, 40, 40), s / 12.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, QPointF(c.x(), face.top() + s * 0.16));
    p.drawLine(c, QPointF(face.right() - s * 0.2, c.y()));
    if (prohibited) {
        const QRectF sign(s * 0.45, s * 0.45, s * 0.53, s * 0.53);
        p.setPen(QPen(QColor(220, 0, 0), s / 9.0));
        p.setBrush(QColor(255, 255, 255, 220));
        p.drawEllipse(sign);
        p.drawLine(QPointF(sign.left() + sign.width() * 0.2, sign.top() + sign.height() * 0.2),
                   QPointF(sign.right() - sign.width() * 0.2, sign.bottom() - sign.height() * 0.2));
    }
    p.restore();
}

QPixmap DrawClock(int size, bool prohibited)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    PaintClock(p, size, prohibited);
    return pm;
}

void FillClockIcons(TImageList& list)
{
    list.Clear();
    list.Add(QIcon(DrawClock(list.Width(), false)));
    list.Add(QIcon(DrawClock(list.Width(), true)));
}

QIcon ApplicationIcon()
{
    QIcon icon;
    icon.addPixmap(DrawClock(16, false));
    icon.addPixmap(DrawClock(32, false));
    icon.addPixmap(DrawClock(48, false));
    return icon;
}

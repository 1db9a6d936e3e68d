// Build-time tool: renders the program's clock (the drawing the tray and the
// windows use) as the installed icon theme files.
//   chronel-icon-render OUTDIR NAME SIZE...
// writes OUTDIR/<SIZE>x<SIZE>/apps/NAME.png for each size and
// OUTDIR/scalable/apps/NAME.svg.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

#include "components/ImageList.h"

namespace {
bool Fail(const QString& what)
{
    std::fprintf(stderr, "chronel-icon-render: %s\n", qPrintable(what));
    return false;
}

bool WritePng(const QString& dir, const QString& name, int size)
{
    const QString folder = QString("%1/%2x%2/apps").arg(dir).arg(size);
    if (!QDir().mkpath(folder)) return Fail("cannot create " + folder);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        PaintClock(p, size, false);
    }
    const QString file = folder + "/" + name + ".png";
    return image.save(file, "PNG") || Fail("cannot write " + file);
}

bool WriteSvg(const QString& dir, const QString& name)
{
    const QString folder = dir + "/scalable/apps";
    if (!QDir().mkpath(folder)) return Fail("cannot create " + folder);
    constexpr int kSize = 64;  // user units; the image scales freely
    const QString file = folder + "/" + name + ".svg";
    QSvgGenerator svg;
    svg.setFileName(file);
    svg.setSize(QSize(kSize, kSize));
    svg.setViewBox(QRect(0, 0, kSize, kSize));
    svg.setTitle("Chronel Timer");
    QPainter p;
    if (!p.begin(&svg)) return Fail("cannot write " + file);
    PaintClock(p, kSize, false);
    return p.end() || Fail("cannot write " + file);
}
}  // namespace

int main(int argc, char** argv)
{
    // A build step never needs a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: chronel-icon-render OUTDIR NAME SIZE...\n");
        return 2;
    }
    bool ok = WriteSvg(args[1], args[2]);
    for (int i = 3; i < args.size(); ++i) {
        bool isNumber = false;
        const int size = args[i].toInt(&isNumber);
        if (!isNumber || size < 8 || size > 1024) {
            Fail("bad size " + args[i]);
            return 2;
        }
        ok = WritePng(args[1], args[2], size) && ok;
    }
    return ok ? 0 : 1;
}

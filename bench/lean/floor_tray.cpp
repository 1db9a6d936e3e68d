// Floor program: a bare widget with a tray icon whose title a one-second
// timer rewrites, as a clock display would.
#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(132, 176);
    window.setWindowTitle(QStringLiteral("0 s"));
    QPixmap image(16, 16);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(Qt::lightGray);
        p.drawEllipse(1, 1, 14, 14);
    }
    QSystemTrayIcon tray{QIcon(image)};
    tray.show();
    int seconds = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { window.setWindowTitle(QString::number(++seconds) + " s"); });
    timer.start(1000);
    window.show();
    return app.exec();
}

// Floor program: a bare browser view of the main window's size loading a
// local page, nothing else. With CHRONEL_TRACE_MARKS=1 it prints
// "chronel-mark loaded <microseconds since the epoch>" on stderr when the
// page has loaded.
//   lean_floor_web PAGE.html
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
void Mark(const char* name)
{
    const char* on = std::getenv("CHRONEL_TRACE_MARKS");
    if (!on || std::strcmp(on, "1") != 0) return;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::fprintf(stderr, "chronel-mark %s %lld\n", name,
                 static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000);
    std::fflush(stderr);
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: lean_floor_web PAGE.html\n");
        return 2;
    }
    Mark("main");
    QApplication app(argc, argv);
    Mark("qapp");
    QWebEngineView view;
    Mark("view");
    view.setWindowTitle(QStringLiteral("floor"));
    view.resize(132, 176);
    bool marked = false;
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) {
        if (marked) return;
        marked = true;
        Mark("loaded");
    });
    view.load(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])));
    view.show();
    Mark("shown");
    return app.exec();
}

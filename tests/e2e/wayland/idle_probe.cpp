// Prints the platform's chosen services, then the idle seconds of the
// chosen source twice a second ("idle N" or "idle unavailable") until killed.
// With "once" it prints one idle line and ends; with "window" it also shows
// a window.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstring>

#include "platform/desktop/DesktopPlatform.h"

int main(int argc, char** argv)
{
    ChooseWindowSystem();
    QApplication app(argc, argv);
    DesktopPlatform desktop;
    std::printf("%s", DescribePlatformServices(desktop.platform).c_str());
    std::fflush(stdout);
    const bool once = argc > 1 && !std::strcmp(argv[1], "once");
    auto report = [&] {
        std::uint32_t last = 0;
        if (desktop.platform.LastInput->GetLastInputTick(last))
            std::printf("idle %u\n", (desktop.clock.GetTickCount() - last) / 1000u);
        else
            std::printf("idle unavailable\n");
        std::fflush(stdout);
    };
    report();
    if (once) return 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, report);
    timer.start(500);
    QWidget window;
    if (argc > 1 && !std::strcmp(argv[1], "window")) {
        window.setWindowTitle("Idle Probe");
        window.resize(200, 100);
        window.show();
    }
    return app.exec();
}

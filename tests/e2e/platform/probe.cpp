// Drives one desktop service for the end-to-end checks; prints what it saw.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/desktop/DesktopPlatform.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    DesktopPlatform desktop;
    const char* mode = argc > 1 ? argv[1] : "";
    QWidget window;
    window.setWindowTitle("Platform Probe");
    window.resize(200, 100);

    if (!std::strcmp(mode, "timer")) {
        // A 100 ms window timer, restarted once by setting the same id again.
        QElapsedTimer clock;
        int ticks = 0;
        HWND w = 0;
        w = desktop.windows.AllocateHWnd([&](TMessage& m) {
            if (m.Msg != WM_TIMER || m.WParam != 7) return;
            if (++ticks == 5) {
                desktop.windows.KillTimer(w, 7);
                std::printf("ticks=%d elapsed_ms=%lld\n", ticks, static_cast<long long>(clock.elapsed()));
                std::fflush(stdout);
                app.quit();
            }
        });
        clock.start();
        desktop.windows.SetTimer(w, 7, 100);
        desktop.windows.SetTimer(w, 7, 100);
        desktop.windows.PostMessage(w, WM_USER, 0, 0);
        return app.exec();
    }
    if (!std::strcmp(mode, "taskbar")) {
        desktop.AttachMainWindow(&window);
        desktop.taskbar.SetButtonVisible(false);
        window.show();
        // After a while show the button again, on the mapped window.
        QTimer::singleShot(3000, [&] {
            desktop.taskbar.SetButtonVisible(true);
            std::printf("shown\n");
            std::fflush(stdout);
        });
        std::printf("window=%llu\n", static_cast<unsigned long long>(window.winId()));
        std::fflush(stdout);
        return app.exec();
    }
    if (!std::strcmp(mode, "msgbox")) {
        const int r = desktop.messageBox.Show("Do you want to stop your time clock and exit?",
                                              "Time Clock Still Running", MB_YESNO);
        std::printf("answer=%d\n", r);
        return 0;
    }
    if (!std::strcmp(mode, "hotkey")) {
        // Alt + the back-quote key, under id 0, as the program registers it.
        HWND w = desktop.windows.AllocateHWnd([&](TMessage& m) {
            if (m.Msg == WM_HOTKEY) {
                std::printf("hotkey id=%d\n", static_cast<int>(m.WParam));
                std::fflush(stdout);
            }
        });
        const bool ok = desktop.hotKeys->RegisterHotKey(w, 0, MOD_ALT, 0xC0);
        std::printf(ok ? "registered\n" : "refused\n");
        std::fflush(stdout);
        if (!ok) return 3;
        QTimer::singleShot(argc > 2 ? std::atoi(argv[2]) : 60000, [&] {
            desktop.hotKeys->UnregisterHotKey(w, 0);
            std::printf("withdrawn\n");
            std::fflush(stdout);
        });
        return app.exec();
    }
    if (!std::strcmp(mode, "activation")) {
        // What the main window does on activation, with nothing else going on:
        // the loop sleeps between the events, as the program's does with the
        // clock stopped.
        desktop.AttachMainWindow(&window);
        desktop.appState.OnActivate = [&] {
            window.setWindowOpacity(1.0);
        };
        desktop.appState.OnDeactivate = [&] {
            window.setWindowOpacity(0.5);
        };
        window.show();
        // Changes made from a timer on a quiet loop, as the program's one-
        // second beat makes them: the opacity steps down each second.
        int beat = 0;
        QTimer stepper;
        QObject::connect(&stepper, &QTimer::timeout, [&] { window.setWindowOpacity(1.0 - 0.25 * ++beat); });
        if (argc > 2 && !std::strcmp(argv[2], "beat")) stepper.start(1000);
        return app.exec();
    }
    std::fprintf(stderr, "usage: platform_probe timer|taskbar|msgbox|hotkey|activation [beat]\n");
    return 2;
}

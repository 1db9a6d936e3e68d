// A small program around the tray icon on the real desktop, for the
// end-to-end test and the cycling benchmark: the clock images, the
// application menu, a small window, and one line on stdout per event.
//
//   tray_probe [--cycle] [--icons I,J,...] [--balloon TITLE TEXT] [--quit-after SECONDS]
//
// --icons: the icon starts with image I; from 3 s on, the next image of the
// list every 1.5 s, each told as "icon N", then "icons done". Image 2, only
// here, is a plain square.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "components/Application.h"
#include "components/ImageList.h"
#include "components/Menus.h"
#include "platform/desktop/DesktopPlatform.h"
#include "tray/TrayIcon.h"

namespace {

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

const char* ButtonName(TMouseButton b)
{
    return b == mbLeft ? "left" : b == mbRight ? "right" : "middle";
}

}  // namespace

int main(int argc, char** argv)
{
    bool cycle = false;
    std::string balloonTitle, balloonText;
    int quitAfter = 0;
    std::vector<int> images;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--cycle")) {
            cycle = true;
        } else if (!std::strcmp(argv[i], "--icons") && i + 1 < argc) {
            for (const QString& n : QString(argv[++i]).split(',')) images.push_back(n.toInt());
        } else if (!std::strcmp(argv[i], "--balloon") && i + 2 < argc) {
            balloonTitle = argv[++i];
            balloonText = argv[++i];
        } else if (!std::strcmp(argv[i], "--quit-after") && i + 1 < argc) {
            quitAfter = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--cycle] [--icons I,J,...] [--balloon TITLE TEXT] [--quit-after SECONDS]\n", argv[0]);
            return 2;
        }
    }

    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName("tray_probe");
    DesktopPlatform desktop;
    Application().SetTitle("Tray Probe");

    QWidget window;
    window.setWindowTitle("Tray Probe");
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel("Tray probe"));
    window.resize(220, 80);
    desktop.AttachMainWindow(&window);

    TImageList icons;
    FillClockIcons(icons);
    if (!images.empty()) {
        QPixmap square(icons.Width(), icons.Width());
        square.fill(Qt::darkBlue);
        icons.Add(QIcon(square));
    }

    TPopupMenu menu;
    std::unique_ptr<TTrayIcon> trayIcon;  // made after the menu it uses, gone before it
    TTrayIcon* tray = nullptr;
    for (const auto& [name, caption] : {std::pair{"HidetoTray1", "Hide to Tray"}, {"Preferences1", "Preferences"},
                                        {"Exit1", "Exit"}, {"StartClock1", "Start Clock"}}) {
        menu.Add(name, caption)->OnClick = [](TMenuItem* item) { Say("menu " + item->Caption()); };
    }
    menu.Find("HidetoTray1")->OnClick = [&](TMenuItem*) {
        Say("menu Hide to Tray");
        window.hide();
    };
    menu.Find("Exit1")->OnClick = [&](TMenuItem*) {
        Say("menu Exit");
        QTimer::singleShot(0, &app, &QApplication::quit);
    };
    menu.Find("StartClock1")->OnClick = [&](TMenuItem*) {
        Say("menu Start Clock");
        tray->ShowBalloonHint("Started Work", "", bitInfo, 1);
    };
    menu.OnPopup = [&](TPopupMenu*) { menu.Find("HidetoTray1")->SetVisible(window.isVisible()); };
    // What the user sees once the menu is up.
    QObject::connect(menu.Menu(), &QMenu::aboutToShow, [&] {
        QTimer::singleShot(100, [&] {
            std::string items;
            for (QAction* a : menu.Menu()->actions())
                if (a->isVisible()) items += (items.empty() ? "" : "|") + a->text().toStdString();
            const QRect g = menu.Menu()->geometry();
            Say("menu shown " + items + " at " + std::to_string(g.x()) + "," + std::to_string(g.y()));
        });
    });

    trayIcon = std::make_unique<TTrayIcon>(&window);
    tray = trayIcon.get();
    tray->SetIconList(&icons);
    tray->SetCycleInterval(1000);
    tray->SetIconVisible(true);
    tray->SetIconIndex(images.empty() ? 0 : images.front());
    tray->SetPopupMenu(&menu);
    tray->OnDblClick = [&](TTrayIcon*) {
        Say("dblclick");
        Application().SetShowMainForm(true);
        Application().Restore();
        window.show();
    };
    tray->OnClick = [](TTrayIcon*) { Say("click"); };
    tray->OnMouseDown = [](TTrayIcon*, TMouseButton b, TShiftState, int x, int y) {
        Say(std::string("down ") + ButtonName(b) + " " + std::to_string(x) + "," + std::to_string(y));
    };
    tray->OnMouseUp = [](TTrayIcon*, TMouseButton b, TShiftState, int, int) { Say(std::string("up ") + ButtonName(b)); };
    tray->OnBalloonHintShow = [](TTrayIcon*) { Say("balloon shown"); };
    tray->OnBalloonHintHide = [](TTrayIcon*) { Say("balloon hidden"); };
    tray->OnBalloonHintTimeout = [](TTrayIcon*) { Say("balloon timed out"); };
    tray->OnBalloonHintClick = [](TTrayIcon*) { Say("balloon clicked"); };
    tray->Loaded();
    tray->SetHint("Probe && Co");
    if (cycle) {
        tray->SetIconIndex(1);
        tray->SetCycleIcons(true);
    }

    // The desktop announces a tray host that came (back).
    const UINT taskbarCreated = desktop.windows.RegisterWindowMessage("TaskbarCreated");
    const HWND listener = desktop.windows.AllocateHWnd([&](TMessage& m) {
        if (m.Msg == taskbarCreated) Say("tray host back");
    });

    window.show();
    if (!balloonTitle.empty())
        QTimer::singleShot(500, [&] { tray->ShowBalloonHint(balloonTitle, balloonText, bitInfo, 10); });
    QTimer steps;
    std::size_t step = 1;
    QObject::connect(&steps, &QTimer::timeout, [&] {
        if (step == images.size()) {
            steps.stop();
            Say("icons done");
            return;
        }
        tray->SetIconIndex(images[step++]);
        Say("icon " + std::to_string(images[step - 1]));
    });
    if (images.size() > 1) QTimer::singleShot(1500, [&] { steps.start(1500); });
    if (quitAfter > 0) QTimer::singleShot(quitAfter * 1000, &app, &QApplication::quit);
    Say("ready");
    const int rc = app.exec();
    trayIcon.reset();
    desktop.windows.DeallocateHWnd(listener);
    Say("bye");
    return rc;
}

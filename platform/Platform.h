#pragma once
// The platform services the windows and components reach, one interface per
// service. The program installs the desktop set; tests install the simulated set.
#include "platform/AppState.h"
#include "platform/Autostart.h"
#include "platform/Browser.h"
#include "platform/Clock.h"
#include "platform/HotKeys.h"
#include "platform/LastInput.h"
#include "platform/MessageBox.h"
#include "platform/MessageWindows.h"
#include "platform/NotifyIcon.h"
#include "platform/Registry.h"
#include "platform/Secrets.h"
#include "platform/Session.h"
#include "platform/Shell.h"
#include "platform/SingleInstance.h"
#include "platform/SoundPlayer.h"
#include "platform/Taskbar.h"
#include "platform/WindowSystem.h"

struct Platform {
    IClock* Clock = nullptr;
    IMessageWindows* Windows = nullptr;
    IMessageBox* MessageBox = nullptr;
    IShell* Shell = nullptr;
    IAppState* AppState = nullptr;
    ITaskbar* Taskbar = nullptr;
    IRegistry* Registry = nullptr;
    INotifyIcons* NotifyIcons = nullptr;
    IDesktopInput* Input = nullptr;
    IHotKeys* HotKeys = nullptr;
    ILastInput* LastInput = nullptr;
    ISoundPlayers* SoundPlayers = nullptr;
    IBrowsers* Browsers = nullptr;
    ISingleInstance* Instance = nullptr;
    ISession* Session = nullptr;
    IAutostart* Autostart = nullptr;
    ISecrets* Secrets = nullptr;  // none: no keyring on this platform
    IWindowSystem* WindowSystem = nullptr;  // none: every behaviour is offered
};

// The services in force; set once at start-up (or by a test fixture).
Platform& CurrentPlatform();
void SetCurrentPlatform(Platform* platform);

// Whether the window system in force offers a behaviour.
bool WindowOffers(WindowBehaviour behaviour);

// The window system, idle-time source and hot-key service in force, one
// "Name: description" line each, for the user.
std::string DescribePlatformServices(const Platform& platform);

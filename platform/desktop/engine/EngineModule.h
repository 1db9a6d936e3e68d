#pragma once
// The seam between the program and its engines (the browser's, and the
// media player's for the ticking sound), which it loads as one module when
// first needed, at the first page: the window is mapped before the engines'
// libraries are even read, and their start-up runs after the toolkit's.
#include <memory>

#include "platform/Browser.h"
#include "platform/Platform.h"
#include "platform/SoundPlayer.h"

// What the module uses of the program that loads it.
struct EngineHost {
    int abi = 0;  // kEngineAbi of the program
    Platform& (*currentPlatform)() = nullptr;
    void (*traceMark)(const char*) = nullptr;
};

// Raised whenever EngineHost or the interfaces the module implements
// change: a module from another build is refused, not called.
constexpr int kEngineAbi = 1;
constexpr const char* kEngineModule = "libchronel-engine.so";
// The module's entries: the engine's browsers or sound players, or null
// for another ABI. The program owns what they return.
constexpr const char* kBrowserEngineEntry = "chronel_browser_engine";
constexpr const char* kSoundEngineEntry = "chronel_sound_engine";
using BrowserEngineEntry = IBrowsers* (*)(const EngineHost* host);
using SoundEngineEntry = ISoundPlayers* (*)(const EngineHost* host);

// The media player's sound devices (in the module).
std::unique_ptr<ISoundPlayers> CreateQtSoundPlayers();

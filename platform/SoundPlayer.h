#pragma once
#include <functional>
#include <memory>
#include <string>

// A media device for one sound file: open, play (with a completion notice),
// stop, close. Notices arrive asynchronously through OnNotify.
enum class TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };
enum class TMPNotifyValues { nvSuccessful, nvSuperseded, nvAborted, nvFailure };

class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    virtual bool Open(const std::string& fileName) = 0;
    virtual void Play() = 0;
    virtual void Stop() = 0;
    virtual void Close() = 0;
    virtual TMPModes Mode() = 0;

    std::function<void(TMPNotifyValues)> OnNotify;
};

class ISoundPlayers {
public:
    virtual ~ISoundPlayers() = default;
    virtual std::unique_ptr<ISoundPlayer> Create() = 0;
};

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
    // Plays from the current position (a play during playback goes on).
    virtual void Play() = 0;
    // True when the position is at the end of the sound (after a play ended).
    virtual bool AtEnd() = 0;
    virtual void Rewind() = 0;
    virtual void Stop() = 0;
    virtual void Close() = 0;
    virtual TMPModes Mode() = 0;
    // What went wrong with the last play that ended in nvFailure.
    virtual std::string ErrorText() = 0;

    std::function<void(TMPNotifyValues)> OnNotify;
};

class ISoundPlayers {
public:
    virtual ~ISoundPlayers() = default;
    virtual std::unique_ptr<ISoundPlayer> Create() = 0;
};

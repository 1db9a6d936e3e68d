#pragma once
// Invisible media player control over the platform's sound device. With
// Notify set, the next command's completion is reported through OnNotify.
// The device is made at the first Open, so a run without sound never starts
// the sound system. The first playback error of a run is reported through
// the application's error report; later ones only end their play.
#include <functional>
#include <memory>
#include <string>

#include "platform/SoundPlayer.h"

class TMediaPlayer {
public:
    TMediaPlayer();
    ~TMediaPlayer();
    TMediaPlayer(const TMediaPlayer&) = delete;
    TMediaPlayer& operator=(const TMediaPlayer&) = delete;

    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& f) { fileName_ = f; }
    bool Notify() const { return notify_; }
    void SetNotify(bool v) { notify_ = v; }
    TMPNotifyValues NotifyValue() const { return notifyValue_; }
    TMPModes Mode() const;
    // Opening a missing file fails with an exception, as the control does.
    void Open();
    void Play();
    void Stop();
    void Close();

    std::function<void(TMediaPlayer*)> OnNotify;

private:
    void DeviceNotified(TMPNotifyValues value);

    std::unique_ptr<ISoundPlayer> device_;
    bool playErrorReported_ = false;
    std::string fileName_;
    bool notify_ = false;
    bool notifyPending_ = false;
    TMPNotifyValues notifyValue_ = TMPNotifyValues::nvSuccessful;
};

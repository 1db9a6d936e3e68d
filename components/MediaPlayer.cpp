#include "components/MediaPlayer.h"

#include "components/Application.h"
#include "components/Exceptions.h"
#include "platform/Platform.h"

TMediaPlayer::TMediaPlayer() = default;

void TMediaPlayer::DeviceNotified(TMPNotifyValues value)
{
    if (value == TMPNotifyValues::nvFailure && !playErrorReported_) {
        playErrorReported_ = true;
        const std::string why = device_ ? device_->ErrorText() : std::string();
        Application().ShowException("Cannot play the sound file \"" + fileName_ + "\"" +
                                    (why.empty() ? std::string() : ": " + why));
    }
    if (!notifyPending_) return;
    notifyPending_ = false;
    notifyValue_ = value;
    Fire(OnNotify, this);
}

TMediaPlayer::~TMediaPlayer()
{
    if (device_) {
        device_->OnNotify = nullptr;
        device_->Close();
    }
}

TMPModes TMediaPlayer::Mode() const
{
    return device_ ? device_->Mode() : TMPModes::mpNotReady;
}

void TMediaPlayer::Open()
{
    if (!device_) {
        if (ISoundPlayers* players = CurrentPlatform().SoundPlayers) device_ = players->Create();
        if (device_) device_->OnNotify = [this](TMPNotifyValues v) { DeviceNotified(v); };
    }
    if (!device_ || !device_->Open(fileName_))
        throw Exception("Cannot open the sound file \"" + fileName_ + "\"");
}

void TMediaPlayer::Play()
{
    if (!device_ || device_->Mode() == TMPModes::mpNotReady) throw Exception("Media player not open");
    notifyPending_ = notify_;
    notify_ = false;
    if (device_->Mode() != TMPModes::mpPlaying && device_->AtEnd()) device_->Rewind();
    device_->Play();
}

void TMediaPlayer::Stop()
{
    if (!device_ || device_->Mode() == TMPModes::mpNotReady) throw Exception("Media player not open");
    if (notifyPending_) {
        // A stopped play is reported as aborted.
        notifyPending_ = false;
        notifyValue_ = TMPNotifyValues::nvAborted;
    }
    device_->Stop();
}

void TMediaPlayer::Close()
{
    notifyPending_ = false;
    if (device_) device_->Close();
}

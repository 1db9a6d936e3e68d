// The sound device on the toolkit's media player: one file, play to the end,
// report the end as a notice. The media player and its audio output (a
// client of the sound system) are made at the first open.
#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "platform/desktop/engine/EngineModule.h"

namespace {
class QtSoundPlayer : public ISoundPlayer {
public:
    ~QtSoundPlayer() override
    {
        if (player_) QObject::disconnect(player_.get(), nullptr, nullptr, nullptr);
    }

    bool Open(const std::string& fileName) override
    {
        const QString path = QString::fromStdString(fileName);
        if (!QFileInfo(path).isFile()) {
            mode_ = TMPModes::mpNotReady;
            return false;
        }
        MakePlayer();
        player_->setSource(QUrl::fromLocalFile(path));
        mode_ = TMPModes::mpStopped;
        atEnd_ = false;
        return true;
    }

    void Play() override
    {
        if (mode_ == TMPModes::mpNotReady || !player_) return;
        if (mode_ == TMPModes::mpPlaying) return;  // goes on where it is
        playing_ = true;
        mode_ = TMPModes::mpPlaying;
        if (QMediaDevices::defaultAudioOutput().isNull()) {
            // Reported like any playback error: after the call, as a notice.
            error_ = "no audio output";
            QTimer::singleShot(0, player_.get(), [this] {
                if (playing_) Finish(TMPNotifyValues::nvFailure);
            });
            return;
        }
        output_->setDevice(QMediaDevices::defaultAudioOutput());
        player_->play();
    }

    bool AtEnd() override { return atEnd_; }

    void Rewind() override
    {
        atEnd_ = false;
        if (player_) player_->setPosition(0);
    }

    void Stop() override
    {
        if (mode_ != TMPModes::mpPlaying) return;
        playing_ = false;
        player_->pause();  // keeps the position, as a stopped device does
        mode_ = TMPModes::mpStopped;
    }

    void Close() override
    {
        playing_ = false;
        atEnd_ = false;
        if (player_) {
            player_->stop();
            player_->setSource(QUrl());
        }
        mode_ = TMPModes::mpNotReady;
    }

    TMPModes Mode() override { return mode_; }
    std::string ErrorText() override { return error_; }

private:
    void MakePlayer()
    {
        if (player_) return;
        player_ = std::make_unique<QMediaPlayer>();
        output_ = std::make_unique<QAudioOutput>();
        player_->setAudioOutput(output_.get());
        QObject::connect(player_.get(), &QMediaPlayer::mediaStatusChanged, [this](QMediaPlayer::MediaStatus s) {
            if (s == QMediaPlayer::EndOfMedia) {
                atEnd_ = true;
                if (playing_) Finish(TMPNotifyValues::nvSuccessful);
            } else if (s == QMediaPlayer::InvalidMedia && playing_) {
                error_ = "the file cannot be played";
                Finish(TMPNotifyValues::nvFailure);
            }
        });
        QObject::connect(player_.get(), &QMediaPlayer::errorOccurred, [this](QMediaPlayer::Error, const QString& text) {
            if (!playing_) return;
            error_ = text.isEmpty() ? std::string("the file cannot be played") : text.toStdString();
            Finish(TMPNotifyValues::nvFailure);
        });
    }

    void Finish(TMPNotifyValues value)
    {
        playing_ = false;
        mode_ = TMPModes::mpStopped;
        if (value == TMPNotifyValues::nvFailure) atEnd_ = true;  // the next play starts over
        if (OnNotify) OnNotify(value);
    }

    std::unique_ptr<QAudioOutput> output_;  // outlives the player that uses it
    std::unique_ptr<QMediaPlayer> player_;
    TMPModes mode_ = TMPModes::mpNotReady;
    bool playing_ = false;
    bool atEnd_ = false;
    std::string error_;
};

class QtSoundPlayers : public ISoundPlayers {
public:
    std::unique_ptr<ISoundPlayer> Create() override { return std::make_unique<QtSoundPlayer>(); }
};
}  // namespace

std::unique_ptr<ISoundPlayers> CreateQtSoundPlayers()
{
    return std::make_unique<QtSoundPlayers>();
}

// The sound device on the toolkit's media player: one file, play to the end,
// report the end as a notice.
#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>

#include "platform/desktop/DesktopPlatform.h"

namespace {
class QtSoundPlayer : public ISoundPlayer {
public:
    QtSoundPlayer()
    {
        player_.setAudioOutput(&output_);
        QObject::connect(&player_, &QMediaPlayer::mediaStatusChanged, [this](QMediaPlayer::MediaStatus s) {
            if (s == QMediaPlayer::EndOfMedia && playing_) Finish(TMPNotifyValues::nvSuccessful);
        });
        QObject::connect(&player_, &QMediaPlayer::errorOccurred, [this](QMediaPlayer::Error, const QString&) {
            if (playing_) Finish(TMPNotifyValues::nvFailure);
        });
    }

    bool Open(const std::string& fileName) override
    {
        const QString path = QString::fromStdString(fileName);
        if (!QFileInfo(path).isFile()) {
            mode_ = TMPModes::mpNotReady;
            return false;
        }
        player_.setSource(QUrl::fromLocalFile(path));
        mode_ = TMPModes::mpStopped;
        return true;
    }

    void Play() override
    {
        if (mode_ == TMPModes::mpNotReady) return;
        playing_ = true;
        mode_ = TMPModes::mpPlaying;
        player_.setPosition(0);
        player_.play();
    }

    void Stop() override
    {
        if (mode_ != TMPModes::mpPlaying) return;
        playing_ = false;
        player_.stop();
        mode_ = TMPModes::mpStopped;
    }

    void Close() override
    {
        playing_ = false;
        player_.stop();
        player_.setSource(QUrl());
        mode_ = TMPModes::mpNotReady;
    }

    TMPModes Mode() override { return mode_; }

private:
    void Finish(TMPNotifyValues value)
    {
        playing_ = false;
        mode_ = TMPModes::mpStopped;
        if (OnNotify) OnNotify(value);
    }

    QMediaPlayer player_;
    QAudioOutput output_;
    TMPModes mode_ = TMPModes::mpNotReady;
    bool playing_ = false;
};

class QtSoundPlayers : public ISoundPlayers {
public:
    std::unique_ptr<ISoundPlayer> Create() override { return std::make_unique<QtSoundPlayer>(); }
};
}  // namespace

std::unique_ptr<ISoundPlayers> CreateDesktopSoundPlayers()
{
    return std::make_unique<QtSoundPlayers>();
}

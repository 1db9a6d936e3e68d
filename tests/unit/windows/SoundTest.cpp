// The ticking sound when the device misbehaves, and the device made only
// when a sound is first played.
#include <fstream>

#include "ClockFixture.h"

namespace {

class Sound : public ClockFixture {
protected:
    void SetUp() override
    {
        ClockFixture::SetUp();
        const std::string file = dir + "/clock-ticking.wav";
        std::ofstream(file) << "RIFF";
        TForm1::SetTickingSoundPathForTests(file);
        prefs->cbxPlayTickingSound->SetChecked(true);
        prefs->edtTickingSound->SetValue(10);
    }
    void TearDown() override
    {
        TForm1::SetTickingSoundPathForTests("");
        ClockFixture::TearDown();
    }
    SimSoundPlayer* Device() const
    {
        return sim.soundPlayers.created.empty() ? nullptr : sim.soundPlayers.created.back();
    }
    std::size_t Plays() const
    {
        std::size_t n = 0;
        for (const auto& entry : Device()->log) n += entry == "play";
        return n;
    }
};

TEST_F(Sound, TheDeviceIsMadeAtTheFirstSoundOnly)
{
    EXPECT_TRUE(sim.soundPlayers.created.empty()) << "no sound system client at start-up";
    prefs->cbxPlayTickingSound->SetChecked(false);
    form->ClockStarted();
    form->ClockStopped();
    EXPECT_TRUE(sim.soundPlayers.created.empty());
    prefs->cbxPlayTickingSound->SetChecked(true);
    form->ClockStarted();
    ASSERT_EQ(sim.soundPlayers.created.size(), 1u);
    form->ClockStopped();
    form->ClockStarted();
    EXPECT_EQ(sim.soundPlayers.created.size(), 1u) << "one device for the run";
}

TEST_F(Sound, AnOpenFailureIsReportedOnceAndNotRepeated)
{
    sim.soundPlayers.openFails = true;
    form->ClockStarted();
    EXPECT_TRUE(form->ClockRunning);
    EXPECT_EQ(form->windowTitle().toStdString(), "Working...");
    EXPECT_EQ(LastBalloon().title.rfind("Started Work @ ", 0), 0u) << "the transition goes on";
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_NE(sim.messageBox.shown[0].text.find("clock-ticking.wav"), std::string::npos);
    EXPECT_FALSE(form->tmrTickingSound.Enabled());
    sim.Advance(120000);
    EXPECT_EQ(sim.messageBox.shown.size(), 1u) << "no box at the repeat ticks";
    form->ClockStopped();
    EXPECT_FALSE(form->ClockRunning);
}

TEST_F(Sound, APlayDuringPlaybackGoesOnAndAPlayAtTheEndStartsOver)
{
    form->ClockStarted();
    ASSERT_NE(Device(), nullptr);
    EXPECT_EQ(Device()->log, (std::vector<std::string>{"open " + TForm1::TickingSoundPath(), "play"}));
    sim.Advance(10000);  // a repeat while the sound still plays
    EXPECT_EQ(Plays(), 2u);
    EXPECT_EQ(std::count(Device()->log.begin(), Device()->log.end(), "rewind"), 0);
    Device()->Finish();  // played to its end
    sim.Advance(10000);
    EXPECT_EQ(Device()->log.back(), "play");
    EXPECT_EQ(Device()->log[Device()->log.size() - 2], "rewind");

    // Continuous ticking: each end starts the sound over.
    prefs->edtTickingSound->SetValue(0);
    Device()->Finish();
    EXPECT_EQ(Device()->log[Device()->log.size() - 2], "rewind");
    EXPECT_EQ(Device()->log.back(), "play");
}

TEST_F(Sound, APlaybackErrorIsReportedOncePerRun)
{
    form->ClockStarted();
    ASSERT_NE(Device(), nullptr);
    Device()->errorText = "no audio output";
    Device()->Finish(TMPNotifyValues::nvFailure);
    ASSERT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_EQ(sim.messageBox.shown[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_NE(sim.messageBox.shown[0].text.find("no audio output"), std::string::npos)
        << sim.messageBox.shown[0].text;
    // Every later tick's play fails the same way, silently.
    for (int i = 0; i < 5; ++i) {
        sim.Advance(10000);
        Device()->Finish(TMPNotifyValues::nvFailure);
    }
    form->ClockStopped();
    form->ClockStarted();
    Device()->Finish(TMPNotifyValues::nvFailure);
    EXPECT_EQ(sim.messageBox.shown.size(), 1u);
    EXPECT_TRUE(form->ClockRunning);
}

}  // namespace

#include "main_window/ClockView.h"

#include <QCoreApplication>
#include <QTime>
#include <cmath>
#include <filesystem>

#include "components/Application.h"
#include "components/Format.h"
#include "main_window/ChronelUnit.h"
#include "main_window/WebSession.h"
#include "platform/Platform.h"
#include "platform/TraceMarks.h"
#include "session/ServiceUrls.h"
#include "session/Settings.h"

namespace {
const char* const kTimerPagePattern = "<\\s*?option .*?(selected)[^>]*?>([^<]+)</option>";

std::string& TickingSoundPathOverride()
{
    static std::string path;
    return path;
}

double Now()
{
    return CurrentPlatform().Clock->Now();
}
}  // namespace

TClockView::TClockView(TForm1& form) : form_(form)
{
    timerPage_.SetOptions(preCaseLess);
    Player.OnNotify = [this](TMediaPlayer*) { PlayerNotified(); };
    SoundTimer.SetEnabled(false);
    SoundTimer.SetInterval(60000);
    SoundTimer.OnTimer = [this](TTimer*) { SoundDue(); };
    ReminderTimer.SetEnabled(false);
    ReminderTimer.SetInterval(1200000);
    ReminderTimer.OnTimer = [this](TTimer*) { ReminderDue(); };
}

void TClockView::SetTickingSoundPathForTests(const std::string& path)
{
    TickingSoundPathOverride() = path;
}

std::string TClockView::TickingSoundPath()
{
    if (!TickingSoundPathOverride().empty()) return TickingSoundPathOverride();
    return QCoreApplication::applicationDirPath().toStdString() + "/" + "sounds/clock-ticking.wav";
}

void TClockView::Started()
{
    form_.SetCaption("Working...");
    Running = true;

    std::string breakNote;
    TIdleWatch& idle = form_.Idle;
    if (idle.IdleStopped) {
        const std::string amount = idle.BreakSeconds > 60 ? FormatMinutes(idle.BreakSeconds / 60.0) + " minute "
                                                          : std::to_string(idle.BreakSeconds) + " second ";
        breakNote = "\r\n(You took a " + amount + " break)";
        idle.IdleStopped = false;
        idle.BreakSeconds = 0;
    }

    form_.tryIcon->SetIconIndex(1);
    form_.tryIcon->SetCycleIcons(true);
    form_.StartClock1->SetVisible(false);
    form_.StopClock1->SetVisible(true);

    StartTickingSound();

    const TSettings& settings = CurrentSettings();
    ReminderTimer.SetEnabled(false);
    if (settings.ShowMinuteReminder)
        ReminderTimer.SetInterval(static_cast<unsigned>(settings.MinuteReminderInterval) * 60000u);
    ReminderTimer.SetEnabled(settings.ShowMinuteReminder);

    StartTime = Now();
    form_.UpdateEverythingTimer();
    if (!quietTransition_)
        form_.tryIcon->ShowBalloonHint("Started Work @ " + FormatLongTime(StartTime), WorkItemName + breakNote,
                                       bitInfo, 60);
}

void TClockView::Stopped()
{
    if (!Running) return;
    form_.SetCaption("Not working");
    form_.Idle.IdleStopped = false;
    Running = false;

    form_.tryIcon->SetCycleIcons(false);
    form_.tryIcon->SetIconIndex(0);
    form_.StartClock1->SetVisible(true);
    form_.StopClock1->SetVisible(false);

    StopTickingSound();

    // The stop is a navigation that has only just begun: closing now would
    // end the program before the service hears of it. The window closes
    // when a timer page shows the clock stopped (the exit's intent ends).

    ReminderTimer.SetEnabled(false);
    StopTime = Now();
    const double minutes = static_cast<double>(SecondsBetween(StartTime, StopTime)) / 60.0;
    if (!quietTransition_)
        form_.tryIcon->ShowBalloonHint(
            "Stopped Work @ " + FormatLongTime(StopTime) + " (" + FormatMinutes(minutes) + " mins)", WorkItemName,
            bitInfo, 10);
}

void TClockView::ShowMinutes(const std::string& idleCaption)
{
    const long long seconds = SecondsBetween(StartTime, Now());
    form_.SetCaption(std::to_string(seconds / 60) + " min." + idleCaption);
}

void TClockView::StartTickingSound()
{
    if (!CurrentSettings().PlayTickingSound) return;
    const std::string sound = TickingSoundPath();
    std::error_code ec;
    if (!std::filesystem::exists(sound, ec)) return;
    // A broken sound device must not keep the clock from showing its
    // state; reported once, it is not repeated.
    const bool playing = Application().Guard([&] {
        Player.SetFileName(sound);
        Player.Open();
        Player.SetNotify(true);
        Player.Play();
    });
    SoundTimer.SetEnabled(playing);
}

void TClockView::StopTickingSound()
{
    if (!Player.FileName().empty()) {
        Application().Guard([this] {
            if (Player.Mode() == TMPModes::mpPlaying) Player.Stop();
            if (Player.Mode() == TMPModes::mpStopped || Player.Mode() == TMPModes::mpOpen) Player.Close();
        });
    }
    SoundTimer.SetEnabled(false);
}

void TClockView::ReminderDue()
{
    const double minutes = static_cast<double>(SecondsBetween(StartTime, Now())) / 60.0;
    form_.tryIcon->ShowBalloonHint(
        "Working since " + FormatLongTime(StartTime) + " (" + FormatMinutes(minutes) + " mins)", WorkItemName,
        bitInfo, 10);
}

void TClockView::SoundDue()
{
    if (!Player.FileName().empty() && CurrentSettings().PlayTickingSound) {
        Player.SetNotify(true);
        Player.Play();
    }
}

void TClockView::PlayerNotified()
{
    if (CurrentSettings().TickingSoundInterval == 0 && Player.NotifyValue() == TMPNotifyValues::nvSuccessful &&
        Running) {
        Player.SetNotify(true);
        Player.Play();
    }
}

double TClockView::ServiceStartTime() const
{
    // The clock ran across midnight when the page's time lies ahead.
    const double now = Now();
    const QString since = QString::fromStdString(form_.Mirror.PageSince());
    QTime t = QTime::fromString(since, "H:mm");
    if (!t.isValid()) t = QTime::fromString(since, "H:mm:ss");
    if (!t.isValid()) return now;
    double start = std::floor(now) + t.msecsSinceStartOfDay() / 86400000.0;
    if (start > now) start -= 1.0;
    return start;
}

void TClockView::ShowService(TClockState state, TShowKind kind)
{
    const bool running = state == TClockState::Running;
    if (running != Running) {
        // The same transitions as a start or stop; the page's word is the balloon.
        quietTransition_ = true;
        const double startedBefore = StartTime;
        if (running) {
            Started();
            // Back to a clock that never stopped: its start stands.
            StartTime = kind == TShowKind::Revert ? startedBefore : ServiceStartTime();
        } else {
            Stopped();
        }
        quietTransition_ = false;
    } else if (kind != TShowKind::Announce) {
        return;
    }
    if (kind == TShowKind::Revert) return;
    const std::string& since = form_.Mirror.PageSince();
    form_.tryIcon->ShowBalloonHint(
        "Chronel Timer",
        running ? "The service's clock is running" + (since.empty() ? "" : " (since " + since + ")") + "."
                : std::string("The service's clock is not running."),
        bitInfo, 30);
}

void TClockView::ReadTimerPage(const std::string& html)
{
    form_.StartClock1->SetCaption("Start Clock");
    form_.StopClock1->SetCaption("Stop Clock");
    TraceMark("page-copied");
    timerPage_.SetRegEx(kTimerPagePattern);
    timerPage_.SetOptions(preCaseLess);
    // Compiled for the machine: a long page without line breaks stays fast.
    if (!timerPage_.Studied()) timerPage_.Study();
    timerPage_.SetSubject(html);
    bool found = timerPage_.Match();
    while (found && LowerCase(timerPage_.SubExpressions(1)) != "selected") found = timerPage_.MatchAgain();
    if (!found) return;
    const std::string decoded = DecodeHtmlText(timerPage_.SubExpressions(2));
    const std::string name = ReplaceAmpersands(decoded, "&&");
    WorkItemName = name;
    form_.StartClock1->SetCaption("Start: " + name);
    form_.StopClock1->SetCaption("Stop: " + name);
    form_.tryIcon->SetHint(ReplaceAmpersands(decoded, "&&&"));
    TraceMark("timer-page-read");
}

#include "session/IdleWatch.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/LastInput.h"

namespace {
std::uint32_t Threshold(const TSettings& settings)
{
    return static_cast<std::uint32_t>(std::max(settings.AutoStopStartOnIdleTimeMinutes, 0)) * 60u;
}
}  // namespace

TIdleWatch::Second TIdleWatch::Tick(bool clockRunning, const TSettings& settings, ILastInput* source,
                                    IClock& clock)
{
    Second out;
    if (!settings.AutoStopStartOnIdleTime) return out;
    std::uint32_t lastInput = 0;
    const bool readable = source && source->GetLastInputTick(lastInput);
    if (!readable && source && !source->Failing()) {
        // No fresh reading yet (the first question after a pause, a late
        // answer) decides nothing; only failures in a row make it unknown.
        if (!clockRunning && IdleStopped) ++BreakSeconds;
        out.showCaption = false;
        return out;
    }
    if (!readable) {
        // Unknown idle time is not "active": automatic stop and restart are off.
        out.caption = " idle n/a";
        if (!unreadableReported_) {
            unreadableReported_ = true;
            Notice("Idle detection is not available on this desktop; automatic stop and restart are off.", true, 30);
        }
        return out;
    }
    if (unreadableReported_) {
        unreadableReported_ = false;
        Notice("Idle detection works again; automatic stop and restart are on.", false, 30);
    }
    // The time is read after the input: input between the two is not
    // taken for a tick count from the future (an endless idle time).
    const std::uint32_t now = clock.GetTickCount();
    const std::uint32_t idleSeconds = static_cast<std::int32_t>(now - lastInput) > 0 ? (now - lastInput) / 1000u : 0u;
    const std::uint32_t threshold = Threshold(settings);
    if (idleSeconds < 2) {
        out.caption = " not idle ";
    } else {
        out.caption = " " + std::to_string(idleSeconds) + "/" + std::to_string(threshold) + " sec idle stop";
        if (clockRunning && (idleSeconds == 30 || idleSeconds == 60))
            Notice("System has been idle for " + std::to_string(idleSeconds) + " seconds. If system remains idle for " +
                       std::to_string(settings.AutoStopStartOnIdleTimeMinutes) +
                       " minutes, the timer will be automatically stopped. It will be started again when no longer "
                       "idle.",
                   false, 136);
    }
    if (!clockRunning && IdleStopped) ++BreakSeconds;
    NoLongerFits(idleSeconds, threshold, clockRunning);
    if (clockRunning && !IdleStopped && idleSeconds >= threshold) {
        AutoStop(0, clockRunning);
    } else if (!clockRunning && IdleStopped && idleSeconds < threshold) {
        // The break counted so far goes with the start, whenever the page takes it.
        if (mirror_.Request(TClockState::Running, TIntentSource::Idle, BreakSeconds)) {
            IdleStopped = false;
            BreakSeconds = 0;
        }
    }
    return out;
}

void TIdleWatch::Slept(std::uint32_t seconds, bool clockRunning, const TSettings& settings, ILastInput* source)
{
    if (!settings.AutoStopStartOnIdleTime) return;
    // Only where idle stopping works: the user was told when it does not.
    if (!source || source->Failing()) return;
    if (!clockRunning || IdleStopped || seconds < Threshold(settings)) return;
    AutoStop(seconds, clockRunning);
}

void TIdleWatch::AutoStop(std::uint32_t breakSeconds, bool clockRunning)
{
    // Submitted when the page shows the clock running; a failure keeps it
    // pending until the timer page is back.
    if (!mirror_.Request(TClockState::Stopped, TIntentSource::Idle, breakSeconds)) return;
    if (mirror_.Pending() || !clockRunning) {
        IdleStopped = true;
        BreakSeconds = breakSeconds;
    }
}

void TIdleWatch::NoLongerFits(std::uint32_t idleSeconds, std::uint32_t threshold, bool clockRunning)
{
    const std::optional<TIntent>& pending = mirror_.Pending();
    if (!pending || pending->source != TIntentSource::Idle || mirror_.InFlight()) return;
    if (pending->want == TClockState::Stopped && clockRunning && idleSeconds < threshold) {
        // The user is back before the stop reached the service.
        mirror_.Drop(TIntentSource::Idle);
    } else if (pending->want == TClockState::Running && !clockRunning && idleSeconds >= threshold) {
        // Away again before the restart reached the service: the break goes on.
        const std::uint32_t counted = pending->breakSeconds;
        mirror_.Drop(TIntentSource::Idle);
        IdleStopped = true;
        BreakSeconds = counted;
    }
}

void TIdleWatch::SubmissionShown(bool start, const TIntent* ours)
{
    if (!ours || ours->source != TIntentSource::Idle) return;
    // The restart ends the break the idle logic counted; the stop starts it.
    if (ours->want == (start ? TClockState::Running : TClockState::Stopped)) {
        IdleStopped = true;
        BreakSeconds = ours->breakSeconds;
    }
}

std::string TIdleWatch::Ended(const TIntent& intent, TIntentEnd why, bool clockRunning)
{
    const bool start = intent.want == TClockState::Running;
    if (why == TIntentEnd::Done) {
        // Stopped by idleness, however the page came to show it: the break runs.
        if (!start && !clockRunning && !IdleStopped) {
            IdleStopped = true;
            BreakSeconds = intent.breakSeconds;
        }
        return {};
    }
    // Given up: the next idle period is stopped again.
    IdleStopped = false;
    BreakSeconds = 0;
    if (why == TIntentEnd::Replaced) return {};  // the user's own press says enough
    const char* reason = why == TIntentEnd::NotTaken       ? "the service did not take it"
                         : why == TIntentEnd::Expired      ? "the service asked for a login again"
                         : why == TIntentEnd::NoNavigation ? "the start/stop form did not submit"
                                                           : "the service could not be reached in time";
    return std::string("The clock could not be ") + (start ? "started" : "stopped") + " automatically: " + reason + ".";
}

bool TIdleWatch::Active() const
{
    const bool idlePending = mirror_.Pending() && mirror_.Pending()->source == TIntentSource::Idle;
    return IdleStopped || idlePending;
}

#pragma once
// Simulated single instance, session and autostart: tests inject the events
// and read what the program did.
#include <string>
#include <vector>

#include "platform/Autostart.h"
#include "platform/Session.h"
#include "platform/SingleInstance.h"

class SimSingleInstance : public ISingleInstance {
public:
    Claim ClaimSettingsFile(const std::string& settingsPath, bool show) override
    {
        claims.push_back(settingsPath);
        (void)show;
        return answer;
    }
    std::string Error() const override { return error; }
    // A later start asks for the main window.
    void LaterStart()
    {
        if (OnRaise) OnRaise();
    }
    // What a later start would be told: the program is on its way out.
    bool IsClosing() const { return Closing && Closing(); }
    std::vector<std::string> claims;
    Claim answer = Claim::First;
    std::string error;
};

class SimEndSessionRequest : public IEndSessionRequest {
public:
    bool AllowsInteraction() override
    {
        ++interactionRequests;
        return allowInteraction;
    }
    void Release() override { released = true; }
    void Cancel() override { cancelled = true; }
    bool allowInteraction = true;
    int interactionRequests = 0;
    bool released = false;
    bool cancelled = false;
};

class SimSession : public ISession {
public:
    void QueryEnd(SimEndSessionRequest& request)
    {
        if (OnQueryEnd) OnQueryEnd(request);
    }
    void End()
    {
        if (OnEnd) OnEnd();
    }
    void Suspend()
    {
        if (OnSuspend) OnSuspend();
    }
    void Resume(std::uint32_t sleptSeconds)
    {
        if (OnResume) OnResume(sleptSeconds);
    }
};

class SimAutostart : public IAutostart {
public:
    bool Enabled() override { return enabled; }
    bool SetEnabled(bool value) override
    {
        writes.push_back(value);
        if (fail) return false;
        enabled = value;
        return true;
    }
    std::string Error() const override { return fail ? error : std::string(); }
    bool enabled = false;
    bool fail = false;
    std::string error = "Unable to write to /sim/autostart/chronel-timer.desktop";
    std::vector<bool> writes;
};

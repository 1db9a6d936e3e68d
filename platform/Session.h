#pragma once
#include <cstdint>
#include <functional>

// The session manager asks whether the session may end (log-off, shut-down).
// The answer is given through the request, not by quitting.
class IEndSessionRequest {
public:
    virtual ~IEndSessionRequest() = default;
    // Asks the session manager for leave to talk to the user; may wait for
    // other programs' turns. False: no question may be shown.
    virtual bool AllowsInteraction() = 0;
    // The program has finished talking to the user.
    virtual void Release() = 0;
    // Vetoes the end of the session.
    virtual void Cancel() = 0;
};

// The session around the program: its end and the machine's sleep.
class ISession {
public:
    virtual ~ISession() = default;

    // The session manager asks whether the session may end.
    std::function<void(IEndSessionRequest&)> OnQueryEnd;
    // The program must end now (a termination signal, or the session manager
    // ending the session): keep everything, ask nothing.
    std::function<void()> OnEnd;
    // The machine is about to sleep; the sleep waits until this returns.
    std::function<void()> OnSuspend;
    // The machine woke up after sleeping for this many seconds.
    std::function<void(std::uint32_t sleptSeconds)> OnResume;
};

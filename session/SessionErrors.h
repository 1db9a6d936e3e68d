#pragma once
// Where the session core's timer handlers report what they could not do:
// the program's own error report, set at start-up (tests may leave it unset).
#include <exception>
#include <functional>

void SetSessionErrorHandler(std::function<void(std::exception_ptr)> handler);
// Runs handler; an exception from it goes to the error handler. False then.
bool SessionGuard(const std::function<void()>& handler);

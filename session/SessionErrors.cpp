#include "session/SessionErrors.h"

namespace {
std::function<void(std::exception_ptr)>& Handler()
{
    static std::function<void(std::exception_ptr)> handler;
    return handler;
}
}  // namespace

void SetSessionErrorHandler(std::function<void(std::exception_ptr)> handler)
{
    Handler() = std::move(handler);
}

bool SessionGuard(const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (...) {
        if (Handler()) Handler()(std::current_exception());
        return false;
    }
}

#pragma once
// Application events over the platform's activation service. Moving the focus
// between the program's own windows raises neither activation event.
#include <functional>

class TApplicationEvents {
public:
    TApplicationEvents();
    ~TApplicationEvents();
    TApplicationEvents(const TApplicationEvents&) = delete;
    TApplicationEvents& operator=(const TApplicationEvents&) = delete;

    std::function<void(TApplicationEvents*)> OnActivate;
    std::function<void(TApplicationEvents*)> OnDeactivate;
    std::function<void(TApplicationEvents*)> OnMinimize;
    std::function<void(TApplicationEvents*)> OnRestore;
};

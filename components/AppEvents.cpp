#include "components/AppEvents.h"

#include "components/Application.h"
#include "platform/Platform.h"

TApplicationEvents::TApplicationEvents()
{
    IAppState* state = CurrentPlatform().AppState;
    state->OnActivate = [this] { Fire(OnActivate, this); };
    state->OnDeactivate = [this] { Fire(OnDeactivate, this); };
    state->OnMinimize = [this] { Fire(OnMinimize, this); };
    state->OnRestore = [this] { Fire(OnRestore, this); };
}

TApplicationEvents::~TApplicationEvents()
{
    if (IAppState* state = CurrentPlatform().AppState) {
        state->OnActivate = nullptr;
        state->OnDeactivate = nullptr;
        state->OnMinimize = nullptr;
        state->OnRestore = nullptr;
    }
}

#include "tray/MessageTimer.h"

#include "components/Application.h"
#include "platform/Platform.h"

// Owns the hidden window shared by all timers. Lives while at least one
// timer does.
class TMessageTimerHandler {
public:
    static TMessageTimerHandler* instance;

    static TMessageTimerHandler& AddRef()
    {
        if (!instance) instance = new TMessageTimerHandler(*CurrentPlatform().Windows);
        ++instance->refCount;
        return *instance;
    }

    static void Release()
    {
        if (!instance || --instance->refCount > 0) return;
        delete instance;
        instance = nullptr;
    }

    explicit TMessageTimerHandler(IMessageWindows& windows) : windows(windows)
    {
        wnd = windows.AllocateHWnd([](TMessage& m) {
            if (m.Msg != WM_TIMER) return;  // everything else: default handling
            // The id is the object: a window timer exists only while its
            // object is alive and enabled, so the id always names a live timer.
            reinterpret_cast<TMessageTimer*>(m.WParam)->Tick();
        });
    }

    ~TMessageTimerHandler()
    {
        if (wnd) windows.DeallocateHWnd(wnd);
    }

    IMessageWindows& windows;
    HWND wnd = 0;
    int refCount = 0;
    int activeCount = 0;
};

TMessageTimerHandler* TMessageTimerHandler::instance = nullptr;

namespace {
// Frees a handler that outlived every timer's owner at exit, but only while
// the window service it was made on is still installed.
struct HandlerFinalization {
    ~HandlerFinalization()
    {
        auto* h = TMessageTimerHandler::instance;
        if (!h) return;
        try {
            if (CurrentPlatform().Windows != &h->windows) h->wnd = 0;
        } catch (const std::exception&) {
            h->wnd = 0;  // no platform any more: its windows went with it
        }
        TMessageTimerHandler::instance = nullptr;
        delete h;
    }
} g_finalization;
}  // namespace

TMessageTimer::TMessageTimer()
{
    Initialize(1000, nullptr);
}

TMessageTimer::TMessageTimer(UINT interval, TNotify handler)
{
    Initialize(interval, std::move(handler));
}

void TMessageTimer::Initialize(UINT interval, TNotify handler)
{
    id_ = reinterpret_cast<UINT_PTR>(this);
    autoDisable_ = false;
    enabled_ = false;
    interval_ = interval;
    SetOnTimer(std::move(handler));
    TMessageTimerHandler::AddRef();
}

TMessageTimer::~TMessageTimer()
{
    if (enabled_) Stop(true);
    TMessageTimerHandler::Release();
}

void TMessageTimer::SetEnabled(bool v)
{
    if (v)
        Start();
    else
        Stop(true);
}

void TMessageTimer::SetInterval(UINT v)
{
    if (v == interval_) return;
    interval_ = v;
    if (!enabled_) return;
    if (v != 0)
        Start();
    else
        Stop(false);
}

void TMessageTimer::SetOnTimer(TNotify handler)
{
    onTimer_ = std::move(handler);
    if (!onTimer_ && enabled_) Stop(false);
}

bool TMessageTimer::Start()
{
    if (interval_ == 0) return false;
    if (enabled_) Stop(true);
    auto& h = *TMessageTimerHandler::instance;
    if (!h.windows.SetTimer(h.wnd, id_, interval_)) return false;
    enabled_ = true;
    ++h.activeCount;
    return true;
}

bool TMessageTimer::Stop(bool disable)
{
    if (disable) enabled_ = false;
    auto& h = *TMessageTimerHandler::instance;
    if (!h.windows.KillTimer(h.wnd, id_)) return false;
    if (h.activeCount > 0) --h.activeCount;
    return true;
}

void TMessageTimer::Tick()
{
    if (autoDisable_) Stop(true);
    // A copy: the handler may destroy this timer, and with it onTimer_.
    TNotify handler = onTimer_;
    Fire(handler, this);
}

int TMessageTimer::GetMessageTimerCount()
{
    return TMessageTimerHandler::instance ? TMessageTimerHandler::instance->refCount : 0;
}

int TMessageTimer::GetMessageTimerActiveCount()
{
    return TMessageTimerHandler::instance ? TMessageTimerHandler::instance->activeCount : 0;
}

// Prints one line for each top-level window mapped on the display, as the
// X server reports it, so no poll stands between the map and its stamp:
//   <microseconds since the epoch> <window> <_NET_WM_PID or 0> <width>x<height>
// The line "ready" comes first, once the watch is in place.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
long long NowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = r ? r->atom : XCB_ATOM_NONE;
    std::free(r);
    return atom;
}
}  // namespace

int main()
{
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "lean_map_watch: cannot open the display\n");
        return 2;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
    const xcb_window_t root = it.data->root;
    const xcb_atom_t pidAtom = Atom(c, "_NET_WM_PID");
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_request_check(c, xcb_change_window_attributes_checked(c, root, XCB_CW_EVENT_MASK, &mask));
    std::printf("ready\n");
    std::fflush(stdout);
    while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
        if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            const long long at = NowUs();
            auto* map = reinterpret_cast<xcb_map_notify_event_t*>(e);
            if (map->event == root && !map->override_redirect) {
                unsigned pid = 0;
                xcb_get_property_reply_t* p = xcb_get_property_reply(
                    c, xcb_get_property(c, 0, map->window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
                if (p && xcb_get_property_value_length(p) == 4)
                    pid = *static_cast<uint32_t*>(xcb_get_property_value(p));
                std::free(p);
                int w = 0, h = 0;
                if (xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, map->window), nullptr)) {
                    w = g->width;
                    h = g->height;
                    std::free(g);
                }
                std::printf("%lld 0x%x %u %dx%d\n", at, map->window, pid, w, h);
                std::fflush(stdout);
            }
        }
        std::free(e);
    }
    return 0;
}

/* Input in a KWin session through its fake-input protocol, as a keyboard
 * and a mouse would: kwin_input ARG...; each ARG is an evdev key code ("+N"
 * presses it, "-N" releases it, "N" does both) or "move" (nudges the
 * pointer). Needs a trusted client (KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 in
 * the compositor's environment). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wayland-client.h>

#include "fake-input-client-protocol.h"

static struct org_kde_kwin_fake_input* fake;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        fake = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

int main(int argc, char** argv)
{
    static const struct wl_registry_listener listener = {global, global_remove};
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "kwin_input: no Wayland display\n");
        return 2;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
    if (wl_display_roundtrip(display) < 0 || !fake) {
        fprintf(stderr, "kwin_input: the compositor offers no fake input (version 4)\n");
        return 2;
    }
    org_kde_kwin_fake_input_authenticate(fake, "Chronel Timer tests", "end-to-end test input");
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "move") == 0) {
            org_kde_kwin_fake_input_pointer_motion(fake, wl_fixed_from_int(1), wl_fixed_from_int(0));
            if (wl_display_roundtrip(display) < 0) return 1;
            continue;
        }
        const int down = arg[0] != '-', up = arg[0] != '+';
        const uint32_t key = (uint32_t)strtoul(arg + (arg[0] == '+' || arg[0] == '-'), NULL, 10);
        if (down) org_kde_kwin_fake_input_keyboard_key(fake, key, 1);
        if (up) org_kde_kwin_fake_input_keyboard_key(fake, key, 0);
        if (wl_display_roundtrip(display) < 0) {
            fprintf(stderr, "kwin_input: the compositor closed the connection\n");
            return 1;
        }
    }
    wl_display_disconnect(display);
    return 0;
}

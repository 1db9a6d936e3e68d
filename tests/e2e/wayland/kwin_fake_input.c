/* One small input through KWin's fake-input protocol: a pointer nudge and a
 * Shift press and release (evdev codes), as a trusted client. */
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

#include "fake-input-client-protocol.h"

static struct org_kde_kwin_fake_input* input;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

int main(void)
{
    static const struct wl_registry_listener listener = {global, global_remove};
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) return fprintf(stderr, "no compositor\n"), 1;
    wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
    wl_display_roundtrip(display);
    if (!input) return fprintf(stderr, "no fake input\n"), 1;
    org_kde_kwin_fake_input_authenticate(input, "chronel-e2e", "end-to-end test input");
    org_kde_kwin_fake_input_pointer_motion(input, wl_fixed_from_int(1), wl_fixed_from_int(0));
    org_kde_kwin_fake_input_keyboard_key(input, KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_PRESSED);
    org_kde_kwin_fake_input_keyboard_key(input, KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_RELEASED);
    return wl_display_roundtrip(display) < 0;
}

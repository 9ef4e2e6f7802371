/* Input for a headless KWin, whose seat has no devices: an org_kde_kwin_fake_input client for
 * the idle watcher's test (KWin must run with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1).
 *
 *   KwinFakeInput
 *
 * Prints "ready" once bound; then each line on standard input becomes a pointer move of 5 x 5
 * pixels and a press and release of a key, all over this one connection. Ends with status 1 when
 * the compositor offers no fake input.
 *
 * Debian ships no XML for this protocol, so the interface is written out here in the form
 * wayland-scanner would give; the requests keep their order (their opcodes), and only those used
 * are called. */
#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

static const struct wl_interface* no_types[3] = {NULL};
static const struct wl_message fake_input_requests[] = {
    {"authenticate", "ss", no_types},  {"pointer_motion", "ff", no_types},
    {"button", "uu", no_types},        {"axis", "uf", no_types},
    {"touch_down", "2uff", no_types},  {"touch_motion", "2uff", no_types},
    {"touch_up", "2u", no_types},      {"touch_cancel", "2", no_types},
    {"touch_frame", "2", no_types},    {"pointer_motion_absolute", "3ff", no_types},
    {"keyboard_key", "4uu", no_types},
};
static const struct wl_interface fake_input_interface = {
    "org_kde_kwin_fake_input", 4, 11, fake_input_requests, 0, NULL,
};
enum { AUTHENTICATE = 0, POINTER_MOTION = 1, KEYBOARD_KEY = 10 };

static struct wl_proxy* fake_input;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version)
{
    (void)data;
    if (strcmp(interface, fake_input_interface.name) == 0 && version >= 4)
        fake_input = wl_registry_bind(registry, name, &fake_input_interface, 4);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

int main(void)
{
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "KwinFakeInput: no compositor\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!fake_input) {
        fprintf(stderr, "KwinFakeInput: the compositor offers no org_kde_kwin_fake_input 4\n");
        return 1;
    }
    wl_proxy_marshal(fake_input, AUTHENTICATE, "vb_kwin_input", "the idle watcher's test");
    wl_display_roundtrip(display);
    printf("ready\n");
    fflush(stdout);
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        wl_proxy_marshal(fake_input, POINTER_MOTION, wl_fixed_from_int(5), wl_fixed_from_int(5));
        wl_proxy_marshal(fake_input, KEYBOARD_KEY, 30u, 1u);
        wl_proxy_marshal(fake_input, KEYBOARD_KEY, 30u, 0u);
        if (wl_display_roundtrip(display) < 0)
            return 1;
    }
    return 0;
}

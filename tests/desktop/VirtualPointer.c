/* A pointer for a Wayland seat that has none: a zwlr_virtual_pointer_v1 client for the tests.
 *
 *   VirtualPointer [COMMAND...]
 *
 * Commands, run in order: "wait MS" (keeps the device alive, so that the compositor has offered
 * it to the clients that are starting), "to X Y WIDTH HEIGHT" (to the point (X, Y) of an area of
 * WIDTH x HEIGHT that the compositor maps onto its outputs), "move DX DY" (relative motion in
 * pixels), "click" (left button down and up), "wheel" (one turn of the vertical wheel). Ends with status 1
 * when the compositor offers no virtual pointers.
 *
 * Debian ships no XML for this protocol, so its two interfaces are written out here in the form
 * wayland-scanner would give; only the requests used are wrapped. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

static const struct wl_interface zwlr_virtual_pointer_v1_interface;

static const struct wl_interface* manager_types[] = {
    &wl_seat_interface,   &zwlr_virtual_pointer_v1_interface, &wl_seat_interface,
    &wl_output_interface, &zwlr_virtual_pointer_v1_interface,
};
static const struct wl_message manager_requests[] = {
    {"create_virtual_pointer", "?on", manager_types + 0},
    {"destroy", "", NULL},
    {"create_virtual_pointer_with_output", "2?o?on", manager_types + 2},
};
static const struct wl_interface zwlr_virtual_pointer_manager_v1_interface = {
    "zwlr_virtual_pointer_manager_v1", 2, 3, manager_requests, 0, NULL,
};

static const struct wl_interface* no_types[5] = {NULL};
static const struct wl_message pointer_requests[] = {
    {"motion", "uff", no_types},   {"motion_absolute", "uuuuu", no_types},
    {"button", "uuu", no_types},   {"axis", "uuf", no_types},
    {"frame", "", no_types},       {"axis_source", "u", no_types},
    {"axis_stop", "uu", no_types}, {"axis_discrete", "uufi", no_types},
    {"destroy", "", no_types},
};
static const struct wl_interface zwlr_virtual_pointer_v1_interface = {
    "zwlr_virtual_pointer_v1", 2, 9, pointer_requests, 0, NULL,
};

enum {
    CREATE_VIRTUAL_POINTER = 0,
    MOTION = 0,
    MOTION_ABSOLUTE = 1,
    BUTTON = 2,
    AXIS = 3,
    FRAME = 4,
    DESTROY = 8
};
enum { BTN_LEFT = 0x110 };

static struct wl_proxy* manager;
static struct wl_seat* seat;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

static uint32_t now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

static void sleep_ms(long ms)
{
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&t, NULL);
}

int main(int argc, char** argv)
{
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "VirtualPointer: cannot connect to the Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!manager) {
        fprintf(stderr, "VirtualPointer: the compositor offers no zwlr_virtual_pointer_manager_v1\n");
        return 1;
    }
    struct wl_proxy* pointer = wl_proxy_marshal_constructor(manager, CREATE_VIRTUAL_POINTER,
                                                            &zwlr_virtual_pointer_v1_interface, seat, NULL);
    wl_display_roundtrip(display);

    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "wait") == 0 && i + 1 < argc) {
            sleep_ms(atol(argv[++i]));
        } else if (strcmp(argv[i], "to") == 0 && i + 4 < argc) {
            wl_proxy_marshal(pointer, MOTION_ABSOLUTE, now_ms(), (uint32_t)atol(argv[i + 1]),
                             (uint32_t)atol(argv[i + 2]), (uint32_t)atol(argv[i + 3]),
                             (uint32_t)atol(argv[i + 4]));
            wl_proxy_marshal(pointer, FRAME);
            i += 4;
        } else if (strcmp(argv[i], "move") == 0 && i + 2 < argc) {
            const double dx = atof(argv[i + 1]), dy = atof(argv[i + 2]);
            i += 2;
            wl_proxy_marshal(pointer, MOTION, now_ms(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
            wl_proxy_marshal(pointer, FRAME);
        } else if (strcmp(argv[i], "click") == 0) {
            wl_proxy_marshal(pointer, BUTTON, now_ms(), BTN_LEFT, 1u);
            wl_proxy_marshal(pointer, FRAME);
            wl_proxy_marshal(pointer, BUTTON, now_ms(), BTN_LEFT, 0u);
            wl_proxy_marshal(pointer, FRAME);
        } else if (strcmp(argv[i], "wheel") == 0) {
            wl_proxy_marshal(pointer, AXIS, now_ms(), 0u, wl_fixed_from_int(15));
            wl_proxy_marshal(pointer, FRAME);
        } else {
            fprintf(stderr, "VirtualPointer: unknown command \"%s\"\n", argv[i]);
            return 2;
        }
        if (wl_display_roundtrip(display) < 0) {
            fprintf(stderr, "VirtualPointer: the compositor closed the connection\n");
            return 1;
        }
    }
    wl_proxy_marshal(pointer, DESTROY);
    wl_proxy_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}

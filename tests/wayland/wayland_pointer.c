// Drives the pointer of a wlroots compositor's seat through the virtual-pointer protocol
// (zwlr_virtual_pointer_v1): a headless seat has no pointer of its own, and the compositor's
// own cursor commands do not reach clients.
//
// Usage: wayland-pointer COMMAND...
//   move X Y     puts the pointer at X,Y of the output layout (layout pixels)
//   press        presses the left button
//   release      releases it
//   -            reads more commands from standard input, one a line, and prints "done" after
//                each, so a test can wait for a step before taking the next
//   idle         keeps the pointer on the seat until the program is ended (with-sway.sh runs
//                one for the whole session: sway 1.7 crashes when the seat's last pointer goes)
// Every step ends with a round trip: when it returns, the compositor has handled the step (the
// client under the pointer may not have read its events yet). The layout's extent is taken from
// the outputs the compositor announces. Exit status 0 when every command was understood and
// the compositor answered, 1 otherwise.
#define _GNU_SOURCE
#include <linux/input-event-codes.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <wayland-client.h>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

enum { kMaxOutputs = 8 };

struct output {
    struct wl_output* wl;
    int32_t x, y, width, height;
};

struct app {
    struct wl_display* display;
    struct wl_seat* seat;
    struct zwlr_virtual_pointer_manager_v1* manager;
    struct zwlr_virtual_pointer_v1* pointer;
    struct output outputs[kMaxOutputs];
    int output_count;
};

static void output_geometry(void* data, struct wl_output* wl_output, int32_t x, int32_t y, int32_t pw, int32_t ph,
                            int32_t subpixel, const char* make, const char* model, int32_t transform) {
    (void)wl_output, (void)pw, (void)ph, (void)subpixel, (void)make, (void)model, (void)transform;
    struct output* o = data;
    o->x = x;
    o->y = y;
}
static void output_mode(void* data, struct wl_output* wl_output, uint32_t flags, int32_t width, int32_t height,
                        int32_t refresh) {
    (void)wl_output, (void)refresh;
    struct output* o = data;
    if (flags & WL_OUTPUT_MODE_CURRENT) {
        o->width = width;
        o->height = height;
    }
}
static void output_done(void* data, struct wl_output* wl_output) { (void)data, (void)wl_output; }
static void output_scale(void* data, struct wl_output* wl_output, int32_t factor) {
    (void)data, (void)wl_output, (void)factor;
}
static const struct wl_output_listener output_listener = {
    .geometry = output_geometry, .mode = output_mode, .done = output_done, .scale = output_scale};

static void registry_global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                            uint32_t version) {
    (void)version;
    struct app* app = data;
    if (strcmp(interface, wl_seat_interface.name) == 0 && !app->seat) {
        app->seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    } else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        app->manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    } else if (strcmp(interface, wl_output_interface.name) == 0 && app->output_count < kMaxOutputs) {
        struct output* o = &app->outputs[app->output_count++];
        o->wl = wl_registry_bind(registry, name, &wl_output_interface, 2);
        wl_output_add_listener(o->wl, &output_listener, o);
    }
}
static void registry_global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data, (void)registry, (void)name;
}
static const struct wl_registry_listener registry_listener = {registry_global, registry_global_remove};

static uint32_t now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u);
}

// The layout's extent: absolute motion is relative to the box around every output.
static void layout_extent(const struct app* app, uint32_t* width, uint32_t* height) {
    int32_t right = 0, bottom = 0;
    for (int i = 0; i < app->output_count; i++) {
        const struct output* o = &app->outputs[i];
        if (o->x + o->width > right) right = o->x + o->width;
        if (o->y + o->height > bottom) bottom = o->y + o->height;
    }
    *width = (uint32_t)right;
    *height = (uint32_t)bottom;
}

// One step: false when the command is not understood or the compositor went away.
static bool run(struct app* app, const char* command) {
    uint32_t x, y;
    if (sscanf(command, "move %u %u", &x, &y) == 2) {
        uint32_t width, height;
        layout_extent(app, &width, &height);
        if (x >= width || y >= height) {
            fprintf(stderr, "wayland-pointer: %u,%u is outside the %ux%u layout\n", x, y, width, height);
            return false;
        }
        zwlr_virtual_pointer_v1_motion_absolute(app->pointer, now_ms(), x, y, width, height);
    } else if (strcmp(command, "press") == 0 || strcmp(command, "release") == 0) {
        zwlr_virtual_pointer_v1_button(app->pointer, now_ms(), BTN_LEFT,
                                       command[0] == 'p' ? WL_POINTER_BUTTON_STATE_PRESSED
                                                         : WL_POINTER_BUTTON_STATE_RELEASED);
    } else {
        fprintf(stderr, "wayland-pointer: unknown command: %s\n", command);
        return false;
    }
    zwlr_virtual_pointer_v1_frame(app->pointer);
    return wl_display_roundtrip(app->display) >= 0;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s {move X Y | press | release | - | idle}...\n", argv[0]);
        return 2;
    }
    struct app app = {0};
    app.display = wl_display_connect(NULL);
    if (!app.display) {
        fprintf(stderr, "wayland-pointer: no Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(app.display);
    wl_registry_add_listener(registry, &registry_listener, &app);
    wl_display_roundtrip(app.display);
    wl_display_roundtrip(app.display);  // the outputs' geometry and modes
    if (!app.manager || app.output_count == 0) {
        fprintf(stderr, "wayland-pointer: the compositor offers no virtual pointer or no output\n");
        return 1;
    }
    app.pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(app.manager, app.seat);

    bool ok = true;
    for (int i = 1; ok && i < argc; i++) {
        if (strcmp(argv[i], "move") == 0 && i + 2 < argc) {
            char command[64];
            snprintf(command, sizeof command, "move %s %s", argv[i + 1], argv[i + 2]);
            ok = run(&app, command);
            i += 2;
        } else if (strcmp(argv[i], "idle") == 0) {
            ok = wl_display_roundtrip(app.display) >= 0;
            while (ok && wl_display_dispatch(app.display) >= 0) {
            }
        } else if (strcmp(argv[i], "-") == 0) {
            char line[128];
            while (ok && fgets(line, sizeof line, stdin)) {
                line[strcspn(line, "\r\n")] = '\0';
                if (line[0] == '\0') continue;
                ok = run(&app, line);
                printf("%s\n", ok ? "done" : "failed");
                fflush(stdout);
            }
        } else {
            ok = run(&app, argv[i]);
        }
    }

    zwlr_virtual_pointer_v1_destroy(app.pointer);
    zwlr_virtual_pointer_manager_v1_destroy(app.manager);
    for (int i = 0; i < app.output_count; i++) wl_output_destroy(app.outputs[i].wl);
    if (app.seat) wl_seat_destroy(app.seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(app.display);
    wl_display_disconnect(app.display);
    return ok ? 0 : 1;
}

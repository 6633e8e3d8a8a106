// A native Wayland client for the tests: one xdg-shell toplevel drawn in shared memory with a
// pattern a decoded broadcast can be checked against. The window is split into four quadrants,
// red (top left), green (top right), blue (bottom left) and white (bottom right), colours far
// apart in every channel so H.264 and scaling cannot blur one into another; sampling the middle
// of each quadrant tells the picture and its orientation. A compositor sends a new frame to a
// screen cast only when the picture changes, so --tick moves a small black marker along the top
// edge of the red quadrant (inside its outer eighth, away from the sampling points).
//
// Usage: wayland-test-window [--size WxH] [--title TEXT] [--app-id ID] [--tick MS]
//   Reads commands on standard input, one a line: "resize W H" draws at the new size (a fixed
//   size, so tiling compositors float the window), "quit" ends. SIGUSR1 swaps width and height;
//   SIGUSR2 commits the same picture again (new damage, for a cast whose first frame was lost).
//   Prints "configured W H" to standard output whenever a picture of that size was committed
//   after the compositor's configure, and ends cleanly (status 0) on SIGTERM, SIGINT, "quit" or
//   the compositor closing the window (end of input does not end it).
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <wayland-client.h>

#include "xdg-shell-client-protocol.h"

enum { kBuffers = 2 };

struct buffer {
    struct wl_buffer* wl;
    uint32_t* pixels;
    size_t bytes;
    int width, height;
    bool busy;
};

struct app {
    struct wl_display* display;
    struct wl_registry* registry;
    struct wl_compositor* compositor;
    struct wl_shm* shm;
    struct xdg_wm_base* wm_base;
    struct wl_surface* surface;
    struct xdg_surface* xdg_surface;
    struct xdg_toplevel* toplevel;
    struct buffer buffers[kBuffers];
    int width, height;
    bool configured;
    bool size_reported;
    bool wanted_redraw;
    bool running;
    bool ticking;
    unsigned tick_count;
};

static void buffer_release(void* data, struct wl_buffer* wl_buffer) {
    (void)wl_buffer;
    ((struct buffer*)data)->busy = false;
}
static const struct wl_buffer_listener buffer_listener = {buffer_release};

static void buffer_free(struct buffer* b) {
    if (b->wl) wl_buffer_destroy(b->wl);
    if (b->pixels) munmap(b->pixels, b->bytes);
    memset(b, 0, sizeof *b);
}

static bool buffer_make(struct app* app, struct buffer* b, int width, int height) {
    const int stride = width * 4;
    const size_t bytes = (size_t)stride * (size_t)height;
    int fd = memfd_create("wayland-test-window", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, (off_t)bytes) < 0) {
        if (fd >= 0) close(fd);
        return false;
    }
    void* pixels = mmap(NULL, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        close(fd);
        return false;
    }
    struct wl_shm_pool* pool = wl_shm_create_pool(app->shm, fd, (int32_t)bytes);
    b->wl = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(b->wl, &buffer_listener, b);
    b->pixels = pixels;
    b->bytes = bytes;
    b->width = width;
    b->height = height;
    b->busy = false;
    return true;
}

// A free buffer of the current size, or NULL while the compositor holds both: the redraw then
// waits for a release instead of giving up.
static struct buffer* free_buffer(struct app* app) {
    for (int i = 0; i < kBuffers; i++) {
        struct buffer* b = &app->buffers[i];
        if (b->wl && (b->width != app->width || b->height != app->height) && !b->busy) buffer_free(b);
        if (!b->busy && b->wl) return b;
        if (!b->wl) return buffer_make(app, b, app->width, app->height) ? b : NULL;
    }
    return NULL;
}

static void paint(struct app* app, struct buffer* b) {
    const int w = b->width, h = b->height;
    for (int y = 0; y < h; y++) {
        uint32_t* row = b->pixels + (size_t)y * (size_t)w;
        for (int x = 0; x < w; x++) {
            const bool right = x >= w / 2, bottom = y >= h / 2;
            row[x] = bottom ? (right ? 0xffffffu : 0x0000ffu) : (right ? 0x00ff00u : 0xff0000u);
        }
    }
    if (app->ticking) {
        const int side = h / 16 > 0 ? h / 16 : 1;
        const int span = w / 2 - side;
        const int left = span > 0 ? (int)((app->tick_count * 4u) % (unsigned)span) : 0;
        for (int y = 0; y < side && y < h; y++)
            for (int x = left; x < left + side && x < w / 2; x++) b->pixels[(size_t)y * (size_t)w + (size_t)x] = 0;
    }
}

static void redraw(struct app* app) {
    if (!app->configured) return;
    struct buffer* b = free_buffer(app);
    if (!b) {
        app->wanted_redraw = true;
        return;
    }
    app->wanted_redraw = false;
    paint(app, b);
    xdg_toplevel_set_min_size(app->toplevel, app->width, app->height);
    xdg_toplevel_set_max_size(app->toplevel, app->width, app->height);
    wl_surface_attach(app->surface, b->wl, 0, 0);
    wl_surface_damage(app->surface, 0, 0, b->width, b->height);
    wl_surface_commit(app->surface);
    b->busy = true;
    if (!app->size_reported) {
        printf("configured %d %d\n", b->width, b->height);
        fflush(stdout);
        app->size_reported = true;
    }
}

static void wm_base_ping(void* data, struct xdg_wm_base* wm_base, uint32_t serial) {
    (void)data;
    xdg_wm_base_pong(wm_base, serial);
}
static const struct xdg_wm_base_listener wm_base_listener = {wm_base_ping};

static void surface_configure(void* data, struct xdg_surface* xdg_surface, uint32_t serial) {
    struct app* app = data;
    xdg_surface_ack_configure(xdg_surface, serial);
    app->configured = true;
    redraw(app);
}
static const struct xdg_surface_listener surface_listener = {surface_configure};

// The window keeps the size it was asked for: the compositor's suggestion is ignored, which
// xdg-shell allows for a window whose minimum and maximum size are equal.
static void toplevel_configure(void* data, struct xdg_toplevel* toplevel, int32_t width, int32_t height,
                               struct wl_array* states) {
    (void)data, (void)toplevel, (void)width, (void)height, (void)states;
}
static void toplevel_close(void* data, struct xdg_toplevel* toplevel) {
    (void)toplevel;
    ((struct app*)data)->running = false;
}
static void toplevel_configure_bounds(void* data, struct xdg_toplevel* toplevel, int32_t w, int32_t h) {
    (void)data, (void)toplevel, (void)w, (void)h;
}
static void toplevel_wm_capabilities(void* data, struct xdg_toplevel* toplevel, struct wl_array* caps) {
    (void)data, (void)toplevel, (void)caps;
}
static const struct xdg_toplevel_listener toplevel_listener = {
    toplevel_configure, toplevel_close, toplevel_configure_bounds, toplevel_wm_capabilities};

static void registry_global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                            uint32_t version) {
    struct app* app = data;
    if (strcmp(interface, wl_compositor_interface.name) == 0)
        app->compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 4);
    else if (strcmp(interface, wl_shm_interface.name) == 0)
        app->shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
    else if (strcmp(interface, xdg_wm_base_interface.name) == 0)
        app->wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, version < 2 ? version : 2);
}
static void registry_global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data, (void)registry, (void)name;
}
static const struct wl_registry_listener registry_listener = {registry_global, registry_global_remove};

static bool parse_size(const char* text, int* width, int* height) {
    return sscanf(text, "%dx%d", width, height) == 2 && *width > 0 && *height > 0 && *width <= 8192 &&
           *height <= 8192;
}

static void resize(struct app* app, int width, int height) {
    app->width = width;
    app->height = height;
    app->size_reported = false;
    redraw(app);
}

// One command line from standard input; false at "quit".
static bool run_command(struct app* app, const char* line) {
    int width, height;
    if (strncmp(line, "quit", 4) == 0) return false;
    if (sscanf(line, "resize %d %d", &width, &height) == 2 && width > 0 && height > 0 && width <= 8192 &&
        height <= 8192)
        resize(app, width, height);
    else
        fprintf(stderr, "wayland-test-window: unknown command: %s\n", line);
    return true;
}

int main(int argc, char** argv) {
    struct app app = {.width = 640, .height = 480, .running = true};
    const char* title = "strimo wayland test window";
    const char* app_id = "strimo-wayland-test-window";
    int tick_ms = 0;
    for (int i = 1; i < argc; i++) {
        const bool has_value = i + 1 < argc;
        if (strcmp(argv[i], "--size") == 0 && has_value && parse_size(argv[i + 1], &app.width, &app.height)) i++;
        else if (strcmp(argv[i], "--title") == 0 && has_value) title = argv[++i];
        else if (strcmp(argv[i], "--app-id") == 0 && has_value) app_id = argv[++i];
        else if (strcmp(argv[i], "--tick") == 0 && has_value && (tick_ms = atoi(argv[i + 1])) > 0) i++;
        else {
            fprintf(stderr, "usage: %s [--size WxH] [--title TEXT] [--app-id ID] [--tick MS]\n", argv[0]);
            return 2;
        }
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    sigprocmask(SIG_BLOCK, &signals, NULL);
    const int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC);
    signal(SIGPIPE, SIG_IGN);

    app.display = wl_display_connect(NULL);
    if (!app.display) {
        fprintf(stderr, "wayland-test-window: no Wayland display\n");
        return 1;
    }
    app.registry = wl_display_get_registry(app.display);
    wl_registry_add_listener(app.registry, &registry_listener, &app);
    wl_display_roundtrip(app.display);
    if (!app.compositor || !app.shm || !app.wm_base) {
        fprintf(stderr, "wayland-test-window: the compositor lacks wl_compositor, wl_shm or xdg_wm_base\n");
        return 1;
    }
    xdg_wm_base_add_listener(app.wm_base, &wm_base_listener, &app);
    app.surface = wl_compositor_create_surface(app.compositor);
    app.xdg_surface = xdg_wm_base_get_xdg_surface(app.wm_base, app.surface);
    xdg_surface_add_listener(app.xdg_surface, &surface_listener, &app);
    app.toplevel = xdg_surface_get_toplevel(app.xdg_surface);
    xdg_toplevel_add_listener(app.toplevel, &toplevel_listener, &app);
    xdg_toplevel_set_title(app.toplevel, title);
    xdg_toplevel_set_app_id(app.toplevel, app_id);
    xdg_toplevel_set_min_size(app.toplevel, app.width, app.height);
    xdg_toplevel_set_max_size(app.toplevel, app.width, app.height);
    wl_surface_commit(app.surface);

    int timer_fd = -1;
    app.ticking = tick_ms > 0;
    if (app.ticking) {
        timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        const struct timespec period = {tick_ms / 1000, (long)(tick_ms % 1000) * 1000000L};
        const struct itimerspec spec = {period, period};
        timerfd_settime(timer_fd, 0, &spec, NULL);
    }

    char line[256];
    size_t line_used = 0;
    bool stdin_open = true;
    int status = 0;
    while (app.running) {
        if (app.wanted_redraw) redraw(&app);
        while (wl_display_prepare_read(app.display) != 0) wl_display_dispatch_pending(app.display);
        if (wl_display_flush(app.display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(app.display);
            status = 1;
            break;
        }
        struct pollfd fds[4] = {{wl_display_get_fd(app.display), POLLIN, 0},
                                {signal_fd, POLLIN, 0},
                                {stdin_open ? STDIN_FILENO : -1, POLLIN, 0},
                                {timer_fd, POLLIN, 0}};
        if (poll(fds, 4, -1) < 0) {
            wl_display_cancel_read(app.display);
            if (errno == EINTR) continue;
            status = 1;
            break;
        }
        if (fds[0].revents & POLLIN) {
            if (wl_display_read_events(app.display) < 0) {
                status = 1;
                break;
            }
        } else {
            wl_display_cancel_read(app.display);
        }
        if (fds[0].revents & (POLLERR | POLLHUP)) {
            status = 1;
            break;
        }
        if (wl_display_dispatch_pending(app.display) < 0) {
            status = 1;
            break;
        }
        if (fds[1].revents & POLLIN) {
            struct signalfd_siginfo info;
            if (read(signal_fd, &info, sizeof info) == (ssize_t)sizeof info) {
                if (info.ssi_signo == SIGUSR1) resize(&app, app.height, app.width);
                else if (info.ssi_signo == SIGUSR2) redraw(&app);
                else app.running = false;
            }
        }
        if (fds[2].revents & (POLLIN | POLLHUP)) {
            const ssize_t got = read(STDIN_FILENO, line + line_used, sizeof line - 1 - line_used);
            if (got <= 0) {
                stdin_open = false;  // a window started without input keeps running
            } else {
                line_used += (size_t)got;
                line[line_used] = '\0';
                char* end;
                while (app.running && (end = strchr(line, '\n')) != NULL) {
                    *end = '\0';
                    app.running = run_command(&app, line);
                    line_used -= (size_t)(end + 1 - line);
                    memmove(line, end + 1, line_used + 1);
                }
                if (line_used == sizeof line - 1) line_used = 0;  // an overlong line is dropped
            }
        }
        if (fds[3].revents & POLLIN) {
            uint64_t expirations;
            if (read(timer_fd, &expirations, sizeof expirations) == (ssize_t)sizeof expirations) {
                app.tick_count++;
                redraw(&app);
            }
        }
    }

    for (int i = 0; i < kBuffers; i++) buffer_free(&app.buffers[i]);
    xdg_toplevel_destroy(app.toplevel);
    xdg_surface_destroy(app.xdg_surface);
    wl_surface_destroy(app.surface);
    xdg_wm_base_destroy(app.wm_base);
    wl_shm_destroy(app.shm);
    wl_compositor_destroy(app.compositor);
    wl_registry_destroy(app.registry);
    wl_display_roundtrip(app.display);
    wl_display_disconnect(app.display);
    if (timer_fd >= 0) close(timer_fd);
    close(signal_fd);
    return status;
}

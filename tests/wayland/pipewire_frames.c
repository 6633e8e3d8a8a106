// Counts the frames a PipeWire video node delivers: whether a screen-cast stream that a portal
// handed out really streams (Start answering with a node proves only that the node exists).
//
// Usage: pipewire-frames NODE_ID [SECONDS]
//   Connects to the PipeWire daemon of XDG_RUNTIME_DIR, consumes the node as 32-bit RGB video in
//   shared memory for SECONDS (2 unless given) and prints "frames N WIDTHxHEIGHT FORMAT" (the
//   frames that carried data). Exit status 0 when at least one frame came, 1 otherwise.
#include <stdio.h>
#include <stdlib.h>

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>

struct counter {
    struct pw_main_loop* loop;
    struct pw_stream* stream;
    struct spa_video_info_raw format;
    int frames;
};

static void on_param_changed(void* data, uint32_t id, const struct spa_pod* param) {
    struct counter* c = data;
    if (param && id == SPA_PARAM_Format) spa_format_video_raw_parse(param, &c->format);
}

static void on_process(void* data) {
    struct counter* c = data;
    struct pw_buffer* b = pw_stream_dequeue_buffer(c->stream);
    if (!b) return;
    const struct spa_buffer* buf = b->buffer;
    if (buf->n_datas > 0 && buf->datas[0].chunk && buf->datas[0].chunk->size > 0) c->frames++;
    pw_stream_queue_buffer(c->stream, b);
}

static const struct pw_stream_events stream_events = {
    PW_VERSION_STREAM_EVENTS,
    .param_changed = on_param_changed,
    .process = on_process,
};

static void on_timeout(void* data, uint64_t expirations) {
    (void)expirations;
    pw_main_loop_quit(((struct counter*)data)->loop);
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s NODE_ID [SECONDS]\n", argv[0]);
        return 2;
    }
    const int seconds = argc > 2 ? atoi(argv[2]) : 2;
    pw_init(&argc, &argv);
    struct counter c = {0};
    c.loop = pw_main_loop_new(NULL);
    c.stream = pw_stream_new_simple(pw_main_loop_get_loop(c.loop), "strimo-frame-counter",
                                    pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                      PW_KEY_MEDIA_ROLE, "Screen", NULL),
                                    &stream_events, &c);
    uint8_t storage[1024];
    struct spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const struct spa_pod* params[1];
    params[0] = spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size,
        SPA_POD_CHOICE_RANGE_Rectangle(&SPA_RECTANGLE(1280, 720), &SPA_RECTANGLE(1, 1), &SPA_RECTANGLE(8192, 8192)),
        SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&SPA_FRACTION(30, 1), &SPA_FRACTION(0, 1), &SPA_FRACTION(1000, 1)));
    // The node by its id, as portal clients connect to the node they were given.
    const uint32_t node = (uint32_t)strtoul(argv[1], NULL, 10);
    if (pw_stream_connect(c.stream, PW_DIRECTION_INPUT, node,
                          PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS, params, 1) < 0) {
        fprintf(stderr, "pipewire-frames: cannot connect to node %s\n", argv[1]);
        return 1;
    }
    struct spa_source* timer = pw_loop_add_timer(pw_main_loop_get_loop(c.loop), on_timeout, &c);
    struct timespec value = {seconds, 0}, interval = {0, 0};
    pw_loop_update_timer(pw_main_loop_get_loop(c.loop), timer, &value, &interval, false);
    pw_main_loop_run(c.loop);
    const char* name = c.format.format == SPA_VIDEO_FORMAT_BGRx   ? "BGRx"
                       : c.format.format == SPA_VIDEO_FORMAT_BGRA ? "BGRA"
                       : c.format.format == SPA_VIDEO_FORMAT_RGBx ? "RGBx"
                       : c.format.format == SPA_VIDEO_FORMAT_RGBA ? "RGBA"
                                                                  : "none";
    printf("frames %d %ux%u %s\n", c.frames, c.format.size.width, c.format.size.height, name);
    pw_stream_destroy(c.stream);
    pw_main_loop_destroy(c.loop);
    pw_deinit();
    return c.frames > 0 ? 0 : 1;
}

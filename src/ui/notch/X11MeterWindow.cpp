#include "ui/notch/X11MeterWindow.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/sync.h>
#include <xcb/xcb.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/Log.h"
#include "ui/notch/NotchMeterItem.h"
#include "ui/notch/NotchMeterModel.h"

namespace velto {

namespace {

// Images go to the server as they lie in memory: 32 bits a pixel, lowest byte first.
bool takesImagesAsTheyAre(xcb_connection_t* connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
    bool depth24 = false, depth32 = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->bits_per_pixel != 32) continue;
        depth24 |= it.data->depth == 24;
        depth32 |= it.data->depth == 32;
    }
    return depth24 && depth32;
}

// What the worker has made on the server.
struct Drawn {
    std::uint32_t parent = 0;
    std::uint32_t window = 0;
    std::uint32_t gc = 0;
    std::uint8_t depth = 0;
    QRect area;
};

// The swing repeats every π/5 s (each bar's |sin| has the period π in 5t): its frames are drawn
// once into pixmaps on the server, and a step copies the one nearest in phase, 0.3 px at most
// from the exact heights.
struct Film {
    static constexpr int length = 64;
    static constexpr double period = 3.14159265358979323846 / 5;
    std::vector<std::uint32_t> frames;
    QSize size;
    double ratio = 0;
    double opacity = 0;
    QColor backdrop;
};

using Clock = std::chrono::steady_clock;

std::int64_t milliseconds(Clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

// Swing steps queued ahead on a connection of their own, each held back by the server until its
// time (the SYNC extension's Await on the server's SERVERTIME counter, in milliseconds of the
// same monotonic clock on a local server). Only dropping the connection and the window drops
// what it still holds, so it lives for one window and one look.
class ServerPacer {
  public:
    static std::unique_ptr<ServerPacer> connect(const std::string& displayName, std::uint32_t window) {
        xcb_connection_t* connection = xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), nullptr);
        std::unique_ptr<ServerPacer> pacer(new ServerPacer(connection));
        if (xcb_connection_has_error(connection)) return nullptr;
        const auto* sync = xcb_get_extension_data(connection, &xcb_sync_id);
        if (!sync || !sync->present) return nullptr;
        std::free(xcb_sync_initialize_reply(connection, xcb_sync_initialize(connection, 3, 1), nullptr));
        pacer->counter_ = serverTime(connection);
        if (pacer->counter_ == 0) return nullptr;
        const auto before = Clock::now();
        auto* value = xcb_sync_query_counter_reply(connection, xcb_sync_query_counter(connection, pacer->counter_),
                                                   nullptr);
        if (!value) return nullptr;
        const auto after = Clock::now();
        const std::int64_t server = (std::int64_t(value->counter_value.hi) << 32) | value->counter_value.lo;
        std::free(value);
        pacer->offset_ = server - milliseconds(before + (after - before) / 2);
        pacer->window_ = window;
        pacer->gc_ = xcb_generate_id(connection);
        const std::uint32_t noExposures = 0;
        xcb_create_gc(connection, pacer->gc_, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
        return pacer;
    }
    ~ServerPacer() { xcb_disconnect(connection_); }

    int descriptor() const { return xcb_get_file_descriptor(connection_); }
    // Copies `frame` of `size` into the window at `at`.
    void queue(Clock::time_point at, std::uint32_t frame, QSize size) {
        const std::int64_t due = milliseconds(at) + offset_;
        xcb_sync_waitcondition_t condition{};
        condition.trigger.counter = counter_;
        condition.trigger.wait_type = XCB_SYNC_VALUETYPE_ABSOLUTE;
        condition.trigger.wait_value = {static_cast<std::int32_t>(due >> 32), static_cast<std::uint32_t>(due)};
        condition.trigger.test_type = XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON;
        // Late by this much before the server tells: never, so that a step wakes nobody here.
        condition.event_threshold = {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::uint32_t>::max()};
        xcb_sync_await(connection_, 1, &condition);
        xcb_copy_area(connection_, frame, window_, gc_, 0, 0, 0, 0, static_cast<std::uint16_t>(size.width()),
                      static_cast<std::uint16_t>(size.height()));
    }
    void flush() { xcb_flush(connection_); }
    // Errors about frames or a window already gone are passed over.
    void drain() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
    }

  private:
    explicit ServerPacer(xcb_connection_t* connection) : connection_(connection) {}

    // The SERVERTIME counter, 0 when the server has none. Its list is read by hand: each entry
    // is a counter, a resolution, a name length and the name, padded to four bytes.
    static std::uint32_t serverTime(xcb_connection_t* connection) {
        auto* list = xcb_sync_list_system_counters_reply(connection, xcb_sync_list_system_counters(connection),
                                                         nullptr);
        if (!list) return 0;
        const auto* data = reinterpret_cast<const std::uint8_t*>(list + 1);
        const std::size_t length = std::size_t(list->length) * 4;
        std::uint32_t found = 0;
        std::size_t at = 0;
        for (std::uint32_t i = 0; i < list->counters_len && at + 14 <= length; ++i) {
            std::uint32_t counter;
            std::uint16_t nameLength;
            std::memcpy(&counter, data + at, 4);
            std::memcpy(&nameLength, data + at + 12, 2);
            if (at + 14 + nameLength > length) break;
            if (std::string_view(reinterpret_cast<const char*>(data + at + 14), nameLength) == "SERVERTIME")
                found = counter;
            at += (14 + nameLength + 3) & ~std::size_t(3);
        }
        std::free(list);
        return found;
    }

    xcb_connection_t* connection_;
    std::uint32_t counter_ = 0;
    std::int64_t offset_ = 0;  // server milliseconds minus steady ones
    std::uint32_t window_ = 0;
    std::uint32_t gc_ = 0;
};

std::uint32_t pixel(const QColor& colour, std::uint8_t depth) {
    const std::uint32_t rgb = colour.rgb() & 0xffffff;
    return depth == 32 ? 0xff000000 | rgb : rgb;
}

}  // namespace

std::unique_ptr<X11MeterWindow> X11MeterWindow::connect(const char* displayName) {
    xcb_connection_t* connection = xcb_connect(displayName, nullptr);
    if (xcb_connection_has_error(connection) || !takesImagesAsTheyAre(connection)) {
        xcb_disconnect(connection);
        Log::info("notch", "the meter is drawn in the notch window's scene: no suitable X display of its own");
        return nullptr;
    }
    return std::unique_ptr<X11MeterWindow>(new X11MeterWindow(connection, displayName ? displayName : ""));
}

X11MeterWindow::X11MeterWindow(xcb_connection_t* connection, std::string displayName)
    : connection_(connection), displayName_(std::move(displayName)), wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    worker_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

X11MeterWindow::~X11MeterWindow() {
    worker_.request_stop();
    wake();
    worker_.join();
    xcb_disconnect(connection_);
    close(wakeFd_);
}

void X11MeterWindow::place(std::uint32_t parent, QRect area, double ratio) {
    {
        std::lock_guard lock(mutex_);
        if (parent == parent_ && area == area_ && ratio == ratio_) return;
        parent_ = parent;
        area_ = area;
        ratio_ = ratio;
    }
    wake();
}

void X11MeterWindow::show(const Look& look) {
    {
        std::lock_guard lock(mutex_);
        if (look == look_) return;
        look_ = look;
    }
    wake();
}

void X11MeterWindow::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
}

void X11MeterWindow::run(std::stop_token stop) {
    // Queued steps reach this far ahead, and more are queued when less than `lead` is left.
    constexpr auto horizon = std::chrono::seconds(2);
    constexpr auto lead = std::chrono::milliseconds(300);
    Drawn drawn;
    std::unique_ptr<ServerPacer> pacer;
    bool pacerUnavailable = false;
    Clock::time_point queuedUntil{};
    Film film;
    Look shown;
    bool stale = true;
    // The server tells that windows above hide the meter whole; kept across its windows, as the
    // next one's first notice corrects it.
    bool hidden = false;
    Clock::time_point nextStep{};
    QImage image;

    const auto paint = [&](const QList<double>& heights, const Look& look, double ratio) -> const QImage& {
        if (image.size() != drawn.area.size()) image = QImage(drawn.area.size(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(look.backdrop.rgb());
        QPainter painter(&image);
        NotchMeterItem::paintBars(painter, QSizeF(drawn.area.size()) / ratio, heights, look.opacity);
        return image;
    };
    const auto send = [&](std::uint32_t drawable, const QImage& picture) {
        xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, drawn.gc,
                      static_cast<std::uint16_t>(picture.width()), static_cast<std::uint16_t>(picture.height()), 0, 0, 0,
                      drawn.depth, static_cast<std::uint32_t>(picture.sizeInBytes()), picture.constBits());
    };
    const auto dropFilm = [&] {
        for (std::uint32_t pixmap : film.frames) xcb_free_pixmap(connection_, pixmap);
        film = {};
    };
    const auto takeAway = [&] {
        if (drawn.window == 0) return;
        dropFilm();
        xcb_free_gc(connection_, drawn.gc);
        xcb_destroy_window(connection_, drawn.window);
        drawn = {};
    };

    while (!stop.stop_requested() && !xcb_connection_has_error(connection_)) {
        std::uint32_t parent;
        QRect area;
        double ratio;
        Look look;
        {
            std::lock_guard lock(mutex_);
            parent = area_.isEmpty() ? 0 : parent_;
            area = area_;
            ratio = ratio_;
            look = look_;
        }
        // Steps already queued would go on showing the old look or place, or where nobody sees
        // them: they go with the window.
        if (pacer && (parent != drawn.parent || area != drawn.area || look != shown || ratio != film.ratio || hidden)) {
            takeAway();
            pacer.reset();
        }
        if (parent != drawn.parent) {
            takeAway();
            if (parent != 0) {
                // The parent's depth is the meter's, and so that of the images it is sent.
                auto* geometry = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, parent), nullptr);
                if (geometry) {
                    drawn.parent = parent;
                    drawn.depth = geometry->depth;
                    drawn.window = xcb_generate_id(connection_);
                    // Uncovered parts show the backdrop until the bars come.
                    const std::uint32_t values[] = {pixel(look.backdrop, drawn.depth),
                                                    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_VISIBILITY_CHANGE};
                    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, drawn.window, parent,
                                      static_cast<std::int16_t>(area.x()), static_cast<std::int16_t>(area.y()),
                                      static_cast<std::uint16_t>(area.width()),
                                      static_cast<std::uint16_t>(area.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                                      XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
                    drawn.gc = xcb_generate_id(connection_);
                    // No expose events for copies: a lost part comes back through the window's own.
                    const std::uint32_t noExposures = 0;
                    xcb_create_gc(connection_, drawn.gc, drawn.window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
                    xcb_map_window(connection_, drawn.window);
                    drawn.area = area;
                    stale = true;
                }
                std::free(geometry);
            }
        } else if (drawn.window != 0 && area != drawn.area) {
            const std::uint32_t values[] = {static_cast<std::uint32_t>(area.x()), static_cast<std::uint32_t>(area.y()),
                                            static_cast<std::uint32_t>(area.width()),
                                            static_cast<std::uint32_t>(area.height())};
            xcb_configure_window(connection_, drawn.window,
                                 XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                     XCB_CONFIG_WINDOW_HEIGHT,
                                 values);
            drawn.area = area;
            stale = true;
        }
        if (look.backdrop != shown.backdrop && drawn.window != 0) {
            const std::uint32_t value = pixel(look.backdrop, drawn.depth);
            xcb_change_window_attributes(connection_, drawn.window, XCB_CW_BACK_PIXEL, &value);
        }
        stale = stale || look != shown;
        shown = look;

        const auto now = Clock::now();
        int timeout = -1;
        if (drawn.window != 0 && look.swinging && !hidden) {
            if (film.frames.empty() || film.size != drawn.area.size() || film.ratio != ratio ||
                film.opacity != look.opacity || film.backdrop != look.backdrop) {
                dropFilm();
                film = {{}, drawn.area.size(), ratio, look.opacity, look.backdrop};
                for (int frame = 0; frame < Film::length; ++frame) {
                    QList<double> heights(NotchMeterModel::barCount);
                    for (int i = 0; i < heights.size(); ++i)
                        heights[i] = NotchMeterModel::swingHeight(i, frame * Film::period / Film::length);
                    const std::uint32_t pixmap = xcb_generate_id(connection_);
                    xcb_create_pixmap(connection_, drawn.depth, pixmap, drawn.window,
                                      static_cast<std::uint16_t>(film.size.width()),
                                      static_cast<std::uint16_t>(film.size.height()));
                    send(pixmap, paint(heights, look, ratio));
                    film.frames.push_back(pixmap);
                }
            }
            // The frame nearest in phase to the swing at `at`.
            const auto wallNow = std::chrono::system_clock::now();
            const auto frameAt = [&](Clock::time_point at) {
                const double seconds =
                    std::chrono::duration<double>((wallNow + (at - now)).time_since_epoch()).count() -
                    NotchMeterModel::referenceDate;
                const long index = std::lround(std::fmod(seconds, Film::period) / Film::period * Film::length);
                return film.frames[static_cast<std::size_t>(index % Film::length)];
            };
            if (!pacer && !pacerUnavailable) {
                xcb_flush(connection_);  // the window and frames exist before the other connection names them
                pacer = ServerPacer::connect(displayName_, drawn.window);
                pacerUnavailable = !pacer;
                queuedUntil = now;
            }
            if (stale || (!pacer && now >= nextStep)) {
                xcb_copy_area(connection_, frameAt(now), drawn.window, drawn.gc, 0, 0, 0, 0,
                              static_cast<std::uint16_t>(film.size.width()),
                              static_cast<std::uint16_t>(film.size.height()));
                nextStep = now + NotchMeterModel::interval;
                stale = false;
            }
            if (pacer && queuedUntil - now < lead) {
                for (auto at = std::max(queuedUntil, now) + NotchMeterModel::interval; at <= now + horizon;
                     at += NotchMeterModel::interval) {
                    pacer->queue(at, frameAt(at), film.size);
                    queuedUntil = at;
                }
                pacer->flush();
            }
            const auto wakeAt = pacer ? queuedUntil - lead : nextStep;
            timeout = static_cast<int>(
                std::max<long long>(std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now()).count(), 0));
        } else if (drawn.window != 0 && stale) {
            send(drawn.window, paint(look.heights, look, ratio));
            stale = false;
        }
        xcb_flush(connection_);

        pollfd fds[] = {{xcb_get_file_descriptor(connection_), POLLIN, 0},
                        {wakeFd_, POLLIN, 0},
                        {pacer ? pacer->descriptor() : -1, POLLIN, 0}};
        poll(fds, 3, timeout);
        if (pacer && fds[2].revents != 0) pacer->drain();
        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] const auto taken = read(wakeFd_, &count, sizeof count);
        }
        // Contents lost to the server come back at once; errors about a parent already gone
        // (the notch window closed first) are passed over. The socket is read only when it
        // has something, so that a step costs no more calls than it needs.
        const bool readable = fds[0].revents != 0;
        while (xcb_generic_event_t* event =
                   readable ? xcb_poll_for_event(connection_) : xcb_poll_for_queued_event(connection_)) {
            const std::uint8_t type = event->response_type & ~0x80;
            if (type == XCB_EXPOSE) stale = true;
            if (type == XCB_VISIBILITY_NOTIFY) {
                const bool was = std::exchange(
                    hidden, reinterpret_cast<xcb_visibility_notify_event_t*>(event)->state == XCB_VISIBILITY_FULLY_OBSCURED);
                stale = stale || was != hidden;
            }
            std::free(event);
        }
    }
    takeAway();
    xcb_flush(connection_);
}

}  // namespace velto

#include "ui/notch/X11MeterWindow.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/sync.h>
#include <xcb/xcb.h>

#include <QImage>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/Log.h"
#include "ui/notch/NotchMeterItem.h"
#include "ui/notch/NotchMeterModel.h"
#include "ui/notch/X11Stacking.h"

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
    // The server closed it: its descriptor stays readable, and nothing it holds will come.
    bool broken() const { return xcb_connection_has_error(connection_) != 0; }
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


// What the meter's thread keeps between its turns: the window it made on the server, the
// swing's frames there, and the steps queued ahead. Each turn brings the server up to what is
// wanted, then waits for the server, a wake-up or the next step.
class MeterWorker {
  public:
    struct Wanted {
        std::uint32_t parent = 0;
        QRect area;
        double ratio = 1;
        X11MeterWindow::Look look;
    };

    MeterWorker(xcb_connection_t* connection, const std::string& displayName, X11MeterWindow::Counts& counts)
        : connection_(connection), displayName_(displayName), counts_(counts) {}
    ~MeterWorker() {
        takeAway();
        xcb_flush(connection_);
    }

    // How long the next wait may last, in milliseconds (-1: until something comes).
    int turn(const Wanted& wanted);
    void wait(int wakeFd, int timeout);

  private:
    // Queued steps reach this far ahead, and more are queued when less than `lead` is left.
    static constexpr auto horizon = std::chrono::seconds(2);
    static constexpr auto lead = std::chrono::milliseconds(300);

    struct Drawn {
        std::uint32_t parent = 0;
        std::uint32_t window = 0;
        std::uint32_t gc = 0;
        std::uint8_t depth = 0;
        QRect area;
    };
    struct Film {
        std::vector<std::uint32_t> frames;
        QSize size;
        double ratio = 0;
        double opacity = 0;
        QColor backdrop;
    };

    void follow(const Wanted& wanted);
    void create(const Wanted& wanted);
    void judgeCover(const Wanted& wanted);
    bool coveredWhole();
    void shoot(const Wanted& wanted);
    int swing(const Wanted& wanted);
    std::uint32_t frameAt(Clock::time_point at) const;
    void copy(std::uint32_t frame);
    const QImage& paint(const QList<double>& heights, const X11MeterWindow::Look& look, double ratio);
    void send(std::uint32_t drawable, const QImage& picture);
    void dropFilm();
    void takeAway();
    // Whether any event came.
    bool readEvents(bool readable);

    xcb_connection_t* connection_;
    std::string displayName_;
    X11MeterWindow::Counts& counts_;
    std::optional<X11Stacking> stacking_;  // over the root whose children's changes are watched
    Drawn drawn_;
    Film film_;
    X11MeterWindow::Look shown_;
    std::unique_ptr<ServerPacer> pacer_;
    bool pacerUnavailable_ = false;
    Clock::time_point queuedUntil_{};
    Clock::time_point nextStep_{};
    bool stale_ = true;
    // Windows above hide the meter whole. The server tells no visibility to a window that
    // Composite redirects, as it does the notch's 32-bit one, so this is judged from the
    // stacking order and the frames of the windows above, again after a window that lies or lay
    // over the meter changed.
    bool hidden_ = false;
    bool coverStale_ = true;
    Drawn judged_;  // where the meter was when last judged
    // Changes of other windows are read at most once a step: one dragged about sends one for
    // each move, and none of them should cost a wake-up of their own.
    Clock::time_point eventsQuietUntil_{};
    QImage image_;
};

int MeterWorker::turn(const Wanted& wanted) {
    judgeCover(wanted);
    // Steps already queued would go on showing the old look or place, or where nobody sees
    // them: they go with the window.
    if (pacer_ && (wanted.parent != drawn_.parent || wanted.area != drawn_.area || wanted.look != shown_ ||
                   wanted.ratio != film_.ratio || hidden_)) {
        takeAway();
        pacer_.reset();
    }
    follow(wanted);
    judgeCover(wanted);
    stale_ = stale_ || wanted.look != shown_;
    shown_ = wanted.look;

    int timeout = -1;
    if (drawn_.window != 0 && wanted.look.swinging && !hidden_) {
        timeout = swing(wanted);
    } else {
        // Frames nobody sees are not kept on the server.
        if (hidden_) dropFilm();
        if (drawn_.window != 0 && stale_) {
            send(drawn_.window, paint(wanted.look.heights, wanted.look, wanted.ratio));
            stale_ = false;
        }
    }
    xcb_flush(connection_);
    return timeout;
}

void MeterWorker::follow(const Wanted& wanted) {
    if (wanted.parent != drawn_.parent) {
        takeAway();
        if (wanted.parent != 0) create(wanted);
    } else if (drawn_.window != 0 && wanted.area != drawn_.area) {
        const QRect& area = wanted.area;
        const std::uint32_t values[] = {static_cast<std::uint32_t>(area.x()), static_cast<std::uint32_t>(area.y()),
                                        static_cast<std::uint32_t>(area.width()),
                                        static_cast<std::uint32_t>(area.height())};
        xcb_configure_window(connection_, drawn_.window,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             values);
        drawn_.area = area;
        stale_ = true;
        coverStale_ = true;
    }
    if (wanted.look.backdrop != shown_.backdrop && drawn_.window != 0) {
        const std::uint32_t value = pixel(wanted.look.backdrop, drawn_.depth);
        xcb_change_window_attributes(connection_, drawn_.window, XCB_CW_BACK_PIXEL, &value);
    }
}

void MeterWorker::create(const Wanted& wanted) {
    // The parent's depth is the meter's, and so that of the images it is sent.
    auto* geometry = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, wanted.parent), nullptr);
    if (!geometry) return;
    if (!stacking_ || geometry->root != stacking_->root()) {
        stacking_.emplace(connection_, geometry->root);
        const std::uint32_t watch = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, geometry->root, XCB_CW_EVENT_MASK, &watch);
    }
    const QRect& area = wanted.area;
    drawn_.parent = wanted.parent;
    drawn_.depth = geometry->depth;
    std::free(geometry);
    drawn_.window = xcb_generate_id(connection_);
    // Uncovered parts show the backdrop until the bars come.
    const std::uint32_t values[] = {pixel(wanted.look.backdrop, drawn_.depth), XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, drawn_.window, wanted.parent,
                      static_cast<std::int16_t>(area.x()), static_cast<std::int16_t>(area.y()),
                      static_cast<std::uint16_t>(area.width()), static_cast<std::uint16_t>(area.height()), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                      values);
    drawn_.gc = xcb_generate_id(connection_);
    // No expose events for copies: a lost part comes back through the window's own.
    const std::uint32_t noExposures = 0;
    xcb_create_gc(connection_, drawn_.gc, drawn_.window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    xcb_map_window(connection_, drawn_.window);
    drawn_.area = area;
    stale_ = true;
    // The same place again (made anew to drop the steps queued for the old window) lies under
    // the same windows.
    coverStale_ = coverStale_ || wanted.parent != judged_.parent || area != judged_.area;
}

void MeterWorker::judgeCover(const Wanted& wanted) {
    // Only a swing is held: judged when it is due, on the window where it would be drawn.
    if (!coverStale_ || drawn_.window == 0 || !wanted.look.swinging) return;
    coverStale_ = false;
    judged_ = {drawn_.parent, 0, 0, 0, drawn_.area};
    const bool was = std::exchange(hidden_, coveredWhole());
    stale_ = stale_ || was != hidden_;
}

bool MeterWorker::coveredWhole() {
    ++counts_.judgements;
    const std::uint32_t top = stacking_->topLevel(drawn_.window);
    auto* at = xcb_translate_coordinates_reply(
        connection_, xcb_translate_coordinates(connection_, drawn_.window, stacking_->root(), 0, 0), nullptr);
    if (!at) return false;
    const QRect area(at->dst_x, at->dst_y, drawn_.area.width(), drawn_.area.height());
    std::free(at);
    stacking_->watch(area);
    const auto above = stacking_->above(top);
    if (!above) return false;
    QRegion open(area);
    for (const QRect& frame : stacking_->shownFrames(*above)) open -= frame;
    return open.isEmpty();
}

void MeterWorker::shoot(const Wanted& wanted) {
    const auto& look = wanted.look;
    if (!film_.frames.empty() && film_.size == drawn_.area.size() && film_.ratio == wanted.ratio &&
        film_.opacity == look.opacity && film_.backdrop == look.backdrop)
        return;
    dropFilm();
    film_ = {{}, drawn_.area.size(), wanted.ratio, look.opacity, look.backdrop};
    for (int frame = 0; frame < X11MeterWindow::filmLength; ++frame) {
        QList<double> heights(NotchMeterModel::barCount);
        for (int i = 0; i < heights.size(); ++i)
            heights[i] = NotchMeterModel::swingHeight(
                i, frame * X11MeterWindow::filmPeriod / X11MeterWindow::filmLength);
        const std::uint32_t pixmap = xcb_generate_id(connection_);
        xcb_create_pixmap(connection_, drawn_.depth, pixmap, drawn_.window,
                          static_cast<std::uint16_t>(film_.size.width()),
                          static_cast<std::uint16_t>(film_.size.height()));
        send(pixmap, paint(heights, look, wanted.ratio));
        film_.frames.push_back(pixmap);
    }
}

int MeterWorker::swing(const Wanted& wanted) {
    shoot(wanted);
    const auto now = Clock::now();
    if (!pacer_ && !pacerUnavailable_) {
        xcb_flush(connection_);  // the window and frames exist before the other connection names them
        pacer_ = ServerPacer::connect(displayName_, drawn_.window);
        pacerUnavailable_ = !pacer_;
        queuedUntil_ = now;
    }
    if (stale_ || (!pacer_ && now >= nextStep_)) {
        copy(frameAt(now));
        nextStep_ = now + NotchMeterModel::interval;
        stale_ = false;
    }
    if (pacer_ && queuedUntil_ - now < lead) {
        for (auto at = std::max(queuedUntil_, now) + NotchMeterModel::interval; at <= now + horizon;
             at += NotchMeterModel::interval) {
            pacer_->queue(at, frameAt(at), film_.size);
            queuedUntil_ = at;
        }
        pacer_->flush();
    }
    const auto wakeAt = pacer_ ? queuedUntil_ - lead : nextStep_;
    return static_cast<int>(
        std::max<long long>(std::chrono::ceil<std::chrono::milliseconds>(wakeAt - Clock::now()).count(), 0));
}

std::uint32_t MeterWorker::frameAt(Clock::time_point at) const {
    // By the steady clock, so that the wall clock's jumps (a machine that boots in 1970 and then
    // syncs) neither stop the swing nor make it skip.
    return film_.frames[static_cast<std::size_t>(
        X11MeterWindow::filmFrame(std::chrono::duration<double>(at.time_since_epoch()).count()))];
}

void MeterWorker::copy(std::uint32_t frame) {
    xcb_copy_area(connection_, frame, drawn_.window, drawn_.gc, 0, 0, 0, 0,
                  static_cast<std::uint16_t>(film_.size.width()), static_cast<std::uint16_t>(film_.size.height()));
}

const QImage& MeterWorker::paint(const QList<double>& heights, const X11MeterWindow::Look& look, double ratio) {
    if (image_.size() != drawn_.area.size()) image_ = QImage(drawn_.area.size(), QImage::Format_ARGB32_Premultiplied);
    image_.setDevicePixelRatio(ratio);
    image_.fill(look.backdrop.rgb());
    QPainter painter(&image_);
    NotchMeterItem::paintBars(painter, QSizeF(drawn_.area.size()) / ratio, heights, look.opacity);
    return image_;
}

void MeterWorker::send(std::uint32_t drawable, const QImage& picture) {
    xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, drawn_.gc,
                  static_cast<std::uint16_t>(picture.width()), static_cast<std::uint16_t>(picture.height()), 0, 0, 0,
                  drawn_.depth, static_cast<std::uint32_t>(picture.sizeInBytes()), picture.constBits());
}

void MeterWorker::dropFilm() {
    for (std::uint32_t pixmap : film_.frames) xcb_free_pixmap(connection_, pixmap);
    film_ = {};
}

void MeterWorker::takeAway() {
    if (drawn_.window == 0) return;
    dropFilm();
    xcb_free_gc(connection_, drawn_.gc);
    xcb_destroy_window(connection_, drawn_.window);
    drawn_ = {};
}

void MeterWorker::wait(int wakeFd, int timeout) {
    // Replies waited for in the turn may have brought events along, which no poll would tell.
    if (readEvents(false)) return;
    const auto now = Clock::now();
    const bool quiet = now < eventsQuietUntil_;
    if (quiet) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(eventsQuietUntil_ - now).count();
        timeout = timeout < 0 ? static_cast<int>(left) : std::min(timeout, static_cast<int>(left));
    }
    pollfd fds[] = {{quiet ? -1 : xcb_get_file_descriptor(connection_), POLLIN, 0},
                    {wakeFd, POLLIN, 0},
                    {pacer_ ? pacer_->descriptor() : -1, POLLIN, 0}};
    poll(fds, 3, timeout);
    if (pacer_ && fds[2].revents != 0) {
        pacer_->drain();
        if (pacer_->broken()) {
            // Stepped from here on, as where the server cannot hold steps.
            Log::error("notch", "the meter's stepping connection to the X server was closed");
            pacer_.reset();
            pacerUnavailable_ = true;
            nextStep_ = Clock::now();
        }
    }
    if (fds[1].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] const auto taken = read(wakeFd, &count, sizeof count);
    }
    if (fds[0].revents != 0 && readEvents(true)) eventsQuietUntil_ = Clock::now() + NotchMeterModel::interval;
}

bool MeterWorker::readEvents(bool readable) {
    // Contents lost to the server come back by the next step; errors about a parent already
    // gone (the notch window closed first) are passed over. The socket is read only when it has
    // something, so that a step costs no more calls than it needs.
    bool any = false;
    while (xcb_generic_event_t* event =
               readable ? xcb_poll_for_event(connection_) : xcb_poll_for_queued_event(connection_)) {
        any = true;
        const std::uint8_t type = event->response_type & ~0x80;
        if (type == XCB_EXPOSE) {
            stale_ = true;
        } else if (type != 0) {
            ++counts_.events;
            if (stacking_ && stacking_->concerns(event)) coverStale_ = true;
        }
        std::free(event);
    }
    return any;
}

}  // namespace

int X11MeterWindow::filmFrame(double seconds) {
    double phase = std::fmod(seconds, filmPeriod);
    if (phase < 0) phase += filmPeriod;
    return static_cast<int>(std::lround(phase / filmPeriod * filmLength) % filmLength);
}

int X11MeterWindow::eventDescriptor() {
    return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

std::unique_ptr<X11MeterWindow> X11MeterWindow::connect(const char* displayName, WakeDescriptorMaker makeWake) {
    // Without its wake-ups the thread would hear of no new look, nor that it should end.
    const int wakeFd = makeWake();
    if (wakeFd < 0) {
        Log::error("notch", "the meter is drawn in the notch window's scene: no descriptor to wake its thread");
        return nullptr;
    }
    xcb_connection_t* connection = xcb_connect(displayName, nullptr);
    if (xcb_connection_has_error(connection) || !takesImagesAsTheyAre(connection)) {
        xcb_disconnect(connection);
        close(wakeFd);
        Log::info("notch", "the meter is drawn in the notch window's scene: no suitable X display of its own");
        return nullptr;
    }
    return std::unique_ptr<X11MeterWindow>(
        new X11MeterWindow(connection, displayName ? displayName : "", wakeFd));
}

X11MeterWindow::X11MeterWindow(xcb_connection_t* connection, std::string displayName, int wakeFd)
    : connection_(connection), displayName_(std::move(displayName)), wakeFd_(wakeFd) {
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
    MeterWorker worker(connection_, displayName_, counts_);
    while (!stop.stop_requested() && !xcb_connection_has_error(connection_)) {
        MeterWorker::Wanted wanted;
        {
            std::lock_guard lock(mutex_);
            wanted = {area_.isEmpty() ? 0 : parent_, area_, ratio_, look_};
        }
        worker.wait(wakeFd_, worker.turn(wanted));
    }
}

}  // namespace velto

#include "ui/notch/X11MeterWindow.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/shape.h>
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
#include "ui/notch/X11SelectionOwner.h"
#include "ui/notch/X11Stacking.h"

namespace velto {

namespace {

// Images go to the server as they lie in memory, to windows as deep as the root: 32 bits a
// pixel, lowest byte first, 24 of them the colour.
bool takesImagesAsTheyAre(xcb_connection_t* connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
    for (auto it = xcb_setup_roots_iterator(setup); it.rem > 0; xcb_screen_next(&it))
        if (it.data->root_depth != 24) return false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it))
        if (it.data->depth == 24) return it.data->bits_per_pixel == 32;
    return false;
}

using Clock = std::chrono::steady_clock;

std::int64_t milliseconds(Clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

// Swing steps queued ahead on a connection of their own, each held back by the server until its
// time (the SYNC extension's Await on the server's SERVERTIME counter, in milliseconds of the
// same monotonic clock on a local server). A closed connection's held requests still run when
// their time comes: they are dropped by ending the graphics context they copy through, which
// the meter's own connection owns, so the pacer lives for one such context.
class ServerPacer {
  public:
    static std::unique_ptr<ServerPacer> connect(const std::string& displayName) {
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
        return pacer;
    }
    ~ServerPacer() { xcb_disconnect(connection_); }

    int descriptor() const { return xcb_get_file_descriptor(connection_); }
    // The server closed it: its descriptor stays readable, and nothing it holds will come.
    bool broken() const { return xcb_connection_has_error(connection_) != 0; }
    // Copies `frame` of `size` into `window` through `gc` at `at`.
    void queue(Clock::time_point at, std::uint32_t frame, std::uint32_t window, std::uint32_t gc, QSize size) {
        const std::int64_t due = milliseconds(at) + offset_;
        xcb_sync_waitcondition_t condition{};
        condition.trigger.counter = counter_;
        condition.trigger.wait_type = XCB_SYNC_VALUETYPE_ABSOLUTE;
        condition.trigger.wait_value = {static_cast<std::int32_t>(due >> 32), static_cast<std::uint32_t>(due)};
        condition.trigger.test_type = XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON;
        // Late by this much before the server tells: never, so that a step wakes nobody here.
        condition.event_threshold = {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::uint32_t>::max()};
        xcb_sync_await(connection_, 1, &condition);
        xcb_copy_area(connection_, frame, window, gc, 0, 0, 0, 0, static_cast<std::uint16_t>(size.width()),
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
};

// The backdrop as a pixel of the meter's window, as deep as the root.
std::uint32_t pixel(const QColor& colour) {
    return colour.rgb() & 0xffffff;
}

// What the meter's thread keeps between its turns: the window it made on the server, the
// swing's frames there, and the steps queued ahead. Each turn brings the server up to what is
// wanted, then waits for the server, a wake-up or the next step.
//
// The meter's window is a top-level one of the root's depth, laid over the notch and stacked
// just above it, rather than a window inside the notch's: the notch's has an alpha channel, and
// a server with the Composite extension composites such a window itself after every change of
// it or inside it, which cost Xvfb some 40 % more for each step. It takes no pointer input, so
// that the pointer's events go on to the notch beneath.
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
    // A wake-up here costs about what a step costs the server; the queue, 60 bytes a step,
    // stays far inside the socket's buffer.
    static constexpr auto horizon = std::chrono::seconds(10);
    static constexpr auto lead = std::chrono::milliseconds(300);
    // Frames stay on the server this long under a cover, so that a window passing over the
    // meter costs no new upload.
    static constexpr auto filmKept = std::chrono::seconds(3);
    // How late a window that comes over a seen meter may be noticed where a compositing manager
    // runs: every window's change is told then, and each read is a wake-up. While many changes
    // come, all far from the meter (a window dragged or animated elsewhere), the spell doubles
    // up to the queue's reach, so that such a window wakes the thread no more than its steps do.
    static constexpr auto coverLatency = std::chrono::seconds(1);
    static constexpr std::uint64_t manyChanges = 4;
    // Asked again after a failed answer (a window not made on the server yet), from this long.
    static constexpr auto firstRetry = std::chrono::milliseconds(50);
    static constexpr auto lastRetry = std::chrono::seconds(2);

    // The notch window the meter lies on, as the server last told of it.
    struct Notch {
        std::uint32_t window = 0;
        std::uint32_t top = 0;  // the root's child that holds it, over which the meter is stacked
        QPoint origin;          // of the notch window on the root
        QPoint inTop;           // of the notch window in `top`, inside its border
        bool shown = false;
        bool moved = false;
        bool known = false;  // the server answered about it
        Clock::time_point askAgainAt{};
        Clock::duration retry{};
    };
    struct Drawn {
        std::uint32_t parent = 0;
        std::uint32_t window = 0;
        std::uint32_t gc = 0;
        // The one queued steps copy through: ended, with the pacer, to drop them, while the
        // window and its frames stay.
        std::uint32_t stepsGc = 0;
        QRect area;
    };
    struct Film {
        std::vector<std::uint32_t> frames;
        QSize size;
        double ratio = 0;
        double opacity = 0;
        QColor backdrop;
    };

    void knowNotch(std::uint32_t window);
    void askAgainLater();
    void watchCompositor(std::uint32_t root, int screen);
    void followCompositor();
    void follow(const Wanted& wanted);
    void create(const Wanted& wanted);
    void lay(const QRect& area);
    void makeStepsGc();
    void dropSteps();
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
    void notchChanged(const xcb_generic_event_t* event);

    xcb_connection_t* connection_;
    std::string displayName_;
    X11MeterWindow::Counts& counts_;
    std::optional<X11Stacking> stacking_;  // over the notch's root
    std::optional<X11SelectionOwner> compositor_;  // of the notch's screen
    const xcb_screen_t* screen_ = nullptr;
    Notch notch_;
    Drawn drawn_;
    Film film_;
    X11MeterWindow::Look shown_;
    std::unique_ptr<ServerPacer> pacer_;
    bool pacerUnavailable_ = false;
    Clock::time_point queuedUntil_{};
    Clock::time_point nextStep_{};
    bool stale_ = true;
    // Windows above hide the meter whole. The server tells a window's visibility unless a
    // compositing manager redirects it; then this is judged from the stacking order and the
    // frames of the windows above, again after a window that lies or lay over the meter changed.
    bool hidden_ = false;
    bool judgedByStacking_ = false;
    bool coverStale_ = true;
    Drawn judged_;  // where the meter was when last judged or told
    // Changes of other windows are read in spells (see `wait`): one dragged about sends one for
    // each move, and none of them should cost a wake-up of their own.
    Clock::time_point eventsQuietUntil_{};
    Clock::duration quietSpell_ = coverLatency;
    std::optional<Clock::time_point> filmDropAt_;  // while hidden
    QImage image_;
};

namespace {

// Whether the two looks draw the same: a swing's own heights are not drawn.
bool drawAlike(const X11MeterWindow::Look& a, const X11MeterWindow::Look& b) {
    return a.swinging == b.swinging && a.opacity == b.opacity && a.backdrop == b.backdrop &&
           (a.swinging || a.heights == b.heights);
}

int millisecondsUntil(Clock::time_point at) {
    return static_cast<int>(
        std::max<long long>(std::chrono::ceil<std::chrono::milliseconds>(at - Clock::now()).count(), 0));
}

// The earlier of two waits, -1 standing for none.
int sooner(int a, int b) {
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}

}  // namespace

int MeterWorker::turn(const Wanted& asked) {
    knowNotch(asked.parent);
    // Nothing lies over a notch that is not shown.
    Wanted wanted = asked;
    if (!notch_.shown) wanted.parent = 0;
    judgeCover(wanted);
    // Steps already queued would go on at the old size, over a still picture or where nobody
    // sees them. A swing in new colours keeps them: its frames are painted over in place.
    const bool sameLook = drawAlike(wanted.look, shown_);
    if (pacer_ && (wanted.parent != drawn_.parent || wanted.area.size() != drawn_.area.size() ||
                   !wanted.look.swinging || hidden_))
        dropSteps();
    follow(wanted);
    judgeCover(wanted);
    stale_ = stale_ || !sameLook;
    shown_ = wanted.look;

    int timeout = -1;
    if (drawn_.window != 0 && wanted.look.swinging && !hidden_) {
        filmDropAt_.reset();
        timeout = swing(wanted);
    } else {
        // Frames nobody sees are not kept on the server past a brief cover.
        if (hidden_ && !film_.frames.empty()) {
            if (!filmDropAt_) filmDropAt_ = Clock::now() + filmKept;
            if (Clock::now() >= *filmDropAt_) {
                dropFilm();
                filmDropAt_.reset();
            } else {
                timeout = millisecondsUntil(*filmDropAt_);
            }
        }
        if (drawn_.window != 0 && stale_ && !hidden_) {
            send(drawn_.window, paint(wanted.look.heights, wanted.look, wanted.ratio));
            stale_ = false;
        }
    }
    if (notch_.window != 0 && !notch_.known) timeout = sooner(timeout, millisecondsUntil(notch_.askAgainAt));
    xcb_flush(connection_);
    return timeout;
}

void MeterWorker::knowNotch(std::uint32_t window) {
    if (window != notch_.window) {
        notch_ = {.window = window, .retry = firstRetry};
    } else if (notch_.known || Clock::now() < notch_.askAgainAt) {
        return;
    }
    if (window == 0) return;
    auto* geometry = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
    if (!geometry) return askAgainLater();
    const std::uint32_t root = geometry->root;
    std::free(geometry);
    int number = 0;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_)); it.rem > 0; xcb_screen_next(&it), ++number) {
        if (it.data->root == root) screen_ = it.data;
        if (it.data->root == root) break;
    }
    if (!stacking_ || stacking_->root() != root) {
        stacking_.emplace(connection_, root);
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        stacking_->passOver(setup->resource_id_base, setup->resource_id_mask);
        watchCompositor(root, number);
    }
    notch_.top = stacking_->topLevel(window);
    // Its moves, restacks, unmapping and end, told from before it is asked about, so that a
    // change between the question and the answer is not missed.
    const std::uint32_t watch = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, notch_.top, XCB_CW_EVENT_MASK, &watch);
    const auto attributesAsked = xcb_get_window_attributes(connection_, notch_.top);
    const auto topAsked = xcb_get_geometry(connection_, notch_.top);
    const auto placeAsked = xcb_translate_coordinates(connection_, window, root, 0, 0);
    auto* attributes = xcb_get_window_attributes_reply(connection_, attributesAsked, nullptr);
    auto* top = xcb_get_geometry_reply(connection_, topAsked, nullptr);
    auto* place = xcb_translate_coordinates_reply(connection_, placeAsked, nullptr);
    if (attributes && top && place) {
        notch_.shown = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
        notch_.origin = QPoint(place->dst_x, place->dst_y);
        notch_.inTop = notch_.origin - QPoint(top->x + top->border_width, top->y + top->border_width);
        notch_.moved = true;
        notch_.known = true;
    }
    std::free(attributes);
    std::free(top);
    std::free(place);
    if (!notch_.known) askAgainLater();
}

void MeterWorker::askAgainLater() {
    notch_.shown = false;
    notch_.askAgainAt = Clock::now() + notch_.retry;
    notch_.retry = std::min<Clock::duration>(notch_.retry * 2, lastRetry);
}

void MeterWorker::watchCompositor(std::uint32_t root, int screen) {
    compositor_.emplace(connection_, root, "_NET_WM_CM_S" + std::to_string(screen));
    followCompositor();
}

void MeterWorker::followCompositor() {
    // Other windows' changes matter only where the server tells no visibility.
    const bool was = std::exchange(judgedByStacking_, compositor_->owner() != XCB_NONE);
    const std::uint32_t watch = judgedByStacking_ ? XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY : 0;
    xcb_change_window_attributes(connection_, stacking_->root(), XCB_CW_EVENT_MASK, &watch);
    if (was == judgedByStacking_) return;
    // Judged anew the other way; the server tells the meter's visibility again once its
    // window is no longer redirected.
    coverStale_ = true;
    stale_ = stale_ || hidden_;
    hidden_ = false;
    eventsQuietUntil_ = {};
    quietSpell_ = coverLatency;
}

void MeterWorker::follow(const Wanted& wanted) {
    if (wanted.parent != drawn_.parent) {
        takeAway();
        if (wanted.parent != 0) create(wanted);
        return;
    }
    if (drawn_.window == 0) return;
    if (wanted.area != drawn_.area || notch_.moved) {
        lay(wanted.area);
        if (wanted.area.size() != drawn_.area.size()) {
            stale_ = true;
            dropSteps();
        }
        drawn_.area = wanted.area;
        coverStale_ = true;
    }
    if (wanted.look.backdrop != shown_.backdrop) {
        const std::uint32_t value = pixel(wanted.look.backdrop);
        xcb_change_window_attributes(connection_, drawn_.window, XCB_CW_BACK_PIXEL, &value);
    }
}

void MeterWorker::create(const Wanted& wanted) {
    if (!screen_ || notch_.top == 0) return;
    const QRect& area = wanted.area;
    drawn_.parent = wanted.parent;
    drawn_.window = xcb_generate_id(connection_);
    // Uncovered parts show the backdrop until the bars come.
    const std::uint32_t values[] = {pixel(wanted.look.backdrop), 1,
                                    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_VISIBILITY_CHANGE};
    xcb_create_window(connection_, screen_->root_depth, drawn_.window, screen_->root, 0, 0,
                      static_cast<std::uint16_t>(area.width()), static_cast<std::uint16_t>(area.height()), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_shape_rectangles(connection_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         drawn_.window, 0, 0, 0, nullptr);
    lay(area);
    drawn_.gc = xcb_generate_id(connection_);
    // No expose events for copies: a lost part comes back through the window's own.
    const std::uint32_t noExposures = 0;
    xcb_create_gc(connection_, drawn_.gc, drawn_.window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    drawn_.area = area;
    makeStepsGc();
    stale_ = true;
    xcb_map_window(connection_, drawn_.window);
    if (wanted.parent != judged_.parent || area != judged_.area) {
        coverStale_ = true;
        hidden_ = false;
        judged_ = {.parent = drawn_.parent, .area = area};
    }
}

void MeterWorker::makeStepsGc() {
    drawn_.stepsGc = xcb_generate_id(connection_);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(connection_, drawn_.stepsGc, drawn_.window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
}

void MeterWorker::dropSteps() {
    pacer_.reset();
    if (drawn_.stepsGc == 0) return;
    // What the closed connection still holds fails on the ended context, unseen.
    xcb_free_gc(connection_, drawn_.stepsGc);
    makeStepsGc();
}

void MeterWorker::lay(const QRect& area) {
    const QPoint at = notch_.origin + area.topLeft();
    const std::uint32_t values[] = {static_cast<std::uint32_t>(at.x()), static_cast<std::uint32_t>(at.y()),
                                    static_cast<std::uint32_t>(area.width()),
                                    static_cast<std::uint32_t>(area.height()), notch_.top, XCB_STACK_MODE_ABOVE};
    xcb_configure_window(connection_, drawn_.window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE,
                         values);
    notch_.moved = false;
}

void MeterWorker::judgeCover(const Wanted& wanted) {
    // Only a swing is held: judged when it is due, on the window where it would be drawn.
    if (!judgedByStacking_ || !coverStale_ || drawn_.window == 0 || !wanted.look.swinging) return;
    coverStale_ = false;
    judged_ = {.parent = drawn_.parent, .area = drawn_.area};
    const bool was = std::exchange(hidden_, coveredWhole());
    stale_ = stale_ || was != hidden_;
}

bool MeterWorker::coveredWhole() {
    const QRect area(notch_.origin + drawn_.area.topLeft(), drawn_.area.size());
    stacking_->watch(area);
    QRegion open(area);
    if (const auto above = stacking_->above(drawn_.window)) {
        for (const QRect& frame : stacking_->shownFrames(*above)) open -= frame;
    }
    // Counted once its answers are in, so that a change made after the count is seen after it.
    ++counts_.judgements;
    return open.isEmpty();
}

void MeterWorker::shoot(const Wanted& wanted) {
    const auto& look = wanted.look;
    const bool sameSize = !film_.frames.empty() && film_.size == drawn_.area.size();
    if (sameSize && film_.ratio == wanted.ratio && film_.opacity == look.opacity && film_.backdrop == look.backdrop)
        return;
    // In new colours the frames are painted over where they are, so that the steps queued
    // for them show the new look in their time.
    if (!sameSize) dropFilm();
    film_.size = drawn_.area.size();
    film_.ratio = wanted.ratio;
    film_.opacity = look.opacity;
    film_.backdrop = look.backdrop;
    for (int frame = 0; frame < X11MeterWindow::filmLength; ++frame) {
        QList<double> heights(NotchMeterModel::barCount);
        for (int i = 0; i < heights.size(); ++i)
            heights[i] = NotchMeterModel::swingHeight(
                i, frame * X11MeterWindow::filmPeriod / X11MeterWindow::filmLength);
        if (!sameSize) {
            const std::uint32_t pixmap = xcb_generate_id(connection_);
            xcb_create_pixmap(connection_, screen_->root_depth, pixmap, drawn_.window,
                              static_cast<std::uint16_t>(film_.size.width()),
                              static_cast<std::uint16_t>(film_.size.height()));
            film_.frames.push_back(pixmap);
        }
        send(film_.frames[std::size_t(frame)], paint(heights, look, wanted.ratio));
    }
}

int MeterWorker::swing(const Wanted& wanted) {
    shoot(wanted);
    const auto now = Clock::now();
    if (!pacer_ && !pacerUnavailable_) {
        xcb_flush(connection_);  // the context and frames exist before the other connection names them
        pacer_ = ServerPacer::connect(displayName_);
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
            pacer_->queue(at, frameAt(at), drawn_.window, drawn_.stepsGc, film_.size);
            queuedUntil_ = at;
        }
        pacer_->flush();
    }
    return millisecondsUntil(pacer_ ? queuedUntil_ - lead : nextStep_);
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
                  screen_->root_depth, static_cast<std::uint32_t>(picture.sizeInBytes()), picture.constBits());
}

void MeterWorker::dropFilm() {
    for (std::uint32_t pixmap : film_.frames) xcb_free_pixmap(connection_, pixmap);
    film_ = {};
}

void MeterWorker::takeAway() {
    pacer_.reset();
    filmDropAt_.reset();
    if (drawn_.window == 0) return;
    dropFilm();
    xcb_free_gc(connection_, drawn_.gc);
    xcb_free_gc(connection_, drawn_.stepsGc);
    xcb_destroy_window(connection_, drawn_.window);
    drawn_ = {};
}

void MeterWorker::wait(int wakeFd, int timeout) {
    // Replies waited for in the turn may have brought events along, which no poll would tell.
    if (readEvents(false)) return;
    const auto due = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
    pollfd fds[3];
    for (;;) {
        // The end of a quiet spell wakes nobody: the server is listened to again from there.
        const bool quiet = Clock::now() < eventsQuietUntil_;
        int left = timeout < 0 ? -1 : millisecondsUntil(due);
        if (quiet) left = sooner(left, millisecondsUntil(eventsQuietUntil_));
        fds[0] = {quiet ? -1 : xcb_get_file_descriptor(connection_), POLLIN, 0};
        fds[1] = {wakeFd, POLLIN, 0};
        fds[2] = {pacer_ ? pacer_->descriptor() : -1, POLLIN, 0};
        if (poll(fds, 3, left) != 0 || !quiet || (timeout >= 0 && Clock::now() >= due)) break;
    }
    // Awake in a quiet spell, what came meanwhile is read without a wake-up of its own.
    const bool unheard = fds[0].fd < 0;
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
    bool woken = false;
    if (fds[1].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] const auto taken = read(wakeFd, &count, sizeof count);
        woken = true;
    }
    // Awake anyway, what the server told so far is read too: the notch's moves come with the
    // places asked in it.
    const bool wasStale = coverStale_;
    const std::uint64_t eventsBefore = counts_.events;
    if ((fds[0].revents != 0 || woken || (unheard && judgedByStacking_)) && readEvents(true) && judgedByStacking_) {
        // Windows that change about a seen meter are read at most once a spell, and those about
        // a hidden one at most once a step, so that an uncovered meter swings at once.
        const bool busyFarAway = !(coverStale_ && !wasStale) && counts_.events - eventsBefore >= manyChanges;
        quietSpell_ = busyFarAway ? std::min<Clock::duration>(quietSpell_ * 2, horizon) : Clock::duration(coverLatency);
        eventsQuietUntil_ =
            Clock::now() + (hidden_ ? Clock::duration(NotchMeterModel::interval) : quietSpell_);
    }
}

bool MeterWorker::readEvents(bool readable) {
    // Contents lost to the server come back by the next step; errors about a window already
    // gone (the notch window closed first) are passed over. The socket is read only when it has
    // something, so that a step costs no more calls than it needs.
    bool any = false;
    while (xcb_generic_event_t* event =
               readable ? xcb_poll_for_event(connection_) : xcb_poll_for_queued_event(connection_)) {
        any = true;
        const std::uint8_t type = event->response_type & ~0x80;
        if (type == XCB_EXPOSE) {
            stale_ = true;
        } else if (type == XCB_VISIBILITY_NOTIFY) {
            const auto* told = reinterpret_cast<const xcb_visibility_notify_event_t*>(event);
            if (told->window == drawn_.window && !judgedByStacking_) {
                const bool was = std::exchange(hidden_, told->state == XCB_VISIBILITY_FULLY_OBSCURED);
                stale_ = stale_ || was != hidden_;
            }
        } else if (compositor_ && compositor_->take(event)) {
            followCompositor();
        } else if (type != 0) {
            ++counts_.events;
            notchChanged(event);
            if (judgedByStacking_ && stacking_ && stacking_->concerns(event)) coverStale_ = true;
        }
        std::free(event);
    }
    return any;
}

void MeterWorker::notchChanged(const xcb_generic_event_t* event) {
    if (notch_.top == 0) return;
    switch (event->response_type & ~0x80) {
    case XCB_CONFIGURE_NOTIFY: {
        const auto* changed = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        if (changed->window != notch_.top) return;
        notch_.origin = QPoint(changed->x + changed->border_width, changed->y + changed->border_width) + notch_.inTop;
        notch_.moved = true;
        return;
    }
    case XCB_MAP_NOTIFY:
        if (reinterpret_cast<const xcb_map_notify_event_t*>(event)->window == notch_.top) notch_.shown = true;
        return;
    case XCB_UNMAP_NOTIFY:
        if (reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window == notch_.top) notch_.shown = false;
        return;
    case XCB_DESTROY_NOTIFY:
        if (reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window == notch_.top) notch_.shown = false;
        return;
    case XCB_REPARENT_NOTIFY:
        // Taken into a window manager's frame (or out of it): what holds it is asked anew.
        if (reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->window == notch_.top) {
            notch_.known = false;
            notch_.askAgainAt = {};
        }
        return;
    default:
        return;
    }
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
        const int timeout = worker.turn(wanted);
        ++counts_.turns;
        worker.wait(wakeFd_, timeout);
    }
}

}  // namespace velto

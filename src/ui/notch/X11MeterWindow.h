#pragma once

#include <QColor>
#include <QList>
#include <QRect>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

struct xcb_connection_t;

namespace velto {

// The notch meter drawn in a small X window of its own over the notch window, by a thread of
// its own on a connection of its own, so that neither the main thread nor the notch window's
// scene wakes up for a swing step. Where the server can hold requests until a time, the steps
// are queued ahead and the thread wakes about once in ten seconds; while windows above hide the
// meter whole, it does not step at all. The window takes no pointer input, so the pointer's
// events go on to the notch window beneath.
class X11MeterWindow {
  public:
    struct Look {
        bool swinging = false;  // the bars follow the swing; otherwise they stand at `heights`
        QList<double> heights;
        double opacity = 0;
        QColor backdrop;
        bool operator==(const Look&) const = default;
    };

    // The swing repeats every π/5 s (each bar's |sin| has the period π in 5t): its frames are
    // drawn once into pixmaps on the server, and a step copies the one nearest in phase, 0.3 px
    // at most from the exact heights.
    static constexpr int filmLength = 64;
    static constexpr double filmPeriod = 3.14159265358979323846 / 5;
    // The frame nearest in phase to the swing `seconds` into any count, however far before
    // that count's start.
    static int filmFrame(double seconds);

    // Makes the descriptor that wakes the meter's thread: an eventfd, or -1 when none is left.
    using WakeDescriptorMaker = int (*)();
    static int eventDescriptor();

    // None when the display cannot be reached, its screens are not 24 bits deep in 32-bit
    // little-endian pixels, or no descriptor is left to wake the meter's thread.
    static std::unique_ptr<X11MeterWindow> connect(const char* displayName,
                                                   WakeDescriptorMaker makeWake = eventDescriptor);
    ~X11MeterWindow();
    X11MeterWindow(const X11MeterWindow&) = delete;
    X11MeterWindow& operator=(const X11MeterWindow&) = delete;

    // Over the X window `parent` at `area` (in its device pixels), drawn at `ratio`, while that
    // window is shown; a parent of 0 or an empty area takes it away.
    void place(std::uint32_t parent, QRect area, double ratio);
    void show(const Look& look);

    // What the thread has done so far: turns taken (the first, then one after each wake-up),
    // events of the server read, and judgements of whether windows above hide the meter whole.
    struct Counts {
        std::atomic<std::uint64_t> turns = 0;
        std::atomic<std::uint64_t> events = 0;
        std::atomic<std::uint64_t> judgements = 0;
    };
    const Counts& counts() const { return counts_; }

  private:
    X11MeterWindow(xcb_connection_t* connection, std::string displayName, int wakeFd);
    void wake();
    void run(std::stop_token stop);

    xcb_connection_t* connection_;
    std::string displayName_;
    int wakeFd_;
    std::mutex mutex_;
    std::uint32_t parent_ = 0;
    QRect area_;
    double ratio_ = 1;
    Look look_;
    Counts counts_;
    std::jthread worker_;
};

}  // namespace velto

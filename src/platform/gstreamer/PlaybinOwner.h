#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct _GstMessage;

namespace velto {

// A buffer that reached a playbin's audio sink, for measurements and tests.
struct PlaybinSinkBuffer {
    std::size_t frames = 0;
    double rate = 1.0;      // playback rate of the segment the buffer belongs to
    double peak = 0;        // largest sample magnitude, 0...1 (16-bit integer samples only)
    double streamTime = 0;  // position of the buffer's start in its item, seconds
    double runningEnd = 0;  // end of the buffer on the sink's running clock, seconds
    double arrivedAt = 0;   // the running clock when the buffer reached the sink, seconds
};

// What a playbin's own threads tell the player that owns it. Each call is made on one of those
// threads, with the playbin's context locked and only while the playbin is the owner's; the
// owner takes it up on its main queue, where what belongs to an `epoch` it has left is dropped.
class PlaybinOwner {
public:
    // The playbin has been brought to PAUSED by its worker.
    virtual void playbinStarted(std::uint64_t epoch) = 0;
    // `ofNextStream`: an error of the stream handed over, not of the current one. `seeksFlushed`:
    // the last seek whose flush had reached the sink when it was posted, as with each call below
    // that has it; the main thread may learn of it only after a later flush.
    virtual void playbinMessage(std::uint64_t epoch, _GstMessage* message, bool ofNextStream,
                                std::uint64_t seeksFlushed) = 0;
    // The stream handed over has its source: a state held back meanwhile can be set.
    virtual void nextSourceMade(std::uint64_t epoch) = 0;
    // The worker has set a state asked while it was at work.
    virtual void stateSetAfterWork(std::uint64_t epoch) = 0;
    // The sink has had all of the current stream.
    virtual void currentStreamDone(std::uint64_t epoch) = 0;
    // The current stream's data have been played out, at `end` on the running clock, before
    // the next stream's came.
    virtual void currentRanOut(std::uint64_t epoch, std::uint64_t end, std::uint64_t seeksFlushed) = 0;
    // The current stream's data have been played out, at `end` on the running clock, before
    // its end: its source holds them up.
    virtual void currentStalled(std::uint64_t epoch, std::uint64_t end) = 0;
    // Data reached the sink again after the current stream stalled.
    virtual void currentFlowsAgain(std::uint64_t epoch) = 0;
    // Data, a gap or the end reached the sink after the flush of the seek counted `flush`.
    virtual void seekLanded(std::uint64_t flush) = 0;
    // The playbin refused the seek counted `flush`.
    virtual void seekRefused(std::uint64_t epoch, std::uint64_t flush) = 0;
    // Runs `work` on the main queue while the owner exists.
    virtual void onMainQueue(std::function<void()> work) = 0;

protected:
    ~PlaybinOwner() = default;
};

}  // namespace velto

#include "foundation/SaveOnExit.h"

#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "foundation/Log.h"

namespace velto {

namespace {

struct Pending {
    std::mutex mutex;
    std::function<void()> save;
    std::thread::id owner;
};

// Never destroyed: the exit handlers run among the static destructors.
Pending& pending() {
    static auto* state = new Pending;
    return *state;
}

}  // namespace

SaveOnExit::SaveOnExit(std::function<void()> save) {
    // Registered once, and late: the handlers and static destructors run in the reverse order
    // of their making, so what was made before the first of these still stands when it runs.
    static const bool registered = [] {
        pending();
        return std::atexit(&SaveOnExit::runAtExit) == 0;
    }();
    if (!registered) Log::error("app", "no exit handler; an exit from the event loop saves nothing");
    std::lock_guard lock(pending().mutex);
    pending().save = std::move(save);
    pending().owner = std::this_thread::get_id();
}

SaveOnExit::~SaveOnExit() {
    std::lock_guard lock(pending().mutex);
    pending().save = nullptr;
}

void SaveOnExit::runAtExit() {
    std::function<void()> save;
    {
        std::lock_guard lock(pending().mutex);
        if (!pending().save) return;
        if (pending().owner != std::this_thread::get_id()) {
            Log::error("app", "exit called off the main thread; what a quit keeps is not saved");
            return;
        }
        save = std::exchange(pending().save, nullptr);
    }
    Log::info("app", "exit from the event loop: saving what a quit saves");
    try {
        save();
    } catch (const std::exception& error) {
        Log::error("app", std::string("saving at exit failed: ") + error.what());
    }
}

}  // namespace velto

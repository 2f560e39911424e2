#pragma once

#include <functional>

namespace velto {

// Some ends of the program call exit() from inside the event loop: Qt's X11 plugin does when
// the connection to the X server breaks (a logout on a desktop without a session manager, a
// crashed server). No destructor on the stack runs then, and what they keep on the way out
// would be lost. While one of these lives, such an exit runs `save` first, once, provided it
// comes on the thread that made it: from another thread it would race that thread's own work.
// `save` must not reach the display, which may be gone. One at a time per process.
class SaveOnExit {
public:
    explicit SaveOnExit(std::function<void()> save);
    ~SaveOnExit();
    SaveOnExit(const SaveOnExit&) = delete;
    SaveOnExit& operator=(const SaveOnExit&) = delete;

    // What the exit handlers run; public for a test, which cannot exit.
    static void runAtExit();
};

}  // namespace velto

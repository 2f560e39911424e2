#pragma once

#include <cstdint>

namespace velto {

// Threads started by the process so far by any means but GLib's thread pools (GStreamer's
// own tasks, which GLib keeps or ends by its own rules): std::thread, a library's, ... A test
// that counts them across some work sees threads no injected starter is told of.
std::uint64_t threadsStarted();

}  // namespace velto

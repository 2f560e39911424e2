#pragma once

namespace velto {

// Where the notch panel can live: only a display server that lets a program place its own
// windows and keep them above the others (X11, also through XWayland).
class NotchPlatform {
  public:
    // Before the application object exists: wherever an X display is reachable (XWayland too),
    // runs on X unless the user chose a platform.
    static void preferX11();
    // False (with one log line, once) where windows cannot be placed: the notch stays hidden.
    static bool canPlacePanel();
};

}  // namespace velto

#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <string>

namespace velto {

// Who owns one selection of an X screen (a tray host's or a compositing manager's), followed
// as owners come, go and come back, through the XFixes extension's selection events. Works on
// the connection it is given, from the thread that owns it; that thread hands it every event.
class X11SelectionOwner {
  public:
    // Follows `name` from now on where the server has XFixes; otherwise it is asked once.
    X11SelectionOwner(xcb_connection_t* connection, std::uint32_t root, const std::string& name);

    std::uint32_t owner() const { return owner_; }
    // Whether `event` told of this selection; the owner is then the one it names.
    bool take(const xcb_generic_event_t* event);
    // False where the server cannot tell of new owners.
    bool followed() const { return eventBase_ != 0; }

  private:
    std::uint32_t selection_ = 0;
    std::uint32_t owner_ = 0;
    std::uint8_t eventBase_ = 0;
};

}  // namespace velto

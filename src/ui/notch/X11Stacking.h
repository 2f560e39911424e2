#pragma once

#include <xcb/xcb.h>

#include <QRect>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace velto {

// How the top-level windows of an X screen lie over one area of its root: which are stacked above
// a given one and where they are, and whether a change the root's SubstructureNotify tells can
// alter that. Asks the server on the connection it is given, from the thread that owns it.
class X11Stacking {
  public:
    X11Stacking(xcb_connection_t* connection, std::uint32_t root) : connection_(connection), root_(root) {}

    std::uint32_t root() const { return root_; }
    // The root's child that holds `window`: a managed window lies in its window manager's frame,
    // and that is what is stacked.
    std::uint32_t topLevel(std::uint32_t window);
    // The root's children stacked above `top`, bottom first; none when `top` is not one of them.
    std::optional<std::vector<std::uint32_t>> above(std::uint32_t top);
    // The frames on the root, borders included, of those of `windows` that are shown and drawn.
    std::vector<QRect> shownFrames(const std::vector<std::uint32_t>& windows);
    // The highest of `windows` (bottom first) that is shown, drawn, placed by its program's
    // own wish rather than over every other (not override-redirect), not the caller's, and
    // meets `area`.
    std::optional<std::uint32_t> highestOver(const std::vector<std::uint32_t>& windows, QRect area);

    // Windows of the client with this resource base and mask (the caller's own) concern it not.
    void passOver(std::uint32_t base, std::uint32_t mask) { ownBase_ = base, ownMask_ = mask; }
    // From now on only changes that can touch `area` (on the root) concern the caller.
    void watch(QRect area) { area_ = area; }
    // Whether the change in `event`, told by the root's SubstructureNotify, can alter what lies
    // over the watched area: a window that meets it now or met it before was moved, restacked,
    // mapped, unmapped or ended. A window whose frame is not known is one that lay below when
    // last asked about, and mapping or ending it changes nothing above.
    bool concerns(const xcb_generic_event_t* event);

  private:
    // Each of `windows` whose frame the server gives: (window, frame on the root, shown and drawn,
    // override-redirect).
    using FrameVisitor = std::function<void(std::uint32_t, QRect, bool, bool)>;
    void eachFrame(const std::vector<std::uint32_t>& windows, const FrameVisitor& visit);
    bool meets(std::uint32_t window) const;
    void learn(std::uint32_t window, QRect frame) { frames_[window] = frame; }

    xcb_connection_t* connection_;
    std::uint32_t root_;
    std::uint32_t ownBase_ = 0, ownMask_ = 0;
    QRect area_;
    std::unordered_map<std::uint32_t, QRect> frames_;  // last known, of the root's children
};

}  // namespace velto

#include "ui/notch/X11Stacking.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace velto {

namespace {

QRect outer(std::int16_t x, std::int16_t y, std::uint16_t width, std::uint16_t height, std::uint16_t border) {
    return QRect(x, y, width + 2 * border, height + 2 * border);
}

}  // namespace

std::uint32_t X11Stacking::topLevel(std::uint32_t window) {
    for (int level = 0; level < 64; ++level) {
        auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
        const std::uint32_t parent = tree ? tree->parent : XCB_NONE;
        std::free(tree);
        if (parent == root_ || parent == XCB_NONE) break;
        window = parent;
    }
    return window;
}

std::optional<std::vector<std::uint32_t>> X11Stacking::above(std::uint32_t top) {
    auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
    if (!tree) return std::nullopt;
    const std::uint32_t* children = xcb_query_tree_children(tree);
    const std::uint32_t* end = children + xcb_query_tree_children_length(tree);
    const std::uint32_t* at = std::find(children, end, top);
    std::optional<std::vector<std::uint32_t>> found;
    if (at != end) found.emplace(at + 1, end);
    std::free(tree);
    return found;
}

void X11Stacking::eachFrame(const std::vector<std::uint32_t>& windows, const FrameVisitor& visit) {
    // All asked before any reply is read: one round trip, not one a window.
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> asked;
    asked.reserve(windows.size());
    for (std::uint32_t window : windows)
        asked.emplace_back(xcb_get_window_attributes(connection_, window), xcb_get_geometry(connection_, window));
    for (std::size_t i = 0; i < windows.size(); ++i) {
        auto* attributes = xcb_get_window_attributes_reply(connection_, asked[i].first, nullptr);
        auto* geometry = xcb_get_geometry_reply(connection_, asked[i].second, nullptr);
        if (geometry) {
            const QRect frame = outer(geometry->x, geometry->y, geometry->width, geometry->height,
                                      geometry->border_width);
            learn(windows[i], frame);
            const bool drawn = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
                               attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
            visit(windows[i], frame, drawn, attributes && attributes->override_redirect);
        }
        std::free(attributes);
        std::free(geometry);
    }
}

std::vector<QRect> X11Stacking::shownFrames(const std::vector<std::uint32_t>& windows) {
    std::vector<QRect> frames;
    eachFrame(windows, [&](std::uint32_t, QRect frame, bool drawn, bool) {
        if (drawn) frames.push_back(frame);
    });
    return frames;
}

std::optional<std::uint32_t> X11Stacking::highestOver(const std::vector<std::uint32_t>& windows, QRect area) {
    std::optional<std::uint32_t> found;
    eachFrame(windows, [&](std::uint32_t window, QRect frame, bool drawn, bool overAll) {
        const bool own = ownMask_ != 0 && (window & ~ownMask_) == ownBase_;
        if (drawn && !overAll && !own && frame.intersects(area)) found = window;
    });
    return found;
}

bool X11Stacking::meets(std::uint32_t window) const {
    const auto known = frames_.find(window);
    return known != frames_.end() && known->second.intersects(area_);
}

bool X11Stacking::concerns(const xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & ~0x80;
    if (type < XCB_CREATE_NOTIFY || type > XCB_CIRCULATE_NOTIFY) return false;
    // Every structure event names its window after the window told.
    std::uint32_t window;
    std::memcpy(&window, reinterpret_cast<const std::uint8_t*>(event) + 8, sizeof window);
    if (ownMask_ != 0 && (window & ~ownMask_) == ownBase_) return false;
    switch (type) {
    case XCB_CREATE_NOTIFY: {
        // Made on top, unmapped: it matters once it is mapped.
        const auto* made = reinterpret_cast<const xcb_create_notify_event_t*>(event);
        if (made->parent == root_)
            learn(made->window, outer(made->x, made->y, made->width, made->height, made->border_width));
        return false;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const auto* changed = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        if (changed->event != root_) return false;
        const bool before = meets(changed->window);
        learn(changed->window, outer(changed->x, changed->y, changed->width, changed->height, changed->border_width));
        return before || meets(changed->window);
    }
    case XCB_GRAVITY_NOTIFY: {
        const auto* moved = reinterpret_cast<const xcb_gravity_notify_event_t*>(event);
        if (moved->event != root_) return false;
        const bool before = meets(moved->window);
        if (auto known = frames_.find(moved->window); known != frames_.end()) known->second.moveTo(moved->x, moved->y);
        return before || meets(moved->window);
    }
    case XCB_MAP_NOTIFY: {
        const auto* mapped = reinterpret_cast<const xcb_map_notify_event_t*>(event);
        return mapped->event == root_ && meets(mapped->window);
    }
    case XCB_UNMAP_NOTIFY: {
        const auto* unmapped = reinterpret_cast<const xcb_unmap_notify_event_t*>(event);
        return unmapped->event == root_ && meets(unmapped->window);
    }
    case XCB_DESTROY_NOTIFY: {
        const auto* ended = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
        if (ended->event != root_) return false;
        const bool before = meets(ended->window);
        frames_.erase(ended->window);
        return before;
    }
    case XCB_CIRCULATE_NOTIFY: {
        const auto* circulated = reinterpret_cast<const xcb_circulate_notify_event_t*>(event);
        // One not known may have come from below to the top.
        return circulated->event == root_ && (meets(circulated->window) || !frames_.contains(circulated->window));
    }
    case XCB_REPARENT_NOTIFY: {
        const auto* moved = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
        if (moved->event != root_) return false;
        const bool before = meets(moved->window);
        if (moved->parent != root_) {
            frames_.erase(moved->window);
            return before;
        }
        // Put on top at a place told, of a size not told: it may lie anywhere until it is next
        // configured.
        learn(moved->window, QRect(INT_MIN / 4, INT_MIN / 4, INT_MAX / 2, INT_MAX / 2));
        return true;
    }
    default:
        return false;
    }
}

}  // namespace velto

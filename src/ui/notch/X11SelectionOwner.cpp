#include "ui/notch/X11SelectionOwner.h"

#include <xcb/xfixes.h>

#include <cstdlib>

namespace velto {

X11SelectionOwner::X11SelectionOwner(xcb_connection_t* connection, std::uint32_t root,
                                     const std::string& name) {
    auto* atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
        nullptr);
    selection_ = atom ? atom->atom : 0;
    std::free(atom);
    if (selection_ == 0) return;
    const auto* fixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (fixes && fixes->present) {
        auto* version = xcb_xfixes_query_version_reply(
            connection, xcb_xfixes_query_version(connection, 1, 0), nullptr);
        if (version && version->major_version >= 1) {
            eventBase_ = fixes->first_event;
            // Told before asked, so that an owner that comes between is not missed.
            xcb_xfixes_select_selection_input(
                connection, root, selection_,
                XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        }
        std::free(version);
    }
    auto* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection_), nullptr);
    owner_ = owner ? owner->owner : XCB_NONE;
    std::free(owner);
}

bool X11SelectionOwner::take(const xcb_generic_event_t* event) {
    if (eventBase_ == 0 ||
        (event->response_type & ~0x80) != eventBase_ + XCB_XFIXES_SELECTION_NOTIFY)
        return false;
    const auto* told = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (told->selection != selection_) return false;
    owner_ =
        told->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER ? told->owner : XCB_NONE;
    return true;
}

}  // namespace velto

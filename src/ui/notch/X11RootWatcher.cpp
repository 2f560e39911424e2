#include "ui/notch/X11RootWatcher.h"

#include <xcb/screensaver.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/Log.h"

namespace velto {

namespace {

constexpr auto logCategory = "notch";

// Buttons 4 to 7 are the wheel's steps, not presses.
bool isWheel(std::uint32_t button) {
    return button >= 4 && button <= 7;
}

}  // namespace

std::unique_ptr<X11RootWatcher> X11RootWatcher::connect(const char* displayName, QObject* parent) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(displayName, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        Log::info(logCategory, "no X display for the desktop watcher; outside presses and other programs go unseen");
        return nullptr;
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
    return std::unique_ptr<X11RootWatcher>(new X11RootWatcher(connection, it.data->root, screenNumber, parent));
}

X11RootWatcher::X11RootWatcher(xcb_connection_t* connection, std::uint32_t root, int screen, QObject* parent)
    : QObject(parent),
      connection_(connection),
      root_(root),
      stacking_(connection, root),
      windowManager_(connection, root, "WM_S" + std::to_string(screen)) {
    activeWindowAtom_ = atom("_NET_ACTIVE_WINDOW");
    pidAtom_ = atom("_NET_WM_PID");
    stateAtom_ = atom("_NET_WM_STATE");
    fullScreenAtom_ = atom("_NET_WM_STATE_FULLSCREEN");

    // The active window is named on the root. Other windows' moves are not watched (but while
    // the notch is kept above by hand): only the active window and the notch decide whether
    // the one hides the other.
    rootMask_ = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &rootMask_);

    const auto* extension = xcb_get_extension_data(connection_, &xcb_input_id);
    if (extension && extension->present) {
        // Raw events reach every client regardless of grabs only from 2.1 on.
        auto* version = xcb_input_xi_query_version_reply(
            connection_, xcb_input_xi_query_version(connection_, 2, 2), nullptr);
        if (version && (version->major_version > 2 || (version->major_version == 2 && version->minor_version >= 1))) {
            xinputOpcode_ = extension->major_opcode;
        }
        std::free(version);
    }
    if (xinputOpcode_ == 0) Log::info(logCategory, "the X server has no XInput 2.1; presses in other programs go unseen");

    const auto* saver = xcb_get_extension_data(connection_, &xcb_screensaver_id);
    if (saver && saver->present) {
        screenSaverEvent_ = saver->first_event + XCB_SCREENSAVER_NOTIFY;
        xcb_screensaver_select_input(connection_, root_, XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
        auto* info = xcb_screensaver_query_info_reply(connection_, xcb_screensaver_query_info(connection_, root_),
                                                      nullptr);
        screenSaverOn_ = info && info->state == XCB_SCREENSAVER_STATE_ON;
        std::free(info);
    }
    // Watches the active window's state from the start; nobody is told of this first one.
    activeWindow_ = activeWindow();
    activeFullScreen_ = fullScreen(activeWindow_);
    watchWindows();
    xcb_flush(connection_);

    notifier_ = new QSocketNotifier(xcb_get_file_descriptor(connection_), QSocketNotifier::Read, this);
    QObject::connect(notifier_, &QSocketNotifier::activated, this, &X11RootWatcher::readEvents);
}

X11RootWatcher::~X11RootWatcher() {
    delete notifier_;
    xcb_disconnect(connection_);
}

void X11RootWatcher::watchPresses(bool on) {
    if (xinputOpcode_ == 0) return;
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } mask{};
    mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    mask.head.mask_len = 1;
    mask.bits = on ? XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS : 0;
    xcb_input_xi_select_events(connection_, root_, 1, &mask.head);
    xcb_flush(connection_);
}

void X11RootWatcher::setNotchWindow(std::uint32_t window) {
    if (window == notch_) return;
    notch_ = window;
    // The notch's own windows and the others of its connection are not the ones to stay above.
    stacking_.passOver(window & ~xcb_get_setup(connection_)->resource_id_mask,
                       window == 0 ? 0 : xcb_get_setup(connection_)->resource_id_mask);
    watchWindows();
    followWindowManager();
    judgeFullScreen();
    // What its replies brought along, which the socket no longer tells, on a later turn.
    QMetaObject::invokeMethod(this, &X11RootWatcher::readEvents, Qt::QueuedConnection);
}

void X11RootWatcher::readEvents() {
    // A full-screen window dragged about sends many changes: they are judged once a round,
    // after the last.
    // The judging's replies may bring further events along, which the socket no longer tells.
    while (takeEvents()) {
        judgeFullScreen();
        if (keepsNotchAbove()) keepNotchAbove();
    }
    if (xcb_connection_has_error(connection_)) {
        Log::error(logCategory, "the desktop watcher lost its X connection");
        notifier_->setEnabled(false);
    }
}

bool X11RootWatcher::takeEvents() {
    // Replies read below may queue further events, so drain until none is left.
    bool windowsChanged = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const std::uint8_t type = event->response_type & ~0x80;
        if (type == XCB_GE_GENERIC) {
            const auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
            if (xinputOpcode_ != 0 && generic->extension == xinputOpcode_ &&
                generic->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
                const auto* press = reinterpret_cast<xcb_input_raw_button_press_event_t*>(event);
                if (!isWheel(press->detail) && handlers_.pressed) handlers_.pressed();
            }
        } else if (type == XCB_PROPERTY_NOTIFY) {
            const auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (change->window == root_ && change->atom == activeWindowAtom_) {
                activeWindowChanged();
            } else if (change->window == activeWindow_ && change->atom == stateAtom_) {
                activeFullScreen_ = fullScreen(activeWindow_);
                watchWindows();
                windowsChanged = true;
            }
        } else if (windowManager_.take(event)) {
            followWindowManager();
        } else if (keepsNotchAbove() && type >= XCB_CREATE_NOTIFY && type <= XCB_CIRCULATE_NOTIFY &&
                   reinterpret_cast<xcb_configure_notify_event_t*>(event)->event == root_) {
            // Told by the root while the notch is kept above by hand: the notch moved, or
            // another window came over it (or may have).
            const auto* changed = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if ((type == XCB_CONFIGURE_NOTIFY && changed->window == notch_) || stacking_.concerns(event))
                windowsChanged = true;
        } else if (type == XCB_CONFIGURE_NOTIFY || type == XCB_MAP_NOTIFY || type == XCB_UNMAP_NOTIFY ||
                   type == XCB_DESTROY_NOTIFY || type == XCB_REPARENT_NOTIFY || type == XCB_CIRCULATE_NOTIFY) {
            // Only the windows selected below tell these: the active one, its frame, the notch.
            // A window moved into another frame is stacked as that frame.
            if (type == XCB_REPARENT_NOTIFY) watchWindows();
            windowsChanged = true;
        } else if (screenSaverEvent_ != 0 && type == screenSaverEvent_) {
            const bool was = obscured();
            screenSaverOn_ = reinterpret_cast<xcb_screensaver_notify_event_t*>(event)->state ==
                             XCB_SCREENSAVER_STATE_ON;
            reportObscured(was);
        }
        std::free(event);
    }
    return windowsChanged;
}

void X11RootWatcher::activeWindowChanged() {
    const bool was = obscured();
    const std::uint32_t window = activeWindow();
    activeWindow_ = window;
    activeFullScreen_ = fullScreen(window);
    watchWindows();
    fullScreenActive_ = hidesNotch(window);
    reportObscured(was);
    if (handlers_.activeWindowChanged) handlers_.activeWindowChanged(window == 0 ? std::nullopt : process(window));
}

std::uint32_t X11RootWatcher::activeWindow() {
    auto* active = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, root_, activeWindowAtom_, XCB_ATOM_WINDOW, 0, 1), nullptr);
    std::uint32_t window = 0;
    if (active && xcb_get_property_value_length(active) >= 4) {
        std::memcpy(&window, xcb_get_property_value(active), 4);
    }
    std::free(active);
    return window;
}

bool X11RootWatcher::fullScreen(std::uint32_t window) {
    if (window == 0) return false;
    auto* state = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, stateAtom_, XCB_ATOM_ATOM, 0, 32), nullptr);
    bool found = false;
    if (state) {
        const auto* atoms = static_cast<const std::uint32_t*>(xcb_get_property_value(state));
        const int count = xcb_get_property_value_length(state) / 4;
        for (int i = 0; i < count && !found; ++i) found = atoms[i] == fullScreenAtom_;
    }
    std::free(state);
    return found;
}

void X11RootWatcher::judgeFullScreen() {
    const bool was = obscured();
    fullScreenActive_ = hidesNotch(activeWindow_);
    reportObscured(was);
}

void X11RootWatcher::watchWindows() {
    // The active window's state always; while it is full-screen over a shown notch also its
    // moves, restacks, unmapping and end (which leave the window manager's property naming it
    // on some desktops), and those of its frame and of the notch.
    std::map<std::uint32_t, std::uint32_t> wanted;
    if (activeWindow_ != 0) wanted[activeWindow_] = XCB_EVENT_MASK_PROPERTY_CHANGE;
    if (activeWindow_ != 0 && activeWindow_ != notch_ && activeFullScreen_ && notch_ != 0) {
        wanted[activeWindow_] |= XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        wanted[stacking_.topLevel(activeWindow_)] |= XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        wanted[notch_] |= XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    }
    wanted.erase(root_);  // named active by some window managers; keeps its own mask
    // Errors for a window already gone come back as events and are passed over.
    for (const auto& [window, mask] : selected_) {
        if (wanted.contains(window)) continue;
        const std::uint32_t none = 0;
        xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &none);
    }
    for (const auto& [window, mask] : wanted) {
        const auto was = selected_.find(window);
        if (was == selected_.end() || was->second != mask)
            xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
    }
    selected_ = std::move(wanted);
}

bool X11RootWatcher::hidesNotch(std::uint32_t window) {
    // An unmapped or destroyed window is full-screen no more, whatever its state still says.
    if (window == 0 || notch_ == 0 || window == notch_ || !activeFullScreen_) return false;
    ++judgements_;
    const auto frame = frameOnRoot(window);
    const auto notch = frameOnRoot(notch_);
    if (!frame || !notch || !frame->intersects(*notch)) return false;
    const auto above = stacking_.above(stacking_.topLevel(notch_));
    return above && std::find(above->begin(), above->end(), stacking_.topLevel(window)) != above->end();
}

std::optional<QRect> X11RootWatcher::frameOnRoot(std::uint32_t window) {
    const auto attributesAsked = xcb_get_window_attributes(connection_, window);
    const auto geometryAsked = xcb_get_geometry(connection_, window);
    const auto placeAsked = xcb_translate_coordinates(connection_, window, root_, 0, 0);
    auto* attributes = xcb_get_window_attributes_reply(connection_, attributesAsked, nullptr);
    auto* geometry = xcb_get_geometry_reply(connection_, geometryAsked, nullptr);
    auto* place = xcb_translate_coordinates_reply(connection_, placeAsked, nullptr);
    std::optional<QRect> frame;
    if (attributes && geometry && place && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
        frame = QRect(place->dst_x, place->dst_y, geometry->width, geometry->height);
    std::free(attributes);
    std::free(geometry);
    std::free(place);
    return frame;
}

std::optional<qint64> X11RootWatcher::process(std::uint32_t window) {
    for (const QWindow* own : QGuiApplication::allWindows()) {
        if (own->handle() && own->winId() == window) return QCoreApplication::applicationPid();
    }
    auto* pid = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    std::uint32_t process = 0;
    if (pid && xcb_get_property_value_length(pid) >= 4) std::memcpy(&process, xcb_get_property_value(pid), 4);
    std::free(pid);
    return static_cast<qint64>(process);
}

bool X11RootWatcher::keepsNotchAbove() const {
    return notch_ != 0 && windowManager_.owner() == XCB_NONE;
}

void X11RootWatcher::followWindowManager() {
    // The root's children are followed only while nobody else keeps the notch above: each of
    // their moves anywhere would wake this thread.
    const std::uint32_t wanted =
        XCB_EVENT_MASK_PROPERTY_CHANGE | (keepsNotchAbove() ? XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY : 0);
    if (wanted != rootMask_) {
        rootMask_ = wanted;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &rootMask_);
    }
    if (keepsNotchAbove()) keepNotchAbove();
    xcb_flush(connection_);
}

void X11RootWatcher::keepNotchAbove() {
    // With no window manager the notch is a child of the root. Windows that ask to be
    // left alone (menus, tooltips, other notches) stay where they are.
    const auto notch = frameOnRoot(notch_);
    if (!notch) return;
    stacking_.watch(*notch);
    const auto above = stacking_.above(notch_);
    if (!above) return;
    const auto over = stacking_.highestOver(*above, *notch);
    if (!over) return;
    const std::uint32_t values[] = {*over, XCB_STACK_MODE_ABOVE};
    xcb_configure_window(connection_, notch_, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
    xcb_flush(connection_);
}

void X11RootWatcher::reportObscured(bool wasObscured) {
    if (obscured() != wasObscured && handlers_.obscuredChanged) handlers_.obscuredChanged(obscured());
}

std::uint32_t X11RootWatcher::atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const std::uint32_t value = reply ? reply->atom : 0;
    std::free(reply);
    return value;
}

}  // namespace velto

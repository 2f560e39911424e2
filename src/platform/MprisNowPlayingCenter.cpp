#include "platform/MprisNowPlayingCenter.h"

#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "foundation/Log.h"

namespace velto {

namespace {

constexpr std::string_view logCategory = "NowPlaying";
constexpr const char* objectPath = "/org/mpris/MediaPlayer2";
constexpr const char* rootInterface = "org.mpris.MediaPlayer2";
constexpr const char* playerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* noTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
// A position that differs this much from where playback should be is a jump, not drift.
constexpr double seekThreshold = 1.0;

constexpr const char* introspection = R"(
<node>
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek"><arg direction="in" name="Offset" type="x"/></method>
    <method name="SetPosition">
      <arg direction="in" name="TrackId" type="o"/>
      <arg direction="in" name="Position" type="x"/>
    </method>
    <method name="OpenUri"><arg direction="in" name="Uri" type="s"/></method>
    <signal name="Seeked"><arg name="Position" type="x"/></signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="Rate" type="d" access="read"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Volume" type="d" access="readwrite"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
  </interface>
</node>
)";

gint64 toMicroseconds(double seconds) {
    double micro = seconds * 1e6;
    if (std::isnan(micro)) return 0;
    // llround is undefined outside the 64-bit range; 2^63 itself is already outside it.
    if (micro >= 0x1p63) return G_MAXINT64;
    if (micro <= -0x1p63) return G_MININT64;
    return static_cast<gint64>(std::llround(micro));
}

GVariant* stringArray(std::initializer_list<const char*> values) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (const char* value : values) g_variant_builder_add(&builder, "s", value);
    return g_variant_builder_end(&builder);
}

}  // namespace

struct MprisNowPlayingCenter::Bus {
    Bus(MainQueue& queue, std::string name) : mainQueue(queue), busName(std::move(name)) {}

    MainQueue& mainQueue;
    const std::string busName;

    // Main thread only.
    Handlers handlers;
    bool published = false;

    // Shared with the bus thread.
    std::mutex mutex;
    PlaybackState state = PlaybackState::stopped;
    std::optional<Info> info;
    double volume = 1.0;
    // On the main queue's clock, so tests can hold time still.
    MainQueue::Duration infoSetAt{};
    bool controllable = false;
    std::optional<double> pendingSeeked;
    bool flushScheduled = false;
    std::size_t flushRequests = 0;
    // What the bus last heard, to announce only changes.
    std::map<std::string, GVariant*> announced;

    // Bus thread.
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    GDBusConnection* connection = nullptr;
    std::thread thread;

    ~Bus() {
        for (auto& [name, value] : announced) g_variant_unref(value);
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }

    // Position now, from the last information and the time since (mutex held).
    double positionLocked() const {
        if (!info) return 0;
        double position = info->elapsed;
        if (state == PlaybackState::playing && !info->waiting) {
            position += std::chrono::duration<double>(mainQueue.uptime() - infoSetAt).count() *
                        std::max(info->rate, 0.0);
        }
        if (info->duration) position = std::min(position, *info->duration);
        return std::isnan(position) ? 0.0 : std::max(position, 0.0);
    }

    std::string trackPathLocked() const {
        return info ? trackObjectPath(info->trackId) : std::string(noTrack);
    }

    GVariant* metadataLocked() const {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&builder, "{sv}", "mpris:trackid",
                              g_variant_new_object_path(trackPathLocked().c_str()));
        if (info) {
            g_variant_builder_add(&builder, "{sv}", "xesam:title",
                                  g_variant_new_string(info->title.c_str()));
            GVariantBuilder artists;
            g_variant_builder_init(&artists, G_VARIANT_TYPE("as"));
            if (!info->artist.empty()) g_variant_builder_add(&artists, "s", info->artist.c_str());
            g_variant_builder_add(&builder, "{sv}", "xesam:artist",
                                  g_variant_builder_end(&artists));
            g_variant_builder_add(&builder, "{sv}", "xesam:album",
                                  g_variant_new_string(info->album.c_str()));
            if (info->duration) {
                g_variant_builder_add(&builder, "{sv}", "mpris:length",
                                      g_variant_new_int64(toMicroseconds(*info->duration)));
            }
            if (info->artUrl) {
                g_variant_builder_add(&builder, "{sv}", "mpris:artUrl",
                                      g_variant_new_string(info->artUrl->c_str()));
            }
        }
        return g_variant_builder_end(&builder);
    }

    GVariant* playerPropertyLocked(const char* name) const {
        std::string_view n = name;
        if (n == "PlaybackStatus") {
            const char* text = state == PlaybackState::playing  ? "Playing"
                               : state == PlaybackState::paused ? "Paused"
                                                                : "Stopped";
            return g_variant_new_string(text);
        }
        if (n == "Rate") return g_variant_new_double(info && info->rate > 0 ? info->rate : 1.0);
        if (n == "Metadata") return metadataLocked();
        if (n == "Volume") return g_variant_new_double(volume);
        if (n == "Position") return g_variant_new_int64(toMicroseconds(positionLocked()));
        // The engine's speeds run from half to double.
        if (n == "MinimumRate") return g_variant_new_double(0.5);
        if (n == "MaximumRate") return g_variant_new_double(2.0);
        if (n == "CanSeek") return g_variant_new_boolean(controllable && info && info->duration);
        if (n == "CanGoNext" || n == "CanGoPrevious" || n == "CanPlay" || n == "CanPause" ||
            n == "CanControl")
            return g_variant_new_boolean(controllable);
        return nullptr;
    }

    static GVariant* rootProperty(const char* name) {
        std::string_view n = name;
        if (n == "CanQuit" || n == "CanRaise" || n == "HasTrackList")
            return g_variant_new_boolean(FALSE);
        if (n == "Identity") return g_variant_new_string("Velto");
        if (n == "DesktopEntry") return g_variant_new_string("velto");
        if (n == "SupportedUriSchemes") return stringArray({"file", "http", "https"});
        if (n == "SupportedMimeTypes") {
            return stringArray({"audio/mpeg", "audio/flac", "audio/x-flac", "audio/mp4",
                                "audio/aac", "audio/ogg", "audio/wav", "audio/x-wav"});
        }
        return nullptr;
    }

    // Runs a handler on the main thread, if the center still exists then.
    void dispatch(std::function<void(Handlers&)> call) {
        std::weak_ptr<Bus> weak = self;
        mainQueue.post([weak, call = std::move(call)] {
            if (auto bus = weak.lock()) {
                // A handler may replace the handlers, its own closure included, as it runs.
                Handlers handlers = bus->handlers;
                call(handlers);
            }
        });
    }

    std::weak_ptr<Bus> self;

    // Any thread: announce what changed, from the bus thread.
    void scheduleFlush() {
        {
            std::lock_guard lock(mutex);
            ++flushRequests;
            if (flushScheduled) return;
            flushScheduled = true;
        }
        g_main_context_invoke(context, &Bus::flushCallback, this);
    }

    static gboolean flushCallback(gpointer data) {
        static_cast<Bus*>(data)->flush();
        return G_SOURCE_REMOVE;
    }

    void flush() {
        GVariantBuilder changed;
        g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
        bool any = false;
        std::optional<double> seeked;
        {
            std::lock_guard lock(mutex);
            flushScheduled = false;
            // Position is never announced: clients read it or follow Seeked.
            for (const char* name :
                 {"PlaybackStatus", "Metadata", "Rate", "Volume", "CanSeek", "CanGoNext",
                  "CanGoPrevious", "CanPlay", "CanPause", "CanControl"}) {
                GVariant* now = g_variant_ref_sink(playerPropertyLocked(name));
                GVariant*& last = announced[name];
                if (last && g_variant_equal(now, last)) {
                    g_variant_unref(now);
                    continue;
                }
                if (last) g_variant_unref(last);
                last = now;
                g_variant_builder_add(&changed, "{sv}", name, now);
                any = true;
            }
            seeked.swap(pendingSeeked);
        }
        GVariant* properties = g_variant_builder_end(&changed);
        if (!connection) {
            g_variant_unref(g_variant_ref_sink(properties));
            return;
        }
        if (any) {
            GVariantBuilder invalidated;
            g_variant_builder_init(&invalidated, G_VARIANT_TYPE("as"));
            g_dbus_connection_emit_signal(
                connection, nullptr, objectPath, "org.freedesktop.DBus.Properties",
                "PropertiesChanged",
                g_variant_new("(s@a{sv}as)", playerInterface, properties, &invalidated), nullptr);
        } else {
            g_variant_unref(g_variant_ref_sink(properties));
        }
        if (seeked) {
            g_dbus_connection_emit_signal(connection, nullptr, objectPath, playerInterface,
                                          "Seeked", g_variant_new("(x)", toMicroseconds(*seeked)),
                                          nullptr);
        }
    }

    static void onMethodCall(GDBusConnection*, const gchar*, const gchar*,
                             const gchar* interfaceName, const gchar* methodName,
                             GVariant* parameters, GDBusMethodInvocation* invocation,
                             gpointer data) {
        auto* bus = static_cast<Bus*>(data);
        std::string_view method = methodName;
        if (std::string_view(interfaceName) == rootInterface) {
            // Neither raising nor quitting is offered (CanRaise and CanQuit are false).
            g_dbus_method_invocation_return_value(invocation, nullptr);
            return;
        }
        auto simple = [&](std::function<void()> Handlers::*member) {
            bus->dispatch([member](Handlers& h) {
                if (h.*member) (h.*member)();
            });
        };
        if (method == "Play") {
            simple(&Handlers::play);
        } else if (method == "Pause" || method == "Stop") {
            simple(&Handlers::pause);
        } else if (method == "PlayPause") {
            simple(&Handlers::togglePlayPause);
        } else if (method == "Next") {
            simple(&Handlers::nextTrack);
        } else if (method == "Previous") {
            simple(&Handlers::previousTrack);
        } else if (method == "Seek") {
            gint64 offset = 0;
            g_variant_get(parameters, "(x)", &offset);
            double target;
            std::optional<double> length;
            {
                std::lock_guard lock(bus->mutex);
                target = bus->positionLocked() + static_cast<double>(offset) / 1e6;
                if (bus->info) length = bus->info->duration;
            }
            target = std::max(target, 0.0);
            if (!length) {
                // CanSeek is false without a song of known length: no effect.
            } else if (target > *length) {
                simple(&Handlers::nextTrack);  // past the end counts as the next song
            } else {
                bus->dispatch([target](Handlers& h) {
                    if (h.changePlaybackPosition) h.changePlaybackPosition(target);
                });
            }
        } else if (method == "SetPosition") {
            const gchar* track = nullptr;
            gint64 position = 0;
            g_variant_get(parameters, "(&ox)", &track, &position);
            bool accepted;
            {
                std::lock_guard lock(bus->mutex);
                double seconds = static_cast<double>(position) / 1e6;
                accepted = bus->info && bus->info->duration && bus->trackPathLocked() == track &&
                           seconds >= 0 && seconds <= *bus->info->duration;
            }
            // A stale track id, a position outside the song or a song without an end is ignored.
            if (accepted) {
                double seconds = static_cast<double>(position) / 1e6;
                bus->dispatch([seconds](Handlers& h) {
                    if (h.changePlaybackPosition) h.changePlaybackPosition(seconds);
                });
            }
        } else {
            g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR,
                                                  G_DBUS_ERROR_NOT_SUPPORTED, "%s is not offered",
                                                  methodName);
            return;
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }

    static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*,
                                   const gchar* interfaceName, const gchar* propertyName,
                                   GError** error, gpointer data) {
        auto* bus = static_cast<Bus*>(data);
        GVariant* value = nullptr;
        if (std::string_view(interfaceName) == rootInterface) {
            value = rootProperty(propertyName);
        } else {
            std::lock_guard lock(bus->mutex);
            value = bus->playerPropertyLocked(propertyName);
        }
        if (!value) {
            g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s",
                        propertyName);
        }
        return value;
    }

    // Only Volume can be written; the player decides what it takes and announces the result.
    static gboolean onSetProperty(GDBusConnection*, const gchar*, const gchar*,
                                  const gchar* interfaceName, const gchar* propertyName,
                                  GVariant* value, GError** error, gpointer data) {
        auto* bus = static_cast<Bus*>(data);
        if (std::string_view(interfaceName) != playerInterface ||
            std::string_view(propertyName) != "Volume") {
            g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_PROPERTY_READ_ONLY, "%s is read-only",
                        propertyName);
            return FALSE;
        }
        double volume = g_variant_get_double(value);
        bus->dispatch([volume](Handlers& h) {
            if (h.changeVolume) h.changeVolume(volume);
        });
        return TRUE;
    }

    void setPublished(bool value) {
        std::weak_ptr<Bus> weak = self;
        mainQueue.post([weak, value] {
            if (auto bus = weak.lock()) bus->published = value;
        });
    }

    static void onNameAcquired(GDBusConnection*, const gchar* name, gpointer data) {
        Log::info(logCategory, std::string("published as ") + name);
        static_cast<Bus*>(data)->setPublished(true);
    }

    static void onNameLost(GDBusConnection*, const gchar* name, gpointer data) {
        Log::error(logCategory, std::string("bus name unavailable: ") + name);
        static_cast<Bus*>(data)->setPublished(false);
    }

    static gboolean quitCallback(gpointer data) {
        g_main_loop_quit(static_cast<Bus*>(data)->loop);
        return G_SOURCE_REMOVE;
    }

    void run() {
        g_main_context_push_thread_default(context);
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (address) {
            auto flags =
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
            connection =
                g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, &error);
            g_free(address);
        }
        if (!connection) {
            Log::error(logCategory, std::string("no session bus, Now Playing is off: ") +
                                        (error ? error->message : "unknown"));
            g_clear_error(&error);
            g_main_context_pop_thread_default(context);
            return;
        }
        g_dbus_connection_set_exit_on_close(connection, FALSE);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, nullptr);
        static const GDBusInterfaceVTable vtable = {
            &Bus::onMethodCall, &Bus::onGetProperty, &Bus::onSetProperty, {}};
        guint rootId = g_dbus_connection_register_object(
            connection, objectPath, g_dbus_node_info_lookup_interface(node, rootInterface), &vtable,
            this, nullptr, nullptr);
        guint playerId = g_dbus_connection_register_object(
            connection, objectPath, g_dbus_node_info_lookup_interface(node, playerInterface),
            &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        guint ownerId =
            g_bus_own_name_on_connection(connection, busName.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                         &Bus::onNameAcquired, &Bus::onNameLost, this, nullptr);
        flush();
        g_main_loop_run(loop);
        g_bus_unown_name(ownerId);
        if (rootId) g_dbus_connection_unregister_object(connection, rootId);
        if (playerId) g_dbus_connection_unregister_object(connection, playerId);
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_clear_object(&connection);
        // Drop what is still queued on the context (flushes, the quit itself).
        while (g_main_context_iteration(context, FALSE)) {
        }
        g_main_context_pop_thread_default(context);
    }
};

MprisNowPlayingCenter::MprisNowPlayingCenter(MainQueue& mainQueue, std::string busName)
    : bus_(std::make_shared<Bus>(mainQueue, std::move(busName))) {
    bus_->self = bus_;
    bus_->thread = std::thread([bus = bus_.get()] { bus->run(); });
}

MprisNowPlayingCenter::~MprisNowPlayingCenter() {
    GSource* quit = g_idle_source_new();
    g_source_set_callback(quit, &Bus::quitCallback, bus_.get(), nullptr);
    g_source_attach(quit, bus_->context);
    g_source_unref(quit);
    bus_->thread.join();
}

void MprisNowPlayingCenter::setPlaybackState(PlaybackState state) {
    {
        std::lock_guard lock(bus_->mutex);
        // The service repeats its state with every position update; only a change is news.
        if (state == bus_->state) return;
        if (bus_->info) {
            // Keep the position continuous across the change of state.
            bus_->info->elapsed = bus_->positionLocked();
            bus_->infoSetAt = bus_->mainQueue.uptime();
        }
        bus_->state = state;
    }
    bus_->scheduleFlush();
}

void MprisNowPlayingCenter::setInfo(const Info& info) {
    {
        std::lock_guard lock(bus_->mutex);
        const auto& old = bus_->info;
        const bool seeked = old && old->trackId == info.trackId &&
                            std::abs(bus_->positionLocked() - info.elapsed) > seekThreshold;
        // Players that run their own clock from Position and Rate while Playing take it up again
        // where the sound begins; the status stays Playing through a wait, as the user asked.
        const bool soundBegins =
            old && old->trackId == info.trackId && old->waiting && !info.waiting;
        if (seeked || soundBegins) bus_->pendingSeeked = info.elapsed;
        // The position is never announced, so a song that merely played on changes nothing
        // the bus hears: the flush, and the wake-up of the bus thread, are spared.
        const bool same = old && !seeked && old->trackId == info.trackId &&
                          old->title == info.title && old->artist == info.artist &&
                          old->album == info.album && old->duration == info.duration &&
                          old->artUrl == info.artUrl && old->rate == info.rate &&
                          old->waiting == info.waiting;
        bus_->info = info;
        bus_->infoSetAt = bus_->mainQueue.uptime();
        if (same) return;
    }
    bus_->scheduleFlush();
}

void MprisNowPlayingCenter::clearInfo() {
    {
        std::lock_guard lock(bus_->mutex);
        bus_->info.reset();
    }
    bus_->scheduleFlush();
}

void MprisNowPlayingCenter::setVolume(double volume) {
    {
        std::lock_guard lock(bus_->mutex);
        bus_->volume = std::isfinite(volume) ? std::clamp(volume, 0.0, 1.0) : 1.0;
    }
    bus_->scheduleFlush();
}

void MprisNowPlayingCenter::setHandlers(Handlers handlers) {
    bool controllable = handlers.play || handlers.pause || handlers.togglePlayPause ||
                        handlers.nextTrack || handlers.previousTrack ||
                        handlers.changePlaybackPosition || handlers.changeVolume;
    bus_->handlers = std::move(handlers);
    {
        std::lock_guard lock(bus_->mutex);
        bus_->controllable = controllable;
    }
    bus_->scheduleFlush();
}

std::size_t MprisNowPlayingCenter::flushesScheduled() const {
    std::lock_guard lock(bus_->mutex);
    return bus_->flushRequests;
}

bool MprisNowPlayingCenter::published() const {
    return bus_->published;
}

std::string MprisNowPlayingCenter::trackObjectPath(const std::string& trackId) {
    // Object paths allow only [A-Za-z0-9_]; hex keeps every id distinct.
    static constexpr char digits[] = "0123456789abcdef";
    std::string path = "/org/mpris/MediaPlayer2/velto/track/t";
    for (unsigned char c : trackId) {
        path += digits[c >> 4];
        path += digits[c & 0xf];
    }
    return path;
}

}  // namespace velto

#include "support/MprisTestClient.h"

#include <gtest/gtest.h>

namespace velto {

MprisTestClient::MprisTestClient(std::string busName)
    : busName_(std::move(busName)),
      connection_(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {}

MprisTestClient::~MprisTestClient() {
    if (connection_) g_object_unref(connection_);
}

GVariant* MprisTestClient::call(const char* interface, const char* method, GVariant* args) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection_, busName_.c_str(), objectPath,
                                                  interface, method, args, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (error) {
        ADD_FAILURE() << method << ": " << error->message;
        g_error_free(error);
    }
    return reply;
}

std::string MprisTestClient::property(const char* interface, const char* name) {
    GVariant* reply =
        call("org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", interface, name));
    if (!reply) return {};
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    gchar* text = g_variant_print(value, FALSE);
    std::string result = text;
    g_free(text);
    g_variant_unref(value);
    g_variant_unref(reply);
    return result;
}

void MprisTestClient::setProperty(const char* name, GVariant* value) {
    GVariant* reply = call("org.freedesktop.DBus.Properties", "Set",
                           g_variant_new("(ssv)", playerInterface, name, value));
    if (reply) g_variant_unref(reply);
}

void MprisTestClient::invoke(const char* method, GVariant* args) {
    if (GVariant* reply = call(playerInterface, method, args)) g_variant_unref(reply);
}

}  // namespace velto

#include "ui/style/ReduceMotionSetting.h"

// GLib names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace velto {

namespace {
constexpr const char* schemaID = "org.gnome.desktop.interface";
constexpr const char* key = "enable-animations";
}  // namespace

ReduceMotionSetting::ReduceMotionSetting(QObject* parent) : QObject(parent) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        source ? g_settings_schema_source_lookup(source, schemaID, TRUE) : nullptr;
    if (!schema) return;
    const bool hasKey = g_settings_schema_has_key(schema, key);
    g_settings_schema_unref(schema);
    if (!hasKey) return;
    settings_ = g_settings_new(schemaID);
    reduceMotion_ = !g_settings_get_boolean(settings_, key);
    handler_ = g_signal_connect(settings_, "changed::enable-animations",
                                G_CALLBACK(&ReduceMotionSetting::changed), this);
}

ReduceMotionSetting::~ReduceMotionSetting() {
    if (!settings_) return;
    g_signal_handler_disconnect(settings_, handler_);
    g_object_unref(settings_);
}

void ReduceMotionSetting::changed(GSettings* settings, const char*, void* self) {
    static_cast<ReduceMotionSetting*>(self)->setReduceMotion(
        !g_settings_get_boolean(settings, key));
}

void ReduceMotionSetting::setReduceMotion(bool value) {
    if (value == reduceMotion_) return;
    reduceMotion_ = value;
    emit reduceMotionChanged();
}

}  // namespace velto

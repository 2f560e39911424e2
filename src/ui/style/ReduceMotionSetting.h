#pragma once

#include <QObject>

typedef struct _GSettings GSettings;

namespace velto {

// The desktop's wish for less motion: GNOME's "enable-animations" turned off. Where the schema
// is not installed animations run. Changes are announced while the GLib main loop runs (Qt's
// default event dispatcher on Linux).
class ReduceMotionSetting : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)
public:
    explicit ReduceMotionSetting(QObject* parent = nullptr);
    ~ReduceMotionSetting() override;

    bool reduceMotion() const { return reduceMotion_; }
    // For tests and for hosts without the desktop setting.
    void setReduceMotion(bool value);

signals:
    void reduceMotionChanged();

private:
    static void changed(GSettings* settings, const char* key, void* self);

    GSettings* settings_ = nullptr;
    unsigned long handler_ = 0;
    bool reduceMotion_ = false;
};

}  // namespace velto

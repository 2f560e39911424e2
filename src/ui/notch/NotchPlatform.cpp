#include "ui/notch/NotchPlatform.h"

#include <QGuiApplication>

#include "foundation/Log.h"

namespace velto {

void NotchPlatform::preferX11() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) return;
    // Wayland stays the fallback should the X server refuse us.
    qputenv("QT_QPA_PLATFORM", "xcb;wayland");
}

bool NotchPlatform::canPlacePanel() {
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return true;
    static bool logged = false;
    if (!logged) {
        logged = true;
        Log::info("notch", "Wayland without X: a program can neither place its windows nor keep them above "
                           "others, so the notch player is not shown");
    }
    return false;
}

}  // namespace velto

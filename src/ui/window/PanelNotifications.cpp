#include "ui/window/PanelNotifications.h"

namespace velto {

PanelNotifications& PanelNotifications::shared() {
    static PanelNotifications* instance = new PanelNotifications;  // lives to the process's end
    return *instance;
}

}  // namespace velto

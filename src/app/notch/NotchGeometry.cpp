#include "app/notch/NotchGeometry.h"

#include <algorithm>

namespace velto {

QRectF NotchGeometry::frame(bool expanded) const {
    const bool notch = hasNotch();

    double width = 0;
    if (expanded) {
        width = notch ? std::max(hardwareWidth + 100, 420.0) : 420;
    } else {
        width = notch ? hardwareWidth + 88 : 142 + 88;
    }
    width = std::max(std::min(width, screen.width() - 24), 0.0);

    const double heightLimit = screen.height() - 12;
    double height = 0;
    if (notch && safeTop >= 32) {
        height = expanded ? safeTop + 226 : safeTop;
    } else if (notch) {
        height = expanded ? 258 : 32;
    } else {
        height = expanded ? 262 : 36;
    }
    height = std::max(std::min(height, heightLimit), 0.0);

    const double topInset = notch ? 0 : 6;
    return {screen.center().x() - width * 0.5, screen.top() + topInset, width, height};
}

}  // namespace velto

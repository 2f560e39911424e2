#include "ui/style/AppFonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>

#include "foundation/Log.h"

namespace velto {

namespace {

// fonts-noto-cjk and fonts-material-design-icons-iconfont.
constexpr const char* fontFiles[] = {
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc",
    "/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf",
};

}  // namespace

bool AppFonts::familiesAvailable() {
    const auto families = QFontDatabase::families();
    return families.contains(textFamily()) && families.contains(iconFamily());
}

bool AppFonts::install() {
    static const bool loaded = [] {
        for (const char* file : fontFiles) {
            if (QFontDatabase::addApplicationFont(QString::fromUtf8(file)) < 0)
                Log::error("ui", std::string("font not loaded: ") + file);
        }
        return true;
    }();
    (void)loaded;
    QFont font(textFamily());
    font.setPixelSize(13);
    QGuiApplication::setFont(font);
    const bool available = familiesAvailable();
    if (!available) Log::error("ui", "Noto Sans CJK SC or Material Icons is missing");
    return available;
}

}  // namespace velto

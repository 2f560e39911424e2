#pragma once

#include <QString>

namespace velto {

// The program draws its text and symbols with fonts from known Debian packages, loaded from
// their installed paths so that what the user has configured cannot leave Chinese as boxes.
class AppFonts {
public:
    static QString textFamily() { return QStringLiteral("Noto Sans CJK SC"); }
    static QString iconFamily() { return QStringLiteral("Material Icons"); }

    // Loads both fonts (once) and makes the text font the application's font. Returns whether
    // both families are now available; a missing one is logged.
    static bool install();
    static bool familiesAvailable();
};

}  // namespace velto

#pragma once

#include <string>

namespace velto {

// The application's one colour scheme: fixed role colours as "#RRGGBB" text. Every view reads
// the default one; nothing derives roles from the seed.
struct M3Scheme {
    struct HexValues {
        std::string primary = "#FF3738";
        std::string onPrimary = "#FFFFFF";
        std::string primaryContainer = "#FFE3E3";
        std::string onPrimaryContainer = "#0C0C23";
        std::string secondary = "#FF3738";
        std::string secondaryContainer = "#FFE3E3";
        std::string onSecondaryContainer = "#0C0C23";
        std::string tertiaryContainer = "#FFE3E3";
        std::string onTertiaryContainer = "#0C0C23";
        std::string surface = "#F5F7FB";
        std::string surfaceContainerLowest = "#F5F7FB";
        std::string surfaceContainerLow = "#FFFFFF";
        std::string surfaceContainer = "#FFFFFF";
        std::string surfaceContainerHigh = "#F0F1F5";
        std::string surfaceContainerHighest = "#F0F1F5";
        std::string onSurface = "#0C0C23";
        std::string onSurfaceVariant = "#838190";
        std::string outline = "#B6B6C0";
        std::string outlineVariant = "#E8E8EE";
        std::string error = "#FF3738";
        std::string onError = "#FFFFFF";
        std::string appSurface = "#F5F7FB";
        std::string appInputFill = "#FFFFFF";
        std::string capsuleBackground = "#FFFFFF";

        // Field by field in declaration order; texts compare exactly (letter case counts).
        bool operator==(const HexValues&) const = default;
    };

    std::string seedHex = "#FF3738";
    bool isDark = false;
    HexValues hex;

    // The scheme every view sees, made afresh on each call.
    static M3Scheme defaultScheme() { return M3Scheme{}; }
};

}  // namespace velto

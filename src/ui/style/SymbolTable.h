#pragma once

#include <QObject>
#include <QString>
#include <optional>
#include <string_view>

namespace velto {

// The one map from the symbol names the views use to glyphs: Material Icons code points, and
// two circled digits that font lacks, drawn with the text font instead.
class SymbolTable : public QObject {
    Q_OBJECT
public:
    struct Glyph {
        char16_t codePoint;
        bool iconFont;  // false: a character of the text font
    };

    using QObject::QObject;

    static std::optional<Glyph> lookup(std::string_view name);

    // For views: the glyph's text, or an empty text and a warning for a name not in the table
    // (the view tests fail on any warning, so a misspelt name cannot go unnoticed).
    Q_INVOKABLE QString glyph(const QString& name) const;
    Q_INVOKABLE bool usesIconFont(const QString& name) const;
};

}  // namespace velto

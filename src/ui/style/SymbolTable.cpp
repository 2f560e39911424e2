#include "ui/style/SymbolTable.h"

#include <QtDebug>
#include <array>
#include <utility>

namespace velto {

namespace {

// Code points as in the icon font package's stylesheet.
constexpr std::array<std::pair<std::string_view, SymbolTable::Glyph>, 38> table{{
    {"waveform", {0xE1B8, true}},                // graphic_eq
    {"exclamationmark.circle", {0xE001, true}},  // error_outline
    {"exclamationmark.triangle", {0xE002, true}},  // warning
    {"heart", {0xE87E, true}},                   // favorite_border
    {"heart.fill", {0xE87D, true}},              // favorite
    {"play.fill", {0xE037, true}},               // play_arrow
    {"pause.fill", {0xE034, true}},              // pause
    {"backward.end.fill", {0xE045, true}},       // skip_previous
    {"forward.end.fill", {0xE044, true}},        // skip_next
    {"repeat", {0xE040, true}},
    {"repeat.1", {0xE041, true}},                // repeat_one
    {"shuffle", {0xE043, true}},
    {"arrow.right", {0xE5C8, true}},             // arrow_forward
    {"speaker.slash", {0xE04F, true}},           // volume_off
    {"speaker.wave.1", {0xE04D, true}},          // volume_down
    {"speaker.wave.2", {0xE050, true}},          // volume_up
    {"speaker.wave.3", {0xE050, true}},          // volume_up
    {"chevron.left", {0xE5CB, true}},
    {"chevron.right", {0xE5CC, true}},
    {"xmark", {0xE5CD, true}},                   // close
    {"xmark.circle.fill", {0xE5C9, true}},       // cancel
    {"link", {0xE157, true}},
    {"checkmark", {0xE5CA, true}},               // check
    {"checkmark.circle", {0xE92D, true}},        // check_circle_outline
    {"checkmark.circle.fill", {0xE86C, true}},   // check_circle
    {"music.note.list", {0xE03D, true}},         // queue_music
    {"quote.bubble", {0xEC0B, true}},            // lyrics
    {"magnifyingglass", {0xE8B6, true}},         // search
    {"macbook", {0xE320, true}},                 // laptop_mac
    {"slider.horizontal.3", {0xE429, true}},     // tune
    {"power", {0xE8AC, true}},                   // power_settings_new
    {"folder.badge.plus", {0xE2CC, true}},       // create_new_folder
    {"square.and.arrow.down", {0xE2C4, true}},   // file_download
    {"square.and.arrow.up", {0xE2C6, true}},     // file_upload
    {"pin", {0xF10D, true}},                     // push_pin, drawn fainter (no outline glyph)
    {"pin.fill", {0xF10D, true}},                // push_pin
    {"1.circle", {0x2460, false}},               // ①
    {"2.circle", {0x2461, false}},               // ②
}};

}  // namespace

std::optional<SymbolTable::Glyph> SymbolTable::lookup(std::string_view name) {
    for (const auto& [key, glyph] : table)
        if (key == name) return glyph;
    return std::nullopt;
}

QString SymbolTable::glyph(const QString& name) const {
    const QByteArray utf8 = name.toUtf8();
    auto found = lookup(std::string_view(utf8.constData(), size_t(utf8.size())));
    if (!found) {
        qWarning("unknown symbol name \"%s\"", utf8.constData());
        return {};
    }
    return QString(QChar(found->codePoint));
}

bool SymbolTable::usesIconFont(const QString& name) const {
    const QByteArray utf8 = name.toUtf8();
    auto found = lookup(std::string_view(utf8.constData(), size_t(utf8.size())));
    return !found || found->iconFont;
}

}  // namespace velto

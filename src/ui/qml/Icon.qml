import QtQuick
import Velto

// A symbol by its name, through the one symbol table.
Text {
    property string name
    property real size: Theme.body

    text: name.length > 0 ? Symbols.glyph(name) : ""
    textFormat: Text.PlainText
    font.family: Symbols.usesIconFont(name) ? Theme.iconFamily : Theme.fontFamily
    font.pixelSize: size
    color: Theme.primary
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    Accessible.ignored: true
}

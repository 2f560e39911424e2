import QtQuick
import QtQuick.Layouts
import Velto

// The import sheet's notice card: a symbol, a title and a message that wraps, never cut.
// Placed by hand: a wrapping text inside a layout inside a layout does not settle.
Rectangle {
    id: notice
    property string title
    property string message
    property string symbol
    // What the card lies on: the panel's import slot.
    property color ground: Theme.laid(Theme.quaternaryFill, Theme.window)

    Layout.fillWidth: true
    implicitHeight: Math.max(glyph.implicitHeight, texts.implicitHeight) + 28
    radius: 12
    color: Qt.rgba(Theme.primary.r, Theme.primary.g, Theme.primary.b, 0.07)
    Accessible.role: Accessible.StaticText
    Accessible.name: title + "，" + message

    Icon {
        id: glyph
        x: 14
        y: 14
        name: notice.symbol
        size: 16
        color: Theme.accentIconOn(Theme.laid(notice.color, notice.ground))
    }
    Column {
        id: texts
        x: glyph.x + glyph.width + 10
        y: 14
        width: notice.width - x - 14
        spacing: 5
        Text {
            width: parent.width
            text: notice.title
            textFormat: Text.PlainText
            font.family: Theme.fontFamily
            font.pixelSize: 14
            font.weight: Font.Medium
            color: Theme.primary
            Accessible.ignored: true
        }
        Text {
            width: parent.width
            text: notice.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.family: Theme.fontFamily
            font.pixelSize: 12
            color: Theme.secondary
            Accessible.ignored: true
        }
    }
}

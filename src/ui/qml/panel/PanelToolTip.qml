import QtQuick
import QtQuick.Controls
import Velto

// A help text shown as plain text: titles from the sources never render as markup.
ToolTip {
    id: tip
    delay: Theme.helpDelay
    contentItem: Text {
        text: tip.text
        textFormat: Text.PlainText
        font.family: Theme.fontFamily
        font.pixelSize: Theme.caption
        color: tip.palette.toolTipText
        wrapMode: Text.Wrap
    }
}

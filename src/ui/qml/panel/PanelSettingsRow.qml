import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// A whole-row button of the library card: symbol, title and subtitle, chevron.
AbstractButton {
    // Round the row in the card's spacing: its lines of text fill the button's height.
    FocusRing { inset: -4 }
    id: rowButton
    property string symbol
    property string title
    property string subtitle

    Layout.fillWidth: true
    Accessible.role: Accessible.Button
    Accessible.name: title
    Accessible.description: subtitle
    contentItem: RowLayout {
        spacing: 10
        opacity: rowButton.enabled ? 1 : 0.4
        Icon { Layout.preferredWidth: 18; name: rowButton.symbol; color: Theme.secondary }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3
            PanelText { text: rowButton.title; font.weight: Font.Medium }
            PanelText {
                Layout.fillWidth: true
                text: rowButton.subtitle
                size: Theme.caption2
                color: Theme.secondary
            }
        }
        Icon { name: "chevron.right"; size: Theme.caption; color: Theme.secondary }
    }
}

import QtQuick
import QtQuick.Layouts
import Velto
import ".."

// The current song's lyrics, or why there are none.
Item {
    id: section
    required property var panel

    objectName: "mac-panel-lyrics"

    Loader {
        anchors.fill: parent
        active: section.panel?.hasLyrics ?? false
        sourceComponent: MacPanelLyricsView { lyrics: section.panel.lyrics }
    }
    ColumnLayout {
        anchors.centerIn: parent
        visible: !(section.panel?.hasLyrics ?? false)
        spacing: 6
        PanelText {
            objectName: "mac-panel-lyrics-empty-title"
            Layout.alignment: Qt.AlignHCenter
            text: section.panel?.lyricsEmpty.title ?? ""
            color: Theme.secondary
        }
        PanelText {
            Layout.alignment: Qt.AlignHCenter
            text: section.panel?.lyricsEmpty.message ?? ""
            size: Theme.caption2
            color: Theme.tertiary
        }
    }
}

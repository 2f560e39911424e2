import QtQuick
import Velto

ListView {
    id: list
    required property MacTrackListModel tracks

    objectName: "trackScroll"
    model: tracks
    spacing: 2
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    keyNavigationEnabled: false
    delegate: MacCompactTrackRow {
        width: ListView.view.width
        listModel: list.tracks
    }
}

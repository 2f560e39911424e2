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
    // No current row: it would take the focus from the footer as the rows change.
    currentIndex: -1
    delegate: MacCompactTrackRow {
        width: ListView.view.width
        listModel: list.tracks
    }
}

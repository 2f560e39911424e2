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
    Keys.onPressed: event => event.accepted = rowKeys.take(event.key)
    FocusedRowKeys { id: rowKeys; view: list }
    delegate: MacCompactTrackRow {
        width: ListView.view.width
        listModel: list.tracks
    }
}

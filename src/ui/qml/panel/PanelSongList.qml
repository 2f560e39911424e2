import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// The song rows of the favourites or the song results, with their empty states.
Item {
    id: songs
    required property var panel
    readonly property int duration: Theme.reduceMotion ? 0 : 420

    objectName: "mac-panel-song-list"

    ListView {
        id: list
        objectName: "mac-panel-song-scroll"
        anchors.fill: parent
        model: songs.panel?.displayedTracks ?? null
        spacing: 2
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        keyNavigationEnabled: false
        // No current row: it would take the focus from the footer as the rows change.
        currentIndex: -1
        // Takes the focus from the rows when the last goes, and gives it to the first that comes.
        property Item emptyControl: importLocal
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AlwaysOff }
        delegate: PanelSongRow {
            width: ListView.view.width
            panel: songs.panel
        }
        add: Transition {
            NumberAnimation { property: "opacity"; from: 0; to: 1; duration: songs.duration; easing.type: Easing.InOutQuad }
        }
        remove: Transition {
            ParallelAnimation {
                NumberAnimation { property: "opacity"; to: 0; duration: songs.duration; easing.type: Easing.InOutQuad }
                NumberAnimation { property: "x"; to: list.width; duration: songs.duration; easing.type: Easing.InOutQuad }
            }
        }
        displaced: Transition {
            NumberAnimation { property: "y"; duration: songs.duration; easing.type: Easing.InOutQuad }
        }
    }

    PanelHint {
        anchors.centerIn: parent
        visible: songs.panel?.layout.overlay === "hint"
        title: songs.panel?.layout.hintTitle ?? ""
        message: songs.panel?.layout.hintMessage ?? ""
    }
    ColumnLayout {
        anchors.centerIn: parent
        visible: songs.panel?.layout.overlay === "favoritesEmpty"
        spacing: 8
        PanelText {
            Layout.alignment: Qt.AlignHCenter
            text: "歌单里还没有歌曲。"
            color: Theme.secondary
        }
        PanelButton {
            id: importLocal
            objectName: "mac-panel-import-local-empty"
            Layout.alignment: Qt.AlignHCenter
            highlighted: true
            symbol: "folder.badge.plus"
            text: "导入本地音乐"
            onClicked: songs.panel.model.importLocalMusic()
        }
    }
}

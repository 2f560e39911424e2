import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto

// The 260-point results box: the song list, the discovery, or a scope's results with its
// loading or empty state.
Item {
    id: results
    required property var panel
    readonly property string kind: panel?.layout.resultsKind ?? ""
    readonly property string overlay: panel?.layout.overlay ?? ""

    objectName: "mac-panel-results"

    PanelSongList {
        anchors.fill: parent
        visible: results.kind === "songs"
        panel: results.panel
    }
    Loader {
        anchors.fill: parent
        active: results.kind === "discovery"
        sourceComponent: PanelDiscovery { panel: results.panel }
    }
    Loader {
        anchors.fill: parent
        active: results.kind === "artists"
        sourceComponent: PanelArtistList { panel: results.panel }
    }
    Loader {
        anchors.fill: parent
        active: results.kind === "albums" || results.kind === "playlists"
        sourceComponent: PanelCardGrid { panel: results.panel; kind: results.kind }
    }
    // Every scope shows its search on its way alike.
    Row {
        objectName: "mac-panel-searching"
        anchors.centerIn: parent
        visible: results.overlay === "loading"
        spacing: 6
        BusyIndicator {
            anchors.verticalCenter: parent.verticalCenter
            implicitWidth: 20
            implicitHeight: 20
            running: parent.visible
        }
        PanelText {
            anchors.verticalCenter: parent.verticalCenter
            text: "正在搜索…"
            color: Theme.secondary
        }
    }
    PanelHint {
        objectName: "mac-panel-scope-hint"
        anchors.centerIn: parent
        visible: results.kind !== "songs" && results.overlay === "hint"
        title: results.panel?.layout.hintTitle ?? ""
        message: results.panel?.layout.hintMessage ?? ""
    }
}

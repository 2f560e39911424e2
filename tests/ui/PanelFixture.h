#pragma once

#include "ui/window/MacAppDelegate.h"

namespace velto {

// A stand-in for the status panel: its width, a field, `rows` songs, the model it was given, a
// count of the close notifications it saw, and whether a page is open with what the pages are made of.
inline PanelWindow::Root panelFixtureRoot(int rows = 12) {
    static const QByteArray source = R"(
import QtQuick
import QtQuick.Controls
import Velto
Rectangle {
    id: root
    property int rows: 12
    property int closes: 0
    property QtObject model: null
    property bool pageOpen: false
    property var pageParts: ({})
    implicitWidth: 380; implicitHeight: 520
    color: Theme.background
    Connections {
        target: panelNotifications
        function onVeltoStatusPanelDidClose() { root.closes += 1 }
    }
    TextField { objectName: "fixtureField"; x: 14; y: 14; width: 352; placeholderText: "搜索歌曲、歌手、专辑" }
    ListView {
        x: 14; y: 60; width: 352; height: 446; clip: true; model: root.rows
        delegate: Text {
            required property int index
            height: 28; color: Theme.secondary; font.pixelSize: Theme.body
            text: "第 " + (index + 1) + " 首 · 晚风写给旧站台"
        }
    }
})";
    return {QUrl(QStringLiteral("qrc:/velto/fixture/PanelFixture.qml")), source,
            {{QStringLiteral("rows"), rows}}};
}

// The delegate over the stand-in, without a model and without a tray (offscreen has none).
inline MacAppDelegate::Setup panelFixtureSetup(MainQueue& mainQueue, int rows = 12) {
    return {&mainQueue, {},
            [rows](MacAppModel*, MacStatusPanel*) { return panelFixtureRoot(rows); }, false};
}

}  // namespace velto

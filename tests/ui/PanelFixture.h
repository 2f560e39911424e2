#pragma once

#include <QByteArray>
#include <QUrl>

#include "ui/PanelWindow.h"

namespace velto {

// A stand-in for the status panel: its width, a field, a list of `rows`, and a count of the
// close notifications it saw.
inline PanelWindow::Root panelFixtureRoot(int rows = 12) {
    static const QByteArray source = R"(
import QtQuick
import QtQuick.Controls
import Velto

Rectangle {
    id: root
    property int rows: 12
    property int closes: 0
    implicitWidth: 380
    implicitHeight: 520
    radius: 12
    color: Theme.background
    border.color: Theme.separator
    Connections {
        target: panelNotifications
        function onVeltoStatusPanelDidClose() { root.closes += 1 }
    }
    Column {
        anchors.fill: parent
        anchors.margins: 14
        spacing: 10
        Text {
            text: "Velto"
            color: Theme.primary
            font.pixelSize: Theme.headline
            font.weight: Theme.semibold
        }
        TextField {
            objectName: "fixtureField"
            width: parent.width
            placeholderText: "搜索歌曲、歌手、专辑"
        }
        ListView {
            width: parent.width
            height: parent.height - y
            clip: true
            model: root.rows
            delegate: Text {
                required property int index
                height: 28
                text: "第 " + (index + 1) + " 首 · 晚风写给旧站台"
                color: Theme.secondary
                font.pixelSize: Theme.body
            }
        }
    }
}
)";
    return {QUrl(QStringLiteral("qrc:/velto/fixture/PanelFixture.qml")), source,
            {{QStringLiteral("rows"), rows}}};
}

}  // namespace velto

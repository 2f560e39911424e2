import QtQuick
import QtQuick.Layouts

// A page's content while it loads: a small busy indicator in the page's width.
Item {
    Layout.fillWidth: true
    Layout.minimumHeight: 120
    implicitHeight: 120

    SmallBusyIndicator {
        objectName: "catalogBusy"
        anchors.centerIn: parent
    }
}

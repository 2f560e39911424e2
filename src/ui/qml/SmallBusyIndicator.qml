import QtQuick
import Velto

// A small indeterminate progress mark: a ring of dots that turns while shown. Drawn with
// plain items, so the offscreen software renderer shows it from the first frame.
Item {
    id: busy
    property color color: Theme.secondary

    implicitWidth: 20
    implicitHeight: 20
    Accessible.role: Accessible.Indicator
    Accessible.name: "busy"

    Item {
        id: ring
        anchors.fill: parent
        Repeater {
            model: 8
            delegate: Rectangle {
                required property int index
                width: 3
                height: 3
                radius: 1.5
                color: busy.color
                opacity: (index + 1) / 8
                x: ring.width / 2 - 1.5 + Math.cos(index * Math.PI / 4) * (ring.width / 2 - 2)
                y: ring.height / 2 - 1.5 + Math.sin(index * Math.PI / 4) * (ring.height / 2 - 2)
            }
        }
        RotationAnimation on rotation {
            from: 0
            to: 360
            duration: 1000
            loops: Animation.Infinite
            running: busy.visible && !Theme.reduceMotion
        }
    }
}

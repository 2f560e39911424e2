import QtQuick
import Velto

// Four bars that swing while music plays; their heights, the pace and when they move are the
// model's. The meter tells the model whether it can be seen, so a hidden one costs nothing.
Item {
    id: meter
    required property NotchMeterModel model
    property bool playing
    property bool reduceMotion
    // The solid colour behind the meter, if there is one.
    property color backdrop: "transparent"

    objectName: "notchEqualizer"
    Accessible.role: Accessible.Indicator
    Accessible.name: model.accessibleName

    Binding { target: meter.model; property: "playing"; value: meter.playing }
    Binding { target: meter.model; property: "reduceMotion"; value: meter.reduceMotion }
    Binding {
        target: meter.model
        property: "shown"
        value: meter.visible && meter.Window.visibility !== Window.Hidden
    }

    NotchMeterBars {
        anchors.fill: parent
        model: meter.model
        backdrop: meter.backdrop
    }
}

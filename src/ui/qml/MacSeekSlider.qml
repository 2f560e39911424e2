import QtQuick
import QtQuick.Controls
import Velto

// Press begins a drag, release commits it and ends it, a keyboard step commits at once; the
// knob shows what the model holds.
Slider {
    id: slider
    required property MacSeekSliderModel seek
    signal editingChanged(bool editing)

    objectName: "seekSlider"
    implicitHeight: 18
    from: seek.minimum
    to: seek.maximum
    enabled: seek.enabled
    live: true
    Accessible.name: seek.title
    Accessible.onIncreaseAction: seek.accessibilityIncrement()
    Accessible.onDecreaseAction: seek.accessibilityDecrement()

    Component.onCompleted: value = seek.position
    onPressedChanged: pressed ? seek.beginTracking() : seek.endTracking(value)
    onMoved: pressed ? seek.dragTo(value) : seek.keyboardChange(value)

    Connections {
        target: slider.seek
        function onPositionChanged() { slider.value = slider.seek.position }
        function onEditingChanged(editing) { slider.editingChanged(editing) }
    }
}

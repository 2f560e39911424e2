import QtQuick
import QtQuick.Controls
import Velto

// Press begins a drag, release commits it and ends it, a keyboard step commits at once; the
// knob shows what the model holds.
Slider {
    FocusRing {}
    id: slider
    // Bound by the embedding view, which Qt 6.4 does after the first run of the bindings
    // below: they read it through ?. until then.
    required property MacSeekSliderModel seek
    signal editingChanged(bool editing)

    objectName: "seekSlider"
    implicitHeight: 18
    from: seek?.minimum ?? 0
    to: seek?.maximum ?? 1
    enabled: seek?.enabled ?? false
    live: true
    Accessible.name: seek?.title ?? ""
    Accessible.onIncreaseAction: seek.accessibilityIncrement()
    Accessible.onDecreaseAction: seek.accessibilityDecrement()

    // A value set from outside (assistive technology) comes without `moved`; keyboard steps
    // bring `moved` straight after the change, so the check waits for the change to settle.
    property bool syncing: false
    property bool outsideChange: false

    function show(position) {
        syncing = true
        value = position
        syncing = false
    }
    function takeOutsideChange() {
        if (!outsideChange)
            return
        outsideChange = false
        seek.setAccessibilityValue(value)
    }

    Component.onCompleted: show(seek?.position ?? 0)
    onValueChanged: {
        if (syncing || pressed)
            return
        outsideChange = true
        Qt.callLater(takeOutsideChange)
    }
    onPressedChanged: {
        if (pressed) {
            seek.beginTracking()
        } else {
            seek.endTracking(value)
            // A cancelled drag leaves the knob where playback is.
            show(seek.position)
        }
    }
    onMoved: {
        outsideChange = false
        pressed ? seek.dragTo(value) : seek.keyboardChange(value)
    }
    Keys.onPressed: event => {
        const to = SliderKeys.seekTarget(event.key, seek.position, seek.maximum)
        event.accepted = to !== undefined
        if (event.accepted)
            seek.keyboardChange(to)
    }

    Binding {
        target: slider.seek
        when: slider.seek !== null
        property: "shown"
        value: slider.visible && slider.Window.visibility !== Window.Hidden
    }
    Binding {
        target: slider.seek
        when: slider.seek !== null
        property: "pixels"
        value: slider.availableWidth - (slider.handle?.width ?? 0)
    }
    Connections {
        target: slider.seek
        function onPositionChanged() { slider.show(slider.seek.position) }
        function onEditingChanged(editing) { slider.editingChanged(editing) }
    }
}

import QtQuick
import Velto

// Four bars that swing while music plays, at most about seven times a second; still while
// paused or with reduced motion.
Item {
    id: meter
    property bool playing
    property bool reduceMotion
    readonly property bool animated: playing && !reduceMotion
    // Seconds since the first of January 2001, as the swing's phase.
    property real phase: 0

    objectName: "notchEqualizer"
    Accessible.role: Accessible.Indicator
    Accessible.name: playing ? "正在播放" : "已暂停"

    function tick() { phase = Date.now() / 1000 - 978307200 }

    Timer {
        objectName: "notchMeterTimer"
        interval: 140
        repeat: true
        running: meter.animated
        triggeredOnStart: true
        onTriggered: meter.tick()
    }
    Row {
        anchors.centerIn: parent
        spacing: 2
        Repeater {
            model: 4
            Rectangle {
                required property int index
                anchors.verticalCenter: parent.verticalCenter
                width: 3
                height: meter.animated ? Math.abs(Math.sin(index * 1.4 + meter.phase * 5)) * 12 + 5
                                       : (meter.playing ? 10 : 4)
                radius: 1.5
                color: "#32ade6"
                opacity: meter.playing ? 0.9 : 0.4
            }
        }
    }
}

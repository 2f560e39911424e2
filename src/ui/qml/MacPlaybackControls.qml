import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto

Rectangle {
    id: root
    // Bound by the embedding view, which Qt 6.4 does after the first run of the bindings
    // below: they read it through ?. until then.
    required property MacPlaybackControlsModel controls

    objectName: "playbackControls"
    implicitWidth: row.implicitWidth + 12
    implicitHeight: row.implicitHeight + 4
    radius: height / 2
    color: Theme.quaternaryFill
    Accessible.role: Accessible.Grouping
    Accessible.name: controls?.label ?? ""

    RowLayout {
        id: row
        anchors.centerIn: parent
        spacing: 6

        Row {
            spacing: 2
            ControlButton {
                objectName: "modeButton"
                symbol: root.controls?.modeSymbol ?? ""
                help: root.controls?.modeHelp ?? ""
                Accessible.name: root.controls?.modeButtonLabel ?? ""
                Accessible.description: root.controls?.modeName ?? ""
                onClicked: root.controls.cycleMode()
            }
            Row {
                spacing: 2
                enabled: root.controls?.transportEnabled ?? false
                ControlButton {
                    objectName: "previousButton"
                    symbol: root.controls?.previousSymbol ?? ""
                    help: root.controls?.previousLabel ?? ""
                    onClicked: root.controls.previous()
                }
                ControlButton {
                    objectName: "playButton"
                    symbol: root.controls?.playSymbol ?? ""
                    help: root.controls?.playLabel ?? ""
                    onClicked: root.controls.togglePlayback()
                }
                ControlButton {
                    objectName: "nextButton"
                    symbol: root.controls?.nextSymbol ?? ""
                    help: root.controls?.nextLabel ?? ""
                    onClicked: root.controls.next()
                }
            }
        }

        Rectangle {
            implicitWidth: 1
            implicitHeight: 12
            color: Theme.separator
            Accessible.ignored: true
        }

        Row {
            spacing: 4
            Icon {
                objectName: "speakerIcon"
                anchors.verticalCenter: parent.verticalCenter
                width: 12
                name: root.controls?.speakerSymbol ?? ""
                size: 10
                color: Theme.secondary
            }
            Slider {
                FocusRing {}
                id: volume
                objectName: "volumeSlider"
                anchors.verticalCenter: parent.verticalCenter
                width: 48
                from: 0
                to: 1
                hoverEnabled: true
                Accessible.name: root.controls?.volumeLabel ?? ""
                ToolTip.visible: hovered
                ToolTip.delay: Theme.helpDelay
                ToolTip.text: root.controls?.volumeHelp ?? ""
                Component.onCompleted: value = root.controls?.volume ?? 0
                onMoved: root.controls.setVolume(value)
                Keys.onPressed: event => {
                    const to = SliderKeys.volumeTarget(event.key, root.controls.volume)
                    event.accepted = to !== undefined
                    if (event.accepted)
                        root.controls.setVolume(to)
                }
                Connections {
                    target: root.controls
                    function onVolumeChanged() { volume.value = root.controls.volume }
                }
            }
        }
    }
}

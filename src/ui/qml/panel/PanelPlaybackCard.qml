import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// Preferred quality, playback rate and the sleep timer.
PanelCard {
    id: card
    required property var panel
    readonly property var settings: panel?.settings ?? ({})

    objectName: "mac-panel-playback-card"
    // The lines that come and go, each with the gap before it: those in, all of them, and those
    // the card's layout counted when it last laid out. A layout on a hidden page lays out nothing
    // till it is shown, so the card's height holds the lines of the last time it was.
    readonly property real rowsIn: (lastQuality.shown ? lastQuality.implicitHeight + spacing : 0)
                                   + (qualityNotice.shown ? qualityNotice.implicitHeight + spacing : 0)
    readonly property real allRows: lastQuality.implicitHeight + qualityNotice.implicitHeight + 2 * spacing
    property real rowsLaidOut: 0
    Component.onCompleted: rowsLaidOut = rowsIn
    onRowsInChanged: if (visible) rowsLaidOut = rowsIn
    onVisibleChanged: if (visible) rowsLaidOut = rowsIn
    // What the card's height lacks of its tallest.
    readonly property real awayRows: allRows - rowsLaidOut

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        ColumnLayout {
            spacing: 2
            PanelText { text: "音质"; font.weight: Font.Medium }
            PanelText { text: "从这一档开始，缺档自动降级"; size: Theme.caption2; color: Theme.secondary }
        }
        Item { Layout.fillWidth: true; Layout.minimumWidth: 8 }
        ComboBox {
            FocusRing { keyboardOnly: false }
            id: quality
            objectName: "mac-settings-quality"
            Layout.preferredWidth: 150
            // Its text clear of the ring.
            leftPadding: 4
            hoverEnabled: true
            popup.y: height
            // Popups take no palette or font from the box but the window's: the box hands on its own.
            popup.palette: palette
            popup.font: font
            model: card.panel?.qualityLabels ?? []
            currentIndex: card.settings.qualityIndex ?? 0
            font.family: Theme.fontFamily
            font.pixelSize: Theme.caption
            Accessible.name: "首选音质"
            // The service decides: the box shows the stored preference again after a pick.
            onActivated: index => {
                card.panel.applyQualityAt(index)
                currentIndex = Qt.binding(() => card.settings.qualityIndex ?? 0)
            }
        }
    }
    PanelText {
        id: lastQuality
        objectName: "mac-panel-last-quality"
        readonly property bool shown: text.length > 0
        visible: shown
        text: card.settings.lastActualLine ?? ""
        size: Theme.caption2
        color: Theme.secondary
    }
    PanelText {
        id: qualityNotice
        objectName: "mac-panel-quality-notice"
        readonly property bool shown: text.length > 0
        Layout.fillWidth: true
        visible: shown
        text: card.settings.qualityNotice ?? ""
        size: Theme.caption2
        color: Theme.secondary
        wrapMode: Text.Wrap
    }
    Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        PanelText { text: "播放速度"; font.weight: Font.Medium }
        Item { Layout.fillWidth: true; Layout.minimumWidth: 8 }
        ComboBox {
            FocusRing { keyboardOnly: false }
            objectName: "mac-settings-rate"
            Layout.preferredWidth: 80
            leftPadding: 4
            hoverEnabled: true
            // Below the box: over it, the first entry sat under the pointer that opened the
            // list and took the highlight from the current rate.
            popup.y: height
            popup.palette: palette
            popup.font: font
            model: card.panel?.rateLabels ?? []
            currentIndex: card.settings.rateIndex ?? -1
            // A stored rate that is no entry shows its own value.
            displayText: card.settings.rateLabel ?? ""
            font.family: Theme.fontFamily
            font.pixelSize: Theme.caption
            Accessible.name: "播放速度"
            onActivated: index => {
                card.panel.setRateAt(index)
                currentIndex = Qt.binding(() => card.settings.rateIndex ?? -1)
            }
        }
    }
    Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        PanelText { text: "定时关闭"; font.weight: Font.Medium }
        Item { Layout.fillWidth: true; Layout.minimumWidth: 8 }
        PanelButton {
            id: sleepButton
            objectName: "mac-settings-sleep-timer"
            flat: true
            text: card.settings.sleepTitle ?? ""
            onClicked: sleepMenu.open()
            Menu {
                id: sleepMenu
                objectName: "mac-settings-sleep-menu"
                palette: sleepButton.palette
                font: sleepButton.font
                // Right-aligned with the button, which ends at the panel's right margin.
                x: sleepButton.width - width
                y: sleepButton.height
                MenuItem {
                    text: "关闭定时"
                    onTriggered: card.panel.stopSleepTimer()
                }
                MenuSeparator {}
                Repeater {
                    model: card.panel?.sleepLabels ?? []
                    delegate: MenuItem {
                        required property string modelData
                        required property int index
                        text: modelData
                        onTriggered: card.panel.startSleepTimerAt(index)
                    }
                }
            }
        }
    }
}

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Shapes
import Velto

// The notch player: a black shape hanging from the top of the screen, a strip with cover,
// title and level meter that opens into a small player below it.
Item {
    id: root
    required property var player
    property bool reduceMotion: Theme.reduceMotion

    readonly property color cyan: "#32ade6"
    readonly property color indigo: "#5856d6"
    readonly property color orange: "#ff9500"

    objectName: "notchPlayer"
    Accessible.role: Accessible.Grouping
    Accessible.name: "Velto 刘海播放器"

    property real bottomRadius: player.bottomRadius
    Behavior on bottomRadius {
        enabled: !root.reduceMotion
        NumberAnimation { duration: 220; easing.type: Easing.OutCubic }
    }

    // Corners of their own radii: Qt 6.4 rectangles have one.
    Shape {
        id: background
        anchors.fill: parent
        readonly property color fillColour: "black"
        readonly property real topR: Math.min(root.player.topRadius, width / 2, height / 2)
        readonly property real bottomR: Math.min(root.bottomRadius, width / 2, height / 2)
        ShapePath {
            fillColor: background.fillColour
            strokeWidth: -1
            startX: background.topR; startY: 0
            PathLine { x: background.width - background.topR; y: 0 }
            PathArc { x: background.width; y: background.topR; radiusX: background.topR; radiusY: background.topR }
            PathLine { x: background.width; y: background.height - background.bottomR }
            PathArc {
                x: background.width - background.bottomR; y: background.height
                radiusX: background.bottomR; radiusY: background.bottomR
            }
            PathLine { x: background.bottomR; y: background.height }
            PathArc { x: 0; y: background.height - background.bottomR; radiusX: background.bottomR; radiusY: background.bottomR }
            PathLine { x: 0; y: background.topR }
            PathArc { x: background.topR; y: 0; radiusX: background.topR; radiusY: background.topR }
        }
    }

    HoverHandler {
        onHoveredChanged: root.player.hover(hovered)
    }

    component Cover: Item {
        id: cover
        property real radius
        Canvas {
            id: placeholder
            anchors.fill: parent
            visible: !root.player.hasCover
            onWidthChanged: requestPaint()
            onHeightChanged: requestPaint()
            onPaint: {
                const ctx = getContext("2d")
                ctx.reset()
                const gradient = ctx.createLinearGradient(0, 0, width, height)
                gradient.addColorStop(0, Qt.alpha(root.cyan, 0.6))
                gradient.addColorStop(1, Qt.alpha(root.indigo, 0.6))
                ctx.fillStyle = gradient
                ctx.beginPath()
                ctx.roundedRect(0, 0, width, height, cover.radius, cover.radius)
                ctx.fill()
            }
        }
        Icon {
            anchors.fill: parent
            anchors.margins: 7
            visible: !root.player.hasCover
            name: "waveform"
            size: Math.max(Math.min(width, height), 1)
            color: "white"
        }
        RoundedImage {
            anchors.fill: parent
            radius: cover.radius
            image: root.player.cover
            visible: root.player.hasCover
        }
    }

    component NotchButton: AbstractButton {
        FocusRing {}
        id: button
        property string symbol
        property real symbolSize: 15
        property string help
        property string label
        hoverEnabled: true
        implicitWidth: Math.max(24, symbolSize)
        implicitHeight: Math.max(24, symbolSize)
        Accessible.role: Accessible.Button
        Accessible.name: label
        ToolTip.visible: hovered && help.length > 0
        ToolTip.delay: Theme.helpDelay
        ToolTip.text: help
        contentItem: Icon {
            name: button.symbol
            size: button.symbolSize
            color: "white"
            opacity: button.enabled ? 1 : 0.35
        }
    }

    Column {
        anchors.fill: parent
        spacing: 0

        Item {
            id: header
            objectName: "notchHeader"
            width: parent.width
            height: root.player.headerHeight
            Accessible.role: Accessible.Button
            Accessible.name: root.player.headerActionName
            Accessible.onPressAction: root.player.headerTapped()

            TapHandler {
                onTapped: root.player.headerTapped()
            }
            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: root.player.headerPadding
                anchors.rightMargin: root.player.headerPadding
                spacing: 0
                Cover {
                    Layout.preferredWidth: 24
                    Layout.preferredHeight: 24
                    radius: 6
                }
                Item { Layout.fillWidth: true; Layout.minimumWidth: 8 }
                Item {
                    objectName: "notchHousing"
                    visible: root.player.hasNotch
                    Layout.preferredWidth: root.player.notchWidth
                    Layout.preferredHeight: 1
                }
                Text {
                    objectName: "notchHeaderText"
                    visible: !root.player.hasNotch
                    Layout.maximumWidth: header.width - 24 - 24 - 24 - 16
                    text: root.player.headerText
                    textFormat: Text.PlainText
                    maximumLineCount: 1
                    wrapMode: Text.NoWrap
                    elide: Text.ElideRight
                    font.family: Theme.fontFamily
                    font.pixelSize: 10
                    font.weight: Theme.semibold
                    font.letterSpacing: root.player.headerTracking
                    color: Qt.alpha("white", 0.65)
                }
                Item { Layout.fillWidth: true; Layout.minimumWidth: 8 }
                NotchEqualizer {
                    model: root.player.meter
                    Layout.preferredWidth: 24
                    Layout.preferredHeight: 20
                    playing: root.player.playing
                    reduceMotion: root.reduceMotion
                    backdrop: background.fillColour
                }
            }
        }

        Item {
            objectName: "notchExpanded"
            visible: root.player.expanded
            width: parent.width
            height: root.player.blockHeight

            ColumnLayout {
                anchors.fill: parent
                anchors.leftMargin: root.player.blockSidePadding
                anchors.rightMargin: root.player.blockSidePadding
                anchors.topMargin: root.player.blockTopPadding
                anchors.bottomMargin: root.player.blockBottomPadding
                spacing: 14

                RowLayout {
                    spacing: 14
                    Layout.fillWidth: true
                    Cover {
                        Layout.preferredWidth: 62
                        Layout.preferredHeight: 62
                        radius: 14
                    }
                    ColumnLayout {
                        spacing: 5
                        Layout.fillWidth: true
                        Text {
                            objectName: "notchTitle"
                            Layout.fillWidth: true
                            text: root.player.title
                            textFormat: Text.PlainText
                            maximumLineCount: 1
                            wrapMode: Text.NoWrap
                            elide: Text.ElideRight
                            font.family: Theme.fontFamily
                            font.pixelSize: 16
                            font.weight: Theme.semibold
                            color: "white"
                        }
                        Text {
                            objectName: "notchArtist"
                            Layout.fillWidth: true
                            text: root.player.artist
                            textFormat: Text.PlainText
                            maximumLineCount: 1
                            wrapMode: Text.NoWrap
                            elide: Text.ElideRight
                            font.family: Theme.fontFamily
                            font.pixelSize: 12
                            color: Qt.alpha("white", 0.55)
                        }
                    }
                    NotchButton {
                        objectName: "notchPin"
                        symbol: root.player.pinSymbol
                        help: root.player.pinHelp
                        label: root.player.pinLabel
                        // The font has no outlined pin: unpinned is the same glyph, fainter.
                        opacity: root.player.pinned ? 1 : 0.5
                        onClicked: root.player.togglePin()
                    }
                }

                ColumnLayout {
                    spacing: 2
                    Layout.fillWidth: true
                    MacSeekSlider {
                        Layout.fillWidth: true
                        seek: root.player.seek
                        onEditingChanged: editing => root.player.sliderEditingChanged(editing)
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        Text {
                            objectName: "notchElapsed"
                            text: root.player.elapsedText
                            font.family: Theme.fontFamily
                            font.pixelSize: 10
                            color: Qt.alpha("white", 0.45)
                        }
                        Item { Layout.fillWidth: true }
                        Text {
                            objectName: "notchDuration"
                            text: root.player.durationText
                            font.family: Theme.fontFamily
                            font.pixelSize: 10
                            color: Qt.alpha("white", 0.45)
                        }
                    }
                }

                RowLayout {
                    spacing: 28
                    Layout.fillWidth: true
                    NotchButton {
                        objectName: "notchFavorite"
                        symbol: root.player.favoriteSymbol
                        help: root.player.favoriteHelp
                        label: root.player.favoriteLabel
                        enabled: root.player.favoriteEnabled
                        onClicked: root.player.toggleFavorite()
                    }
                    Item { Layout.fillWidth: true }
                    NotchButton {
                        objectName: "notchPrevious"
                        symbol: "backward.end.fill"
                        label: "上一首"
                        enabled: root.player.hasTrack
                        onClicked: root.player.previous()
                    }
                    Item {
                        implicitWidth: 24
                        implicitHeight: 24
                        // In the notch's own light foreground: the style's dark one vanishes on black.
                        SmallBusyIndicator {
                            objectName: "notchLoading"
                            anchors.fill: parent
                            visible: root.player.loading
                            color: "white"
                        }
                        NotchButton {
                            objectName: "notchPlay"
                            anchors.fill: parent
                            visible: !root.player.loading
                            symbol: root.player.playSymbol
                            symbolSize: 24
                            label: root.player.playLabel
                            enabled: root.player.hasTrack
                            onClicked: root.player.togglePlayback()
                        }
                    }
                    NotchButton {
                        objectName: "notchNext"
                        symbol: "forward.end.fill"
                        label: "下一首"
                        enabled: root.player.hasTrack
                        onClicked: root.player.next()
                    }
                    Item { Layout.fillWidth: true }
                    NotchButton {
                        objectName: "notchOpenPanel"
                        symbol: "music.note.list"
                        help: "打开选歌面板"
                        label: "打开 Velto 状态栏面板"
                        onClicked: root.player.openPanel()
                    }
                }

                Item {
                    Layout.fillWidth: true
                    Layout.fillHeight: true

                    AbstractButton {
                        FocusRing {}
                        objectName: "notchRetry"
                        visible: root.player.footer === "retry"
                        anchors.horizontalCenter: parent.horizontalCenter
                        Accessible.role: Accessible.Button
                        Accessible.name: text
                        text: "暂时无法播放 · 点此重试"
                        contentItem: Text {
                            text: parent.text
                            font.family: Theme.fontFamily
                            font.pixelSize: 11
                            color: root.orange
                        }
                        onClicked: root.player.retry()
                    }
                    Text {
                        objectName: "notchLyric"
                        visible: root.player.footer === "lyric"
                        width: parent.width
                        horizontalAlignment: Text.AlignHCenter
                        text: root.player.lyricLine
                        textFormat: Text.PlainText
                        maximumLineCount: 1
                        wrapMode: Text.NoWrap
                        elide: Text.ElideRight
                        font.family: Theme.fontFamily
                        font.pixelSize: 11
                        color: Qt.alpha("white", 0.55)
                    }
                    RowLayout {
                        objectName: "notchVolume"
                        visible: root.player.footer === "volume"
                        width: parent.width
                        spacing: 8
                        Icon { name: "speaker.wave.1"; size: 9; color: "white"; opacity: 0.4 }
                        Slider {
                            FocusRing {}
                            objectName: "notchVolumeSlider"
                            Layout.fillWidth: true
                            implicitHeight: 14
                            from: 0
                            to: 1
                            value: root.player.volume
                            opacity: 0.4
                            Accessible.name: "刘海音量"
                            onMoved: root.player.setVolume(value)
                            Keys.onPressed: event => {
                                const to = SliderKeys.volumeTarget(event.key, root.player.volume)
                                event.accepted = to !== undefined
                                if (event.accepted)
                                    root.player.setVolume(to)
                            }
                            onPressedChanged: root.player.sliderEditingChanged(pressed)
                        }
                        Icon { name: "speaker.wave.3"; size: 9; color: "white"; opacity: 0.4 }
                    }
                }
            }
        }
    }
}

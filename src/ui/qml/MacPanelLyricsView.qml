import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto

ColumnLayout {
    id: root
    // Bound by the embedding view, which Qt 6.4 does after the first run of the bindings
    // below: they read it through ?. until then.
    required property MacLyricsModel lyrics

    objectName: "lyricsView"
    spacing: 6
    Component.onCompleted: root.lyrics?.viewAppeared()

    // The desktop's reduce-motion wish decides how the model's scroll requests move the list.
    Binding {
        target: root.lyrics
        property: "reduceMotion"
        value: Theme.reduceMotion
        when: root.lyrics !== null
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 8
        Text {
            objectName: "lyricsLineCount"
            text: root.lyrics?.lineCountText ?? ""
            textFormat: Text.PlainText
            font.family: Theme.fontFamily
            font.pixelSize: Theme.caption2
            color: Theme.secondary
        }
        Item { Layout.fillWidth: true }
        Switch {
            FocusRing {}
            objectName: "lyricsFollowSwitch"
            padding: 0
            checked: root.lyrics?.follows ?? true
            onToggled: root.lyrics.follows = checked
            hoverEnabled: true
            ToolTip.visible: hovered
            ToolTip.delay: Theme.helpDelay
            ToolTip.text: root.lyrics?.followHelp ?? ""
            Accessible.name: root.lyrics?.followHelp ?? ""
        }
    }

    ListView {
        id: list
        objectName: "lyricsList"
        Layout.fillWidth: true
        Layout.fillHeight: true
        clip: true
        model: root.lyrics
        // With each line's padding, 12 between the texts.
        spacing: 4
        topMargin: 4
        bottomMargin: 4
        boundsBehavior: Flickable.StopAtBounds
        keyNavigationEnabled: false

        delegate: AbstractButton {
            FocusRing {}
            id: line
            required property int index
            required property string lineText
            required property string translation
            required property bool hasTranslation
            required property string tooltip
            required property bool isCurrent

            objectName: "lyricsLine" + index
            width: ListView.view.width
            // The ring goes round both lines, in the padding.
            padding: 4
            hoverEnabled: true
            Accessible.name: lineText
            ToolTip.visible: hovered
            ToolTip.delay: Theme.helpDelay
            ToolTip.text: tooltip
            onClicked: root.lyrics.seekTo(index)

            // Its height is known as the row is made: a Column would give it only once it
            // laid out later, after the list had placed the row by its padding alone.
            contentItem: Item {
                implicitHeight: line.hasTranslation ? translationText.y + translationText.height
                                                    : lineLabel.height
                Text {
                    id: lineLabel
                    width: parent.width
                    text: line.lineText
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    font.family: Theme.fontFamily
                    font.pixelSize: 14
                    font.weight: line.isCurrent ? Theme.semibold : Font.Normal
                    color: line.isCurrent ? Theme.primary : Theme.secondary
                }
                Text {
                    id: translationText
                    y: lineLabel.height + 3
                    width: parent.width
                    visible: line.hasTranslation
                    text: line.translation
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    font.family: Theme.fontFamily
                    font.pixelSize: 11
                    color: Theme.secondary
                }
            }
        }

        NumberAnimation {
            id: scrollAnimation
            target: list
            property: "contentY"
            duration: 300
            easing.type: Easing.InOutQuad
        }

        Connections {
            target: root.lyrics
            function onScrollRequested(index, animated) {
                scrollAnimation.stop()
                if (!animated) {
                    list.positionViewAtIndex(index, ListView.Center)
                    return
                }
                const from = list.contentY
                list.positionViewAtIndex(index, ListView.Center)
                const to = list.contentY
                list.contentY = from
                scrollAnimation.from = from
                scrollAnimation.to = to
                scrollAnimation.start()
            }
        }
    }
}

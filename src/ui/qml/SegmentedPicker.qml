import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto

// A small segmented control: its titles in one row on a track, the chosen one filled so that it
// stands out from the track. Segment i is named `segmentPrefix` followed by i, or by its title.
Rectangle {
    id: picker
    property var titles: []
    property int chosen: -1
    property string segmentPrefix
    property bool namedByTitle: false
    signal choose(int index)

    implicitWidth: row.implicitWidth + 4
    implicitHeight: 24
    radius: 7
    color: Theme.segmentTrack
    Accessible.role: Accessible.PageTabList

    RowLayout {
        id: row
        // One stop for Tab, entered at the chosen segment; the arrows, Home and End go along.
        readonly property bool focusList: true
        readonly property int focusEntry: picker.chosen
        anchors.fill: parent
        anchors.margins: 2
        spacing: 2
        Repeater {
            model: picker.titles
            delegate: AbstractButton {
                // On the chosen segment's fill, the ring is drawn in its label's colour.
                FocusRing { border.color: segment.selected ? Theme.chosenSegmentText : Theme.focusRing }
                id: segment
                required property int index
                required property string modelData
                readonly property bool selected: index === picker.chosen
                objectName: picker.segmentPrefix + (picker.namedByTitle ? modelData : index)
                Layout.fillWidth: true
                Layout.fillHeight: true
                implicitWidth: label.implicitWidth + 20
                Accessible.role: Accessible.PageTab
                Accessible.name: modelData
                Accessible.selected: selected
                onClicked: picker.choose(index)
                background: Rectangle {
                    radius: 5
                    color: segment.selected ? Theme.chosenSegment : "transparent"
                }
                contentItem: Text {
                    id: label
                    text: segment.modelData
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.caption
                    font.weight: segment.selected ? Font.Medium : Font.Normal
                    color: segment.selected ? Theme.chosenSegmentText : Theme.primary
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
            }
        }
    }
}

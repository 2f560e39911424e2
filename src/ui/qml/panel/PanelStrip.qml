import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// The current song with its transport, heart, tab bar and seek row.
ColumnLayout {
    id: strip
    required property var panel

    objectName: "mac-panel-strip"
    spacing: 10

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        MacArtworkView {
            track: strip.panel?.strip.track
            loader: strip.panel?.artworkLoader ?? null
            size: 46
            radius: 9
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 5
            RowLayout {
                Layout.fillWidth: true
                spacing: 10
                PanelText {
                    id: title
                    objectName: "mac-panel-strip-title"
                    Layout.fillWidth: true
                    text: strip.panel?.strip.title ?? ""
                    size: Theme.body
                    font.weight: Theme.semibold
                    wrapMode: Text.Wrap
                    maximumLineCount: 2
                    HoverHandler { id: titleHover }
                    PanelToolTip {
                        visible: titleHover.hovered
                        text: title.text
                    }
                }
                MacPlaybackControls {
                    controls: strip.panel?.controls ?? null
                }
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                PanelText {
                    objectName: "mac-panel-strip-artist"
                    Layout.fillWidth: true
                    text: strip.panel?.strip.artist ?? ""
                    size: Theme.caption
                    color: Theme.secondary
                    maximumLineCount: 1
                }
                PanelIconButton {
                    objectName: "mac-panel-strip-heart"
                    visible: strip.panel?.strip.hasCurrent ?? false
                    enabled: strip.panel?.strip.heartEnabled ?? false
                    symbol: strip.panel?.strip.heartSymbol ?? "heart"
                    help: strip.panel?.strip.heartHelp ?? ""
                    onClicked: strip.panel.toggleCurrentFavorite()
                }
                PanelTabBar {
                    panel: strip.panel
                }
            }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 6
        PanelText {
            objectName: "mac-panel-elapsed"
            Layout.preferredWidth: 33
            text: strip.panel?.elapsedText ?? ""
            size: Theme.caption2
            color: Theme.secondary
        }
        MacSeekSlider {
            Layout.fillWidth: true
            seek: strip.panel?.seek ?? null
        }
        PanelText {
            objectName: "mac-panel-duration"
            Layout.preferredWidth: 33
            horizontalAlignment: Text.AlignRight
            text: strip.panel?.durationText ?? ""
            size: Theme.caption2
            color: Theme.secondary
        }
    }
}

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import ".."

// The settings page: notch switch, playback card, library card.
ColumnLayout {
    id: page
    required property var panel
    readonly property var settings: panel?.settings ?? ({})
    readonly property bool libraryOpen: settings.libraryOpen ?? false

    objectName: "mac-panel-settings-page"
    spacing: 12
    // Its height with every row that comes and goes in place.
    readonly property real tallestHeight: implicitHeight + playbackCard.awayRows

    PanelCard {
        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            Icon { Layout.preferredWidth: 18; name: "macbook"; color: Theme.secondary }
            ColumnLayout {
                spacing: 2
                PanelText { text: "灵动岛"; font.weight: Font.Medium }
                PanelText { text: "在屏幕顶部显示播放控制"; size: Theme.caption2; color: Theme.secondary }
            }
            Item { Layout.fillWidth: true; Layout.minimumWidth: 8 }
            Switch {
                FocusRing {}
                objectName: "mac-panel-notch-switch"
                padding: 0
                checked: page.settings.notchEnabled ?? false
                Accessible.name: "启用灵动岛"
                onToggled: {
                    page.panel.setNotchEnabled(checked)
                    checked = Qt.binding(() => page.settings.notchEnabled ?? false)
                }
            }
        }
    }

    PanelPlaybackCard {
        id: playbackCard
        panel: page.panel
    }

    PanelCard {
        objectName: "mac-panel-library-card"
        PanelSettingsRow {
            objectName: "mac-settings-import-local-music"
            enabled: page.libraryOpen
            symbol: "folder.badge.plus"
            title: "导入本地音乐"
            subtitle: "音频文件或文件夹 (MP3, FLAC, M4A, WAV 等)"
            onClicked: page.panel.model.importLocalMusic()
        }
        Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }
        PanelSettingsRow {
            objectName: "mac-settings-import-online-playlist"
            enabled: page.libraryOpen
            symbol: "music.note.list"
            title: "从其他播放器导入"
            subtitle: "网易云公开歌单"
            onClicked: page.panel.openOnlineImport()
        }
        Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }
        RowLayout {
            Layout.fillWidth: true
            PanelText { text: "歌单备份"; font.weight: Font.Medium }
            Item { Layout.fillWidth: true }
            PanelText {
                objectName: "mac-panel-backup-count"
                visible: page.libraryOpen
                text: page.settings.countText ?? ""
                size: Theme.caption2
                color: Theme.secondary
            }
        }
        PanelText {
            Layout.fillWidth: true
            text: "只保存歌曲信息；导入会合并已有歌曲并跳过重复项。"
            size: Theme.caption2
            color: Theme.secondary
            wrapMode: Text.Wrap
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            enabled: page.libraryOpen
            PanelButton {
                objectName: "mac-panel-import-backup"
                Layout.fillWidth: true
                symbol: "square.and.arrow.down"
                text: "导入备份…"
                onClicked: page.panel.model.importBackup()
            }
            PanelButton {
                objectName: "mac-panel-export-backup"
                Layout.fillWidth: true
                symbol: "square.and.arrow.up"
                text: "导出备份…"
                onClicked: page.panel.model.exportBackup()
            }
        }
    }
}

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velto
import "panel"

// The online playlist import sheet: header, the state's content in a scroll area, the footer.
// Return in the link field reads; elsewhere Return and Enter press the enabled primary button.
FocusScope {
    id: root
    required property OnlinePlaylistImportModel sheet
    readonly property var texts: sheet?.texts ?? ({})
    readonly property string sheetState: sheet?.state ?? "idle"
    readonly property var preview: sheet?.preview ?? ({})
    readonly property var footer: sheet?.footer ?? ({})
    readonly property color fieldFill: Qt.rgba(Theme.primary.r, Theme.primary.g, Theme.primary.b, 0.07)
    // The sheet lies in the panel's import slot; a field or card lies on that.
    readonly property color sheetGround: Theme.laid(Theme.quaternaryFill, Theme.window)
    readonly property color fieldGround: Theme.laid(fieldFill, sheetGround)

    objectName: "onlinePlaylistImportView"
    focus: true
    Keys.onReturnPressed: sheet.pressPrimary()
    Keys.onEnterPressed: sheet.pressPrimary()
    // Opened from the keyboard, the sheet goes on from its field.
    Component.onCompleted: if (root.Window.window?.actingOnKey?.() ?? false) field.forceActiveFocus(Qt.TabFocusReason)

    // A hidden field would keep the keys unseen: once the footer shows what comes next, its main
    // button takes them, or else the sheet.
    function leaveHiddenField() {
        if (!field.activeFocus || field.visible)
            return
        if (primary.visible && primary.enabled) {
            primary.forceActiveFocus(Qt.TabFocusReason)
        } else {
            field.focus = false
            root.forceActiveFocus()
        }
    }

    function showSaveError() {
        if (!saveError.visible) return
        const bottom = saveError.mapToItem(scroller.contentItem, 0, saveError.height).y + 20
        scroller.contentY = Math.max(0, Math.min(bottom - scroller.height,
                                                 scroller.contentHeight - scroller.height))
    }

    Connections {
        target: root.sheet
        function onFocusRequested() { field.forceActiveFocus() }
        function onInputFocusedChanged() {
            if (!root.sheet.inputFocused && field.activeFocus)
                root.forceActiveFocus()
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // Header
        RowLayout {
            Layout.fillWidth: true
            spacing: 0
            ColumnLayout {
                Layout.fillWidth: true
                Layout.leftMargin: 16
                Layout.topMargin: 14
                Layout.bottomMargin: 14
                spacing: 4
                Text {
                    objectName: "online-playlist-import-sheet"
                    Layout.fillWidth: true
                    text: root.texts.title
                    textFormat: Text.PlainText
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.headline
                    font.weight: Theme.semibold
                    color: Theme.primary
                }
                Text {
                    text: root.texts.subtitle
                    textFormat: Text.PlainText
                    font.family: Theme.fontFamily
                    font.pixelSize: Theme.caption
                    color: Theme.secondary
                }
            }
            AbstractButton {
                FocusRing {}
                objectName: "online-playlist-import-close"
                Layout.preferredWidth: 44
                Layout.preferredHeight: 44
                Layout.rightMargin: 16
                Accessible.role: Accessible.Button
                Accessible.name: root.texts.closeLabel
                onClicked: root.sheet.close()
                contentItem: Icon {
                    name: root.texts.closeSymbol
                    size: 14
                    font.weight: Theme.semibold
                    color: Theme.secondary
                }
            }
        }

        Flickable {
            id: scroller
            objectName: "online-playlist-import-scroll"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: width
            contentHeight: content.implicitHeight + 32
            boundsBehavior: Flickable.StopAtBounds

            ColumnLayout {
                id: content
                x: 16
                y: 12
                width: scroller.width - 32
                spacing: 20

                // Link input: idle, loading and failed.
                ColumnLayout {
                    Layout.fillWidth: true
                    visible: root.sheetState === "idle" || root.sheetState === "loading" || root.sheetState === "failed"
                    spacing: 16
                    Text {
                        Layout.fillWidth: true
                        text: root.texts.prompt
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font.family: Theme.fontFamily
                        font.pixelSize: Theme.callout
                        font.weight: Font.Medium
                        color: Theme.primary
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 8
                        Rectangle {
                            Layout.fillWidth: true
                            implicitHeight: Math.max(52, fieldRow.implicitHeight + 12)
                            radius: 12
                            color: root.fieldFill
                            FocusRing {
                                visible: field.activeFocus && (field.focusReason === Qt.TabFocusReason || field.focusReason === Qt.BacktabFocusReason)
                                radius: 12
                            }
                            RowLayout {
                                id: fieldRow
                                anchors.fill: parent
                                anchors.leftMargin: 14
                                anchors.rightMargin: clear.visible ? 0 : 14
                                anchors.topMargin: 6
                                anchors.bottomMargin: 6
                                spacing: 10
                                Icon {
                                    name: root.texts.linkSymbol
                                    size: 16
                                    color: Theme.secondary
                                }
                                TextArea {
                                    id: field
                                    objectName: "online-playlist-import-input"
                                    Layout.fillWidth: true
                                    // One to three lines, then it scrolls.
                                    Layout.maximumHeight: 3 * font.pixelSize * 1.5 + topPadding + bottomPadding
                                    text: root.sheet?.input ?? ""
                                    placeholderText: root.texts.placeholder
                                    wrapMode: TextEdit.Wrap
                                    font.family: Theme.fontFamily
                                    font.pixelSize: Theme.callout
                                    color: Theme.primary
                                    background: null
                                    padding: 0
                                    Accessible.name: root.texts.placeholder
                                    onTextChanged: if (root.sheet) root.sheet.input = text
                                    onActiveFocusChanged: if (root.sheet) root.sheet.inputFocused = activeFocus
                                    onVisibleChanged: if (!visible && activeFocus) Qt.callLater(root.leaveHiddenField)
                                    Keys.onReturnPressed: (event) => { event.accepted = true; root.sheet.startReading() }
                                    Keys.onEnterPressed: (event) => { event.accepted = true; root.sheet.startReading() }
                                }
                                AbstractButton {
                                    FocusRing {}
                                    id: clear
                                    objectName: "online-playlist-import-clear"
                                    visible: root.sheet?.clearVisible ?? false
                                    Layout.preferredWidth: 44
                                    Layout.preferredHeight: 44
                                    Accessible.role: Accessible.Button
                                    Accessible.name: root.texts.clearLabel
                                    onClicked: root.sheet.clearInput()
                                    contentItem: Icon {
                                        name: root.texts.clearSymbol
                                        size: 16
                                        color: Theme.secondary
                                    }
                                }
                            }
                        }
                        Text {
                            Layout.fillWidth: true
                            text: root.texts.hint
                            textFormat: Text.PlainText
                            wrapMode: Text.Wrap
                            font.family: Theme.fontFamily
                            font.pixelSize: 12
                            color: Theme.secondary
                        }
                    }
                }

                // How-to: idle.
                ColumnLayout {
                    objectName: "online-playlist-import-instructions"
                    Layout.fillWidth: true
                    Layout.topMargin: 8
                    visible: root.sheetState === "idle"
                    spacing: 12
                    Text {
                        text: root.texts.howTitle
                        textFormat: Text.PlainText
                        font.family: Theme.fontFamily
                        font.pixelSize: 13
                        font.weight: Theme.semibold
                        color: Theme.secondary
                    }
                    Repeater {
                        model: [[root.texts.stepOneSymbol, root.texts.stepOne],
                                [root.texts.stepTwoSymbol, root.texts.stepTwo]]
                        delegate: Row {
                            required property var modelData
                            spacing: 6
                            Icon {
                                name: parent.modelData[0]
                                size: 13
                                color: Theme.secondary
                            }
                            Text {
                                text: parent.modelData[1]
                                textFormat: Text.PlainText
                                font.family: Theme.fontFamily
                                font.pixelSize: 13
                                color: Theme.secondary
                            }
                        }
                    }
                    Text {
                        Layout.fillWidth: true
                        text: root.texts.howNote
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font.family: Theme.fontFamily
                        font.pixelSize: 12
                        color: Theme.secondary
                    }
                }

                // Loading.
                Rectangle {
                    objectName: "online-playlist-import-loading"
                    Layout.fillWidth: true
                    visible: root.sheetState === "loading"
                    implicitHeight: loadingRow.implicitHeight + 28
                    radius: 12
                    color: root.fieldFill
                    RowLayout {
                        id: loadingRow
                        x: 14
                        y: 14
                        width: parent.width - 28
                        spacing: 12
                        SmallBusyIndicator {
                            color: Theme.accentIconOn(root.fieldGround)
                        }
                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 4
                            Text {
                                text: root.texts.loadingTitle
                                textFormat: Text.PlainText
                                font.family: Theme.fontFamily
                                font.pixelSize: 14
                                font.weight: Font.Medium
                                color: Theme.primary
                            }
                            Text {
                                text: root.texts.loadingDetail
                                textFormat: Text.PlainText
                                font.family: Theme.fontFamily
                                font.pixelSize: 12
                                color: Theme.secondary
                            }
                        }
                    }
                }

                ImportNotice {
                    objectName: "online-playlist-import-error"
                    visible: root.sheetState === "failed"
                    title: root.texts.failedTitle
                    message: root.sheet?.failureMessage ?? ""
                    symbol: root.texts.errorSymbol
                }

                // Preview: loaded.
                ColumnLayout {
                    Layout.fillWidth: true
                    visible: root.sheetState === "loaded"
                    spacing: 14
                    RowLayout {
                        objectName: "online-playlist-import-preview"
                        Layout.fillWidth: true
                        spacing: 14
                        Accessible.role: Accessible.StaticText
                        Accessible.name: [root.preview.sourceName, root.preview.name, root.preview.countsText].join("，")
                        MacArtworkView {
                            track: root.preview.firstTrack
                            loader: root.sheet?.artworkLoader ?? null
                            size: 68
                            radius: 6
                        }
                        ColumnLayout {
                            Layout.fillWidth: true
                            spacing: 5
                            Text {
                                text: root.preview.sourceName ?? ""
                                textFormat: Text.PlainText
                                font.family: Theme.fontFamily
                                font.pixelSize: 12
                                color: Theme.secondary
                            }
                            Text {
                                Layout.fillWidth: true
                                text: root.preview.name ?? ""
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                maximumLineCount: 2
                                elide: Text.ElideRight
                                font.family: Theme.fontFamily
                                font.pixelSize: 18
                                font.weight: Theme.semibold
                                color: Theme.primary
                            }
                            Text {
                                text: root.preview.countsText ?? ""
                                textFormat: Text.PlainText
                                font.family: Theme.fontFamily
                                font.pixelSize: 12
                                color: Theme.secondary
                            }
                        }
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 8
                        Text {
                            objectName: "online-playlist-import-counts"
                            Layout.fillWidth: true
                            text: root.preview.collectText ?? ""
                            textFormat: Text.PlainText
                            font.family: Theme.fontFamily
                            font.pixelSize: 12
                            color: Theme.secondary
                        }
                        AbstractButton {
                            FocusRing {}
                            objectName: "online-playlist-import-change"
                            implicitHeight: 44
                            implicitWidth: changeLabel.implicitWidth
                            Accessible.role: Accessible.Button
                            Accessible.name: root.texts.change
                            onClicked: root.sheet.change()
                            contentItem: Text {
                                id: changeLabel
                                text: root.texts.change
                                textFormat: Text.PlainText
                                verticalAlignment: Text.AlignVCenter
                                font.family: Theme.fontFamily
                                font.pixelSize: 13
                                font.weight: Font.Medium
                                color: Theme.accentTextOn(root.sheetGround)
                            }
                        }
                    }
                    ImportNotice {
                        objectName: "online-playlist-import-incomplete"
                        visible: root.preview.incomplete ?? false
                        title: root.texts.incompleteTitle
                        message: root.preview.incompleteText ?? ""
                        symbol: root.texts.incompleteSymbol
                    }
                    Text {
                        objectName: "online-playlist-import-duplicates"
                        Layout.fillWidth: true
                        visible: text.length > 0
                        text: root.preview.duplicateText ?? ""
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font.family: Theme.fontFamily
                        font.pixelSize: 12
                        color: Theme.secondary
                    }
                    ImportNotice {
                        objectName: "online-playlist-import-empty"
                        visible: root.preview.isEmpty ?? false
                        title: root.texts.emptyTitle
                        message: root.texts.emptyMessage
                        symbol: root.texts.emptySymbol
                    }
                    Text {
                        visible: !(root.preview.isEmpty ?? true)
                        text: root.texts.previewCaption
                        textFormat: Text.PlainText
                        font.family: Theme.fontFamily
                        font.pixelSize: 13
                        font.weight: Theme.semibold
                        color: Theme.secondary
                    }
                    Column {
                        Layout.fillWidth: true
                        spacing: 0
                        Repeater {
                            objectName: "online-playlist-import-rows"
                            model: root.preview.rows ?? []
                            delegate: RowLayout {
                                id: previewRow
                                required property int index
                                required property var modelData
                                objectName: "online-playlist-import-row" + index
                                width: parent.width
                                height: implicitHeight + 12
                                spacing: 10
                                Accessible.role: Accessible.StaticText
                                Accessible.name: modelData.title + "，" + modelData.detail
                                                 + (modelData.existing ? "，" + root.texts.existingLabel : "")
                                MacArtworkView {
                                    track: previewRow.modelData.track
                                    loader: root.sheet?.artworkLoader ?? null
                                    size: 34
                                    radius: 6
                                }
                                ColumnLayout {
                                    Layout.fillWidth: true
                                    spacing: 3
                                    Text {
                                        Layout.fillWidth: true
                                        text: previewRow.modelData.title
                                        textFormat: Text.PlainText
                                        elide: Text.ElideRight
                                        maximumLineCount: 1
                                        font.family: Theme.fontFamily
                                        font.pixelSize: Theme.body
                                        color: Theme.primary
                                    }
                                    Text {
                                        Layout.fillWidth: true
                                        text: previewRow.modelData.detail
                                        textFormat: Text.PlainText
                                        elide: Text.ElideRight
                                        maximumLineCount: 1
                                        font.family: Theme.fontFamily
                                        font.pixelSize: Theme.caption
                                        color: Theme.secondary
                                    }
                                }
                                Icon {
                                    objectName: "online-playlist-import-existing"
                                    visible: previewRow.modelData.existing
                                    name: root.texts.checkSymbol
                                    size: 14
                                    color: Theme.secondary
                                }
                            }
                        }
                    }
                    Text {
                        objectName: "online-playlist-import-remainder"
                        Layout.fillWidth: true
                        visible: text.length > 0
                        text: root.preview.remainderText ?? ""
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font.family: Theme.fontFamily
                        font.pixelSize: 12
                        color: Theme.secondary
                    }
                }

                // Result: imported.
                ColumnLayout {
                    objectName: "online-playlist-import-success"
                    Layout.fillWidth: true
                    Layout.topMargin: 32
                    Layout.bottomMargin: 32
                    visible: root.sheetState === "imported"
                    spacing: 18
                    Accessible.role: Accessible.StaticText
                    Accessible.name: [root.texts.successTitle,
                                      root.texts.insertedLabel + " " + (root.sheet?.result.inserted ?? ""),
                                      root.texts.skippedLabel + " " + (root.sheet?.result.skipped ?? ""),
                                      root.sheet?.result.totalText ?? ""].join("，")
                    Rectangle {
                        Layout.alignment: Qt.AlignHCenter
                        implicitWidth: 64
                        implicitHeight: 64
                        radius: 32
                        color: root.fieldFill
                        Icon {
                            anchors.centerIn: parent
                            name: root.texts.checkSymbol
                            size: 28
                            font.weight: Theme.semibold
                            color: Theme.accentIconOn(root.fieldGround)
                        }
                    }
                    Text {
                        Layout.fillWidth: true
                        horizontalAlignment: Text.AlignHCenter
                        text: root.texts.successTitle
                        textFormat: Text.PlainText
                        font.family: Theme.fontFamily
                        font.pixelSize: 18
                        font.weight: Theme.semibold
                        color: Theme.primary
                    }
                    Row {
                        Layout.alignment: Qt.AlignHCenter
                        spacing: 36
                        Repeater {
                            model: [[root.sheet?.result.inserted ?? "", root.texts.insertedLabel, "online-playlist-import-inserted"],
                                    [root.sheet?.result.skipped ?? "", root.texts.skippedLabel, "online-playlist-import-skipped"]]
                            delegate: Column {
                                required property var modelData
                                spacing: 5
                                Text {
                                    objectName: parent.modelData[2]
                                    anchors.horizontalCenter: parent.horizontalCenter
                                    text: parent.modelData[0]
                                    textFormat: Text.PlainText
                                    font.family: Theme.fontFamily
                                    font.pixelSize: 24
                                    font.weight: Theme.semibold
                                    color: Theme.primary
                                }
                                Text {
                                    anchors.horizontalCenter: parent.horizontalCenter
                                    text: parent.modelData[1]
                                    textFormat: Text.PlainText
                                    font.family: Theme.fontFamily
                                    font.pixelSize: 12
                                    color: Theme.secondary
                                }
                            }
                        }
                    }
                    Text {
                        Layout.alignment: Qt.AlignHCenter
                        text: root.sheet?.result.totalText ?? ""
                        textFormat: Text.PlainText
                        font.family: Theme.fontFamily
                        font.pixelSize: 12
                        color: Theme.secondary
                    }
                }

                ImportNotice {
                    id: saveError
                    objectName: "online-playlist-import-save-error"
                    visible: root.sheet?.hasSaveError ?? false
                    // It comes below the rows: brought into view, again as the layout places it.
                    onVisibleChanged: if (visible) Qt.callLater(root.showSaveError)
                    onYChanged: if (visible) Qt.callLater(root.showSaveError)
                    title: root.texts.saveErrorTitle
                    message: root.sheet?.saveError ?? ""
                    symbol: root.texts.errorSymbol
                }
            }
        }

        // Footer
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 0.5
            color: Theme.separator
        }
        ColumnLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 10
            Layout.bottomMargin: 16
            spacing: 10
            Text {
                Layout.fillWidth: true
                visible: text.length > 0
                text: root.footer.note ?? ""
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font.family: Theme.fontFamily
                font.pixelSize: 12
                color: Theme.secondary
            }
            AbstractButton {
                FocusRing {}
                objectName: root.footer.kind === "cancel" ? root.footer.id : ""
                Layout.fillWidth: true
                implicitHeight: 44
                visible: root.footer.kind === "cancel"
                Accessible.role: Accessible.Button
                Accessible.name: root.footer.title ?? ""
                onClicked: root.sheet.reset()
                contentItem: Text {
                    text: root.footer.title ?? ""
                    textFormat: Text.PlainText
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    font.family: Theme.fontFamily
                    font.pixelSize: 14
                    font.weight: Font.Medium
                    color: Theme.secondary
                }
            }
            Item {
                Layout.fillWidth: true
                implicitHeight: primary.implicitHeight
                visible: root.footer.kind !== "cancel"
                // The panel's prominent button, as its other main actions.
                PanelButton {
                    id: primary
                    objectName: root.footer.kind !== "cancel" ? root.footer.id ?? "" : ""
                    anchors.right: parent.right
                    enabled: root.footer.enabled ?? false
                    highlighted: true
                    text: root.footer.title ?? ""
                    textSize: Theme.body
                    topPadding: 6
                    bottomPadding: 6
                    leftPadding: 14
                    rightPadding: 14
                    onClicked: root.sheet.pressPrimary()
                }
            }
        }
    }
}

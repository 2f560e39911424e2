import QtQuick
import Velto

// The arrow, page, Home and End keys of a list or grid whose rows hold focusable controls (the
// view's own key navigation off): the focus goes to the same control of the row the key leads to,
// or to that row's first, and the view scrolls to show it. The focus never rests on the view
// itself, where no ring would show it.
QtObject {
    required property Flickable view
    readonly property int columns: view.cellWidth !== undefined
                                   ? Math.max(1, Math.floor(view.width / view.cellWidth + 0.01)) : 1

    function rowOf(item) {
        while (item && item.parent !== view.contentItem)
            item = item.parent
        return item
    }
    function focusables(item, found) {
        if (!item.visible || !item.enabled)
            return found
        if (item.activeFocusOnTab)
            found.push(item)
        for (let i = 0; i < item.children.length; ++i)
            focusables(item.children[i], found)
        return found
    }
    // Whether the key was the list's.
    function take(key) {
        const focused = view.Window.activeFocusItem
        const row = rowOf(focused)
        if (!row || row.index === undefined || !ListKeys.handles(key, columns))
            return false
        const pitch = view.cellHeight !== undefined ? view.cellHeight : row.height + view.spacing
        for (const index of ListKeys.rowsFor(key, row.index, view.count, columns, view.height, pitch)) {
            view.positionViewAtIndex(index, ListView.Contain)
            const target = view.itemAtIndex(index)
            const controls = target ? focusables(target, []) : []
            if (controls.length > 0) {
                (controls.find(control => control.objectName === focused.objectName) ?? controls[0])
                    .forceActiveFocus(Qt.TabFocusReason)
                break
            }
        }
        return true
    }
}

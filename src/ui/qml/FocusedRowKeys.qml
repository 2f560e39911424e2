import QtQuick
import Velto

// The arrow, page, Home and End keys of a list or grid whose rows hold focusable controls (the
// view's own key navigation off): the focus goes to the same control of the row the key leads to,
// or to that row's first, and the view scrolls to show it. The focus never rests on the view
// itself, where no ring would show it. A focused control that hides with its row's change (a
// favourite removed from the keyboard) hands the focus on the same way, to the row that takes its
// place; where none is left, `emptyControl` takes it once it shows.
QtObject {
    id: keys
    required property Flickable view
    property Item emptyControl: null
    // The focused control in one of the rows, while one is.
    property Item held: null
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
    function focusRowControl(index, name) {
        view.positionViewAtIndex(index, ListView.Contain)
        const target = view.itemAtIndex(index)
        const controls = target ? focusables(target, []) : []
        if (controls.length === 0)
            return false
        const control = controls.find(control => control.objectName === name) ?? controls[0]
        control.forceActiveFocus(Qt.TabFocusReason)
        return true
    }
    property Connections following: Connections {
        target: keys.view.Window.window
        function onActiveFocusItemChanged() {
            const focused = keys.view.Window.activeFocusItem
            keys.held = keys.rowOf(focused) ? focused : null
        }
    }
    property Connections hiding: Connections {
        target: keys.held
        function onVisibleChanged() {
            // Not when the list hides as a whole.
            const control = keys.held
            const row = keys.rowOf(control)
            if (control.visible || !control.activeFocus || !row?.visible)
                return
            for (const index of ListKeys.rowsInPlaceOf(row.index, keys.view.count))
                if (keys.focusRowControl(index, control.objectName))
                    return
        }
    }
    // It gives the focus to the first row that comes, as an import from it fills the list.
    property Connections emptied: Connections {
        target: keys.emptyControl
        function onVisibleChanged() {
            const empty = keys.emptyControl
            const focused = keys.view.Window.activeFocusItem
            if (empty.visible && focused && (focused === keys.view || (!focused.visible && keys.rowOf(focused))))
                empty.forceActiveFocus(Qt.TabFocusReason)
            else if (!empty.visible && empty.activeFocus && keys.view.count > 0)
                keys.focusRowControl(0, "")
        }
    }
    // Whether the key was the list's.
    function take(key) {
        const focused = view.Window.activeFocusItem
        const row = rowOf(focused)
        if (!row || row.index === undefined || !ListKeys.handles(key, columns))
            return false
        const pitch = view.cellHeight !== undefined ? view.cellHeight : row.height + view.spacing
        for (const index of ListKeys.rowsFor(key, row.index, view.count, columns, view.height, pitch))
            if (focusRowControl(index, focused.objectName))
                break
        return true
    }
}

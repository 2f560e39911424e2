import QtQuick
import Velto

// Whatever gives a control inside `scope` the focus (Tab, Shift+Tab, a list key, a page
// opening), each view that scrolls it, innermost first, scrolls by the least move that shows it:
// a list its whole row, any other view the control with a margin for its ring.
Connections {
    id: inView
    required property Item scope
    // A view whose edge a band covers for now: what the band covers does not count as shown.
    property Item banded: null
    property real bandAbove: 0
    property real bandBelow: 0
    // The keys move the focus inside the scope as one model has it.
    readonly property FocusChain chain: FocusChain { scope: inView.scope }

    target: scope.Window.window

    function onActiveFocusItemChanged() {
        reveal()
    }

    function reveal() {
        const item = scope.Window.activeFocusItem
        let inside = item
        while (inside && inside !== scope) inside = inside.parent
        if (!inside)
            return
        for (let view = item.parent; view && view !== scope.parent; view = view.parent) {
            if (view.flickableDirection === undefined)
                continue
            const list = view.model !== undefined
            let shown = item
            while (list && shown.parent && shown.parent !== view.contentItem)
                shown = shown.parent
            const margin = list ? 0 : 8
            const at = shown.mapToItem(view.contentItem, 0, 0, shown.width, shown.height)
            const above = view === banded ? bandAbove : 0
            const below = view === banded ? bandBelow : 0
            view.contentY = ListKeys.shownAt(view.contentY, view.originY - view.topMargin,
                                             view.originY + view.contentHeight + view.bottomMargin - view.height,
                                             view.height, at.y - margin - above, at.y + at.height + margin + below)
        }
    }
}

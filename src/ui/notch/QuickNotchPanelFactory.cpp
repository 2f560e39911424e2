#include "ui/notch/QuickNotchPanelFactory.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>

#include "foundation/Log.h"
#include "ui/notch/NotchPlatform.h"
#include "ui/notch/NotchPlayerViewModel.h"

namespace velto {

std::unique_ptr<QuickNotchPanel> QuickNotchPanelFactory::operator()(NotchWindowController& controller) const {
    if (!NotchPlatform::canPlacePanel() || !parts_.engine || !parts_.mainQueue || !parts_.playback) return nullptr;

    auto window = std::make_unique<QQuickWindow>();
    QQuickWindow* shown = window.get();
    auto panel = std::make_unique<QuickNotchPanel>(std::move(window));
    // A child of the panel: it outlives the window and the view that reads it.
    auto* player = new NotchPlayerViewModel(controller, *parts_.playback, parts_.actions, *parts_.mainQueue,
                                            panel.get());
    if (parts_.attach) parts_.attach(*player);

    QQmlComponent component(parts_.engine, QUrl(QStringLiteral("qrc:/velto/qml/NotchPlayerView.qml")));
    QObject* made = component.createWithInitialProperties({{QStringLiteral("player"), QVariant::fromValue(player)}});
    auto* view = qobject_cast<QQuickItem*>(made);
    if (!view) {
        delete made;
        Log::error("notch", "the notch player view did not load: " + component.errorString().toStdString());
        return nullptr;
    }
    view->setParent(shown->contentItem());
    view->setParentItem(shown->contentItem());
    const auto fit = [shown, view] { view->setSize(shown->size()); };
    QObject::connect(shown, &QWindow::widthChanged, view, fit);
    QObject::connect(shown, &QWindow::heightChanged, view, fit);
    fit();
    // The window's outline follows the view's corners, the animated bottom ones included.
    QuickNotchPanel* outlined = panel.get();
    outlined->setCornerSource([player, view] {
        return std::pair(player->topRadius(), view->property("bottomRadius").toDouble());
    });
    QObject::connect(player, &NotchPlayerViewModel::layoutChanged, outlined, &QuickNotchPanel::refreshCorners);
    QQmlProperty(view, QStringLiteral("bottomRadius")).connectNotifySignal(outlined, SLOT(refreshCorners()));
    return panel;
}

}  // namespace velto

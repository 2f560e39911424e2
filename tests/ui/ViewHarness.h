#pragma once

#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStringList>
#include <QVariantMap>
#include <memory>

namespace velto {

// Loads one view offscreen on the software scene graph, collecting every QML warning and every
// Qt warning meanwhile. The first harness starts the application (fonts, style, view types).
class ViewHarness {
public:
    ViewHarness();
    ~ViewHarness();

    // Creates the view of qrc:/velto/qml/<view>.qml with the given properties in a window of
    // `size`.
    QQuickItem* load(const QString& view, const QVariantMap& properties, QSize size);
    // Lets queued events and a frame happen.
    void settle();
    QImage grab();
    // Grabs the window and, when VELTO_VIEWS_DIR is set, writes it there as <name>.png.
    QImage render(const QString& name);
    QQuickItem* find(const QString& objectName) const;

    static bool fontsAvailable();
    static bool isSingleColour(const QImage& image);
    // The colour drawn at `point` of `item` in a grab of its window.
    static QColor seenAt(const QImage& image, QQuickItem* item, QPointF point);
    // The lines of text and the symbols beside them of a focused control that its ring crosses
    // or leaves out; "no ring" where none shows.
    static QStringList linesOutsideItsRing(QQuickItem* focused);

    QStringList warnings;

    // The desktop palette of a dark scheme (qt6ct's darker one), the application's palette for
    // as long as it lives.
    struct DarkScheme {
        DarkScheme();
        ~DarkScheme() { QGuiApplication::setPalette(before); }
        static QPalette palette();
        QPalette before = QGuiApplication::palette();
    };

private:
    std::unique_ptr<QQmlEngine> engine_;
    std::unique_ptr<QQmlContext> context_;
    std::unique_ptr<QQuickWindow> window_;
    std::unique_ptr<QQuickItem> root_;
};

}  // namespace velto

#include "ViewHarness.h"

#include <QDir>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickStyle>
#include <QSGRendererInterface>
#include <vector>

#include "ui/style/AppFonts.h"
#include "ui/style/Theme.h"
#include "ui/ViewTypes.h"

namespace velto {

namespace {

ViewHarness* active = nullptr;
QtMessageHandler previousHandler = nullptr;
bool fontsLoaded = false;

void collect(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (active && type != QtDebugMsg && type != QtInfoMsg) active->warnings << message;
    if (previousHandler) previousHandler(type, context, message);
}

void startApplication() {
    static int argc = 1;
    static char name[] = "velto_ui_tests";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    // Left for the process's end: tearing Qt down in static destructors crashes.
    new QGuiApplication(argc, argv);
    fontsLoaded = AppFonts::install();
    registerViewTypes(new Theme);
}

}  // namespace

ViewHarness::ViewHarness() {
    static const bool started = (startApplication(), true);
    (void)started;
    active = this;
    previousHandler = qInstallMessageHandler(collect);
    engine_ = std::make_unique<QQmlEngine>();
    engine_->setOutputWarningsToStandardError(false);
    QObject::connect(engine_.get(), &QQmlEngine::warnings, [this](const QList<QQmlError>& list) {
        for (const auto& error : list) warnings << error.toString();
    });
    window_ = std::make_unique<QQuickWindow>();
}

ViewHarness::~ViewHarness() {
    root_.reset();
    context_.reset();
    window_.reset();
    engine_.reset();
    qInstallMessageHandler(previousHandler);
    active = nullptr;
}

bool ViewHarness::fontsAvailable() { return fontsLoaded && AppFonts::familiesAvailable(); }

ViewHarness::DarkScheme::DarkScheme() { QGuiApplication::setPalette(palette()); }

QPalette ViewHarness::DarkScheme::palette() {
    QPalette dark;
    const char* roles[] = {"#ffffff", "#424245", "#979797", "#5e5c5b", "#302f2e", "#4a4947", "#ffffff",
                           "#ffffff", "#ffffff", "#3d3d3d", "#222020", "#e7e4e0", "#12608a", "#f9f9f9",
                           "#0986d3", "#a70b06", "#5c5b5a"};
    for (int role = 0; role < int(std::size(roles)); ++role)
        dark.setColor(QPalette::ColorRole(role), QColor(roles[role]));
    return dark;
}

QQuickItem* ViewHarness::load(const QString& view, const QVariantMap& properties, QSize size) {
    // The view is built the way an embedding view builds it: every property bound at creation,
    // so no binding ever sees a required model missing.
    root_.reset();
    context_ = std::make_unique<QQmlContext>(engine_->rootContext());
    QString source = QStringLiteral("import QtQuick\nimport \"qrc:/velto/qml\"\nimport \"qrc:/velto/qml/panel\"\n%1 {\n").arg(view);
    for (auto it = properties.begin(); it != properties.end(); ++it) {
        context_->setContextProperty(QStringLiteral("fixture_") + it.key(), it.value());
        source += QStringLiteral("    %1: fixture_%1\n").arg(it.key());
    }
    source += QStringLiteral("}\n");
    QQmlComponent component(engine_.get());
    component.setData(source.toUtf8(), QUrl(QStringLiteral("qrc:/velto/harness/%1.qml").arg(view)));
    QObject* object = component.create(context_.get());
    for (const auto& error : component.errors()) warnings << error.toString();
    auto* item = qobject_cast<QQuickItem*>(object);
    if (!item) {
        delete object;
        return nullptr;
    }
    root_.reset(item);
    window_->setColor(QGuiApplication::palette().window().color());
    Theme::paintControls(*window_, QGuiApplication::palette());
    window_->resize(size);
    item->setParentItem(window_->contentItem());
    item->setSize(size);
    window_->show();
    settle();
    return item;
}

void ViewHarness::settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

QImage ViewHarness::grab() {
    settle();
    return window_->grabWindow();
}

QImage ViewHarness::render(const QString& name) {
    QImage image = grab();
    const QString dir = qEnvironmentVariable("VELTO_VIEWS_DIR");
    if (!dir.isEmpty()) {
        const QString file = dir + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!QDir().mkpath(dir) || !image.save(file)) warnings << QStringLiteral("not written: ") + file;
    }
    return image;
}

namespace {
// Delegates of lists are visual children only, so the search walks the item tree.
QQuickItem* findItem(QQuickItem* item, const QString& objectName) {
    if (item->objectName() == objectName) return item;
    for (QQuickItem* child : item->childItems())
        if (QQuickItem* found = findItem(child, objectName)) return found;
    return nullptr;
}
}  // namespace

QColor ViewHarness::seenAt(const QImage& image, QQuickItem* item, QPointF point) {
    if (!item) return {};
    const QPointF at = item->mapToScene(point) * image.devicePixelRatio();
    return image.pixelColor(at.toPoint());
}

QQuickItem* ViewHarness::find(const QString& objectName) const {
    return root_ ? findItem(root_.get(), objectName) : nullptr;
}

bool ViewHarness::isSingleColour(const QImage& image) {
    if (image.isNull()) return true;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != first) return false;
    return true;
}

QStringList ViewHarness::linesOutsideItsRing(QQuickItem* focused) {
    QQuickItem* ring = nullptr;
    for (QQuickItem* child : focused->childItems())
        if (child->objectName() == "focusRing") ring = child;
    if (!ring || !ring->isVisible()) return {"no ring"};
    const QRectF inside = ring->mapRectToScene({0, 0, ring->width(), ring->height()}).adjusted(2, 2, -2, -2);
    // A symbol that is the control's whole content is drawn small in its middle.
    const auto* whole = focused->property("contentItem").value<QQuickItem*>();
    QStringList outside;
    std::vector<QQuickItem*> items{focused};
    while (!items.empty()) {
        QQuickItem* at = items.back();
        items.pop_back();
        for (QQuickItem* child : at->childItems())
            if (child->isVisible()) items.push_back(child);
        const QString text = at->property("text").toString();
        const bool symbol = at->property("name").isValid();
        if (text.isEmpty() || (symbol && at == whole)) continue;
        QRectF drawn(0, 0, at->width(), at->height());
        if (at->inherits("QQuickTextInput")) {  // a field fills its box: its line, mid-height
            drawn = QRectF(at->property("leftPadding").toDouble(), at->height() / 2,
                           at->property("contentWidth").toDouble(), 1);
        } else if (!at->inherits("QQuickText")) {
            continue;
        }
        if (!inside.contains(at->mapRectToScene(drawn))) outside << text;
    }
    return outside;
}

}  // namespace velto

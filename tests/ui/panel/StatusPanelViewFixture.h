#pragma once

#include <QCursor>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QPointer>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <tuple>
#include <optional>

#include "StatusPanelFixture.h"
#include "library/exchange/PlaylistBackup.h"
#include "ui/window/PanelPlacement.h"
#include "ui/window/PanelWindow.h"
#include "ui/style/Theme.h"
#include "ui/SteppedAnimationDriver.h"
#include "ui/ViewHarness.h"


namespace velto::paneltest {

// The panel's QML over a panel model in a fixture state: every state loads without a QML
// warning and draws something; a few texts, flags and names are checked on the way.
class PanelViews : public StatusPanelTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ViewHarness::fontsAvailable());
        makePanel();
        animations.install();
    }
    void TearDown() override {
        animations.uninstall();
        EXPECT_TRUE(harness.warnings.isEmpty()) << harness.warnings.join("\n").toStdString();
    }
    // On screen, as the program shows it: a closed panel's times stand still.
    QQuickItem* load() {
        panel->setShown(true);
        QQuickItem* root = harness.load("MacStatusPanel", {{"panel", QVariant::fromValue<QObject*>(panel.get())}},
                                        {380, 800});
        EXPECT_TRUE(root);
        return root;
    }
    // Renders at the panel's own height, as the popup would size it.
    void expectRendered(QQuickItem* root, const QString& name) {
        harness.grab();
        animations.step(1000);
        harness.grab();  // lays the column out, so its height is the content's
        root->window()->resize(380, int(root->implicitHeight()));
        root->setHeight(root->implicitHeight());
        EXPECT_FALSE(ViewHarness::isSingleColour(harness.render("panel-" + name))) << name.toStdString();
    }
    // Grabbing polishes the window, so list rows exist before they are looked for.
    QQuickItem* item(const char* objectName) {
        harness.grab();
        QQuickItem* found = harness.find(QString::fromUtf8(objectName));
        EXPECT_TRUE(found) << objectName;
        return found;
    }
    bool shown(const char* objectName) {
        QQuickItem* found = item(objectName);
        return found && found->isVisible();
    }
    QVariant property(const char* objectName, const char* name) {
        QQuickItem* found = item(objectName);
        return found ? found->property(name) : QVariant();
    }
    // The ring a control draws round itself, shown while it has the focus from the keyboard.
    static QQuickItem* ringOf(const QQuickItem* control) {
        QQuickItem* ring = nullptr;
        for (QQuickItem* child : control->childItems())
            if (child->objectName() == "focusRing") ring = child;
        return ring;
    }
    static QRectF sceneBox(const QQuickItem* item) {
        return item->mapRectToScene({0, 0, item->width(), item->height()});
    }
    // The panel in a window of its own, as the program shows it.
    std::unique_ptr<PanelWindow> makeWindow() {
        return std::make_unique<PanelWindow>(
            PanelWindow::Root{QUrl(QStringLiteral("qrc:/velto/qml/panel/MacStatusPanel.qml")), {},
                              {{"panel", QVariant::fromValue<QObject*>(panel.get())}}});
    }
    void scriptScopes() {
        std::vector<ArtistSummary> artists;
        for (int i = 1; i <= 5; ++i)
            artists.push_back({std::to_string(i), MusicSource::wy, "歌手" + std::to_string(i), {},
                               i * 10, i == 1 ? std::optional<std::int64_t>(0) : i});
        searchRuntime->artists["雨:1"] = [artists] {
            return ArtistSearchPage(artists, 5, MusicSource::wy, 1, 5);
        };
        searchRuntime->albums["雨"] = [] {
            return AlbumPage{{{"a1", MusicSource::wy, "雨天的专辑，名字很长很长很长很长很长很长很长很长", "岚屿", {}, {}, {}}}, 1};
        };
        searchRuntime->playlists["雨"] = [] {
            PlaylistSummary mine;
            mine.id = "p1";
            mine.name = "下雨天听的歌";
            PlaylistSummary theirs = mine;
            theirs.id = "p2";
            theirs.author = "云游";
            return PlaylistCatalogPage{{mine, theirs}, 2};
        };
    }

    ViewHarness harness;
    SteppedAnimationDriver animations;
};

// The panel in its own window at an anchor, rendered as the window shows it.
class PanelWindowedViews : public PanelViews {
  protected:
    void SetUp() override {
        PanelViews::SetUp();
        made = makeWindow();
        ASSERT_TRUE(made->ensureRoot());
    }
    void TearDown() override {
        made.reset();
        PanelViews::TearDown();
    }
    void open(const PanelPlacement::Anchor& anchor) {
        window().showAt(anchor);
        panel->setShown(true);
        layOut();
    }
    // Opened over a 1920×1080 desktop's bottom tray, and active.
    void openActive() {
        open({{0, 0, 1920, 1040}, PanelPlacement::Align::centre, 1000, PanelPlacement::Align::end, 1048});
        window().requestActivate();
    }
    void press(int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(&window(), Qt::Key(key), modifiers);
        layOut();
    }
    QQuickItem* focused() { return window().activeFocusItem(); }
    QQuickItem* focus(QQuickItem* control) {
        control->forceActiveFocus(Qt::TabFocusReason);
        layOut();
        return control;
    }
    // A frame, what the view left for after it, and the frame after.
    void layOut() {
        window().grabWindow();
        QCoreApplication::processEvents();
        reported = window().position();
        animations.step(1000);
        window().grabWindow();
    }
    void save(const QString& name) {
        const QImage image = window().grabWindow();
        EXPECT_FALSE(ViewHarness::isSingleColour(image)) << name.toStdString();
        const QString dir = qEnvironmentVariable("VELTO_VIEWS_DIR");
        EXPECT_TRUE(dir.isEmpty() || image.save(dir + "/panel-" + name + ".png")) << name.toStdString();
    }
    // List rows are visual children only: the item tree is searched too.
    QQuickItem* find(const char* objectName) {
        const QString name = QString::fromUtf8(objectName);
        auto* found = window().rootItem()->findChild<QQuickItem*>(name);
        for (std::vector<QQuickItem*> items{window().rootItem()}; !found && !items.empty();) {
            QQuickItem* at = items.back();
            items.pop_back();
            if (at->objectName() == name) found = at;
            for (QQuickItem* child : at->childItems()) items.push_back(child);
        }
        EXPECT_TRUE(found) << objectName;
        return found;
    }
    // Where an item is on the screen, with the window where the window system last reported it.
    QRectF onScreen(QQuickItem* item) {
        return item->mapRectToScene({0, 0, item->width(), item->height()}).translated(reported);
    }
    bool inView(QQuickItem* item) {
        return QRectF(window().geometry()).contains(onScreen(item));
    }
    // The wheel over the panel's margin, where no control takes it, a notch at a time.
    void wheel(int delta, int notches = 12) {
        for (int notch = 0; notch < notches; ++notch) {
            QWheelEvent turned({8, 250}, window().mapToGlobal(QPointF(8, 250)), {}, {0, delta}, Qt::NoButton,
                               Qt::NoModifier, Qt::NoScrollPhase, false);
            turned.setTimestamp(1000 + 200 * notch);
            QCoreApplication::sendEvent(&window(), &turned);
            QCoreApplication::processEvents();  // starts the animation timer
            animations.step(200);
        }
    }
    // A click delivered at once, leaving the frames the window asked for unconfirmed: as on a
    // desktop, where the window manager answers later.
    // Clicks a second apart, as a person's.
    void clickNow(QPoint at) {
        const QPointF global = window().mapToGlobal(QPointF(at));
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, {});
        press.setTimestamp(clickTime += 1000);
        QCoreApplication::sendEvent(&window(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, {});
        release.setTimestamp(clickTime + 50);
        QCoreApplication::sendEvent(&window(), &release);
    }
    ulong clickTime = 0;

    PanelWindow& window() { return *made; }
    // As the program closes it: the panel model goes back to the compact panel.
    void closePanel() {
        window().performClose();
        panel->setShown(false);
        panel->panelDidClose();
    }

    std::unique_ptr<PanelWindow> made;
    QPoint reported;
};

}  // namespace velto::paneltest

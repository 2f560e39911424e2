#include <gtest/gtest.h>

#include <QJSEngine>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickItem>
#include <deque>
#include <functional>

#include "PanelFixture.h"
#include "ViewHarness.h"
#include "app/AppEnvironment.h"
#include "app/MacAppModel.h"
#include "app/NotchControllerFactory.h"
#include "foundation/FreedMemoryReturner.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "sources/credentials/InMemoryCredentialStore.h"
#include "support/FakeNowPlayingCenter.h"
#include "support/FakeQueuePlayer.h"
#include "support/InMemoryNetEaseKeychain.h"
#include "support/TempDir.h"
#include "ui/window/PanelNotifications.h"
#include "ui/panel/MacStatusPanel.h"

namespace velto {
namespace {

// The notch player asks for the panel as soon as it exists, as its open action may.
class EagerNotchFactory final : public NotchControllerFactory {
public:
    std::unique_ptr<NotchController> make(MacAppModel& model) override {
        madeFor = &model;
        emit PanelNotifications::shared().veltoOpenStatusPanel();
        struct Quiet final : NotchController {
            void setEnabled(bool) override {}
            void expand(bool) override {}
        };
        return std::make_unique<Quiet>();
    }
    MacAppModel* madeFor = nullptr;
};

struct LaunchParts {
    ManualMainQueue mainQueue;
    WorkerPool workers{1};
    TempDir dir;
    FakeQueuePlayer player{mainQueue};
    FakeNowPlayingCenter nowPlaying;

    AppEnvironment environment() {
        AppEnvironment env;
        env.mainQueue = &mainQueue;
        env.workers = &workers;
        env.defaults = std::make_shared<UserDefaults>(dir.path() / "defaults.json");
        env.applicationSupportDir = dir.path() / "data";
        env.artworkCacheDir = dir.path() / "artwork";
        env.resourceDir = dir.path() / "resources";
        env.neteaseOrigin = "https://127.0.0.1:9";
        env.credentialFallback = std::make_shared<InMemoryCredentialStore>();
        env.neteaseKeychain = std::make_shared<InMemoryNetEaseKeychain>();
        env.variables = [](const std::string&) -> std::optional<std::string> { return {}; };
        env.player = std::shared_ptr<QueuePlayer>(&player, [](QueuePlayer*) {});
        env.nowPlaying = std::shared_ptr<NowPlayingCenter>(&nowPlaying, [](NowPlayingCenter*) {});
        env.remoteCommands =
            std::shared_ptr<RemoteCommandCenter>(&nowPlaying, [](RemoteCommandCenter*) {});
        env.clock = [this] { return mainQueue.wallNow(); };
        return env;
    }
};

TEST(PanelLaunch, TheModelIsMadeFirstAndStartedLastWithThePanelReadingIt) {
    ViewHarness harness;
    LaunchParts parts;
    auto& mainQueue = parts.mainQueue;
    auto notch = std::make_shared<EagerNotchFactory>();

    MacAppDelegate::Setup setup = panelFixtureSetup(mainQueue);
    setup.makeModel = [&] {
        AppEnvironment env = parts.environment();
        env.notchFactory = notch;
        return std::make_unique<MacAppModel>(std::move(env));
    };
    setup.makeRoot = [](MacAppModel* model, MacStatusPanel*) {
        PanelWindow::Root root = panelFixtureRoot();
        root.properties[QStringLiteral("model")] = QVariant::fromValue<QObject*>(model);
        return root;
    };
    MacAppDelegate delegate(std::move(setup));
    ASSERT_TRUE(delegate.model());
    EXPECT_EQ(notch->madeFor, nullptr);
    EXPECT_FALSE(delegate.panel().isVisible());

    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(notch->madeFor, delegate.model());
    // The request made while starting found its observer in place.
    mainQueue.runPending();
    ASSERT_TRUE(delegate.panel().isShown());
    EXPECT_EQ(delegate.panel().rootItem()->property("model").value<QObject*>(), delegate.model());
    // The status panel follows its window: shown with it, back to the compact panel on close
    // (not on one for a dialog of the program's own).
    MacStatusPanel& content = *delegate.statusPanel();
    EXPECT_EQ(content.modelObject(), delegate.model());
    EXPECT_TRUE(content.shown());
    content.toggleSettings();
    ASSERT_TRUE(content.showsSettings());
    // A file dialog opened from the page takes the activation and closes the panel, which
    // comes back on that page when the dialog ends.
    QWindow dialog;
    dialog.setModality(Qt::ApplicationModal);
    dialog.show();
    dialog.requestActivate();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    ASSERT_FALSE(delegate.panel().isShown());
    EXPECT_FALSE(content.shown());
    dialog.hide();
    emit PanelNotifications::shared().veltoOpenStatusPanel();
    mainQueue.runPending();
    ASSERT_TRUE(delegate.panel().isShown());
    EXPECT_TRUE(content.showsSettings());
    delegate.applicationWillTerminate();
    EXPECT_FALSE(content.shown());
    EXPECT_FALSE(content.showsSettings());
    EXPECT_TRUE(harness.warnings.isEmpty()) << harness.warnings.join("\n").toStdString();
}

// The closed panel's views follow each song and leave garbage that their engine would collect
// only much later: a song change collects it, before the freed heap is handed back.
TEST(PanelLaunch, ASongChangeCollectsThePanelViewsGarbageBeforeTheTrim) {
    ViewHarness harness;
    LaunchParts parts;
    std::deque<std::function<void()>> trims;
    auto returner = std::make_shared<FreedMemoryReturner>(
        [&](std::function<void()> job) { trims.push_back(std::move(job)); }, parts.mainQueue,
        FreedMemoryReturner::defaultSpacing, [] {});
    MacAppDelegate::Setup setup = panelFixtureSetup(parts.mainQueue);
    setup.makeModel = [&] {
        AppEnvironment env = parts.environment();
        env.freedMemory = returner;
        return std::make_unique<MacAppModel>(std::move(env));
    };
    auto delegate = std::make_unique<MacAppDelegate>(std::move(setup));
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(delegate->panel().ensureRoot());

    QPointer<QObject> garbage = new QObject;
    QJSEngine::setObjectOwnership(garbage, QJSEngine::JavaScriptOwnership);
    delegate->panel().engine().newQObject(garbage);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(garbage);
    returner->request();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(garbage);
    ASSERT_EQ(trims.size(), 1u);
    trims.front()();
    trims.clear();
    // The returner may outlive the panel (the player holds it): a later song change finds no
    // engine to collect and still trims.
    delegate.reset();
    returner->request();
    parts.mainQueue.advance(FreedMemoryReturner::defaultSpacing);
    EXPECT_EQ(trims.size(), 1u);
    EXPECT_TRUE(harness.warnings.isEmpty()) << harness.warnings.join("\n").toStdString();
}

}  // namespace
}  // namespace velto

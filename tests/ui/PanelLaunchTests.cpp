#include <gtest/gtest.h>

#include <QQuickItem>

#include "PanelFixture.h"
#include "ViewHarness.h"
#include "app/AppEnvironment.h"
#include "app/MacAppModel.h"
#include "app/NotchControllerFactory.h"
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

TEST(PanelLaunch, TheModelIsMadeFirstAndStartedLastWithThePanelReadingIt) {
    ViewHarness harness;
    ManualMainQueue mainQueue;
    WorkerPool workers(1);
    TempDir dir;
    FakeQueuePlayer player(mainQueue);
    FakeNowPlayingCenter nowPlaying;
    auto notch = std::make_shared<EagerNotchFactory>();

    MacAppDelegate::Setup setup = panelFixtureSetup(mainQueue);
    setup.makeModel = [&] {
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
        env.notchFactory = notch;
        env.clock = [&] { return mainQueue.wallNow(); };
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

}  // namespace
}  // namespace velto

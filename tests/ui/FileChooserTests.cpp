#include <gtest/gtest.h>

#include <QDir>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <vector>

#include "foundation/ManualMainQueue.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "ui/window/QtFileChooser.h"

namespace velto {
namespace {

TEST(FileChooser, OpensInTheLastFolderElseMusicElseHome) {
    TempDir temp;
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", temp.path().c_str());
    const auto music = temp.path() / "音乐", last = temp.path() / "下载";
    std::ofstream(temp.path() / "user-dirs.dirs") << "XDG_MUSIC_DIR=\"" << music.string() << "\"\n";
    const auto start = [](const std::filesystem::path& last) {
        return QDir::cleanPath(QtFileChooser::startFolder(QString::fromStdString(last.string()))).toStdString();
    };
    EXPECT_EQ(start({}), QDir::cleanPath(QDir::homePath()).toStdString());  // named, not made yet
    std::filesystem::create_directories(music);
    std::filesystem::create_directories(last);
    EXPECT_EQ(start({}), music.string());
    EXPECT_EQ(start(last), last.string());
    std::filesystem::remove(last);
    EXPECT_EQ(start(last), music.string());
    qputenv("XDG_CONFIG_HOME", config);
}

// The folder last used lies on a share that stopped answering: the dialog opens at home after a
// short wait instead of holding the main thread until the share answers, a second dialog asks no
// more of the share while the first look hangs, and the look's late answer opens nothing.
TEST(FileChooser, AStartFolderOnAStalledShareHoldsNothing) {
    ManualMainQueue queue;
    auto looks = std::make_shared<QtFileChooser::StartFolderLooks>();
    looks->queue = &queue;
    struct Unhook {
        QtFileChooser::StartFolderLooks& looks;
        ~Unhook() {
            std::lock_guard lock(looks.mutex);
            looks.queue = nullptr;
        }
    } unhook{*looks};
    const QString share = QStringLiteral("/srv/音乐");
    // Shared with the look, which may outlive a failing test until the share wakes.
    struct Share {
        std::promise<void> wake;
        std::shared_future<void> woken = wake.get_future().share();
        std::atomic<int> looks = 0;
    };
    auto stalled = std::make_shared<Share>();
    struct Wake {
        Share& share;
        ~Wake() {
            if (share.woken.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
                share.wake.set_value();
        }
    } wakeAtEnd{*stalled};
    const auto isFolder = [stalled, share](const QString& path) {
        if (path != share) return false;
        ++stalled->looks;
        stalled->woken.wait();
        return true;
    };
    const auto looksAtShare = [&] { return stalled->looks.load(); };
    std::vector<QString> opened;
    const auto open = [&](QString folder) { opened.push_back(std::move(folder)); };
    QtFileChooser::findStartFolder(looks, share, open, isFolder, std::chrono::milliseconds(800));
    ASSERT_TRUE(eventually([&] { return looksAtShare() == 1; }));
    queue.advance(std::chrono::milliseconds(799));
    EXPECT_TRUE(opened.empty());
    queue.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(opened, std::vector{QDir::homePath()});
    QtFileChooser::findStartFolder(looks, share, open, isFolder, std::chrono::milliseconds(800));
    queue.runPending();
    EXPECT_EQ(opened, (std::vector{QDir::homePath(), QDir::homePath()}));
    EXPECT_EQ(looksAtShare(), 1);
    stalled->wake.set_value();
    ASSERT_TRUE(queue.runUntil([&] {
        std::lock_guard lock(looks->mutex);
        return !looks->looking;
    }));
    queue.runPending();
    EXPECT_EQ(opened.size(), 2u);
    // Awake, it answers before the wait ends.
    QtFileChooser::findStartFolder(looks, share, open, isFolder, std::chrono::milliseconds(800));
    ASSERT_TRUE(queue.runUntil([&] { return opened.size() == 3; }));
    EXPECT_EQ(opened.back(), share);
    EXPECT_EQ(queue.pendingTimerCount(), 0u);
}

TEST(FileChooser, TheFolderLastUsedHoldsWhatWasChosenEvenWhenItsPathWasTyped) {
    const QString home = QStringLiteral("/home/u");
    EXPECT_EQ(QtFileChooser::folderUsed(home, {QStringLiteral("/srv/音乐/专辑")}), QStringLiteral("/srv/音乐"));
    EXPECT_EQ(QtFileChooser::folderUsed(home, {QStringLiteral("/srv/a/1.flac"), QStringLiteral("/srv/b/2.flac")}),
              QStringLiteral("/srv/a"));
    EXPECT_EQ(QtFileChooser::folderUsed(home, {}), home);  // cancelled: where the person browsed to
}

// A dialog opens clear of the notch hanging from the top of the screen, made shorter where the
// room below is less, on a low screen under a bottom or a top tray and on larger ones.
TEST(FileChooser, DialogsOpenClearOfTheNotch) {
    const QSize frame(900, 592);
    for (const auto& [area, notch] : {std::pair{QRect(0, 0, 1024, 570), QRect(412, 0, 200, 32)},
                                      {QRect(0, 30, 1024, 570), QRect(412, 30, 200, 32)},
                                      {QRect(0, 0, 1366, 738), QRect(583, 0, 200, 32)},
                                      {QRect(0, 0, 960, 510), QRect(380, 0, 200, 37)},
                                      {QRect(0, 0, 1920, 1040), QRect(860, 0, 200, 32)}}) {
        const QRect placed = QtFileChooser::placed(frame, area, notch, 300);
        EXPECT_FALSE(placed.intersects(notch)) << area.width() << "x" << area.height();
        EXPECT_TRUE(area.contains(placed)) << area.width() << "x" << area.height();
        EXPECT_EQ(placed.width(), std::min(frame.width(), area.width()));
        EXPECT_EQ(placed.height(), std::min(frame.height(), area.bottom() - notch.bottom() - 8));
    }
    // Where the notch stands aside, the dialog stays centred; where the room is too little, it
    // keeps its least height below the notch.
    EXPECT_EQ(QtFileChooser::placed(frame, QRect(0, 0, 1920, 1040), QRect(0, 0, 200, 32), 300),
              QRect(510, 224, 900, 592));
    EXPECT_EQ(QtFileChooser::placed(frame, QRect(0, 0, 1024, 300), QRect(412, 0, 200, 32), 280),
              QRect(62, 40, 900, 280));
}

}  // namespace
}  // namespace velto

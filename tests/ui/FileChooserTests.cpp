#include <gtest/gtest.h>

#include <QDir>
#include <filesystem>
#include <fstream>

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

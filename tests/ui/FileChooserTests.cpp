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

}  // namespace
}  // namespace velto

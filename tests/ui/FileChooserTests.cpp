#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <filesystem>
#include <set>

#include "playback/LocalAudioScanner.h"
#include "support/TempDir.h"
#include "ui/QtFileChooser.h"

namespace velto {
namespace {

// Points the user's folder settings at a fresh home for the test's life.
class FolderSettings {
  public:
    FolderSettings() : config_(qgetenv("XDG_CONFIG_HOME")), home_(qgetenv("HOME")) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir(".config")));
        qputenv("HOME", QFile::encodeName(dir("")));
    }
    ~FolderSettings() {
        qputenv("XDG_CONFIG_HOME", config_);
        qputenv("HOME", home_);
    }
    QString dir(const char* name) const {
        return QString::fromStdString((temp.path() / name).lexically_normal().string());
    }
    void setMusic(const char* name) {
        std::filesystem::create_directories(temp.path() / ".config");
        QFile file(dir(".config") + QStringLiteral("/user-dirs.dirs"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("XDG_MUSIC_DIR=\"$HOME/%1\"\n").arg(QString::fromUtf8(name)).toUtf8());
    }
    TempDir temp;

  private:
    QByteArray config_, home_;
};

TEST(FileChooser, OpensInTheLastFolderElseMusicElseHome) {
    FolderSettings folders;
    const QString home = QDir::cleanPath(folders.dir(""));
    const QString music = folders.dir("音乐");
    const QString last = folders.dir("下载/专辑");
    std::filesystem::create_directories(last.toStdString());
    auto clean = [](const QString& path) { return QDir::cleanPath(path); };

    folders.setMusic("音乐");  // named but not made yet
    EXPECT_EQ(clean(QtFileChooser::startFolder({})), home);
    std::filesystem::create_directories(music.toStdString());
    EXPECT_EQ(clean(QtFileChooser::startFolder({})), music);
    EXPECT_EQ(clean(QtFileChooser::startFolder(last)), last);
    std::filesystem::remove_all(last.toStdString());
    EXPECT_EQ(clean(QtFileChooser::startFolder(last)), music);
}

TEST(FileChooser, OffersWhatTheScannerReadsBeforeAllFiles) {
    const QStringList filters = QtFileChooser::audioFilters();
    ASSERT_EQ(filters.size(), 2);
    EXPECT_TRUE(filters.back().endsWith(QStringLiteral("(*)")));
    // The first filter offers exactly the files the scanner takes.
    const QRegularExpression patterns(QStringLiteral("\\*\\.(\\w+)"));
    std::set<std::string> offered;
    for (const auto& match : patterns.globalMatch(filters.front()))
        offered.insert(match.captured(1).toLower().toStdString());
    EXPECT_EQ(offered, LocalAudioScanner::supportedExtensions());
}

}  // namespace
}  // namespace velto

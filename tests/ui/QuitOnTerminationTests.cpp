#include <gtest/gtest.h>

#include <QProcess>

#include "ViewHarness.h"
#include "support/TempDir.h"

namespace velto {
namespace {

// A logout asks the program to go with SIGTERM: it ends as the quit action ends it, through its
// destructors (which keep the place in the song playing), not killed where it stands.
TEST(QuitOnTermination, TheProgramEndsInOrderOnSIGTERM) {
    ViewHarness harness;  // the application object
    TempDir home;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* folder : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                               "XDG_CACHE_HOME", "HOME"}) {
        auto path = home.path() / folder;
        std::filesystem::create_directories(path);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        environment.insert(QString::fromLatin1(folder), QString::fromStdString(path.string()));
    }
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("VELTO_AUDIO_SINK"), QStringLiteral("fakesink"));
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(VELTO_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    QByteArray output;
    while (!output.contains("[app] info: started") && program.waitForReadyRead(60000))
        output += program.readAll();
    ASSERT_TRUE(output.contains("[app] info: started")) << output.toStdString();
    program.terminate();
    if (!program.waitForFinished(30000)) program.kill();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(program.exitCode(), 0);
}

}  // namespace
}  // namespace velto

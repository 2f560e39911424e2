#include <gtest/gtest.h>

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>

#include "ViewHarness.h"
#include "support/TempDir.h"
#include "ui/window/SingleInstance.h"

namespace velto {
namespace {

TEST(SingleInstance, ASecondStartOpensTheRunningPanelAndExitsZero) {
    ViewHarness harness;  // the application object
    TempDir runtime;
    const QString folder = QString::fromStdString(runtime.path().string());
    SingleInstance first(folder);
    ASSERT_TRUE(first.claim());
    EXPECT_FALSE(SingleInstance(folder).claim());
    QSignalSpy opened(&first, &SingleInstance::openRequested);

    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(VELTO_PROGRAM), {});
    if (!second.waitForFinished(60000)) second.kill();
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(opened.count() == 1 || opened.wait(10000));

    // Only the one command counts, whole.
    for (const char* bytes : {"open please\n", "exit\n", "op", "open\n"}) {
        QLocalSocket client;
        client.connectToServer(first.socketPath());
        ASSERT_TRUE(client.waitForConnected(5000));
        client.write(bytes);
        ASSERT_TRUE(client.waitForBytesWritten(5000));
    }
    EXPECT_TRUE(opened.count() == 2 || opened.wait(10000));
    EXPECT_EQ(opened.count(), 2);
}

}  // namespace
}  // namespace velto

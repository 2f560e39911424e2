#include <gtest/gtest.h>

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>

#include "ViewHarness.h"
#include "support/TempDir.h"
#include "ui/SingleInstance.h"

namespace velto {
namespace {

QString folderOf(const TempDir& dir) { return QString::fromStdString(dir.path().string()); }

void send(const QString& socketPath, const QByteArray& bytes) {
    QLocalSocket client;
    client.connectToServer(socketPath);
    ASSERT_TRUE(client.waitForConnected(5000));
    client.write(bytes);
    ASSERT_TRUE(client.waitForBytesWritten(5000));
    client.disconnectFromServer();
}

TEST(SingleInstance, ASecondStartOpensTheRunningPanelAndExitsZero) {
    ViewHarness harness;  // the application object
    TempDir runtime;
    SingleInstance first(folderOf(runtime));
    ASSERT_TRUE(first.claim());
    QSignalSpy opened(&first, &SingleInstance::openRequested);

    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folderOf(runtime));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(VELTO_PROGRAM), {});
    const bool finished = second.waitForFinished(60000);
    if (!finished) second.kill();
    ASSERT_TRUE(finished) << "the second start kept running";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(opened.count() == 1 || opened.wait(10000));

    // Nothing but the one command counts; a partial one neither.
    send(first.socketPath(), "open please\n");
    send(first.socketPath(), "exit\n");
    send(first.socketPath(), "op");
    send(first.socketPath(), "open\n");
    EXPECT_TRUE(opened.count() == 2 || opened.wait(10000));
    EXPECT_EQ(opened.count(), 2);

    // Another claim while the first holds the place fails.
    SingleInstance rival(folderOf(runtime));
    EXPECT_FALSE(rival.claim());
}

}  // namespace
}  // namespace velto

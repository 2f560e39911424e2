#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace velto {

// An X server of the test's own on the first free display, ended with this object.
class XvfbDisplay {
public:
    explicit XvfbDisplay(const QString& screen = QStringLiteral("1280x800x24")) {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) return;
        present_ = true;
        // The server writes the number it took to its standard output.
        server_.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", screen});
        if (!server_.waitForStarted(5000)) return;
        QByteArray number;
        while (!number.contains('\n') && server_.waitForReadyRead(10000)) number += server_.readAllStandardOutput();
        if (number.contains('\n')) name_ = ":" + number.trimmed();
    }
    ~XvfbDisplay() {
        server_.terminate();
        server_.waitForFinished(5000);
    }
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // False where Xvfb is not installed.
    bool present() const { return present_; }
    // ":N", empty when the server did not start.
    const QByteArray& name() const { return name_; }
    QByteArray errors() { return server_.readAllStandardError(); }
    // Ends the server at once, as a crash or the end of the session does.
    void kill() {
        server_.kill();
        server_.waitForFinished(5000);
    }

private:
    QProcess server_;
    bool present_ = false;
    QByteArray name_;
};

}  // namespace velto

#include "ui/window/SingleInstance.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include "foundation/Log.h"

namespace velto {

namespace {

constexpr QByteArrayView openCommand = "open\n";

bool fromThisUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                   &length) != 0)
        return false;
    return peer.uid == getuid();
}

}  // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent), folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::runtimeFolder() {
    // $XDG_RUNTIME_DIR, which Qt checks is the user's own and private.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::socketPath() const { return folder_ + QStringLiteral("/velto.socket"); }

bool SingleInstance::claim() {
    if (folder_.isEmpty()) {
        Log::error("app", "no private runtime folder; later starts will run beside this one");
        return true;
    }
    lock_ = std::make_unique<QLockFile>(folder_ + QStringLiteral("/velto.lock"));
    // Only a lock whose process has gone is stale, however old.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        lock_.reset();
        return false;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a crashed instance; the lock says no one listens on it.
    QLocalServer::removeServer(socketPath());
    if (!server_->listen(socketPath()))
        Log::error("app", "cannot listen for later starts: " + server_->errorString().toStdString());
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!fromThisUser(*socket)) {
            socket->abort();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        read(socket);
    }
}

void SingleInstance::read(QLocalSocket* socket) {
    if (socket->bytesAvailable() < qint64(openCommand.size())) return;
    // One command per connection; anything else is ignored.
    const QByteArray command = socket->read(openCommand.size());
    socket->disconnectFromServer();
    if (command == openCommand) emit openRequested();
    else Log::info("app", "ignored a message on the instance socket");
}

bool SingleInstance::openRunning() const {
    // The running instance may hold the lock a moment before it listens.
    for (int attempt = 0; attempt < 20; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(1000)) {
            socket.write(openCommand.data(), openCommand.size());
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            if (sent) return true;
        }
        QThread::msleep(100);
    }
    Log::error("app", "Velto runs already but could not be asked to open its panel");
    return false;
}

}  // namespace velto

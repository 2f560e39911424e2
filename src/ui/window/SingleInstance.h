#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace velto {

// Velto runs once per user. The first start holds a lock and listens on a local socket in the
// user's runtime folder; a later start sends it "open" and leaves.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `folder`: where the lock and the socket live (the user's runtime folder in the program);
    // empty: no such folder, and every start runs on its own.
    explicit SingleInstance(QString folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The user's private runtime folder; empty when there is none.
    static QString runtimeFolder();

    // True when this process is now the one instance and listens; false when another holds it.
    bool claim();
    // Asks the running instance to open its panel; false when it could not be told.
    bool openRunning() const;

    QString socketPath() const;

signals:
    // The running instance was asked to open (emitted on the main thread).
    void openRequested();

private:
    void accept();
    void read(QLocalSocket* socket);

    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace velto

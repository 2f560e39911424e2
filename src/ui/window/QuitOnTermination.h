#pragma once

#include <QObject>

class QSocketNotifier;

namespace velto {

// The end of a session (a logout, a shutdown) asks programs to go with SIGTERM; a closed
// terminal sends SIGHUP, Ctrl+C in it SIGINT. Left to their default these signals end the
// program where it stands, and what it keeps on its way out (the place in the song playing) is
// lost; taken here, each quits the event loop as the quit action does. One per process, while
// the application runs.
class QuitOnTermination : public QObject {
    Q_OBJECT
public:
    explicit QuitOnTermination(QObject* parent = nullptr);
    ~QuitOnTermination() override;

private:
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace velto

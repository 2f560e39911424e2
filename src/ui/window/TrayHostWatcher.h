#pragma once

#include <QObject>
#include <cstdint>
#include <memory>

class QSocketNotifier;
struct xcb_connection_t;

namespace velto {

class X11SelectionOwner;

// Whether a host for tray icons runs on the desktop, followed as hosts start and end: on X one
// that owns the screen's tray selection (XEmbed), and on the session bus a status-notifier
// watcher with a host registered. Hosts often start after the programs of a login.
class TrayHostWatcher final : public QObject {
    Q_OBJECT
  public:
    // Follows the X display `displayName` (none: the bus alone) and the session bus.
    explicit TrayHostWatcher(const char* displayName, QObject* parent = nullptr);
    ~TrayHostWatcher() override;

    bool hostPresent() const { return xembedHost_ || statusNotifierHost_; }

  signals:
    // A host is present where there was none.
    void hostAppeared();

  private slots:
    void askStatusNotifierHost();

  private:
    void readEvents();
    void tell(bool& host, bool present);

    xcb_connection_t* connection_ = nullptr;
    std::unique_ptr<X11SelectionOwner> selection_;
    QSocketNotifier* notifier_ = nullptr;
    bool xembedHost_ = false;
    bool statusNotifierHost_ = false;
    std::uint64_t asked_ = 0;  // only the latest question's answer counts
};

}  // namespace velto

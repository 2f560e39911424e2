#pragma once

#include <QObject>
#include <memory>

class QSystemTrayIcon;
class QMenu;

namespace velto {

// Owns the program's tray presence: the status icon and its menu.
class MacAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit MacAppDelegate(QObject* parent = nullptr);
    ~MacAppDelegate() override;

    // Creates the status item; returns false (and logs) where the desktop has no tray.
    bool applicationDidFinishLaunching();
    bool hasStatusItem() const { return statusItem_ != nullptr; }

private:
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* statusItem_ = nullptr;
};

}  // namespace velto

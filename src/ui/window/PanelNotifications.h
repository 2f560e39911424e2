#pragma once

#include <QObject>

namespace velto {

// The process's in-process notifications about the status panel. Posting one is emitting its
// signal; observers connect with a context object so that none outlives its receiver.
class PanelNotifications : public QObject {
    Q_OBJECT
public:
    static PanelNotifications& shared();

signals:
    // Asks the delegate to open the panel (the notch player's open action).
    void veltoOpenStatusPanel();
    // The panel has closed, however.
    void veltoStatusPanelDidClose();

private:
    PanelNotifications() = default;
};

}  // namespace velto

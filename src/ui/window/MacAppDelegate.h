#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "foundation/MainQueue.h"
#include "ui/window/PanelWindow.h"

class QMenu;
class QSystemTrayIcon;

namespace velto {

class MacAppModel;
class MacArtworkLoader;
class MacStatusPanel;
class NotchWindowController;
class TrayHostWatcher;

// The program's desktop presence: the tray item and its menu, the status panel's window and
// the rules that open and close it. Everything runs on the main thread.
class MacAppDelegate : public QObject {
    Q_OBJECT
public:
    struct Setup {
        MainQueue* mainQueue = nullptr;
        // Builds the application model; empty where the window is tried alone (tests).
        std::function<std::unique_ptr<MacAppModel>()> makeModel;
        // The panel's root view over the model and the status panel made over it (both null
        // when there is no model).
        std::function<PanelWindow::Root(MacAppModel*, MacStatusPanel*)> makeRoot;
        // Off where no tray is wanted (tests): the panel then opens only on request.
        bool statusItem = true;
    };

    // A tray activation this soon after the panel closed by losing activation is the very click
    // that took the activation away: it must not reopen the panel.
    static constexpr std::chrono::milliseconds trayRaceWindow{300};

    // Makes the model and the status panel over it, then the panel window, hidden.
    explicit MacAppDelegate(Setup setup, QObject* parent = nullptr);
    ~MacAppDelegate() override;

    // The tray item, the panel's observers, and last the model's start.
    void applicationDidFinishLaunching();
    // The tray item's action: closes the panel when shown, else opens it at the icon.
    void toggleStatusPanel();
    // Opens the panel unless it is shown.
    void showStatusPanel();
    // A later start of the program: opens the panel on a later main-queue turn.
    void applicationShouldHandleReopen();
    // Termination: closes the panel, then removes the long-lived observers.
    void applicationWillTerminate();

    MacAppModel* model() const { return model_.get(); }
    MacStatusPanel* statusPanel() const { return statusPanel_.get(); }
    PanelWindow& panel() const { return *popover_; }
    // Where the notch player stands on the screen (empty without one).
    QRect notchFrame() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class CloseCause { request, lostActivation };
    void makeStatusItem();
    void show(bool byTrayClick);
    void close(CloseCause cause);
    void popoverDidClose();
    NotchWindowController* notchWindow() const;

    MainQueue& mainQueue_;
    bool wantsStatusItem_;
    // Before the window, so that the view goes before the models it reads.
    std::unique_ptr<MacAppModel> model_;
    std::unique_ptr<MacArtworkLoader> artworkLoader_;
    std::unique_ptr<MacStatusPanel> statusPanel_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* statusItem_ = nullptr;
    std::unique_ptr<TrayHostWatcher> trayHosts_;
    std::unique_ptr<PanelWindow> popover_;
    QMetaObject::Connection observer_;
    QMetaObject::Connection popoverFocusObserver_;
    QMetaObject::Connection activationObserver_;
    std::optional<MainQueue::Duration> lostActivationAt_;
    // Where the menu opened by a right-click over the shown panel was asked for.
    std::optional<QPoint> menuOverPanel_;
};

}  // namespace velto

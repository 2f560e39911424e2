#include <QApplication>
#include <QLibraryInfo>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTranslator>

#include "app/AppEnvironment.h"
#include "app/MacAppModel.h"
#include "foundation/AllocatorSettings.h"
#include "foundation/Log.h"
#include "foundation/QtMainQueue.h"
#include "foundation/SaveOnExit.h"
#include "ui/style/AppFonts.h"
#include "ui/window/MacAppDelegate.h"
#include "ui/window/PanelNotifications.h"
#include "ui/window/QtFileChooser.h"
#include "ui/window/QuitOnTermination.h"
#include "ui/style/ReduceMotionSetting.h"
#include "ui/window/SingleInstance.h"
#include "ui/style/Theme.h"
#include "ui/ViewTypes.h"
#include "ui/notch/NotchPlatform.h"
#include "ui/notch/QuickNotchControllerFactory.h"
#include "ui/panel/MacStatusPanel.h"

int main(int argc, char** argv) {
    velto::AllocatorSettings::apply(argv);
    // Native Wayland lets no program place its own windows (the panel at the tray, the notch
    // player at the top): run on X11 through XWayland where there is one, unless the user chose.
    velto::NotchPlatform::preferX11();
    // A requested frame is drawn on the event loop's next turn instead of after Qt's 5 ms idle
    // wait, so that a change and the frame showing it share one wake-up: the notch meter alone
    // would otherwise wake the program fourteen times a second instead of seven. Animations
    // still pace themselves on their own timer.
    if (qEnvironmentVariableIsEmpty("QT_QPA_UPDATE_IDLE_TIME"))
        qputenv("QT_QPA_UPDATE_IDLE_TIME", "0");
    // On X a window's frame goes to the server in a request rather than through shared memory:
    // shared memory makes every frame wait for the server's answer to the last before drawing
    // over it, a round trip and a wake-up each time the panel's seek slider moves. Qt takes
    // the same path on its own for a display on another machine.
    if (qEnvironmentVariableIsEmpty("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velto"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velto"));
    QApplication::setOrganizationDomain(QStringLiteral("quorvanel.cn"));
    // A tray program: closing a window never ends it, only the quit action does.
    QApplication::setQuitOnLastWindowClosed(false);

    // Once per user: a later start opens the running program's panel and leaves.
    velto::SingleInstance instance(velto::SingleInstance::runtimeFolder());
    if (!instance.claim()) return instance.openRunning() ? 0 : 1;
    // A logout's SIGTERM, a closed terminal's SIGHUP and Ctrl+C's SIGINT end the program as the
    // quit action does, through every destructor.
    velto::QuitOnTermination termination;

    // The views use no shader effects, so they need no GPU; the software scene graph spares
    // the GL driver, which otherwise doubles the resident size of a program that idles all day.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Before any menu or view exists, so the tray menu's Chinese renders on a fresh machine too.
    velto::AppFonts::install();
    // Qt's own texts (the file dialog's buttons and labels) in Chinese like the rest.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    else
        velto::Log::info("app", "Qt's Chinese translations are missing; its dialogs show English");
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    velto::ReduceMotionSetting motion;
    velto::Theme theme(&motion);
    velto::registerViewTypes(&theme);

    velto::QtMainQueue mainQueue;
    // The notch player's views; it outlives the delegate, and with it the model's notch player.
    QQmlEngine notchEngine;
    velto::MacAppDelegate delegate({
        &mainQueue,
        [&mainQueue, &notchEngine, &delegate] {
            auto notch = std::make_shared<velto::QuickNotchControllerFactory>(&notchEngine, [] {
                emit velto::PanelNotifications::shared().veltoOpenStatusPanel();
            });
            // A dialog takes the activation and so closes the panel: it comes back when the
            // dialog ends, with what the choice brought (an import's notice). Dialogs leave the
            // notch uncovered.
            auto files = std::make_shared<velto::QtFileChooser>(
                [] { emit velto::PanelNotifications::shared().veltoOpenStatusPanel(); },
                [&delegate] { return delegate.notchFrame(); }, &mainQueue);
            auto environment = velto::AppEnvironment::system(mainQueue, std::move(files), std::move(notch));
            return std::make_unique<velto::MacAppModel>(std::move(environment));
        },
        [](velto::MacAppModel*, velto::MacStatusPanel* panel) {
            return velto::PanelWindow::Root{
                QUrl(QStringLiteral("qrc:/velto/qml/panel/MacStatusPanel.qml")), {},
                {{QStringLiteral("panel"), QVariant::fromValue<QObject*>(panel)}}};
        }});
    QObject::connect(&instance, &velto::SingleInstance::openRequested, &delegate,
                     &velto::MacAppDelegate::applicationShouldHandleReopen);
    delegate.applicationDidFinishLaunching();
    // The loss of the X connection ends the program in Qt's exit() (a logout without a session
    // manager): what the quit keeps is saved there too, without a look at the display.
    velto::SaveOnExit saveOnExit([&delegate] {
        if (auto* model = delegate.model()) model->saveForEnd();
    });
    velto::Log::info("app", "started");
    QApplication::exec();
    return 0;
}

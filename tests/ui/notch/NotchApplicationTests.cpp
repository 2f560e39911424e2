#include <gtest/gtest.h>

#include <QQmlEngine>
#include <QQuickWindow>

#include "../ViewHarness.h"
#include "app/AppModelFixture.h"
#include "app/notch/NotchWindowController.h"
#include "ui/notch/QuickNotchControllerFactory.h"
#include "ui/notch/QuickNotchPanel.h"

namespace velto {
namespace {

class NotchApplication : public AppModelTest {
  protected:
    void TearDown() override {
        model.reset();
        EXPECT_TRUE(harness.warnings.isEmpty()) << harness.warnings.join("\n").toStdString();
    }
    ViewHarness harness;
    QQmlEngine engine;
};

TEST_F(NotchApplication, TheModelShowsTheRealNotchAndHearsItAskForThePanel) {
    int asked = 0;
    AppEnvironment env = environment();
    env.notchFactory = std::make_shared<QuickNotchControllerFactory>(&engine, [&] { ++asked; });
    model = std::make_unique<MacAppModel>(env);
    model->showNotch();

    auto* controller = dynamic_cast<NotchWindowController*>(model->notchController());
    ASSERT_TRUE(controller);
    auto* panel = dynamic_cast<QuickNotchPanel*>(controller->panel());
    ASSERT_TRUE(panel);
    EXPECT_TRUE(controller->expanded());
    EXPECT_TRUE(panel->window()->isVisible());
    EXPECT_EQ(QRectF(panel->window()->geometry()), controller->geometry().frame(true));

    controller->openStatusPanel();
    EXPECT_EQ(asked, 0);  // on a later turn, after the collapse
    harness.settle();
    EXPECT_EQ(asked, 1);
    model->setNotchEnabled(false);
    EXPECT_FALSE(panel->window()->isVisible());
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "foundation/ManualMainQueue.h"
#include "ui/notch/NotchMeterModel.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

// The meter swings only while playing, without reduced motion and on screen; otherwise its
// bars stand still and no timer is left to wake the program.
TEST(NotchMeterModelTest, SwingsOnlyWhilePlayingAndSeen) {
    struct Case {
        bool playing, reduceMotion, shown;
        bool runs;
        double stillHeight;  // 0: swinging
    } cases[] = {
        {true, false, true, true, 0},   {true, false, false, false, 0},
        {true, true, true, false, 10},  {false, false, true, false, 4},
        {false, true, false, false, 4},
    };
    for (const auto& c : cases) {
        ManualMainQueue queue;
        const std::size_t idle = queue.pendingTimerCount();
        NotchMeterModel meter(queue);
        meter.setShown(c.shown);
        meter.setReduceMotion(c.reduceMotion);
        meter.setPlaying(c.playing);
        SCOPED_TRACE(testing::Message() << c.playing << c.reduceMotion << c.shown);
        EXPECT_EQ(meter.running(), c.runs);
        EXPECT_EQ(queue.pendingTimerCount(), idle + (c.runs ? 1 : 0));
        EXPECT_EQ(meter.accessibleName(), c.playing ? "正在播放" : "已暂停");
        EXPECT_EQ(meter.barOpacity(), c.playing ? 0.9 : 0.4);

        QSignalSpy changes(&meter, &NotchMeterModel::heightsChanged);
        queue.advance(1s);
        ASSERT_EQ(meter.heights().size(), NotchMeterModel::barCount);
        if (c.stillHeight > 0) {
            EXPECT_EQ(meter.heights(), QList<double>(NotchMeterModel::barCount, c.stillHeight));
        }
        if (!c.runs) {
            EXPECT_EQ(changes.count(), 0);
            continue;
        }
        // About seven redraws a second, never more.
        EXPECT_GE(changes.count(), 6);
        EXPECT_LE(changes.count(), 8);
        for (double height : meter.heights()) {
            EXPECT_GE(height, 5);
            EXPECT_LE(height, 17);
        }
        meter.setShown(false);
        EXPECT_FALSE(meter.running());
        EXPECT_EQ(queue.pendingTimerCount(), idle);
    }
}

}  // namespace
}  // namespace velto

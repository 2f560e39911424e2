#include <gtest/gtest.h>

#include <QSignalSpy>

#include "foundation/ManualMainQueue.h"
#include "ui/notch/NotchMeterModel.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

// The meter swings only while playing, without reduced motion, on screen and not obscured;
// otherwise its bars stand still and no timer is left to wake the program. A painter that
// paces the swing itself leaves the rule alone but takes the timer.
TEST(NotchMeterModelTest, SwingsOnlyWhilePlayingAndSeen) {
    struct Case {
        bool playing, reduceMotion, shown, obscured, paced;
        bool runs;
        double stillHeight;  // 0: swinging
    } cases[] = {
        {true, false, true, false, false, true, 0},  {true, false, false, false, false, false, 0},
        {true, false, true, true, false, false, 0},  {true, false, true, false, true, true, 0},
        {true, true, true, false, false, false, 10}, {false, false, true, false, false, false, 4},
        {false, true, false, false, true, false, 4},
    };
    for (const auto& c : cases) {
        ManualMainQueue queue;
        const std::size_t idle = queue.pendingTimerCount();
        NotchMeterModel meter(queue);
        meter.setShown(c.shown);
        meter.setObscured(c.obscured);
        meter.setPacedByPainter(c.paced);
        meter.setReduceMotion(c.reduceMotion);
        meter.setPlaying(c.playing);
        SCOPED_TRACE(testing::Message() << c.playing << c.reduceMotion << c.shown << c.obscured << c.paced);
        EXPECT_EQ(meter.running(), c.runs);
        const bool timed = c.runs && !c.paced;
        EXPECT_EQ(queue.pendingTimerCount(), idle + (timed ? 1 : 0));
        EXPECT_EQ(meter.accessibleName(), c.playing ? "正在播放" : "已暂停");
        EXPECT_EQ(meter.barOpacity(), c.playing ? 0.9 : 0.4);

        QSignalSpy changes(&meter, &NotchMeterModel::heightsChanged);
        queue.advance(1s);
        ASSERT_EQ(meter.heights().size(), NotchMeterModel::barCount);
        if (c.stillHeight > 0) {
            EXPECT_EQ(meter.heights(), QList<double>(NotchMeterModel::barCount, c.stillHeight));
        }
        if (!timed) {
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
        // Covered while it swings: it stops, and goes on when seen again.
        meter.setObscured(true);
        EXPECT_FALSE(meter.running());
        EXPECT_EQ(queue.pendingTimerCount(), idle);
        meter.setObscured(false);
        EXPECT_TRUE(meter.running());
        meter.setShown(false);
        EXPECT_FALSE(meter.running());
        EXPECT_EQ(queue.pendingTimerCount(), idle);
    }
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include <thread>

#include "foundation/SaveOnExit.h"

using namespace velto;

// An exit runs the save once, on the thread that asked for it only (another thread's exit would
// race that thread's own work), and none once its owner has ended in order.
TEST(SaveOnExit, AnExitSavesOnceOnTheOwningThreadAndNotAfterAnOrderlyEnd) {
    int saves = 0;
    {
        SaveOnExit save([&saves] { ++saves; });
        std::thread([] { SaveOnExit::runAtExit(); }).join();
        EXPECT_EQ(saves, 0) << "saved from another thread";
        SaveOnExit::runAtExit();
        SaveOnExit::runAtExit();
        EXPECT_EQ(saves, 1);
    }
    {
        SaveOnExit save([&saves] { ++saves; });
    }
    SaveOnExit::runAtExit();
    EXPECT_EQ(saves, 1) << "saved after an orderly end";
}

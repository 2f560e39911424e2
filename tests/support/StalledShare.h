#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "foundation/files/AbandonableWork.h"
#include "support/Eventually.h"

namespace velto {

// While it lives, every read of the user's files started holds like one on a network share that
// stopped answering: deaf to stops, until released. Its end releases them and waits, bounded,
// for the held reads to finish. Files under `folder`, when named, lie on a mount of their own,
// and only reads there hold.
class StalledShare {
  public:
    explicit StalledShare(const std::filesystem::path& folder = {}) {
        AbandonableWork::shared().holdWorkUntil(answered_.get_future().share(), folder.string());
    }
    ~StalledShare() { answer(); }
    StalledShare(const StalledShare&) = delete;
    StalledShare& operator=(const StalledShare&) = delete;

    // Waits, bounded, until `reads` reads are held; whether they are.
    bool waitUntilHeld(std::size_t reads) {
        return eventually([reads] { return AbandonableWork::shared().running() >= reads; });
    }

    // Waits, bounded, until `reads` reads are held, or a read beyond those waits its turn
    // behind the held ones of its place; whether one did.
    bool waitUntilHeldOrQueued(std::size_t reads) {
        return eventually([reads] {
            return AbandonableWork::shared().running() >= reads ||
                   AbandonableWork::shared().waiting() > 0;
        });
    }

    // Reads started from now on run at once, as on another disk; those held stay held.
    void holdNoMore() { AbandonableWork::shared().holdWorkUntil({}); }

    // The share answers again: held reads go on, and are waited for; new ones run at once.
    void answer() {
        if (answeredOnce_) return;
        answeredOnce_ = true;
        AbandonableWork::shared().holdWorkUntil({});
        answered_.set_value();
        EXPECT_TRUE(eventually([] { return AbandonableWork::shared().running() == 0; }));
    }

  private:
    std::promise<void> answered_;
    bool answeredOnce_ = false;
};

}  // namespace velto

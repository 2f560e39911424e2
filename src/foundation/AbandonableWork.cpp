#include "foundation/AbandonableWork.h"

namespace velto {

AbandonableWork& AbandonableWork::shared() {
    // Far more than the reads a player makes at once; few enough to stay cheap when all hang.
    static AbandonableWork work(32);
    return work;
}

}  // namespace velto

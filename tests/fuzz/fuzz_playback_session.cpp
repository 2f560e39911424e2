// The saved playback session as it comes back from the settings file at start-up.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "playback/PersistedSession.h"

using namespace velto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto session = PersistedSession::decode(Bytes(data, data + size));
    if (!session) return 0;
    (void)session->track.isPlayable();
    (void)session->track.durationSeconds();

    // What was read is written back the same way on the next save.
    auto again = PersistedSession::decode(session->encode());
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->track == session->track);
    FUZZ_CHECK(again->elapsed == session->elapsed);
    auto drift = std::chrono::abs(again->savedAt - session->savedAt);
    FUZZ_CHECK(drift <= std::chrono::milliseconds(1));
    return 0;
}

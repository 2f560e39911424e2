// Pasted playlist text: the link scan, the address split and the identifier rules, with the
// input both as pasted text and as an address on its own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "library/online/OnlinePlaylistImportError.h"
#include "library/online/OnlinePlaylistInput.h"

using namespace velto;

namespace {

void checkIdentifier(const std::string& id) {
    FUZZ_CHECK(!id.empty() && id.size() <= 18 && id.front() != '0');
    for (char c : id) FUZZ_CHECK(c >= '0' && c <= '9');
    FUZZ_CHECK(OnlinePlaylistReference::normalizedID(id) == id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(fuzz::text(data, size));
    try {
        const auto input = OnlinePlaylistInput::parse(text, MusicSource::tx);
        if (const auto* reference = input.reference()) {
            checkIdentifier(reference->id);
        } else {
            const auto& link = input.shortLink()->url;
            FUZZ_CHECK(link.starts_with("https://"));
            FUZZ_CHECK(OnlinePlaylistReference::sourceFor(link).has_value());
        }
    } catch (const OnlinePlaylistImportError&) {
    }
    try {
        const auto reference = OnlinePlaylistReference::from(text);
        checkIdentifier(reference.id);
        FUZZ_CHECK(OnlinePlaylistReference::sourceFor(text) == reference.source);
    } catch (const OnlinePlaylistImportError& error) {
        FUZZ_CHECK(error.kind() == OnlinePlaylistImportError::Kind::unsupportedLink ||
                   error.kind() == OnlinePlaylistImportError::Kind::notPlaylistLink);
    }
    return 0;
}

// A NetEase login as people paste it (a bare value or a whole cookie line), from each place the
// cookie store reads: the keychain item, the environment and the bundled credentials file.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "FuzzCheck.h"
#include "sources/model/JsonReading.h"
#include "sources/credentials/NetEaseCookieStore.h"

using namespace velto;

namespace {

class MemoryKeychain : public NetEaseKeychain {
  public:
    std::optional<std::string> read() override { return item; }
    void remove() override { item.reset(); }
    void add(const std::string& value) override { item = value; }
    std::optional<std::string> item;
};

std::filesystem::path resources;

// What may go into the request's Cookie header.
void checkSendable(const std::optional<std::string>& value) {
    if (!value) return;
    FUZZ_CHECK(!value->empty());
    FUZZ_CHECK(NetEaseCookieStore::isHeaderSafe(*value));
    FUZZ_CHECK(trimmed(*value) == *value);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    resources = fuzz::scratchFolder("cookie");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(fuzz::text(data, size));

    auto bare = NetEaseCookieStore::normalized(input);
    checkSendable(bare);
    if (bare) FUZZ_CHECK(input.find(*bare) != std::string::npos);

    // Saved through the keychain: what is read back is the normalised value.
    auto keychain = std::make_shared<MemoryKeychain>();
    NetEaseCookieStore saved(nullptr, keychain, resources / "none", nullptr);
    saved.save(input);
    FUZZ_CHECK(keychain->item == bare);
    checkSendable(saved.cookie());
    FUZZ_CHECK(saved.cookie() == bare);

    // From the environment, as given but trimmed.
    NetEaseCookieStore fromEnvironment(nullptr, nullptr, resources / "none",
                                       [&](const std::string&) { return input; });
    checkSendable(fromEnvironment.cookie());

    // From the bundled credentials file, whatever it holds.
    {
        std::ofstream out(resources / NetEaseCookieStore::resourceFile, std::ios::binary);
        out.write(input.data(), std::streamsize(input.size()));
    }
    NetEaseCookieStore bundled(nullptr, nullptr, resources, nullptr);
    checkSendable(bundled.cookie());
    return 0;
}

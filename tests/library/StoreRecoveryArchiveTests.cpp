#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <fstream>
#include <nlohmann/json.hpp>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/text/Base64.h"
#include "library/exchange/StoreRecoveryArchive.h"
#include "support/TempDir.h"

namespace velto {
namespace {

using nlohmann::json;
using Archive = StoreRecoveryArchive;
using Kind = Archive::RecoveryError::Kind;
using Stage = Archive::Stage;

class StoreRecoveryArchiveTest : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path store = dir.path() / "Velto.store";

    void write(const std::string& suffix, const std::string& bytes) {
        std::ofstream(store.string() + suffix, std::ios::binary | std::ios::app) << bytes;
    }

    // Name and decoded bytes of each archived file, in order.
    using Files = std::vector<std::pair<std::string, std::string>>;
    static Files files(const std::string& document) {
        Files result;
        const json parsed = json::parse(document);
        for (const auto& file : parsed["files"]) {
            auto bytes = Base64::decode(file["data"].get<std::string>());
            EXPECT_TRUE(bytes.has_value());
            result.emplace_back(file["name"], std::string(bytes->begin(), bytes->end()));
        }
        return result;
    }

    // Whether the document's creation time, read as a time, lies within [before, after].
    static bool createdWithin(const std::string& document, std::chrono::system_clock::time_point before,
                              std::chrono::system_clock::time_point after) {
        std::tm parts{};
        std::istringstream text(json::parse(document)["createdAt"].get<std::string>());
        text >> std::get_time(&parts, "%Y-%m-%dT%H:%M:%SZ");
        if (text.fail() || text.peek() != EOF) return false;
        const auto created = std::chrono::system_clock::from_time_t(timegm(&parts));
        return created >= std::chrono::floor<std::chrono::seconds>(before) && created <= after;
    }

    std::optional<Kind> failure(const std::function<void(Stage)>& observe = {}) {
        try {
            (void)Archive::capture(store, observe);
        } catch (const Archive::RecoveryError& error) {
            return error.kind();
        }
        return std::nullopt;
    }
};

TEST_F(StoreRecoveryArchiveTest, CopiesThePresentFilesInOrder) {
    write("-wal", "wal");
    EXPECT_EQ(files(Archive::capture(store)), (Files{{"Velto.store-wal", "wal"}}));

    std::string binary(70'000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7);
    write("", binary);
    write("-shm", "");
    const auto before = std::chrono::system_clock::now();
    const std::string document = Archive::capture(store);
    EXPECT_TRUE(createdWithin(document, before, std::chrono::system_clock::now()));
    EXPECT_EQ(files(document), (Files{{"Velto.store", binary}, {"Velto.store-wal", "wal"}, {"Velto.store-shm", ""}}));
    const json parsed = json::parse(document);
    EXPECT_EQ(parsed["format"], "velto-store-recovery");
    EXPECT_EQ(parsed["version"], 1);
    EXPECT_EQ(parsed["files"][2]["data"], "");
}

TEST_F(StoreRecoveryArchiveTest, RefusesMissingOddOrChangingFiles) {
    EXPECT_EQ(failure(), Kind::noFiles);
    std::filesystem::create_directory(store);
    EXPECT_EQ(failure(), Kind::unreadable);
    std::filesystem::remove(store);

    write("", "store");
    // A log written to between the stamp sets, or appearing after the listing.
    for (Stage at : {Stage::read, Stage::listed}) {
        write("-wal", "log");
        if (at == Stage::listed) std::filesystem::remove(store.string() + "-wal");
        EXPECT_EQ(failure([&](Stage stage) {
                      if (stage == at) write("-wal", "more");
                  }),
                  Kind::changed);
        std::filesystem::remove(store.string() + "-wal");
    }
    // A listed file removed before it is read is the system's failure; no document.
    EXPECT_THROW((void)Archive::capture(store,
                                        [&](Stage stage) {
                                            if (stage == Stage::stamped) std::filesystem::remove(store);
                                        }),
                 Archive::FileError);
}

TEST_F(StoreRecoveryArchiveTest, StreamsTheSameDocumentIntoAFileOrLeavesTheFileAlone) {
    std::string binary(200'000, '\0');  // several read pieces, not a whole number of groups
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 13);
    write("", binary);
    write("-wal", "wal");
    const auto destination = dir.path() / "out" / "recovery.json";
    auto contents = [&] {
        std::ifstream in(destination, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto before = std::chrono::system_clock::now();
    Archive::captureTo(store, destination);
    const std::string streamed = contents();
    EXPECT_TRUE(createdWithin(streamed, before, std::chrono::system_clock::now()));
    // Byte for byte what capture makes, but for the moment of creation.
    std::string held = Archive::capture(store);
    const std::string createdAt = json::parse(streamed)["createdAt"];
    held.replace(held.find(json::parse(held)["createdAt"].get<std::string>()), createdAt.size(),
                 createdAt);
    EXPECT_EQ(streamed, held);

    // Stopped, changed while read, or nothing to archive.
    std::stop_source stopped;
    stopped.request_stop();
    auto changeLog = [&](Stage stage) {
        if (stage == Stage::read) write("-wal", "more");
    };
    const std::function<void()> failures[] = {
        [&] { Archive::captureTo(store, destination, stopped.get_token()); },
        [&] { Archive::captureTo(store, destination, {}, changeLog); },
        [&] { Archive::captureTo(dir.path() / "gone.store", destination); },
    };
    for (const auto& failure : failures) {
        EXPECT_ANY_THROW(failure());
        EXPECT_EQ(contents(), streamed);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(destination.parent_path()),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

}  // namespace
}  // namespace velto

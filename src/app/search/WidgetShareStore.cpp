#include "app/search/WidgetShareStore.h"

#include <fstream>
#include <iterator>

#include "foundation/files/AtomicFile.h"
#include "foundation/Log.h"
#include "foundation/files/Paths.h"

namespace velto {

namespace {

std::string key(std::string_view name) { return std::string(name); }

void writeQuietly(const std::filesystem::path& folder, std::string_view name, std::string_view bytes) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    try {
        writeFileAtomically(folder / name, bytes, 0644);
    } catch (const std::exception& error) {
        Log::error("widget", std::string("cannot write ") + std::string(name) + ": " + error.what());
    }
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::uintmax_t limit) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > limit) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > limit) return std::nullopt;
    return bytes;
}

}  // namespace

WidgetShareStore::WidgetShareStore(UserDefaults* defaults,
                                   std::optional<std::filesystem::path> containerURL)
    : customDefaults_(defaults),
      customContainerURL_(std::move(containerURL)),
      useSharedLocations_(defaults == nullptr && !customContainerURL_) {}

WidgetShareStore& WidgetShareStore::shared() {
    static WidgetShareStore store(nullptr, std::nullopt);
    return store;
}

std::string WidgetShareStore::appGroupIdentifier() { return shared().resolvedAppGroupIdentifier(); }

UserDefaults* WidgetShareStore::userDefaults() {
    if (!useSharedLocations_) return customDefaults_;
    std::call_once(sharedDefaultsOnce_, [this] {
        auto file = Paths::defaultsFile().parent_path() / (appGroupIdentifier_ + ".json");
        sharedDefaults_ = std::make_unique<UserDefaults>(file);
    });
    return sharedDefaults_.get();
}

std::optional<std::filesystem::path> WidgetShareStore::containerURL() const {
    if (!useSharedLocations_) return customContainerURL_;
    auto folder = Paths::dataHome() / appGroupIdentifier_;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return folder;
}

void WidgetShareStore::saveSnapshot(const WidgetPlaybackSnapshot& snapshot, bool reloadWidgets) {
    {
        std::lock_guard guard(lock_);
        if (lastSavedSnapshot_ && lastSavedSnapshot_->sameContent(snapshot)) return;
        lastSavedSnapshot_ = snapshot;
    }
    const auto json = snapshot.toJSON();
    if (json) {
        if (auto folder = containerURL()) writeQuietly(*folder, snapshotFileName, *json);
    }
    if (auto* defaults = userDefaults()) {
        if (json) defaults->setData(key(Keys::snapshot), Bytes(json->begin(), json->end()));
        defaults->setString(key(Keys::title), snapshot.title);
        defaults->setString(key(Keys::artist), snapshot.artist);
        defaults->setString(key(Keys::album), snapshot.album);
        defaults->setString(key(Keys::quality), snapshot.quality);
        defaults->setBool(key(Keys::isPlaying), snapshot.isPlaying);
        defaults->setBool(key(Keys::hasTrack), snapshot.hasTrack);
        defaults->setBool(key(Keys::isShuffleOn), snapshot.isShuffleOn);
        defaults->setInteger(key(Keys::favoritesCount), snapshot.favoritesCount);
        defaults->setDouble(key(Keys::updatedAt),
                            std::chrono::duration<double>(snapshot.updatedAt.time_since_epoch()).count());
    }
    if (reloadWidgets) reloadAllWidgets();
}

WidgetPlaybackSnapshot WidgetShareStore::loadSnapshot() {
    if (auto folder = containerURL()) {
        if (auto bytes = readSmallFile(*folder / snapshotFileName, maxSnapshotFileSize)) {
            if (auto snapshot = WidgetPlaybackSnapshot::fromJSON(*bytes)) return *snapshot;
        }
    }
    auto* defaults = userDefaults();
    if (!defaults) return WidgetPlaybackSnapshot::empty();
    if (auto data = defaults->dataValue(key(Keys::snapshot)); data && data->size() <= maxSnapshotFileSize) {
        std::string text(data->begin(), data->end());
        if (auto snapshot = WidgetPlaybackSnapshot::fromJSON(text)) return *snapshot;
    }
    if (defaults->boolValue(key(Keys::hasTrack)) != true) return WidgetPlaybackSnapshot::empty();
    WidgetPlaybackSnapshot snapshot;
    snapshot.title = defaults->stringValue(key(Keys::title)).value_or("");
    snapshot.artist = defaults->stringValue(key(Keys::artist)).value_or("");
    snapshot.album = defaults->stringValue(key(Keys::album)).value_or("");
    snapshot.quality = defaults->stringValue(key(Keys::quality)).value_or("");
    snapshot.isPlaying = defaults->boolValue(key(Keys::isPlaying)).value_or(false);
    snapshot.hasTrack = true;
    snapshot.isShuffleOn = defaults->boolValue(key(Keys::isShuffleOn)).value_or(false);
    snapshot.favoritesCount = defaults->integerValue(key(Keys::favoritesCount)).value_or(0);
    const double seconds = defaults->doubleValue(key(Keys::updatedAt)).value_or(0);
    // Beyond the clock's range counts as unknown, like 0.
    snapshot.updatedAt = seconds > 0 && seconds < 9.0e9
                             ? std::chrono::system_clock::time_point(
                                   std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                       std::chrono::duration<double>(seconds)))
                             : std::chrono::system_clock::now();
    return snapshot;
}

void WidgetShareStore::toggleShuffleState() {
    auto snapshot = loadSnapshot();
    if (!snapshot.hasTrack) return;
    snapshot.isShuffleOn = !snapshot.isShuffleOn;
    snapshot.updatedAt = std::chrono::system_clock::now();
    saveSnapshot(snapshot, true);
}

void WidgetShareStore::saveArtwork(std::string_view data) {
    if (auto folder = containerURL()) writeQuietly(*folder, artworkFileName, data);
}

std::optional<std::filesystem::path> WidgetShareStore::artworkFileURL() const {
    auto folder = containerURL();
    if (!folder) return std::nullopt;
    auto path = *folder / artworkFileName;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return std::nullopt;
    return path;
}

void WidgetShareStore::clearArtwork() {
    auto folder = containerURL();
    if (!folder) return;
    std::error_code ec;
    std::filesystem::remove(*folder / artworkFileName, ec);
}

}  // namespace velto

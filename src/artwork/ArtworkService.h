#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "artwork/ArtworkAddressPolicy.h"
#include "artwork/ArtworkDiskCache.h"
#include "artwork/ArtworkHTTPClient.h"
#include "artwork/ArtworkImage.h"
#include "artwork/ArtworkRequest.h"
#include "artwork/LocalArtworkLoader.h"
#include "foundation/MainQueue.h"
#include "foundation/Task.h"
#include "foundation/WorkerPool.h"
#include "sources/model/SourceRuntime.h"
#include "sources/model/Track.h"

namespace velto {

// Cover pictures from memory, the disk cache and their sources (a local song's folder and tags,
// otherwise the address the runtime names), and pictures by address. Loads of one key are shared
// by all who wait for it; a picture on disk past its time to live is served at once and refreshed
// behind it.
//
// State lives on the main thread: every call, and every callback, is made there. Disk work,
// decoding and downloads run on the workers: every write and deletion of the cache folder on
// one serial queue, reads of the cache folder on at most a quarter of the pool (at least one
// worker), downloads, reads of the user's files and their decodes by the place they wait on
// (a mount holding the user's files, the network) as LoadRoom allows, so a share that stops
// answering never holds up the covers of another place. The service reads the clock
// only through the main queue: each decision on a picture's age uses the `now` of the call
// that caused it.
class ArtworkService {
public:
    using Date = ArtworkDate;
    using ImageDone = std::function<void(TaskResult<ArtworkImagePtr>)>;
    using AccentDone = std::function<void(TaskResult<std::optional<std::string>>)>;

    struct Limits {
        // Negative budgets become 0; the dimension's floor is 1.
        Limits(std::int64_t memoryBytes, std::int64_t diskBytes,
               std::int64_t maximumPixelDimension);
        std::int64_t memoryBytes;
        std::int64_t diskBytes;
        std::int64_t maximumPixelDimension;
    };

    struct CacheUsage {
        std::int64_t memoryBytes = 0;
        std::int64_t memoryEntries = 0;
        std::int64_t pendingConsumers = 0;    // waiters over all foreground loads
        std::int64_t backgroundRequests = 0;  // refreshes under way
    };

    // Reads a local song's cover bytes, as LocalArtworkLoader does; `answered` runs after each
    // answer of the file system.
    using LocalRead = std::function<std::optional<std::string>(
        const Track&, std::stop_token, AbandonableWork::Late<std::optional<std::string>>,
        std::function<void()> answered)>;

    struct Environment {
        WorkerPool& workers;
        MainQueue& mainQueue;
        ArtworkAddressPolicy addresses{};
        LocalRead localReads = LocalArtworkLoader::loadLocalArtworkData;
    };

    // After a failed background refresh, none for the same key for this long.
    static constexpr double staleRetryInterval = 300;
    // A local song's cover whose files gave no answer for this long counts as missing until
    // asked again, or until its read ends after all. A slow share that keeps answering is
    // waited for.
    static constexpr double localReadDeadline = 3;

    // `cacheDirectory` absent: the Artwork folder of Velto's XDG cache folder. The folder is
    // created; when that fails the constructor throws (std::filesystem::filesystem_error) and
    // nothing has started. A negative or NaN `ttl` becomes 0.
    ArtworkService(std::shared_ptr<SourceRuntime> sourceRuntime,
                   std::shared_ptr<ArtworkHTTPClient> client,
                   std::optional<std::filesystem::path> cacheDirectory, double ttl, Limits limits,
                   Environment environment);
    ~ArtworkService();
    ArtworkService(const ArtworkService&) = delete;
    ArtworkService& operator=(const ArtworkService&) = delete;

    // The track's cover. `done` runs once on the main queue, never inside this call and never
    // after the request was cancelled; errors: SourceError ("本地音频暂无封面", "封面数据无法解码",
    // "封面请求返回异常", "网络失败", or the runtime's own), CancellationError when the
    // picture was removed meanwhile.
    ArtworkRequest image(const Track& track, Date now, ImageDone done);
    // A picture named by catalogue data (an artist's or a playlist's), under the same tiers and
    // caps. Only addresses the policy allows are fetched.
    ArtworkRequest imageAtAddress(const std::string& address, Date now, ImageDone done);
    // The accent colour of the track's cover; none when the picture has no vivid colour.
    ArtworkRequest accentHex(const Track& track, Date now, AccentDone done);
    // Forgets the track's picture in every tier; its waiters get CancellationError.
    void removeCachedArtwork(const Track& track);
    // A local cover answered as missing at its deadline whose read still ends with a picture,
    // or that is read again once its place answers: the picture is cached then and its key
    // handed to every observer on the main queue, so that whoever shows the placeholder can ask
    // again. The observer stays while the returned handle lives.
    [[nodiscard]] std::shared_ptr<void> observeLateCovers(
        std::function<void(const std::string& key)> observer);
    CacheUsage cacheUsage() const;

    const std::filesystem::path& cacheDirectory() const;
    double ttl() const;
    const Limits& limits() const;

    // The cache file of a key: the hex SHA-256 of the key with ".img".
    std::filesystem::path cacheURL(std::string_view key) const;
    enum class Existing { replace, keep };
    // Queues on the service's one disk writer, behind every write and deletion asked before:
    // writes the picture as the key's cache file, JPEG (quality 0.9) dated `date`, unless ttl or
    // disk budget is 0, it would not fit, or (with Existing::keep) a file is already there; then
    // trims the folder. `done`, when given, runs on the main queue with whether the key's cache
    // file is there afterwards.
    void persist(ArtworkImagePtr image, std::string key, Date date,
                 Existing existing = Existing::replace,
                 std::function<void(bool stored)> done = {}) const;

    static void trimDisk(const std::filesystem::path& directory, std::int64_t limit);
    static ArtworkImagePtr downsample(std::string_view data, std::int64_t maximumPixelDimension);
    static std::optional<std::string> loadLocalArtworkData(const Track& track);

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

}  // namespace velto

#include "artwork/ArtworkService.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <stop_token>
#include <unordered_map>
#include <utility>
#include <vector>

#include "artwork/ArtworkCacheHash.h"
#include "artwork/ArtworkDecoder.h"
#include "artwork/ArtworkJPEG.h"
#include "artwork/ArtworkPalette.h"
#include "artwork/LimitedJobs.h"
#include "artwork/LoadRoom.h"
#include "artwork/LocalArtworkLoader.h"
#include "artwork/PlacedJobs.h"
#include "artwork/ReadPatience.h"
#include "foundation/Cancellation.h"
#include "foundation/Log.h"
#include "foundation/files/Paths.h"
#include "sources/model/SourceError.h"

namespace velto {
namespace fs = std::filesystem;
namespace {

constexpr const char* noLocalArtwork = "本地音频暂无封面";
constexpr const char* undecodable = "封面数据无法解码";
constexpr const char* badAnswer = "封面请求返回异常";

// `date` moved by `seconds`, held at the ends of the clock's range.
ArtworkDate addSeconds(ArtworkDate date, double seconds) {
    using Duration = ArtworkDate::duration;
    const double ticks = seconds * Duration::period::den / Duration::period::num;
    const double now = static_cast<double>(date.time_since_epoch().count());
    const double sum = now + ticks;
    if (sum >= static_cast<double>(std::numeric_limits<Duration::rep>::max()))
        return ArtworkDate::max();
    if (sum <= static_cast<double>(std::numeric_limits<Duration::rep>::min()))
        return ArtworkDate::min();
    return date + Duration(static_cast<Duration::rep>(std::llround(ticks)));
}

// Places of the work that is no read of the user's files (mount points start with "/").
const std::string network = "network";
const std::string processor;

// Where a key's picture comes from: a track, or an address.
struct Origin {
    std::optional<Track> track;
    std::string address;
};

struct LoadOutcome {
    ArtworkImagePtr image;
    std::optional<ArtworkDate> diskStamp;  // set when the picture came from the cache file
};

}  // namespace

ArtworkService::Limits::Limits(std::int64_t memory, std::int64_t disk, std::int64_t dimension)
    : memoryBytes(std::max<std::int64_t>(memory, 0)),
      diskBytes(std::max<std::int64_t>(disk, 0)),
      maximumPixelDimension(std::max<std::int64_t>(dimension, 1)) {}

struct ArtworkService::Core : std::enable_shared_from_this<Core> {
    Core(std::shared_ptr<SourceRuntime> runtime, std::shared_ptr<ArtworkHTTPClient> client,
         fs::path directory, double ttl, Limits limits, Environment environment)
        : runtime(std::move(runtime)), client(std::move(client)), directory(std::move(directory)),
          ttl(ttl), limits(limits), workers(environment.workers),
          mainQueue(environment.mainQueue), addresses(environment.addresses),
          localReads(std::move(environment.localReads)),
          disk(std::make_shared<LimitedJobs>(environment.workers, 1)),
          // Pictures already on disk queue apart from downloads and reads of the user's files.
          cacheReads(std::make_shared<LimitedJobs>(environment.workers,
                                                   environment.workers.threadCount() / 4)),
          // Slow servers and shares must not hold every worker, nor keep the pool from the
          // places that answer.
          loads(std::make_shared<PlacedJobs>(
              environment.workers,
              LoadRoom(environment.workers.threadCount(),
                       {network, AbandonableWork::shared().placeOfRead(Paths::homeDir().string())},
                       {processor}))) {}

    // Set at construction, read on any thread.
    const std::shared_ptr<SourceRuntime> runtime;
    const std::shared_ptr<ArtworkHTTPClient> client;
    const fs::path directory;
    const double ttl;
    const Limits limits;
    WorkerPool& workers;
    MainQueue& mainQueue;
    const ArtworkAddressPolicy addresses;
    const LocalRead localReads;
    const std::shared_ptr<LimitedJobs> disk;
    const std::shared_ptr<LimitedJobs> cacheReads;
    const std::shared_ptr<PlacedJobs> loads;

    // Main thread only.
    struct MemoryEntry {
        ArtworkImagePtr image;
        std::int64_t cost;
        Date expiresAt;
        std::uint64_t access;
    };
    struct Waiter {
        std::shared_ptr<ArtworkRequest::State> request;
        ImageDone done;
    };
    struct Pending {
        std::uint64_t id;
        std::shared_ptr<std::stop_source> stop;
        std::map<std::uint64_t, Waiter> waiters;
    };
    struct BackgroundPending {
        std::uint64_t id;
        std::shared_ptr<std::stop_source> stop;
    };
    std::unordered_map<std::string, MemoryEntry> memoryCache;
    std::int64_t memoryBytes = 0;
    std::uint64_t access = 0;
    std::unordered_map<std::string, Pending> pending;
    std::unordered_map<std::string, BackgroundPending> backgroundPending;
    std::unordered_map<std::string, Date> staleRetryAfter;
    std::uint64_t nextID = 0;
    std::map<std::uint64_t, std::function<void(const std::string&)>> lateCoverObservers;
    // Local covers answered as missing at their deadline, by key.
    struct GivenUp {
        std::string place;
        Track track;
    };
    std::unordered_map<std::string, GivenUp> givenUp;

    fs::path cacheURL(std::string_view key) const {
        return directory / (ArtworkCacheHash::hexDigest(key) + ".img");
    }

    // A decode ended by the stop is a cancellation, not bytes that failed to decode (for which a
    // cache file would be deleted).
    ArtworkImagePtr decode(std::string_view data, std::stop_token stop) const {
        ArtworkImagePtr image =
            ArtworkDecoder::downsample(data, limits.maximumPixelDimension, {.stop = stop});
        throwIfCancelled(stop);
        return image;
    }

    // Blocking; on a worker. A share that stopped answering, or a disk spinning up, holds the
    // read past the deadline: the cover counts as missing then, and the read goes on; what it
    // still finds is passed on (see arrivedLate). Any answer of the place means it is awake:
    // the covers given up there are read again, also those whose reads never began as the
    // place held too many reads already.
    std::string readLocal(const Track& track, Date now, const std::stop_token& stop) {
        const std::string place = LocalArtworkLoader::placeOf(track);
        auto patience = std::make_shared<ReadPatience>(mainQueue, localReadDeadline);
        auto late = [weak = weak_from_this(), track, now](std::optional<std::string> data) {
            if (auto self = weak.lock()) self->arrivedLate(track, std::move(data), now);
        };
        auto heard = std::make_shared<std::atomic<bool>>(false);
        auto answered = [weak = weak_from_this(), patience, heard, place, now] {
            patience->answered();
            auto self = weak.lock();
            if (!self) return;
            self->loads->answered(place);
            if (!heard->exchange(true))
                self->mainQueue.post([self, place, now] { self->readAgain(place, now); });
        };
        std::optional<std::string> data;
        patience->start();
        try {
            data = localReads(track, stop, {patience->token(), late}, answered);
        } catch (...) {
            patience->end();
            throw;
        }
        patience->end();
        if (!data && patience->token().stop_requested()) {
            Log::info("artwork", "local cover not read in time: " + track.songmid);
            mainQueue.post([self = shared_from_this(), track, place] {
                self->givenUp.insert_or_assign(track.musicID(), GivenUp{place, track});
            });
        }
        if (!data) throw SourceError::source(noLocalArtwork);
        return std::move(*data);
    }

    // Any thread: a local read left behind at its deadline ended after all, with or without a
    // picture; its place answers again.
    void arrivedLate(const Track& track, std::optional<std::string> data, Date now) {
        auto passOn = [self = shared_from_this(), key = track.musicID(),
                       place = LocalArtworkLoader::placeOf(track), now](ArtworkImagePtr image) {
            self->mainQueue.post([self, key, place, now, image] {
                self->givenUp.erase(key);
                self->cameLate(key, image, now);
                self->readAgain(place, now);
            });
        };
        if (!data) return passOn(nullptr);
        loads->add(processor, [self = shared_from_this(), data = std::move(*data), passOn] {
            ArtworkImagePtr image;
            try {
                image = self->decode(data, {});
            } catch (...) {
                // The place answered all the same.
            }
            passOn(image);
        });
    }

    // Main thread.
    void cameLate(const std::string& key, const ArtworkImagePtr& image, Date now) {
        if (!image || memoryCache.contains(key)) return;  // read anew meanwhile
        admit(image, key, addSeconds(now, ttl), now);
        disk->add([self = shared_from_this(), image, key, now] { self->persist(*image, key, now); });
        announceLate(key);
    }

    // Main thread: the covers given up at `place` are read again, now that it answers. A read
    // still left behind there is refused at once and announces its cover itself.
    void readAgain(const std::string& place, Date now) {
        for (auto it = givenUp.begin(); it != givenUp.end();) {
            if (it->second.place != place) {
                ++it;
                continue;
            }
            const std::string key = it->first;
            const Track track = std::move(it->second.track);
            it = givenUp.erase(it);
            if (memoryCache.contains(key) || pending.contains(key)) continue;
            loads->add(place, [self = shared_from_this(), key, track, now] {
                ArtworkImagePtr image;
                try {
                    image = self->fetchImage(Origin{track, {}}, now, {});
                } catch (...) {
                    return;  // missing still, or given up again
                }
                self->mainQueue.post([self, key, image, now] { self->cameLate(key, image, now); });
            });
        }
    }

    // Main thread. An observer may end its own or another's observation meanwhile.
    void announceLate(const std::string& key) {
        std::vector<std::uint64_t> ids;
        for (const auto& [id, observer] : lateCoverObservers) ids.push_back(id);
        for (std::uint64_t id : ids) {
            auto found = lateCoverObservers.find(id);
            if (found == lateCoverObservers.end()) continue;
            auto observer = found->second;
            observer(key);
        }
    }

    // Blocking, on a worker; never waits on a share.
    std::string placeOf(const Origin& origin) const {
        if (origin.track && origin.track->source == MusicSource::local)
            return LocalArtworkLoader::placeOf(*origin.track);
        return network;
    }

    // Runs `job` in the lane of the place the origin's picture comes from.
    void load(const Origin& origin, std::function<void()> job) {
        if (!origin.track || origin.track->source != MusicSource::local)
            return loads->add(network, std::move(job));
        workers.submit([self = shared_from_this(), origin, job = std::move(job)]() mutable {
            self->loads->add(self->placeOf(origin), std::move(job));
        });
    }

    // Blocking; on a worker.
    std::string fetch(const Origin& origin, Date now, std::stop_token stop) {
        if (origin.track && origin.track->source == MusicSource::local)
            return readLocal(*origin.track, now, stop);
        const std::string url =
            origin.track ? runtime->picURL(*origin.track, stop) : origin.address;
        throwIfCancelled(stop);
        if (!addresses.allows(url)) throw SourceError::source(badAnswer);
        // Any answer of the server, an error too, shows the network answers.
        try {
            std::string data = client->data(url, stop);
            loads->answered(network);
            return data;
        } catch (const CancellationError&) {
            throw;
        } catch (...) {
            loads->answered(network);
            throw;
        }
    }

    ArtworkImagePtr fetchImage(const Origin& origin, Date now, std::stop_token stop) {
        const std::string data = fetch(origin, now, stop);
        throwIfCancelled(stop);
        ArtworkImagePtr image = decode(data, stop);
        if (!image) throw SourceError::source(undecodable);
        return image;
    }

    std::optional<LoadOutcome> readCache(const std::string& key, Date now,
                                         std::stop_token stop) const {
        auto hit = ArtworkDiskCache::read(
            cacheURL(key), now, [this, stop](std::string_view data) { return decode(data, stop); },
            [this](std::function<void()> deletion) { disk->add(std::move(deletion)); });
        if (!hit) return std::nullopt;
        return LoadOutcome{std::move(hit->image), hit->stamp};
    }

    // On the disk queue only.
    void persist(const ArtworkImage& image, std::string_view key, Date date) const {
        if (ttl > 0 && limits.diskBytes >= 1) {
            auto jpeg = ArtworkJPEG::encode(image, 0.9);
            if (jpeg && static_cast<std::int64_t>(jpeg->size()) <= limits.diskBytes)
                ArtworkDiskCache::write(cacheURL(key), *jpeg, date);
        }
        ArtworkDiskCache::trim(directory, limits.diskBytes);
    }

    // A job that runs `work` and then `done` with its outcome on the main queue, whatever it
    // was: a cancellation nobody asked for still reaches `done`, which decides what is stale.
    template <class T, class Work, class Done>
    std::function<void()> job(const std::shared_ptr<std::stop_source>& stop, Work work, Done done) {
        return [self = shared_from_this(), stop, work = std::move(work),
                done = std::move(done)]() mutable {
            std::optional<TaskResult<T>> result;
            try {
                result.emplace(work(*self, stop->get_token()));
            } catch (...) {
                result.emplace(std::current_exception());
            }
            self->mainQueue.post([self, done = std::move(done), result = std::move(*result)]() mutable {
                done(*self, result);
            });
        };
    }

    static void answer(const Waiter& waiter, const TaskResult<ArtworkImagePtr>& result) {
        auto& state = *waiter.request;
        if (state.cancelled || state.answered) return;
        state.answered = true;
        state.onCancel = nullptr;
        waiter.done(result);
    }

    ArtworkRequest request(const std::string& key, Origin origin, Date now, ImageDone done) {
        auto state = std::make_shared<ArtworkRequest::State>();
        trimMemory(now);
        if (auto hit = memoryCache.find(key); hit != memoryCache.end()) {
            hit->second.access = ++access;
            mainQueue.post([waiter = Waiter{state, std::move(done)}, image = hit->second.image] {
                answer(waiter, TaskResult<ArtworkImagePtr>(image));
            });
            return ArtworkRequest(state);
        }

        const std::uint64_t waiterID = ++nextID;
        state->onCancel = [weak = weak_from_this(), key, waiterID] {
            if (auto self = weak.lock()) self->cancelWaiter(key, waiterID);
        };
        if (auto found = pending.find(key); found != pending.end()) {
            found->second.waiters.emplace(waiterID, Waiter{state, std::move(done)});
            return ArtworkRequest(state);
        }

        const std::uint64_t requestID = ++nextID;
        auto stop = std::make_shared<std::stop_source>();
        Pending entry{requestID, stop, {}};
        entry.waiters.emplace(waiterID, Waiter{state, std::move(done)});
        pending.emplace(key, std::move(entry));
        auto finished = [key, origin, requestID, now](Core& self, TaskResult<LoadOutcome>& result) {
            self.finish(key, origin, requestID, result, now);
        };
        auto fetched = job<LoadOutcome>(
            stop,
            [origin, now](Core& self, std::stop_token token) {
                return LoadOutcome{self.fetchImage(origin, now, token), std::nullopt};
            },
            finished);
        cacheReads->add([self = shared_from_this(), stop, key, origin, now, finished,
                         fetched = std::move(fetched)]() mutable {
            if (stop->stop_requested()) return;
            std::optional<LoadOutcome> hit;
            try {
                hit = self->readCache(key, now, stop->get_token());
            } catch (...) {
                // Read as a miss: the source has the picture too.
            }
            if (!hit) return self->loads->add(self->placeOf(origin), std::move(fetched));
            TaskResult<LoadOutcome> result(std::move(*hit));
            self->mainQueue.post([self, finished, result = std::move(result)]() mutable {
                finished(*self, result);
            });
        });
        return ArtworkRequest(state);
    }

    void finish(const std::string& key, const Origin& origin, std::uint64_t requestID,
                TaskResult<LoadOutcome>& result, Date now) {
        auto found = pending.find(key);
        if (found == pending.end() || found->second.id != requestID) return;
        Pending entry = std::move(found->second);
        pending.erase(found);

        std::optional<TaskResult<ArtworkImagePtr>> delivered;
        if (result.ok()) {
            givenUp.erase(key);
            LoadOutcome& outcome = result.value();
            if (outcome.diskStamp) {
                const Date expiresAt = addSeconds(*outcome.diskStamp, ttl);
                if (expiresAt > now) {
                    admit(outcome.image, key, expiresAt, now);
                } else {
                    scheduleBackgroundRefresh(origin, key, now);
                }
            } else {
                admit(outcome.image, key, addSeconds(now, ttl), now);
                disk->add([self = shared_from_this(), image = outcome.image, key, now] {
                    self->persist(*image, key, now);
                });
            }
            delivered.emplace(outcome.image);
        } else {
            delivered.emplace(result.error());
        }
        for (const auto& [id, waiter] : entry.waiters) answer(waiter, *delivered);
    }

    void cancelWaiter(const std::string& key, std::uint64_t waiterID) {
        auto found = pending.find(key);
        if (found == pending.end()) return;
        if (found->second.waiters.erase(waiterID) == 0) return;
        if (found->second.waiters.empty()) {
            found->second.stop->request_stop();
            pending.erase(found);
        }
    }

    void scheduleBackgroundRefresh(const Origin& origin, const std::string& key, Date now) {
        if (backgroundPending.contains(key)) return;
        if (auto blocked = staleRetryAfter.find(key);
            blocked != staleRetryAfter.end() && blocked->second > now) {
            return;
        }
        const std::uint64_t requestID = ++nextID;
        auto stop = std::make_shared<std::stop_source>();
        backgroundPending.emplace(key, BackgroundPending{requestID, stop});
        load(origin, job<ArtworkImagePtr>(
                         stop,
                         [origin, now](Core& self, std::stop_token token) {
                             return self.fetchImage(origin, now, token);
                         },
                         [key, requestID, now](Core& self, TaskResult<ArtworkImagePtr>& result) {
                             self.finishBackground(key, requestID, result, now);
                         }));
    }

    void finishBackground(const std::string& key, std::uint64_t requestID,
                          TaskResult<ArtworkImagePtr>& result, Date now) {
        auto found = backgroundPending.find(key);
        if (found == backgroundPending.end() || found->second.id != requestID) return;
        backgroundPending.erase(found);
        if (!result.ok()) {
            staleRetryAfter[key] = addSeconds(now, staleRetryInterval);
            return;
        }
        staleRetryAfter.erase(key);
        ArtworkImagePtr image = result.value();
        admit(image, key, addSeconds(now, ttl), now);
        disk->add([self = shared_from_this(), image, key, now] { self->persist(*image, key, now); });
    }

    void admit(const ArtworkImagePtr& image, const std::string& key, Date expiresAt, Date now) {
        removeMemory(key);
        const std::int64_t cost = image->cost();
        if (cost > limits.memoryBytes || !(expiresAt > now)) return;
        memoryCache[key] = MemoryEntry{image, cost, expiresAt, ++access};
        memoryBytes += cost;
        trimMemory(now);
    }

    void trimMemory(Date now) {
        for (auto it = memoryCache.begin(); it != memoryCache.end();) {
            if (it->second.expiresAt <= now) {
                memoryBytes -= it->second.cost;
                it = memoryCache.erase(it);
            } else {
                ++it;
            }
        }
        while (memoryBytes > limits.memoryBytes && !memoryCache.empty()) {
            auto oldest = memoryCache.begin();
            for (auto it = memoryCache.begin(); it != memoryCache.end(); ++it)
                if (it->second.access < oldest->second.access) oldest = it;
            memoryBytes -= oldest->second.cost;
            memoryCache.erase(oldest);
        }
    }

    void removeMemory(const std::string& key) {
        if (auto found = memoryCache.find(key); found != memoryCache.end()) {
            memoryBytes -= found->second.cost;
            memoryCache.erase(found);
        }
    }

    void remove(const std::string& key) {
        removeMemory(key);
        if (auto found = pending.find(key); found != pending.end()) {
            Pending entry = std::move(found->second);
            pending.erase(found);
            entry.stop->request_stop();
            // Answered from the queue, not from inside this call.
            mainQueue.post([waiters = std::move(entry.waiters)] {
                const TaskResult<ArtworkImagePtr> cancelled(
                    std::make_exception_ptr(CancellationError()));
                for (const auto& [id, waiter] : waiters) answer(waiter, cancelled);
            });
        }
        if (auto found = backgroundPending.find(key); found != backgroundPending.end()) {
            found->second.stop->request_stop();
            backgroundPending.erase(found);
        }
        staleRetryAfter.erase(key);
        givenUp.erase(key);
        disk->add([file = cacheURL(key)] { std::error_code ignored; fs::remove(file, ignored); });
    }
};

ArtworkService::ArtworkService(std::shared_ptr<SourceRuntime> sourceRuntime,
                               std::shared_ptr<ArtworkHTTPClient> client,
                               std::optional<fs::path> cacheDirectory, double ttl, Limits limits,
                               Environment environment) {
    fs::path directory =
        cacheDirectory ? std::move(*cacheDirectory) : Paths::cachesDir() / "Artwork";
    fs::create_directories(directory);
    core_ = std::make_shared<Core>(std::move(sourceRuntime), std::move(client), directory,
                                   ttl >= 0 ? ttl : 0, limits, environment);
    core_->disk->add([directory, limit = limits.diskBytes] { trimDisk(directory, limit); });
}

// Loads under way finish on their own and still fill the caches.
ArtworkService::~ArtworkService() = default;

ArtworkRequest ArtworkService::image(const Track& track, Date now, ImageDone done) {
    return core_->request(track.musicID(), Origin{track, {}}, now, std::move(done));
}

ArtworkRequest ArtworkService::imageAtAddress(const std::string& address, Date now,
                                              ImageDone done) {
    // Its own key space: no source's key starts with "address_".
    return core_->request("address_" + address, Origin{std::nullopt, address}, now,
                          std::move(done));
}

ArtworkRequest ArtworkService::accentHex(const Track& track, Date now, AccentDone done) {
    auto outer = std::make_shared<ArtworkRequest::State>();
    auto answer = [outer, done](TaskResult<std::optional<std::string>> result) {
        if (outer->cancelled || outer->answered) return;
        outer->answered = true;
        outer->onCancel = nullptr;
        done(std::move(result));
    };
    ArtworkRequest inner = image(track, now, [core = core_, outer, answer](TaskResult<ArtworkImagePtr> result) {
        if (!result.ok()) return answer(TaskResult<std::optional<std::string>>(result.error()));
        core->loads->add(processor, [core, outer, answer, image = result.value()] {
            if (outer->cancelled) return;
            auto accent = ArtworkPalette::accentHexFrom(*image);
            core->mainQueue.post([answer, accent] {
                answer(TaskResult<std::optional<std::string>>(accent));
            });
        });
    });
    outer->onCancel = [inner]() mutable { inner.cancel(); };
    return ArtworkRequest(outer);
}

void ArtworkService::removeCachedArtwork(const Track& track) { core_->remove(track.musicID()); }

std::shared_ptr<void> ArtworkService::observeLateCovers(
    std::function<void(const std::string& key)> observer) {
    const std::uint64_t id = ++core_->nextID;
    core_->lateCoverObservers.emplace(id, std::move(observer));
    return std::shared_ptr<void>(nullptr, [weak = std::weak_ptr<Core>(core_), id](void*) {
        if (auto core = weak.lock()) core->lateCoverObservers.erase(id);
    });
}

ArtworkService::CacheUsage ArtworkService::cacheUsage() const {
    CacheUsage usage;
    usage.memoryBytes = core_->memoryBytes;
    usage.memoryEntries = static_cast<std::int64_t>(core_->memoryCache.size());
    for (const auto& [key, entry] : core_->pending)
        usage.pendingConsumers += static_cast<std::int64_t>(entry.waiters.size());
    usage.backgroundRequests = static_cast<std::int64_t>(core_->backgroundPending.size());
    return usage;
}

const fs::path& ArtworkService::cacheDirectory() const { return core_->directory; }
double ArtworkService::ttl() const { return core_->ttl; }
const ArtworkService::Limits& ArtworkService::limits() const { return core_->limits; }

fs::path ArtworkService::cacheURL(std::string_view key) const { return core_->cacheURL(key); }

void ArtworkService::persist(ArtworkImagePtr image, std::string key, Date date, Existing existing,
                             std::function<void(bool stored)> done) const {
    core_->disk->add([core = core_, image = std::move(image), key = std::move(key), date, existing,
                      done = std::move(done)] {
        // Links and other odd things under the name are written over, never kept.
        const fs::path file = core->cacheURL(key);
        std::error_code error;
        auto regular = [&] { return fs::is_regular_file(fs::symlink_status(file, error)); };
        if (existing == Existing::replace || !regular()) core->persist(*image, key, date);
        if (!done) return;
        const bool stored = regular();
        core->mainQueue.post([done, stored] { done(stored); });
    });
}

void ArtworkService::trimDisk(const fs::path& directory, std::int64_t limit) {
    ArtworkDiskCache::trim(directory, limit);
}

ArtworkImagePtr ArtworkService::downsample(std::string_view data,
                                           std::int64_t maximumPixelDimension) {
    return ArtworkDecoder::downsample(data, maximumPixelDimension);
}

std::optional<std::string> ArtworkService::loadLocalArtworkData(const Track& track) {
    return LocalArtworkLoader::loadLocalArtworkData(track);
}

}  // namespace velto

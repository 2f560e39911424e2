// Measures covers over FUSE shares served by this program, through the artwork service and the
// views' artwork models: rows asked while the share sleeps, then it wakes ("wake"); the same with
// songs without a cover asked first ("wake-bare"); 40 covers from a share answering each request
// in 0.3, 0.5 and 1 s ("slow"), and 20 at 0.5 s on pools of 2 and 4 workers ("slow-small"); a
// home-disk and a network cover asked behind 100 covers of each of one, two and three hung
// shares ("hung"); 20 online covers at 0.5 s each on pools of 2, 4 and 8 workers ("grid"). No
// argument runs them all. It mounts the shares, so it runs as root; it is no google-benchmark
// program and prints its figures.
#include <fcntl.h>
#include <linux/fuse.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../tests/artwork/ArtworkTestSupport.h"
#include "artwork/ArtworkHTTPClient.h"
#include "artwork/ArtworkJPEG.h"
#include "artwork/ArtworkService.h"
#include "foundation/MainQueue.h"
#include "foundation/WorkerPool.h"
#include "ui/artwork/MacArtworkModel.h"
#include "ui/artwork/ServiceArtworkLoader.h"

using namespace velto;
using namespace velto::artworktest;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A main queue on the real clock, run by runUntil on the calling thread.
class RealMainQueue final : public MainQueue {
public:
    void post(std::function<void()> work) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
        changed_.notify_all();
    }
    TimerId schedule(Duration delay, std::function<void()> work) override {
        std::lock_guard lock(mutex_);
        const TimerId id = ++next_;
        timers_[id] = {Clock::now() + delay, std::move(work)};
        changed_.notify_all();
        return id;
    }
    TimerId scheduleRepeating(Duration, std::function<void()>) override { std::abort(); }
    void cancel(TimerId id) override {
        std::lock_guard lock(mutex_);
        timers_.erase(id);
    }
    Duration uptime() const override { return Clock::now().time_since_epoch(); }
    std::chrono::system_clock::time_point wallNow() const override {
        return std::chrono::system_clock::now();
    }
    bool runUntil(const std::function<bool()>& done, double limit) {
        const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(limit));
        for (;;) {
            if (done()) return true;
            std::function<void()> work;
            {
                std::unique_lock lock(mutex_);
                auto due = timers_.end();
                for (auto it = timers_.begin(); it != timers_.end(); ++it)
                    if (due == timers_.end() || it->second.at < due->second.at) due = it;
                if (!posted_.empty()) {
                    work = std::move(posted_.front());
                    posted_.pop_front();
                } else if (due != timers_.end() && due->second.at <= Clock::now()) {
                    work = std::move(due->second.work);
                    timers_.erase(due);
                } else {
                    if (Clock::now() >= end) return done();
                    auto wake = std::min(end, Clock::now() + std::chrono::milliseconds(20));
                    if (due != timers_.end()) wake = std::min(wake, due->second.at);
                    changed_.wait_until(lock, wake);
                    continue;
                }
            }
            work();
        }
    }

private:
    struct Timer {
        Clock::time_point at;
        std::function<void()> work;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> posted_;
    std::map<TimerId, Timer> timers_;
    TimerId next_ = 0;
};

// A share of albums "a000".."a<n>", each holding cover.jpg but those from `bare` on. Every
// request but the opening waits as the mode says: none, a delay, or until the share wakes.
class FuseShare {
public:
    FuseShare(fs::path point, int albums, std::string cover, int bare = -1)
        : point_(std::move(point)), albums_(albums), bare_(bare < 0 ? albums : bare),
          cover_(std::move(cover)) {
        fs::create_directories(point_);
        fd_ = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        const std::string options = "fd=" + std::to_string(fd_) +
                                    ",rootmode=40000,user_id=0,group_id=0,allow_other";
        if (::mount("measure", point_.c_str(), "fuse.measure", MS_NOSUID | MS_NODEV,
                    options.c_str()) != 0) {
            std::perror("mount");
            std::exit(1);
        }
        reader_ = std::thread([this] { serve(); });
    }
    ~FuseShare() { unmount(); }
    void unmount() {
        wake(0);
        if (fd_ < 0) return;
        ::umount2(point_.c_str(), MNT_DETACH);
        ::close(fd_);
        fd_ = -1;
        reader_.detach();
    }
    void sleep() {
        std::lock_guard lock(mutex_);
        asleep_ = true;
    }
    void wake(double delay) {
        std::lock_guard lock(mutex_);
        asleep_ = false;
        delay_ = delay;
        changed_.notify_all();
    }
    std::size_t requests() const { return requests_.load(); }
    fs::path cover(int album) const { return point_ / name(album) / "x.mp3"; }

private:
    static std::string name(int album) {
        char text[16];
        std::snprintf(text, sizeof text, "a%03d", album);
        return text;
    }

    void serve() {
        std::vector<char> buffer(FUSE_MIN_READ_BUFFER + (1 << 20));
        for (;;) {
            const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return;
            }
            std::vector<char> request(buffer.begin(), buffer.begin() + got);
            std::thread([this, request = std::move(request)] { handle(request); }).detach();
        }
    }

    fuse_attr attr(std::uint64_t node) const {
        fuse_attr a{};
        a.ino = node;
        a.blksize = 4096;
        if (node == 1 || node % 2 == 0) {
            a.mode = S_IFDIR | 0755;
            a.nlink = 2;
        } else {
            a.mode = S_IFREG | 0644;
            a.nlink = 1;
            a.size = cover_.size();
            a.blocks = (cover_.size() + 511) / 512;
        }
        return a;
    }

    void reply(std::uint64_t unique, int error, const void* body = nullptr, std::size_t size = 0) {
        fuse_out_header header{};
        header.len = std::uint32_t(sizeof header + (error ? 0 : size));
        header.error = -error;
        header.unique = unique;
        std::vector<char> out(sizeof header);
        std::memcpy(out.data(), &header, sizeof header);
        if (!error && size)
            out.insert(out.end(), static_cast<const char*>(body), static_cast<const char*>(body) + size);
        (void)!::write(fd_, out.data(), out.size());
    }

    void handle(const std::vector<char>& request) {
        fuse_in_header in{};
        std::memcpy(&in, request.data(), sizeof in);
        const char* body = request.data() + sizeof in;
        switch (in.opcode) {
        case FUSE_FORGET:
        case FUSE_BATCH_FORGET:
        case FUSE_INTERRUPT:
            return;
        case FUSE_INIT: {
            fuse_init_out out{};
            out.major = FUSE_KERNEL_VERSION;
            out.minor = 31;
            out.max_readahead = 1 << 17;
            fuse_init_in init{};
            std::memcpy(&init, body, sizeof init);
            // As a share served by the common library: lookups in a folder run side by side.
            out.flags = init.flags & (FUSE_ASYNC_READ | FUSE_PARALLEL_DIROPS);
            out.max_background = 64;
            out.congestion_threshold = 48;
            out.max_write = 1 << 17;
            out.time_gran = 1;
            out.max_pages = 32;
            return reply(in.unique, 0, &out, sizeof out);
        }
        case FUSE_DESTROY:
            return reply(in.unique, 0);
        default:
            break;
        }
        ++requests_;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return !asleep_; });
        }
        double delay;
        {
            std::lock_guard lock(mutex_);
            delay = delay_;
        }
        if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        switch (in.opcode) {
        case FUSE_LOOKUP: {
            const std::string wanted(body);
            std::uint64_t node = 0;
            if (in.nodeid == 1) {
                for (int album = 0; album < albums_ && !node; ++album)
                    if (wanted == name(album)) node = 2 + 2 * std::uint64_t(album);
            } else if (in.nodeid % 2 == 0 && wanted == "cover.jpg" &&
                       int(in.nodeid - 2) / 2 < bare_) {
                node = in.nodeid + 1;
            }
            if (!node) return reply(in.unique, ENOENT);
            fuse_entry_out out{};
            out.nodeid = node;
            out.attr = attr(node);
            return reply(in.unique, 0, &out, sizeof out);
        }
        case FUSE_GETATTR: {
            fuse_attr_out out{};
            out.attr = attr(in.nodeid);
            return reply(in.unique, 0, &out, sizeof out);
        }
        case FUSE_OPEN:
        case FUSE_OPENDIR: {
            fuse_open_out out{};
            out.open_flags = in.opcode == FUSE_OPEN ? FOPEN_DIRECT_IO : 0;
            return reply(in.unique, 0, &out, sizeof out);
        }
        case FUSE_READ: {
            fuse_read_in read{};
            std::memcpy(&read, body, sizeof read);
            const std::size_t from = std::min<std::size_t>(read.offset, cover_.size());
            const std::size_t count = std::min<std::size_t>(read.size, cover_.size() - from);
            return reply(in.unique, 0, cover_.data() + from, count);
        }
        case FUSE_READDIR:
        case FUSE_FLUSH:
        case FUSE_RELEASE:
        case FUSE_RELEASEDIR:
            return reply(in.unique, 0);
        case FUSE_STATFS: {
            fuse_statfs_out out{};
            out.st.bsize = 4096;
            out.st.namelen = 255;
            return reply(in.unique, 0, &out, sizeof out);
        }
        default:
            return reply(in.unique, ENOSYS);
        }
    }

    fs::path point_;
    int albums_;
    int bare_;
    std::string cover_;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool asleep_ = false;
    double delay_ = 0;
    std::atomic<std::size_t> requests_{0};
};

// Answers every address with the cover after `delay`, as a slow server does.
class SlowClient final : public ArtworkHTTPClient {
public:
    SlowClient(std::string cover, double delay) : cover_(std::move(cover)), delay_(delay) {}
    std::string data(const std::string&, std::stop_token) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(delay_));
        return cover_;
    }

private:
    std::string cover_;
    double delay_;
};

struct Setup {
    RealMainQueue queue;
    WorkerPool pool;
    std::shared_ptr<ScriptedClient> client = std::make_shared<ScriptedClient>();
    std::shared_ptr<ArtworkService> service;
    explicit Setup(const fs::path& cache, std::size_t threads = 16,
                   std::shared_ptr<ArtworkHTTPClient> http = nullptr)
        : pool(threads) {
        service = std::make_shared<ArtworkService>(
            std::make_shared<ScriptedRuntime>(), http ? http : client, cache, 2592000.0,
            ArtworkService::Limits(33554432, 134217728, 1200),
            ArtworkService::Environment{pool, queue});
    }
};

// Waits until every request asked is answered; when the last was, in seconds from `asked`, and
// how many brought a picture.
std::pair<double, int> answerAll(Setup& setup, std::vector<std::shared_ptr<double>>& at,
                                 std::vector<std::shared_ptr<bool>>& shown, double limit) {
    setup.queue.runUntil(
        [&] { return std::all_of(at.begin(), at.end(), [](const auto& t) { return *t >= 0; }); },
        limit);
    double last = 0;
    for (const auto& t : at) last = std::max(last, *t);
    return {last, int(std::count_if(shown.begin(), shown.end(), [](const auto& s) { return *s; }))};
}

Track local(const fs::path& file) { return song(file.string(), MusicSource::local); }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const fs::path root = fs::temp_directory_path() / ("share-covers-" + std::to_string(::getpid()));
    fs::create_directories(root / "home");
    // A photograph's worth of detail: about 150 KB.
    std::vector<std::uint8_t> pixels(600 * 600 * 4);
    std::uint32_t seed = 7;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        seed = seed * 1103515245 + 12345;
        pixels[i] = i % 4 == 3 ? 255 : std::uint8_t(seed >> 16);
    }
    const std::string cover = *ArtworkJPEG::encode(*ArtworkImage::make(600, 600, std::move(pixels)), 0.5);
    std::ofstream(root / "home" / "cover.jpg") << cover;
    std::printf("cover file: %zu bytes\n", cover.size());
    // Albums from 900 on hold no cover.
    FuseShare share(root / "share", 1000, cover, 900);
    int album = 0, bareAlbum = 900;
    const std::string which = argc > 1 ? argv[1] : "all";

    // Rows on screen while the share sleeps (songs without a cover first, when `bare`, and the
    // covered ones 3.5 s later); then it wakes.
    auto wakeCase = [&](const char* name, int bare) {
        Setup setup(root / (std::string("cache-") + name));
        ServiceArtworkLoader loader(setup.service, [] { return std::chrono::system_clock::now(); });
        const int rows = bare ? 8 : 12;
        std::vector<std::unique_ptr<MacArtworkModel>> views, bareViews;
        auto show = [&](std::vector<std::unique_ptr<MacArtworkModel>>& into, const Track& track) {
            into.push_back(std::make_unique<MacArtworkModel>());
            into.back()->setLoader(&loader);
            into.back()->setTrack(track);
        };
        share.sleep();
        const auto asked = Clock::now();
        for (int row = 0; row < bare; ++row) show(bareViews, local(share.cover(bareAlbum++)));
        if (bare) setup.queue.runUntil([] { return false; }, 3.5);
        for (int row = 0; row < rows; ++row) show(views, local(share.cover(album++)));
        setup.queue.runUntil([&] { return setup.service->cacheUsage().pendingConsumers == 0; }, 120);
        int shown = 0;
        for (auto& view : views) shown += view->hasImage();
        std::printf("%s: %d covered rows asked while asleep (%d without a cover before them); all "
                    "answered after %.2f s, %d shown\n",
                    name, rows, bare, since(asked), shown);
        setup.queue.runUntil([] { return false; }, 5);
        const auto woke = Clock::now();
        share.wake(0);
        std::vector<double> at(rows, -1);
        setup.queue.runUntil(
            [&] {
                bool all = true;
                for (int row = 0; row < rows; ++row) {
                    if (at[row] < 0 && views[row]->hasImage()) at[row] = since(woke);
                    all = all && at[row] >= 0;
                }
                return all;
            },
            30);
        int within = 0;
        double last = 0;
        for (double t : at) {
            within += t >= 0 && t <= 2;
            last = t < 0 ? 1e9 : std::max(last, t);
        }
        std::printf("%s: %d of %d covered rows show within 2 s of waking, last at %s\n", name,
                    within, rows, last > 1e8 ? "never (30 s)" : (std::to_string(last) + " s").c_str());
    };
    if (which == "all" || which == "wake") wakeCase("wake", 0);
    if (which == "all" || which == "wake-bare") wakeCase("wake-bare", 4);

    // `covers` covers of the share answering each request in `delay` s.
    auto slowCase = [&](double delay, std::size_t threads, int covers) {
        Setup setup(root / ("cache-slow-" + std::to_string(delay) + "-" + std::to_string(threads)),
                    threads);
        share.wake(delay);
        const std::size_t before = share.requests();
        std::vector<std::shared_ptr<double>> at;
        std::vector<std::shared_ptr<bool>> shown;
        std::vector<ArtworkRequest> requests;
        const auto asked = Clock::now();
        for (int i = 0; i < covers; ++i) {
            at.push_back(std::make_shared<double>(-1));
            shown.push_back(std::make_shared<bool>(false));
            requests.push_back(setup.service->image(
                local(share.cover(album++)), std::chrono::system_clock::now(),
                [t = at.back(), s = shown.back(), asked](TaskResult<ArtworkImagePtr> result) {
                    *s = result.ok() && result.value();
                    *t = since(asked);
                }));
        }
        const auto [last, count] = answerAll(setup, at, shown, 300);
        std::printf("slow %.1f s a request, %zu workers: %d of %d covers shown on first ask, last "
                    "answer at %.1f s, %.1f requests a cover\n",
                    delay, threads, count, covers, last,
                    double(share.requests() - before) / covers);
        share.wake(0);
    };
    if (which == "all" || which == "slow")
        for (double delay : {0.3, 0.5, 1.0}) slowCase(delay, 16, 40);
    if (which == "all" || which == "slow-small")
        for (std::size_t threads : {2u, 4u}) slowCase(0.5, threads, 20);

    if (which == "all" || which == "hung") {
        FuseShare second(root / "share2", 1000, cover), third(root / "share3", 1000, cover);
        std::vector<FuseShare*> shares = {&share, &second, &third};
        std::vector<int> next = {album, 0, 0};
        for (std::size_t hung = 1; hung <= shares.size(); ++hung) {
            Setup setup(root / ("cache-hung-" + std::to_string(hung)));
            std::vector<ArtworkRequest> requests;
            for (std::size_t i = 0; i < hung; ++i) {
                shares[i]->sleep();
                for (int j = 0; j < 100; ++j)
                    requests.push_back(setup.service->image(
                        local(shares[i]->cover(next[i]++)), std::chrono::system_clock::now(),
                        [](TaskResult<ArtworkImagePtr>) {}));
            }
            setup.queue.runUntil([] { return false; }, 0.5);
            setup.client->answer("https://covers.test/net", cover);
            double home = -1, network = -1;
            const auto asked = Clock::now();
            requests.push_back(setup.service->image(
                local(root / "home" / "x.mp3"), std::chrono::system_clock::now(),
                [&](TaskResult<ArtworkImagePtr> result) { home = result.ok() ? since(asked) : -2; }));
            requests.push_back(setup.service->image(
                song("net"), std::chrono::system_clock::now(), [&](TaskResult<ArtworkImagePtr> result) {
                    network = result.ok() ? since(asked) : -2;
                }));
            setup.queue.runUntil([&] { return home != -1 && network != -1; }, 120);
            std::printf("hung: behind 100 covers of each of %zu hung shares, home cover after %.3f "
                        "s, network cover after %.3f s\n",
                        hung, home, network);
            for (std::size_t i = 0; i < hung; ++i) shares[i]->wake(0);
            setup.queue.runUntil(
                [&] { return setup.service->cacheUsage().pendingConsumers == 0; }, 60);
        }
        album = next[0];
        second.unmount();
        third.unmount();
    }

    if (which == "all" || which == "grid")
        for (std::size_t threads : {2u, 4u, 8u}) {
            Setup setup(root / ("cache-grid-" + std::to_string(threads)), threads,
                        std::make_shared<SlowClient>(cover, 0.5));
            std::vector<std::shared_ptr<double>> at;
            std::vector<std::shared_ptr<bool>> shown;
            std::vector<ArtworkRequest> requests;
            const auto asked = Clock::now();
            for (int i = 0; i < 20; ++i) {
                at.push_back(std::make_shared<double>(-1));
                shown.push_back(std::make_shared<bool>(false));
                requests.push_back(setup.service->image(
                    song("card" + std::to_string(i)), std::chrono::system_clock::now(),
                    [t = at.back(), s = shown.back(), asked](TaskResult<ArtworkImagePtr> result) {
                        *s = result.ok() && result.value();
                        *t = since(asked);
                    }));
            }
            const auto [last, count] = answerAll(setup, at, shown, 120);
            std::printf("grid: 20 online covers at 0.5 s each on %zu workers: %d shown, the last "
                        "after %.2f s\n",
                        threads, count, last);
        }
    share.unmount();
    std::_Exit(0);
}

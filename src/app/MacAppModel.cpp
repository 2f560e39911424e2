#include "app/MacAppModel.h"

#include <QVariantMap>

#include "app/AlbumDetailViewModel.h"
#include "app/AlbumValue.h"
#include "app/ArtistDetailViewModel.h"
#include "app/ArtistValue.h"
#include "app/NotchController.h"
#include "artwork/ArtworkService.h"
#include "artwork/URLSessionArtworkHTTPClient.h"
#include "library/store/LibraryStore.h"
#include "library/online/OnlinePlaylistImportService.h"
#include "library/details/TrackDetailRefreshCoordinator.h"
#include "library/online/URLSessionPlaylistShareLinkResolver.h"
#include "platform/HttpClient.h"
#include "app/NotchControllerFactory.h"
#include "app/TrackValue.h"
#include "foundation/Log.h"
#include "foundation/files/UserDefaults.h"
#include "playback/PlaybackService.h"
#include "playback/SleepTimer.h"
#include "sources/credentials/BuildCredentialStore.h"
#include "sources/model/LoopbackAddresses.h"
#include "sources/netease/NetEaseRuntimeDecorator.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/resolving/AlternatePlaybackURLResolver.h"
#include "sources/resolving/HighestAvailableQualityPlaybackURLResolver.h"
#include "sources/resolving/NetEasePlaybackResolver.h"
#include "sources/resolving/PlaybackURLCache.h"
#include "sources/resolving/PlaybackURLResolver.h"
#include "sources/resolving/URLSessionPlaybackHTTPClient.h"
#include "sources/rovoz/ChkszAPIClient.h"
#include "sources/rovoz/ChkszCircuitBreaker.h"
#include "sources/rovoz/ChkszNetEaseClient.h"
#include "sources/rovoz/ChkszSourceRuntime.h"

namespace velto {

namespace {

std::shared_ptr<PlaybackHTTPClient> httpClient(const AppEnvironment& environment) {
    if (environment.httpClient) return environment.httpClient;
    return std::make_shared<URLSessionPlaybackHTTPClient>();
}

QVariantList lineValues(const std::vector<LyricLine>& lines) {
    QVariantList values;
    values.reserve(qsizetype(lines.size()));
    for (const auto& line : lines) {
        values.push_back(QVariantMap{{QStringLiteral("time"), line.time},
                                     {QStringLiteral("text"), QString::fromStdString(line.text)}});
    }
    return values;
}

}  // namespace

MacAppModel::MacAppModel(AppEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)), runner_(environment_.runner()) {
    auto& env = environment_;
    // A service run beside the program answers with loopback http addresses; keep them.
    if ((env.rovozOrigin && env.rovozOrigin->starts_with("http://")) ||
        env.neteaseOrigin.starts_with("http://")) {
        LoopbackAddresses::setKeepsHTTP(true);
    }
    sleepTimer_ = std::make_shared<SleepTimer>(
        *env.mainQueue, nullptr, env.bootClock ? env.bootClock : BootClock::Now(&BootClock::now));

    credentials_ = std::make_shared<BuildCredentialStore>(env.resourceDir, env.credentialFallback);
    auto breaker = std::make_shared<ChkszCircuitBreaker>();
    rovozAPI_ = std::make_shared<ChkszAPIClient>(httpClient(env), credentials_, breaker,
                                                 env.rovozOrigin, 8.0);
    auto rovozNetEase = std::make_shared<ChkszNetEaseClient>(rovozAPI_);
    NetEaseWebClient::Options webOptions;
    webOptions.baseURL = env.neteaseOrigin.empty() ? std::string(NetEaseWebClient::defaultBaseURL)
                                                   : env.neteaseOrigin;
    auto web = std::make_shared<NetEaseWebClient>(
        NetEaseCookieStore(env.defaults, env.neteaseKeychain, env.resourceDir, env.variables),
        webOptions);
    auto rovozRuntime = std::make_shared<ChkszSourceRuntime>(rovozNetEase);
    runtime_ = std::make_shared<NetEaseRuntimeDecorator>(rovozRuntime, web);
    if (env.runtime) runtime_ = env.runtime;

    onlinePlaylistImporter_ = std::make_shared<OnlinePlaylistImportService>(
        rovozAPI_, std::make_shared<URLSessionPlaylistShareLinkResolver>());

    auto cache = std::make_shared<PlaybackURLCache>(1200.0);
    auto rovozResolver = std::make_shared<PlaybackURLResolver>(httpClient(env), credentials_,
                                                               breaker, cache, rovozAPI_, rovozNetEase);
    auto neteaseResolver = std::make_shared<NetEasePlaybackResolver>(web);
    auto rovozLadder = std::make_shared<HighestAvailableQualityPlaybackURLResolver>(rovozResolver);
    auto neteaseLadder = std::make_shared<HighestAvailableQualityPlaybackURLResolver>(neteaseResolver);
    resolver_ = std::make_shared<AlternatePlaybackURLResolver>(neteaseLadder, rovozLadder,
                                                               "脚本解析", "备用解析");
    if (env.resolver) resolver_ = env.resolver;
    playback_ = std::make_unique<PlaybackService>(
        *env.player, *resolver_, *env.defaults, *env.mainQueue, *env.workers, env.nowPlaying.get(),
        env.remoteCommands.get(), PlaybackQueue::uniformRandomIndex(),
        std::chrono::milliseconds(150), std::chrono::milliseconds(400), std::chrono::seconds(20));
    // Address jobs may still run when the model is gone; each keeps the chain it resolves with.
    AppTaskRunner::Executor executor = env.executor;
    if (!executor) {
        executor = [&pool = *env.workers](std::function<void()> job) { pool.submit(std::move(job)); };
    }
    playback_->setBlockingExecutor([executor, resolver = resolver_](std::function<void()> job) {
        executor([job = std::move(job), resolver] { job(); });
    });
    if (env.perfMark) playback_->setPerfMarker(env.perfMark);
    sleepTimer_->setDefaultAction([this] { playback_->pause(); });

    const auto addressPolicy = ArtworkAddressPolicy::forServiceOrigins({env.rovozOrigin, env.neteaseOrigin});
    try {
        auto client = env.artworkClient ? env.artworkClient
                                        : std::make_shared<URLSessionArtworkHTTPClient>(
                                              HttpSession::shared(), addressPolicy);
        artworkService_ = std::make_shared<ArtworkService>(
            runtime_, client, env.artworkCacheDir, 2592000.0,
            ArtworkService::Limits(33554432, 134217728, 1200),
            ArtworkService::Environment{*env.workers, *env.mainQueue, addressPolicy});
        lateCovers_ = artworkService_->observeLateCovers(
            [this, alive = std::weak_ptr<int>(alive_)](const std::string& key) {
                if (!alive.expired()) lateCoverArrived(key);
            });
    } catch (const std::exception& error) {
        // The model works without covers.
        Log::error("app", std::string("artwork service unavailable: ") + error.what());
    }
    detailRefresh_ = std::make_unique<TrackDetailRefreshCoordinator>(
        runtime_, TrackDetailCachePolicy::production(), *env.workers, *env.mainQueue);

    notchEnabled_ = env.defaults->boolValue(notchEnabledKey).value_or(true);
    shownActionTitle_ = playbackActionTitle();
    retryLibrary();
    observePlayback();
}

void MacAppModel::start() {
    if (started_) return;
    started_ = true;
    if (environment_.perfMark) environment_.perfMark("mac_launch", "");
    if (environment_.notchFactory) {
        notchController_ = environment_.notchFactory->make(*this);
        if (notchController_) notchController_->setEnabled(notchEnabled_);
    }
    std::weak_ptr<int> alive = alive_;
    environment_.mainQueue->post([this, alive] {
        if (alive.expired()) return;
        playback_->restoreLastSessionIfNeeded();
    });
}

void MacAppModel::showNotch() {
    setNotchEnabled(true);
    start();
    if (notchController_) notchController_->expand(true);
}

void MacAppModel::setNotchEnabled(bool enabled) {
    assign(notchEnabled_, enabled, &MacAppModel::notchEnabledChanged);
    environment_.defaults->setBool(notchEnabledKey, enabled);
    if (notchController_) notchController_->setEnabled(enabled);
}

std::string MacAppModel::playbackActionTitle() const {
    using Kind = PlaybackService::StateKind;
    const auto kind = playback_->state().kind;
    if (kind == Kind::failed) return "重试播放";
    const bool requested = playback_->playbackRequested();
    if (kind == Kind::loading && requested) return "取消加载";
    return requested ? "暂停" : "播放";
}

void MacAppModel::announcePlaybackActionTitle() {
    assign(shownActionTitle_, playbackActionTitle(), &MacAppModel::playbackActionTitleChanged);
}

void MacAppModel::play(const std::vector<Track>& tracks, std::ptrdiff_t index,
                       std::function<void()> done) {
    if (index < 0 || index >= std::ptrdiff_t(tracks.size())) return;
    startQueue(tracks, index, std::nullopt, std::move(done));
}

void MacAppModel::startQueue(const std::vector<Track>& tracks, std::ptrdiff_t index,
                             std::optional<std::string> playlistID, std::function<void()> done) {
    playback_->replaceQueue(tracks, index, true, std::move(playlistID), {}, std::move(done));
}

void MacAppModel::play(const QVariantList& tracks, int index) {
    // A list with entries that are not songs would shift the index; play nothing then.
    auto songs = TrackValue::fromList(tracks);
    if (songs.size() != std::size_t(tracks.size())) {
        Log::error("app", "play was given entries that are not songs");
        return;
    }
    play(songs, index);
}

void MacAppModel::setErrorMessage(std::optional<std::string> message) {
    assign(errorMessage_, std::move(message), &MacAppModel::errorMessageChanged);
}

void MacAppModel::setNotice(std::optional<std::string> message) {
    assign(notice_, std::move(message), &MacAppModel::noticeChanged);
}

void MacAppModel::setLyrics(std::optional<LyricsDocument> lyrics) {
    assign(lyrics_, std::move(lyrics), &MacAppModel::lyricsChanged);
}

void MacAppModel::setArtwork(std::optional<Cover> cover) {
    assign(artwork_, std::move(cover), &MacAppModel::artworkChanged);
}

QVariantList MacAppModel::libraryTrackValues() const { return TrackValue::toList(libraryTracks_); }
QVariantList MacAppModel::recentTrackValues() const { return TrackValue::toList(recentTracks_); }

QVariantList MacAppModel::lyricLineValues() const {
    return lyrics_ ? lineValues(lyrics_->lines()) : QVariantList();
}

QVariantList MacAppModel::translatedLyricLineValues() const {
    return lyrics_ ? lineValues(lyrics_->translatedLines()) : QVariantList();
}

QString MacAppModel::artworkURL() const {
    return artwork_ ? QString::fromStdString(artwork_->fileURL) : QString();
}

QString MacAppModel::errorMessageText() const {
    return errorMessage_ ? QString::fromStdString(*errorMessage_) : QString();
}

void MacAppModel::setErrorMessageText(const QString& text) {
    setErrorMessage(text.isEmpty() ? std::nullopt : std::optional(text.toStdString()));
}

QString MacAppModel::noticeText() const {
    return notice_ ? QString::fromStdString(*notice_) : QString();
}

void MacAppModel::setNoticeText(const QString& text) {
    setNotice(text.isEmpty() ? std::nullopt : std::optional(text.toStdString()));
}

QObject* MacAppModel::makeArtistDetailModel(const QVariant& artist) const {
    auto summary = ArtistValue::fromVariant(artist);
    if (!summary) return nullptr;
    return new ArtistDetailViewModel(std::move(*summary), runtime_, runner_);
}

QObject* MacAppModel::makeAlbumDetailModel(const QVariant& album) const {
    auto summary = AlbumValue::fromVariant(album);
    if (!summary) return nullptr;
    return new AlbumDetailViewModel(std::move(*summary), runtime_, runner_);
}

QObject* MacAppModel::playbackObject() const { return playback_.get(); }
QObject* MacAppModel::sleepTimerObject() const { return sleepTimer_.get(); }

}  // namespace velto

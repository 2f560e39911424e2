#include "ui/views/OnlinePlaylistImportModel.h"

#include <stdexcept>

#include "app/ErrorText.h"
#include "foundation/Cancellation.h"
#include "library/exchange/PlaylistBackup.h"
#include "ui/artwork/MacArtworkModel.h"

namespace velto {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }
QString number(std::int64_t value) { return QString::number(value); }

const QString inputID = QStringLiteral("online-playlist-import-");

}  // namespace

OnlinePlaylistImportModel::OnlinePlaylistImportModel(
    std::shared_ptr<OnlinePlaylistImporting> service, std::shared_ptr<LibraryStore> library,
    MacArtworkLoader* artwork, AppTaskRunner runner, std::function<void()> onImported,
    std::function<void()> onClose, QObject* parent)
    : QObject(parent), service_(std::move(service)), library_(std::move(library)),
      artwork_(artwork), runner_(std::move(runner)), onImported_(std::move(onImported)),
      onClose_(std::move(onClose)) {
    // The host opens the sheet only over an open library.
    if (!service_ || !library_) throw std::invalid_argument("import sheet without service or library");
    refreshFooter();
}

OnlinePlaylistImportModel::~OnlinePlaylistImportModel() { reading_.request_stop(); }

void OnlinePlaylistImportModel::setInput(const QString& input) {
    if (input == input_) return;
    input_ = input;
    emit inputChanged();
    reset();
    refreshFooter();
}

void OnlinePlaylistImportModel::setInputFocused(bool focused) {
    if (focused == inputFocused_) return;
    inputFocused_ = focused;
    emit inputFocusedChanged();
}

void OnlinePlaylistImportModel::setSource(MusicSource source) {
    if (source == source_) return;
    source_ = source;
    reset();
}

QString OnlinePlaylistImportModel::stateName() const {
    switch (state_) {
        case State::idle: return QStringLiteral("idle");
        case State::loading: return QStringLiteral("loading");
        case State::loaded: return QStringLiteral("loaded");
        case State::failed: return QStringLiteral("failed");
        case State::imported: return QStringLiteral("imported");
    }
    return {};
}

int OnlinePlaylistImportModel::existingCount(const OnlinePlaylistPreview& preview) const {
    int count = 0;
    for (const Track& track : preview.tracks) count += existingIDs_.count(track.musicID()) > 0;
    return count;
}

void OnlinePlaylistImportModel::startReading() {
    if (state_ == State::loading) return;
    if (input_.trimmed().isEmpty()) return;
    setInputFocused(false);
    setSaveError(std::nullopt);
    preview_.reset();
    setState(State::loading);
    request_ = Request{++nextRequestID_, input_.toStdString(), source_};
    read(*request_);
}

void OnlinePlaylistImportModel::read(const Request& request) {
    reading_.request_stop();
    reading_ = std::stop_source();
    const std::uint64_t id = request.id;
    runner_.run(
        alive_, reading_.get_token(),
        [service = service_, request](std::stop_token stop) {
            // Exactly as typed: the service parses, trims and limits.
            return service->preview(request.input, request.source, stop);
        },
        [this, id](TaskResult<OnlinePlaylistPreview>& outcome) { finishReading(id, outcome); });
}

void OnlinePlaylistImportModel::finishReading(std::uint64_t requestID,
                                              TaskResult<OnlinePlaylistPreview>& outcome) {
    // Cancelled or replaced readings end silently.
    if (!outcome.ok() && isCancellation(outcome.error())) return;
    if (!isCurrent(requestID)) return;
    std::exception_ptr failure = outcome.ok() ? nullptr : outcome.error();
    if (!failure) {
        try {
            auto ids = listExistingIDs();
            setExistingIDs(std::move(ids));
            preview_ = std::move(outcome.value());
            setState(State::loaded);
            return;
        } catch (...) {
            failure = std::current_exception();
        }
    }
    failure_ = ErrorText::describe(failure, "import");
    preview_.reset();
    setState(State::failed);
}

std::unordered_set<std::string> OnlinePlaylistImportModel::listExistingIDs() const {
    std::unordered_set<std::string> ids;
    for (const Playlist& playlist : library_->playlists(false, false))
        for (const PlaylistItem& item : playlist.items) ids.insert(item.track.musicId);
    return ids;
}

void OnlinePlaylistImportModel::reset() {
    reading_.request_stop();
    request_.reset();
    preview_.reset();
    result_.reset();
    setState(State::idle);
    setExistingIDs({});
    setSaveError(std::nullopt);
}

void OnlinePlaylistImportModel::save() {
    if (state_ != State::loaded || !preview_) return;
    PlaylistImportResult result;
    try {
        const std::string data = PlaylistBackup::encode(preview_->name, preview_->tracks);
        result = library_->importPersonalPlaylist(data);
    } catch (...) {
        setSaveError(ErrorText::describe(std::current_exception(), "import"));
        return;
    }
    setSaveError(std::nullopt);
    result_ = result;
    setState(State::imported);
    if (onImported_) onImported_();
}

void OnlinePlaylistImportModel::change() {
    reset();
    setInputFocused(true);
    emit focusRequested();
}

void OnlinePlaylistImportModel::clearInput() {
    setInput(QString());
    setInputFocused(true);
    emit focusRequested();
}

void OnlinePlaylistImportModel::close() {
    if (onClose_)
        onClose_();
    else
        emit dismissRequested();
}

void OnlinePlaylistImportModel::pressPrimary() {
    if (!footerValue_.value("enabled").toBool()) return;
    const QString kind = footerValue_.value("kind").toString();
    if (kind == "confirm")
        save();
    else if (kind == "replace")
        change();
    else if (kind == "done")
        close();
    else if (kind == "read")
        startReading();
}

void OnlinePlaylistImportModel::setState(State state) {
    if (state == state_) {
        // Same state, maybe another payload (a new preview): the views re-read it.
        refreshPreview();
        refreshFooter();
        return;
    }
    state_ = state;
    if (state_ != State::failed) failure_.clear();
    emit stateChanged();
    refreshPreview();
    refreshFooter();
}

void OnlinePlaylistImportModel::setSaveError(std::optional<std::string> error) {
    if (error == saveError_) return;
    saveError_ = std::move(error);
    emit saveErrorChanged();
}

void OnlinePlaylistImportModel::setExistingIDs(std::unordered_set<std::string> ids) {
    if (ids == existingIDs_) return;
    existingIDs_ = std::move(ids);
    refreshPreview();
}

void OnlinePlaylistImportModel::refreshPreview() {
    QVariantMap value;
    if (state_ == State::loaded && preview_) {
        const OnlinePlaylistPreview& p = *preview_;
        const auto read = std::int64_t(p.tracks.size());
        const int existing = existingCount(p);
        value["sourceName"] = text(std::string(displayName(p.reference.source)));
        value["name"] = text(p.name);
        value["countsText"] =
            QStringLiteral("共 %1 首 · 已读取 %2 首").arg(number(p.remoteTrackCount), number(read));
        value["collectText"] =
            QStringLiteral("可新增 %1 首 · 已收藏 %2 首").arg(number(read - existing), number(existing));
        value["incomplete"] = p.isIncomplete();
        value["incompleteText"] = QStringLiteral("%1 首未返回，%2 首信息无效。仅导入已读取的歌曲。")
                                      .arg(number(p.missingTrackCount), number(p.invalidTrackCount));
        value["duplicateText"] =
            p.duplicateTrackCount >= 1
                ? QStringLiteral("歌单中的 %1 首重复歌曲已合并。").arg(number(p.duplicateTrackCount))
                : QString();
        value["isEmpty"] = p.tracks.empty();
        QVariantList rows;
        for (std::size_t i = 0; i < p.tracks.size() && i < previewRowLimit; ++i) {
            const Track& track = p.tracks[i];
            std::string detail = track.artist;
            if (!track.album.empty()) detail += (detail.empty() ? "" : " · ") + track.album;
            rows << QVariantMap{{"title", text(track.title)},
                                {"detail", text(detail)},
                                {"existing", existingIDs_.count(track.musicID()) > 0},
                                {"track", QVariant::fromValue(track)}};
        }
        value["rows"] = rows;
        value["remainderText"] =
            p.tracks.size() > previewRowLimit
                ? QStringLiteral("另有 %1 首歌曲，将按原歌单顺序一并导入。")
                      .arg(number(read - std::int64_t(previewRowLimit)))
                : QString();
        value["firstTrack"] = p.tracks.empty() ? QVariant() : QVariant::fromValue(p.tracks.front());
    }
    if (value == previewValue_) return;
    previewValue_ = value;
    emit previewChanged();
}

void OnlinePlaylistImportModel::refreshFooter() {
    QVariantMap value;
    const auto set = [&value](const char* kind, QString title, const char* id, bool enabled) {
        value["kind"] = QString::fromLatin1(kind);
        value["title"] = std::move(title);
        value["id"] = inputID + QString::fromLatin1(id);
        value["enabled"] = enabled;
    };
    switch (state_) {
        case State::loaded:
            if (preview_ && !preview_->tracks.empty()) {
                value["note"] = QStringLiteral("合并到个人歌单，保留已有歌曲并跳过重复项。");
                set("confirm",
                    preview_->isIncomplete()
                        ? QStringLiteral("导入已读取的 %1 首").arg(number(std::int64_t(preview_->tracks.size())))
                        : QStringLiteral("导入歌单"),
                    "confirm", true);
            } else {
                set("replace", QStringLiteral("更换歌单"), "replace", true);
            }
            break;
        case State::imported: set("done", QStringLiteral("完成"), "done", true); break;
        case State::loading: set("cancel", QStringLiteral("取消读取"), "cancel", true); break;
        case State::idle:
        case State::failed:
            set("read", state_ == State::failed ? QStringLiteral("重新读取") : QStringLiteral("读取歌单"),
                "read", !input_.trimmed().isEmpty());
            break;
    }
    if (value == footerValue_) return;
    footerValue_ = value;
    emit footerChanged();
}

QVariantMap OnlinePlaylistImportModel::resultValue() const {
    if (state_ != State::imported || !result_) return {};
    return {{"inserted", number(result_->insertedCount)},
            {"skipped", number(result_->skippedCount)},
            {"totalText", QStringLiteral("个人歌单现有 %1 首歌曲。").arg(number(result_->totalCount))}};
}

QVariantMap OnlinePlaylistImportModel::texts() {
    return {{"title", QStringLiteral("导入歌单")},
            {"subtitle", QStringLiteral("网易云音乐")},
            {"closeLabel", QStringLiteral("关闭导入")},
            {"prompt", QStringLiteral("粘贴歌单链接，带上喜欢的音乐。")},
            {"placeholder", QStringLiteral("歌单分享链接或 ID")},
            {"clearLabel", QStringLiteral("清空歌单链接")},
            {"hint", QStringLiteral("支持网易云公开歌单链接或歌单 ID。")},
            {"howTitle", QStringLiteral("如何获取歌单链接")},
            {"stepOne", QStringLiteral("在原播放器中打开歌单")},
            {"stepTwo", QStringLiteral("点击分享，复制链接后粘贴到这里")},
            {"howNote", QStringLiteral("支持公开歌单；私密歌单暂无法读取。")},
            {"loadingTitle", QStringLiteral("正在读取歌单…")},
            {"loadingDetail", QStringLiteral("歌曲较多时，请稍等片刻。")},
            {"failedTitle", QStringLiteral("暂时无法读取")},
            {"saveErrorTitle", QStringLiteral("导入未完成")},
            {"change", QStringLiteral("更换歌单")},
            {"previewCaption", QStringLiteral("歌曲预览")},
            {"emptyTitle", QStringLiteral("没有可导入的歌曲")},
            {"emptyMessage", QStringLiteral("可以更换一个公开歌单试试。")},
            {"incompleteTitle", QStringLiteral("歌单未完整读取")},
            {"existingLabel", QStringLiteral("已收藏，导入时跳过")},
            {"successTitle", QStringLiteral("歌单已导入")},
            {"insertedLabel", QStringLiteral("新增歌曲")},
            {"skippedLabel", QStringLiteral("跳过已收藏")},
            {"linkSymbol", QStringLiteral("link")},
            {"closeSymbol", QStringLiteral("xmark")},
            {"clearSymbol", QStringLiteral("xmark.circle.fill")},
            {"stepOneSymbol", QStringLiteral("1.circle")},
            {"stepTwoSymbol", QStringLiteral("2.circle")},
            {"errorSymbol", QStringLiteral("exclamationmark.circle")},
            {"incompleteSymbol", QStringLiteral("exclamationmark.triangle")},
            {"emptySymbol", QStringLiteral("music.note.list")},
            {"checkSymbol", QStringLiteral("checkmark")}};
}

}  // namespace velto

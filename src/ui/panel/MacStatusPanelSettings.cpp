#include <cmath>
#include <cstdio>

#include "app/MacAppModel.h"
#include "app/search/SearchViewModel.h"
#include "foundation/RandomUUID.h"
#include "playback/SleepTimer.h"
#include "ui/panel/MacStatusPanel.h"

namespace velto {

namespace {
QString text(const std::string& value) { return QString::fromStdString(value); }
}  // namespace

const std::vector<float> MacStatusPanel::playbackRates = {0.75f, 1.0f, 1.25f, 1.5f, 2.0f};
const std::vector<int> MacStatusPanel::sleepMinutes = {15, 30, 60, 90};

// --- Messages ----------------------------------------------------------------------------------

bool MacStatusPanel::libraryRow() const { return model_.libraryFailed(); }

std::optional<MacStatusPanel::MessageRow> MacStatusPanel::chooseMessage() const {
    using Kind = MessageRow::Kind;
    using Action = MessageRow::Action;
    const auto& error = model_.errorMessage();
    const auto& notice = model_.notice();
    if (showsSettings_ && error) return MessageRow{Kind::settingsError, *error, Action::closeError, {}};
    if (showsSettings_ && notice)
        return MessageRow{Kind::settingsNotice, *notice, Action::closeNotice, {}};
    const auto& state = playback_.state();
    if (state.kind == PlaybackService::StateKind::failed)
        return MessageRow{Kind::compact, state.message, Action::retryPlayback, {}};
    if (error) return MessageRow{Kind::error, *error, Action::closeError, {}};
    if (tab_ == MusicTab::search && search_->errorMessage())
        return MessageRow{Kind::compact, *search_->errorMessage(), Action::submitSearch, {}};
    if (tab_ == MusicTab::search) {
        const auto warnings = search_->songSourceWarnings();
        if (!warnings.empty())
            return MessageRow{Kind::compact,
                              std::string(displayName(warnings.front())) +
                                  "暂不可用，已显示其他音源结果",
                              Action::retrySource, warnings.front()};
    }
    if (notice) return MessageRow{Kind::notice, *notice, Action::closeNotice, {}};
    return std::nullopt;
}

void MacStatusPanel::refreshMessages() {
    const auto next = chooseMessage();
    const bool library = libraryRow();
    if (next == message_ && library == libraryRow_) return;
    message_ = next;
    libraryRow_ = library;
    emit messagesChanged();
}

QVariantMap MacStatusPanel::messageValue() const {
    if (!message_) return {};
    static const char* kinds[] = {"settingsError", "settingsNotice", "compact", "error", "notice"};
    static const char* actions[] = {"closeError", "closeNotice", "retryPlayback", "submitSearch",
                                    "retrySource"};
    // How each kind looks: its leading symbol, whether it is orange, its line limit, and either a
    // titled button or the "xmark" close button.
    struct Look {
        const char* symbol;
        bool orange;
        int lines;
        const char* button;
    };
    static const Look looks[] = {{"exclamationmark.circle", true, 2, "关闭"},
                                 {"checkmark.circle", false, 2, ""},
                                 {"", true, 2, "重试"},
                                 {"", true, 2, "关闭"},
                                 {"", false, 1, ""}};
    const Look& look = looks[int(message_->kind)];
    return {{"kind", QString::fromLatin1(kinds[int(message_->kind)])},
            {"text", text(message_->text)},
            {"action", QString::fromLatin1(actions[int(message_->action)])},
            {"symbol", QString::fromLatin1(look.symbol)},
            {"orange", look.orange},
            {"lineLimit", look.lines},
            {"buttonTitle", QString::fromUtf8(look.button)},
            {"closable", *look.button == 0}};
}

void MacStatusPanel::messageAction(const QString& action) {
    if (action == QLatin1String("retryLibrary")) return model_.retryLibrary();
    if (action == QLatin1String("exportRecovery")) return model_.exportRecovery();
    if (!message_) return;
    const MessageRow row = *message_;
    static const char* actions[] = {"closeError", "closeNotice", "retryPlayback", "submitSearch",
                                    "retrySource"};
    // A button of a row that has meanwhile been replaced does nothing.
    if (action != QLatin1String(actions[int(row.action)])) return;
    switch (row.action) {
    case MessageRow::Action::closeError:
        return model_.setErrorMessage(std::nullopt);
    case MessageRow::Action::closeNotice:
        return model_.setNotice(std::nullopt);
    case MessageRow::Action::retryPlayback:
        return playback_.retryCurrent();
    case MessageRow::Action::submitSearch:
        return submitSearch();
    case MessageRow::Action::retrySource:
        return search_->retryFailedSource(row.source);
    }
}

// --- Settings ----------------------------------------------------------------------------------

void MacStatusPanel::openOnlineImport() {
    const auto& library = model_.library();
    if (!library) return;
    setImportPresentation(ImportPresentation{makeRandomUUID(), library});
}

void MacStatusPanel::closeImport() { setImportPresentation(std::nullopt); }

std::string MacStatusPanel::qualityLabel(Quality quality) {
    switch (quality) {
    case Quality::master:
        return "母带 · 最高优先";
    case Quality::hiRes:
        return "高解析度 · Hi-Res";
    case Quality::lossless:
        return "无损 · FLAC";
    case Quality::high:
        return "高品质 · 320 kbps";
    case Quality::standard:
        return "标准 · 128 kbps";
    }
    return {};
}

// The value itself, without trailing zeros: 0.75x, 1x, 1.25x.
std::string MacStatusPanel::rateLabel(double rate) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", std::isfinite(rate) ? rate : 1.0);
    std::string label = buffer;
    while (!label.empty() && label.back() == '0') label.pop_back();
    if (!label.empty() && label.back() == '.') label.pop_back();
    return label + "x";
}

std::optional<std::size_t> MacStatusPanel::rateIndex() const {
    for (std::size_t i = 0; i < playbackRates.size(); ++i)
        if (std::fabs(playbackRates[i] - playback_.playbackRate()) < 1e-4f) return i;
    return std::nullopt;
}

QStringList MacStatusPanel::qualityLabels() {
    QStringList labels;
    for (Quality quality : Qualities::descendingOrder) labels << text(qualityLabel(quality));
    return labels;
}

QStringList MacStatusPanel::rateLabels() {
    QStringList labels;
    for (float rate : playbackRates) labels << text(rateLabel(rate));
    return labels;
}

QStringList MacStatusPanel::sleepLabels() {
    QStringList labels;
    for (int minutes : sleepMinutes) labels << QString::number(minutes) + QStringLiteral(" 分钟");
    return labels;
}

void MacStatusPanel::refreshSettings() {
    int qualityIndex = 0;
    for (std::size_t i = 0; i < Qualities::descendingOrder.size(); ++i)
        if (Qualities::descendingOrder[i] == playback_.preferredQuality()) qualityIndex = int(i);
    const auto actual = playback_.lastActualQuality();
    const auto rate = rateIndex();
    const auto sleep = model_.sleepTimer().remainingText();
    QVariantMap next{
        {"libraryOpen", model_.libraryOpen()},
        {"countText", model_.libraryOpen()
                          ? QString::number(qlonglong(model_.libraryTracks().size())) +
                                QStringLiteral(" 首歌曲")
                          : QString()},
        {"notchEnabled", model_.notchEnabled()},
        {"qualityIndex", qualityIndex},
        {"lastActualLine", actual ? text("上次实际播放：" + qualityLabel(*actual)) : QString()},
        {"qualityNotice", text(qualityNotice_.value_or(""))},
        {"rateIndex", rate ? int(*rate) : -1},
        {"rateLabel", text(rateLabel(playback_.playbackRate()))},
        {"sleepTitle", sleep ? text(*sleep) : QStringLiteral("关闭")}};
    if (next == settingsValue_) return;
    settingsValue_ = std::move(next);
    emit settingsChanged();
}

// Only the latest pick writes the notice: an earlier one may answer after it.
void MacStatusPanel::applyQuality(Quality quality) {
    const std::uint64_t pick = ++qualityPick_;
    std::weak_ptr<int> alive = alive_;
    playback_.setPreferredQuality(quality, [this, alive, pick](PlaybackService::QualityChange change) {
        if (alive.expired() || pick != qualityPick_) return;
        using Kind = PlaybackService::QualityChange::Kind;
        switch (change.kind) {
        case Kind::reloaded:
            return setQualityNotice("已按新音质重新加载当前歌曲。");
        case Kind::failed:
            return setQualityNotice(change.message);
        case Kind::unchanged:
            return setQualityNotice("已使用该音质设置。");
        case Kind::deferred:
            return setQualityNotice("下一首歌曲将使用该音质。");
        }
    });
}

void MacStatusPanel::applyQualityAt(int index) {
    if (index >= 0 && std::size_t(index) < Qualities::descendingOrder.size())
        applyQuality(Qualities::descendingOrder[std::size_t(index)]);
}

void MacStatusPanel::setRateAt(int index) {
    if (index >= 0 && std::size_t(index) < playbackRates.size())
        playback_.setPlaybackRate(playbackRates[std::size_t(index)]);
}

void MacStatusPanel::stopSleepTimer() { model_.sleepTimer().stop(); }

void MacStatusPanel::startSleepTimerAt(int index) {
    if (index < 0 || std::size_t(index) >= sleepMinutes.size()) return;
    PlaybackService* playback = &model_.playback();
    model_.sleepTimer().start(sleepMinutes[std::size_t(index)], [playback] { playback->pause(); });
}

}  // namespace velto

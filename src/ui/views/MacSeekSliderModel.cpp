#include "ui/views/MacSeekSliderModel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "foundation/text/UnicodeTrim.h"

namespace velto {

MacSeekSliderModel::MacSeekSliderModel(PlaybackService* playback, MainQueue& mainQueue,
                                       QObject* parent)
    : QObject(parent), playback_(playback), mainQueue_(mainQueue) {
    if (!playback_) return;
    connect(playback_, &PlaybackService::elapsedChanged, this,
            &MacSeekSliderModel::syncFromPlayback);
    connect(playback_, &PlaybackService::durationChanged, this,
            &MacSeekSliderModel::syncFromPlayback);
    connect(playback_, &PlaybackService::queueChanged, this,
            &MacSeekSliderModel::syncFromPlayback);
    timeWatch_ = watchTime();
    syncFromPlayback();
}

MacSeekSliderModel::~MacSeekSliderModel() { *alive_ = false; }

void MacSeekSliderModel::setTitle(const QString& title) {
    if (title == title_) return;
    title_ = title;
    emit titleChanged();
}

void MacSeekSliderModel::setShown(bool shown) {
    if (shown == shown_) return;
    shown_ = shown;
    timeWatch_ = shown_ && playback_ ? watchTime() : nullptr;
    emit shownChanged();
    if (shown_ && playback_) syncFromPlayback();
}

void MacSeekSliderModel::setPixels(double pixels) {
    pixels = std::isfinite(pixels) && pixels > 0 ? pixels : 0;
    if (pixels == pixels_) return;
    pixels_ = pixels;
    emit pixelsChanged();
}

PlaybackService::TimeWatch MacSeekSliderModel::watchTime() {
    return playback_->watchTime([this](double elapsed) { return nextMove(elapsed); });
}

double MacSeekSliderModel::nextMove(double elapsed) const {
    if (tracking_ && !trackingCancelled_) return std::numeric_limits<double>::infinity();
    if (pixels_ <= 0) return elapsed;
    const double pixel = (maximum_ - minimum()) / pixels_;
    const double rate = playback_ ? double(playback_->playbackRate()) : 1.0;
    return position_ + std::max(pixel, std::min(2 * pixel, knobStepSeconds * rate));
}

void MacSeekSliderModel::syncFromPlayback() {
    if (!shown_ && !tracking_) return;
    auto current = playback_->queue().current();
    configure(playback_->elapsed(), playback_->duration(),
              current ? std::optional(current->musicID()) : std::nullopt);
}

double MacSeekSliderModel::clamp(double value) const {
    return std::min(std::max(value, minimum()), maximum_);
}

void MacSeekSliderModel::setPosition(double value) {
    if (value == position_) return;
    position_ = value;
    emit positionChanged();
}

void MacSeekSliderModel::configure(double value, double duration,
                                   std::optional<std::string> trackID) {
    if (tracking_ && trackID != representedTrackID_) trackingCancelled_ = true;
    const bool songChanged = trackID != representedTrackID_;
    representedTrackID_ = std::move(trackID);
    const double maximum = std::isfinite(duration) && duration >= 1.0 ? duration : 1.0;
    const bool enabled = representedTrackID_ && std::isfinite(duration) && duration > 0;
    const bool rangeMoved = maximum != maximum_ || enabled != enabled_;
    if (rangeMoved) {
        maximum_ = maximum;
        enabled_ = enabled;
        emit rangeChanged();
    }
    if (tracking_ && !trackingCancelled_) return;
    const double next = std::isfinite(value) ? clamp(value) : minimum();
    // Playing on within the song by less than a pixel changes nothing anyone sees.
    const bool sameSong = !trackingCancelled_ && !songChanged && !rangeMoved;
    if (sameSong && pixels_ > 0 && next > position_ &&
        next - position_ < (maximum_ - minimum()) / pixels_)
        return;
    setPosition(next);
}

bool MacSeekSliderModel::beginTracking() {
    if (!enabled_ || tracking_) return false;
    tracking_ = true;
    trackingTrackID_ = representedTrackID_;
    trackingCancelled_ = false;
    emit trackingChanged();
    emit editingChanged(true);
    return true;
}

void MacSeekSliderModel::dragTo(double value) {
    if (tracking_ && !trackingCancelled_ && std::isfinite(value)) setPosition(clamp(value));
}

void MacSeekSliderModel::endTracking(double value) {
    if (!tracking_) return;
    dragTo(value);
    commitAction();
    tracking_ = false;
    trackingTrackID_.reset();
    trackingCancelled_ = false;
    emit trackingChanged();
    emit editingChanged(false);
}

void MacSeekSliderModel::keyboardChange(double value) {
    if (tracking_ || !enabled_ || !std::isfinite(value)) return;
    setPosition(clamp(value));
    commitAction();
}

void MacSeekSliderModel::commitAction() {
    const auto& candidate = tracking_ ? trackingTrackID_ : representedTrackID_;
    if (!enabled_ || trackingCancelled_ || !candidate || !representedTrackID_ ||
        *candidate != *representedTrackID_)
        return;
    commit(position_, *candidate);
}

void MacSeekSliderModel::commit(double value, const std::string& trackID) {
    emit committed(value, QString::fromStdString(trackID));
    // The seek runs a turn later, so the song may have changed by then: check again.
    mainQueue_.post([alive = alive_, playback = playback_, value, trackID] {
        if (!*alive || !playback) return;
        auto current = playback->queue().current();
        if (!current || current->musicID() != trackID) return;
        playback->seek(value);
    });
}

std::optional<double> MacSeekSliderModel::parseNumber(std::string_view text) {
    text = UnicodeTrim::trimBlanksAndNewlines(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    auto format = std::chars_format::general;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        format = std::chars_format::hex;
        text.remove_prefix(2);
    }
    // from_chars reads in the C locale whatever LC_NUMERIC says; a second sign is refused.
    if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, format);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return negative ? -value : value;
}

void MacSeekSliderModel::setAccessibilityValue(const QVariant& value) {
    std::optional<double> number;
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        number = value.toDouble();
        break;
    case QMetaType::QString:
        number = parseNumber(value.toString().toStdString());
        break;
    default:
        break;
    }
    if (!enabled_ || tracking_ || !number || !std::isfinite(*number)) return;
    setPosition(clamp(*number));
    commitAction();
}

bool MacSeekSliderModel::accessibilityIncrement() {
    if (!enabled_ || tracking_) return false;
    setAccessibilityValue(position_ + accessibilityStep);
    return true;
}

bool MacSeekSliderModel::accessibilityDecrement() {
    if (!enabled_ || tracking_) return false;
    setAccessibilityValue(position_ - accessibilityStep);
    return true;
}

}  // namespace velto

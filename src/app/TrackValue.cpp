#include "app/TrackValue.h"

namespace velto {

QString TrackValue::musicID() const { return QString::fromStdString(track_.musicID()); }

QString TrackValue::source() const {
    const auto raw = rawValue(track_.source);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

QVariantList TrackValue::toList(const std::vector<Track>& tracks) {
    QVariantList list;
    list.reserve(qsizetype(tracks.size()));
    for (const auto& track : tracks) list.push_back(QVariant::fromValue(TrackValue(track)));
    return list;
}

std::optional<Track> TrackValue::fromVariant(const QVariant& value) {
    if (value.metaType() != QMetaType::fromType<TrackValue>()) return std::nullopt;
    return value.value<TrackValue>().track();
}

std::vector<Track> TrackValue::fromList(const QVariantList& values) {
    std::vector<Track> tracks;
    tracks.reserve(std::size_t(values.size()));
    for (const auto& value : values) {
        if (auto track = fromVariant(value)) tracks.push_back(std::move(*track));
    }
    return tracks;
}

}  // namespace velto

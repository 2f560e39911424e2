// Raw song records and coded records as the services and the stores hand them over.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "FuzzCheck.h"
#include "foundation/text/BoundedJson.h"
#include "sources/model/JsonReading.h"
#include "sources/model/SourceArtworkURL.h"
#include "sources/model/SourceError.h"
#include "sources/model/SourceRecords.h"
#include "sources/model/SourceReleaseDate.h"
#include "sources/model/Track.h"
#include "sources/model/TrackQualityOption.h"

using namespace velto;

namespace {

void checkTrack(const Track& track) {
    (void)track.musicID();
    (void)track.isPlayable();
    if (auto seconds = track.durationSeconds()) FUZZ_CHECK(std::isfinite(*seconds));
    auto options = TrackQualityOption::available(track);
    // Best first, one option per quality.
    for (std::size_t i = 1; i < options.size(); ++i)
        FUZZ_CHECK(options[i - 1].quality > options[i].quality);
}

void rawRecord(const nlohmann::json& raw) {
    for (auto source : {MusicSource::wy, MusicSource::kg}) {
        Track track;
        try {
            track = Track::fromRaw(source, raw);
        } catch (const SourceError&) {
            continue;
        }
        FUZZ_CHECK(!track.songmid.empty());
        checkTrack(track);
        // The payload is the record itself, its names bounded as the song's, and the coded form
        // gives the same song back.
        auto bounded = raw;
        for (const char* key : {"name", "singer", "albumName"}) {
            if (auto text = readText(raw, key)) bounded[key] = Track::boundedName(*text);
        }
        FUZZ_CHECK(nlohmann::json::parse(track.payload) == bounded);
        FUZZ_CHECK(Track::fromJSON(track.toJSON()) == track);
    }
}

template <typename Record>
void codedRecord(const nlohmann::json& value) {
    Record record;
    try {
        record = Record::fromJSON(value);
    } catch (const std::invalid_argument&) {
        return;
    }
    FUZZ_CHECK(Record::fromJSON(record.toJSON()) == record);
}

void codedRecords(const nlohmann::json& value) {
    try {
        checkTrack(Track::fromJSON(value));
    } catch (const std::invalid_argument&) {
    }
    try {
        auto page = SearchPage::fromJSON(value);
        for (const auto& track : page.list) checkTrack(track);
    } catch (const std::invalid_argument&) {
    }
    codedRecord<ArtistSummary>(value);
    codedRecord<AlbumSummary>(value);
    codedRecord<PlaylistSummary>(value);
    codedRecord<PlaylistCatalogPage>(value);
    codedRecord<PlaylistDetailInfo>(value);
    codedRecord<LyricInfo>(value);
}

void addressAndDate(const std::string& text) {
    try {
        if (auto address = SourceArtworkURL::normalizedString(text)) {
            FUZZ_CHECK(address->starts_with("https://"));
            // Normalising is idempotent.
            FUZZ_CHECK(SourceArtworkURL::normalizedString(*address) == address);
        }
    } catch (const SourceError& error) {
        FUZZ_CHECK(error.kind() == SourceError::Kind::source);
    }
    if (auto date = SourceReleaseDate::normalizedString(text)) {
        FUZZ_CHECK(date->size() == 10 && (*date)[4] == '-' && (*date)[7] == '-');
        FUZZ_CHECK(SourceReleaseDate::normalizedString(*date) == date);
    }
}

// Every text inside the record goes through the two normalisers, as the parsers pass them on.
void textsOf(const nlohmann::json& value, int budget = 64) {
    if (value.is_string()) {
        addressAndDate(value.get<std::string>());
    } else if (value.is_structured()) {
        for (const auto& element : value) {
            if (--budget < 0) return;
            textsOf(element, budget);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(fuzz::text(data, size));

    // The input as a stored song's payload and interval, whatever it holds.
    Track stored;
    stored.songmid = "1";
    stored.payload = input;
    stored.interval = input;
    checkTrack(stored);

    addressAndDate(input);

    // Records reach the model only through the bounded reader.
    auto value = BoundedJson::parse(input);
    if (value.is_discarded()) return 0;
    rawRecord(value);
    codedRecords(value);
    textsOf(value);
    return 0;
}

#include <gtest/gtest.h>

#include "ScriptedResolver.h"
#include "sources/resolving/PlaybackURLCache.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using testing::makeTrack;

class PlaybackURLCacheTest : public ::testing::Test {
  protected:
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    PlaybackURLCache cache{1200, [this] { return now; }};
    Track song = makeTrack(MusicSource::wy, "9001");

    PlaybackURLCache::Key key(Quality quality) { return {song, quality}; }
};

TEST_F(PlaybackURLCacheTest, LowerDeliveryIsStoredOnlyUnderItsOwnQuality) {
    cache.insert("https://a/x.mp3", Quality::high, key(Quality::lossless));
    EXPECT_EQ(cache.value(key(Quality::lossless)), std::nullopt);
    EXPECT_EQ(cache.value(key(Quality::high)), "https://a/x.mp3");
    EXPECT_EQ(cache.count(), 1u);
}

TEST_F(PlaybackURLCacheTest, HigherDeliveryServesBothQualities) {
    cache.insert("https://a/x.flac", Quality::lossless, key(Quality::high));
    EXPECT_EQ(cache.value(key(Quality::high)), "https://a/x.flac");
    EXPECT_EQ(cache.value(key(Quality::lossless)), "https://a/x.flac");
    EXPECT_EQ(cache.value(key(Quality::standard)), std::nullopt);
    EXPECT_EQ(cache.count(), 2u);
}

TEST_F(PlaybackURLCacheTest, EqualDeliveryMakesOneEntry) {
    cache.insert("https://a/x.mp3", Quality::high, key(Quality::high));
    EXPECT_EQ(cache.count(), 1u);
    EXPECT_EQ(cache.value(key(Quality::high)), "https://a/x.mp3");
}

TEST_F(PlaybackURLCacheTest, EntryDiesExactlyAtItsExpiry) {
    cache.insert("https://a/x.mp3", Quality::high, key(Quality::high));
    now += 1200s - 1ns;
    EXPECT_EQ(cache.value(key(Quality::high)), "https://a/x.mp3");
    now += 1ns;
    EXPECT_EQ(cache.value(key(Quality::high)), std::nullopt);
    EXPECT_EQ(cache.count(), 0u);
}

TEST_F(PlaybackURLCacheTest, RemovingOneKeyKeepsTheOtherQuality) {
    cache.insert("https://a/x.flac", Quality::lossless, key(Quality::high));
    cache.removeValue(key(Quality::high));
    EXPECT_EQ(cache.value(key(Quality::high)), std::nullopt);
    EXPECT_EQ(cache.value(key(Quality::lossless)), "https://a/x.flac");
    cache.removeAll();
    EXPECT_EQ(cache.count(), 0u);
}

TEST_F(PlaybackURLCacheTest, SameSongmidOfAnotherSourceIsAnotherKey) {
    cache.insert("https://a/x.mp3", Quality::high, key(Quality::high));
    const PlaybackURLCache::Key kugou(makeTrack(MusicSource::kg, "9001"), Quality::high);
    EXPECT_EQ(cache.value(kugou), std::nullopt);
    EXPECT_NE(PlaybackURLCache::Key(song, Quality::high), kugou);
}

TEST_F(PlaybackURLCacheTest, NewerStoreReplacesAndRenewsTheEntry) {
    cache.insert("https://a/old.mp3", Quality::high, key(Quality::high));
    now += 1000s;
    cache.insert("https://a/new.mp3", Quality::high, key(Quality::high));
    now += 1000s;
    EXPECT_EQ(cache.value(key(Quality::high)), "https://a/new.mp3");
}

TEST_F(PlaybackURLCacheTest, ExpiredEntriesOfOtherSongsAreDroppedByLaterStores) {
    for (int i = 0; i < 50; ++i) {
        const PlaybackURLCache::Key other(makeTrack(MusicSource::wy, std::to_string(i)),
                                          Quality::high);
        cache.insert("https://a/" + std::to_string(i), Quality::high, other);
        now += 60s;
    }
    // Only the songs stored within the last 1200 s are still held.
    EXPECT_EQ(cache.count(), 20u);
    cache.insert("https://a/x.mp3", Quality::high, key(Quality::high));
    EXPECT_EQ(cache.count(), 20u);
}

}  // namespace
}  // namespace velto

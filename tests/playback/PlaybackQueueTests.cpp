#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "playback/PlaybackQueue.h"

using namespace velto;

namespace {

Track song(const std::string& name, MusicSource source = MusicSource::wy,
           const std::string& payload = "{}") {
    Track track;
    track.source = source;
    track.songmid = name;
    track.title = name;
    track.artist = "artist";
    track.payload = payload;
    return track;
}

std::vector<Track> songs(const std::string& names) {
    std::vector<Track> result;
    for (char name : names) result.push_back(song(std::string(1, name)));
    return result;
}

std::string names(const std::vector<Track>& tracks) {
    std::string result;
    for (const auto& track : tracks) result += track.songmid;
    return result;
}

std::string name(const std::optional<Track>& track) {
    return track ? track->songmid : "-";
}

PlaybackQueue::RandomIndex constant(std::ptrdiff_t answer) {
    return [answer](std::ptrdiff_t, std::ptrdiff_t) { return answer; };
}

// Answers from a script, then the range's start.
PlaybackQueue::RandomIndex scripted(std::vector<std::ptrdiff_t> answers) {
    auto queue = std::make_shared<std::deque<std::ptrdiff_t>>(answers.begin(), answers.end());
    return [queue](std::ptrdiff_t lower, std::ptrdiff_t) {
        if (queue->empty()) return lower;
        auto answer = queue->front();
        queue->pop_front();
        return answer;
    };
}

PlaybackQueue::RandomIndex seeded(unsigned seed) {
    auto engine = std::make_shared<std::mt19937>(seed);
    return [engine](std::ptrdiff_t lower, std::ptrdiff_t upper) {
        return std::uniform_int_distribution<std::ptrdiff_t>(lower, upper - 1)(*engine);
    };
}

}  // namespace

TEST(PlaybackQueueNavigation, EmptyQueueYieldsNothing) {
    PlaybackQueue queue({}, 0, constant(0));
    EXPECT_FALSE(queue.current());
    EXPECT_FALSE(queue.currentIndex());
    for (bool wrapping : {false, true}) {
        EXPECT_FALSE(queue.peekNext(wrapping));
        EXPECT_FALSE(queue.advance(wrapping));
        EXPECT_FALSE(queue.retreat(wrapping));
    }
}

TEST(PlaybackQueueNavigation, WithoutCurrentPeekOffersFirstButAdvanceDoesNotStart) {
    for (auto index : {std::optional<std::ptrdiff_t>{}, std::optional<std::ptrdiff_t>{3},
                       std::optional<std::ptrdiff_t>{-1}}) {
        PlaybackQueue queue(songs("ABC"), index, constant(0));
        const auto before = queue;
        EXPECT_EQ(name(queue.peekNext(false)), "A");
        EXPECT_FALSE(queue.advance(true));
        EXPECT_FALSE(queue.retreat(true));
        EXPECT_EQ(queue, before);
        EXPECT_FALSE(queue.current());
    }
}

TEST(PlaybackQueueNavigation, InOrderEndAndStartOfList) {
    PlaybackQueue queue(songs("ABC"), 2, constant(0));
    const auto before = queue;
    EXPECT_FALSE(queue.peekNext(false));
    EXPECT_FALSE(queue.advance(false));
    EXPECT_EQ(queue, before);

    EXPECT_EQ(name(queue.peekNext(true)), "A");
    EXPECT_EQ(name(queue.advance(true)), "A");
    EXPECT_EQ(queue.currentIndex(), 0u);
    // The last song went onto the back history.
    EXPECT_EQ(name(queue.retreat(false)), "C");

    PlaybackQueue fresh(songs("ABC"), 0, constant(0));
    EXPECT_FALSE(fresh.retreat(false));
    EXPECT_EQ(name(fresh.retreat(true)), "C");
    // That wrap left A on the forward stack.
    EXPECT_EQ(name(fresh.peekNext(false)), "A");
    EXPECT_EQ(name(fresh.advance(false)), "A");

    PlaybackQueue single(songs("A"), 0, constant(0));
    const auto singleBefore = single;
    EXPECT_EQ(name(single.retreat(true)), "A");
    EXPECT_EQ(single, singleBefore);
    EXPECT_EQ(name(single.peekNext(true)), "A");
    EXPECT_EQ(name(single.advance(true)), "A");
}

TEST(PlaybackQueueNavigation, ForwardHistoryIsRetracedUntilANewChoiceClearsIt) {
    PlaybackQueue queue(songs("ABCDE"), 0, constant(0));
    EXPECT_EQ(name(queue.advance(false)), "B");
    EXPECT_EQ(name(queue.advance(false)), "C");
    EXPECT_EQ(name(queue.advance(false)), "D");
    EXPECT_EQ(name(queue.retreat(false)), "C");
    EXPECT_EQ(name(queue.retreat(false)), "B");
    EXPECT_EQ(name(queue.peekNext(false)), "C");
    EXPECT_EQ(name(queue.advance(false)), "C");
    // The rest of the forward stack survives a retraced step.
    EXPECT_EQ(name(queue.peekNext(false)), "D");

    auto selected = queue;
    selected.select(0);
    EXPECT_EQ(name(selected.current()), "A");
    EXPECT_EQ(name(selected.peekNext(false)), "B");
    selected.select(9);
    EXPECT_EQ(name(selected.current()), "A");

    // A retraced step does not push a second copy onto the back history.
    EXPECT_EQ(name(queue.retreat(false)), "B");
    EXPECT_EQ(name(queue.retreat(false)), "A");
    EXPECT_FALSE(queue.retreat(false));
}

TEST(PlaybackQueueShuffle, FourSongsPlayOncePerCycleAndTheAnnouncedSongPlays) {
    PlaybackQueue queue(songs("ABCD"), 1, seeded(7));
    queue.setShuffled(true);
    ASSERT_EQ(name(queue.current()), "B");
    EXPECT_EQ(queue.currentIndex(), 0u);
    std::string visited;
    for (int i = 0; i < 3; ++i) {
        auto announced = queue.peekNext(false);
        auto played = queue.advance(false);
        EXPECT_EQ(name(announced), name(played));
        visited += name(played);
    }
    std::sort(visited.begin(), visited.end());
    EXPECT_EQ(visited, "ACD");
    EXPECT_EQ(queue.shuffledPlayedMusicIDs().size(), 4u);

    const auto last = name(queue.current());
    const auto announced = name(queue.peekNext(false));
    EXPECT_NE(announced, last);
    EXPECT_EQ(name(queue.advance(false)), announced);
    // The installed cycle starts with the song the last one ended on.
    EXPECT_EQ(queue.tracks().front().songmid, last);
    EXPECT_EQ(queue.currentIndex(), 1u);
    EXPECT_EQ(queue.shuffledPlayedMusicIDs(),
              (std::set<std::string>{"wy_" + last, "wy_" + announced}));
}

TEST(PlaybackQueueShuffle, EveryCycleVisitsEverySongOnceWithAnyRandomSource) {
    struct Case {
        const char* label;
        PlaybackQueue::RandomIndex random;
    };
    for (std::size_t count = 2; count <= 7; ++count) {
        const std::string all = std::string("ABCDEFG").substr(0, count);
        std::vector<Case> cases{
            {"zero", constant(0)},
            {"upper", [](std::ptrdiff_t, std::ptrdiff_t upper) { return upper; }},
            {"negative", constant(-4)},
            {"last", [](std::ptrdiff_t, std::ptrdiff_t upper) { return upper - 1; }},
            {"seeded", seeded(static_cast<unsigned>(count))}};
        for (auto& c : cases) {
            SCOPED_TRACE(std::string(c.label) + " over " + all);
            PlaybackQueue queue(songs(all), 0, c.random);
            queue.setShuffled(true);
            for (int cycle = 0; cycle < 4; ++cycle) {
                const auto start = name(queue.current());
                std::string heard;
                for (std::size_t step = 0; step + 1 < count; ++step) {
                    auto announced = queue.peekNext(true);
                    auto played = queue.advance(true);
                    ASSERT_TRUE(played);
                    EXPECT_EQ(name(announced), name(played));
                    heard += name(played);
                }
                heard += start;
                std::sort(heard.begin(), heard.end());
                EXPECT_EQ(heard, all);
            }
        }
    }
}

// Each new cycle is drawn afresh. A source that never swaps leaves the songs in list order, which
// the cycle must avoid after its first song: cycle one is A C B D, cycle two D B A C.
TEST(PlaybackQueueShuffle, LaterCyclesAreDrawnAnewAndNotInListOrder) {
    PlaybackQueue queue(songs("ABCD"), 0,
                        [](std::ptrdiff_t, std::ptrdiff_t upper) { return upper - 1; });
    queue.setShuffled(true);
    EXPECT_EQ(names(queue.tracks()), "ACBD");
    for (int i = 0; i < 3; ++i) queue.advance(false);
    EXPECT_EQ(name(queue.peekNext(false)), "B");
    EXPECT_EQ(name(queue.advance(false)), "B");
    EXPECT_EQ(names(queue.tracks()), "DBAC");
}

TEST(PlaybackQueueShuffle, OutOfRangeAnswersCountAsZero) {
    PlaybackQueue high(songs("ABCDEF"), 2,
                       [](std::ptrdiff_t, std::ptrdiff_t upper) { return upper; });
    PlaybackQueue zero(songs("ABCDEF"), 2, constant(0));
    high.setShuffled(true);
    zero.setShuffled(true);
    EXPECT_EQ(names(high.tracks()), names(zero.tracks()));
    for (int i = 0; i < 12; ++i) EXPECT_EQ(name(high.advance(false)), name(zero.advance(false)));
}

TEST(PlaybackQueueShuffle, ACycleNeverFollowsTheListOrderAfterTheAnchor) {
    // Always drawing 0 turns [A, C, D] into [C, D, A], the order that follows B.
    PlaybackQueue queue(songs("ABCD"), 1, constant(0));
    queue.setShuffled(true);
    EXPECT_EQ(names(queue.tracks()), "BDCA");
}

TEST(PlaybackQueueShuffle, HeardSongsGoLastAndStepsBackNeverWrap) {
    PlaybackQueue queue(songs("ABCDE"), 0, constant(0));
    queue.advance(false);
    queue.advance(false);  // A, B, C heard in list order
    queue.setShuffled(true);
    auto order = names(queue.tracks());
    EXPECT_EQ(order.substr(0, 1), "C");
    EXPECT_EQ(order.substr(3), "AB");
    // The back history outlives the switch; beyond it shuffle does not wrap backwards.
    EXPECT_EQ(name(queue.retreat(true)), "B");
    EXPECT_EQ(name(queue.retreat(true)), "A");
    EXPECT_FALSE(queue.retreat(true));

    PlaybackQueue fresh(songs("ABC"), 0, seeded(3));
    fresh.setShuffled(true);
    EXPECT_FALSE(fresh.retreat(true));
    fresh.setShuffled(false);
    EXPECT_EQ(names(fresh.tracks()), "ABC");
    EXPECT_EQ(name(fresh.current()), "A");
}

TEST(PlaybackQueueShuffle, AnotherEntryOfAHeardSongIsSkippedUntilTheNextCycle) {
    auto list = songs("AB");
    list.push_back(song("A"));
    PlaybackQueue queue(list, 0, constant(0));
    queue.setShuffled(true);
    EXPECT_EQ(names(queue.tracks()), "ABA");
    EXPECT_EQ(name(queue.advance(false)), "B");
    // Only the second A is left, and A counts as heard: the next cycle starts from B.
    EXPECT_EQ(name(queue.peekNext(false)), "A");
    EXPECT_EQ(name(queue.advance(false)), "A");
    EXPECT_EQ(queue.tracks().front().songmid, "B");
    EXPECT_EQ(queue.currentIndex(), 1u);
}

TEST(PlaybackQueueShuffle, SingleSongDoesNotAdvance) {
    PlaybackQueue queue(songs("A"), 0, constant(0));
    queue.setShuffled(true);
    EXPECT_FALSE(queue.peekNext(true));
    EXPECT_FALSE(queue.advance(true));
    EXPECT_EQ(name(queue.current()), "A");
}

TEST(PlaybackQueueEditing, ReplaceFillsAnewAndKeepsShuffle) {
    PlaybackQueue queue(songs("AB"), 0, constant(0));
    queue.replace({}, 0, {});
    EXPECT_TRUE(queue.tracks().empty());
    EXPECT_FALSE(queue.current());

    queue.replace(songs("XYZ"), 5, {});
    EXPECT_EQ(names(queue.tracks()), "XYZ");
    EXPECT_FALSE(queue.current());

    queue.setShuffled(true);
    queue.replace(songs("ABCD"), 2, {"wy_A", "wy_B", "wy_D", "wy_Q"});
    EXPECT_TRUE(queue.shuffleEnabled());
    // Every song counts as heard: the others follow C in list order and a new cycle waits.
    EXPECT_EQ(names(queue.tracks()), "CABD");
    EXPECT_EQ(queue.shuffledPlayedMusicIDs(),
              (std::set<std::string>{"wy_A", "wy_B", "wy_C", "wy_D"}));
    const auto announced = queue.peekNext(false);
    ASSERT_TRUE(announced);
    EXPECT_EQ(name(queue.advance(false)), name(announced));
    EXPECT_EQ(queue.shuffledPlayedMusicIDs(),
              (std::set<std::string>{"wy_C", "wy_" + name(announced)}));
}

TEST(PlaybackQueueEditing, InsertClampsAndPlacesShuffledSongsBesideTheirNeighbours) {
    PlaybackQueue plain(songs("ABC"), 1, constant(0));
    plain.insert(song("X"), -5);
    plain.insert(song("Y"), 100);
    EXPECT_EQ(names(plain.tracks()), "XABCY");
    EXPECT_EQ(name(plain.current()), "B");

    // Draws 1, 1 give the cycle C, A, D, B over the list A, B, C, D.
    auto shuffledQueue = [] {
        PlaybackQueue queue(songs("ABCD"), 2, scripted({1, 1}));
        queue.setShuffled(true);
        return queue;
    };
    auto middle = shuffledQueue();
    ASSERT_EQ(names(middle.tracks()), "CADB");
    middle.insert(song("E"), 2);
    EXPECT_EQ(names(middle.tracks()), "CAEDB");
    EXPECT_EQ(name(middle.current()), "C");
    middle.setShuffled(false);
    EXPECT_EQ(names(middle.tracks()), "AEBCD");

    auto front = shuffledQueue();
    front.insert(song("E"), 0);
    EXPECT_EQ(names(front.tracks()), "ECADB");
    front.setShuffled(false);
    EXPECT_EQ(names(front.tracks()), "ABECD");
}

TEST(PlaybackQueueEditing, InsertClearsForwardHistoryButAppendKeepsIt) {
    PlaybackQueue queue(songs("ABC"), 0, constant(0));
    queue.advance(false);
    queue.advance(false);
    queue.retreat(false);  // at B, C ahead on the forward stack
    auto appended = queue;
    appended.append(song("X"));
    EXPECT_EQ(names(appended.tracks()), "ABCX");
    EXPECT_EQ(name(appended.peekNext(false)), "C");

    auto kept = queue;
    kept.insert(song("X"), 2, false);
    EXPECT_EQ(name(kept.peekNext(false)), "C");

    queue.insert(song("X"), 2);
    EXPECT_EQ(names(queue.tracks()), "ABXC");
    EXPECT_EQ(name(queue.peekNext(false)), "X");
}

TEST(PlaybackQueueEditing, InsertReopensAnExhaustedCycle) {
    PlaybackQueue queue(songs("AB"), 0, constant(0));
    queue.setShuffled(true);
    queue.advance(false);  // cycle over, next one drawn
    queue.insert(song("N"), 2);
    EXPECT_EQ(name(queue.peekNext(false)), "N");
    EXPECT_EQ(name(queue.advance(false)), "N");
}

TEST(PlaybackQueueEditing, MoveRearrangesAndKeepsTheCurrentEntry) {
    PlaybackQueue queue(songs("ABCDE"), 2, constant(0));
    queue.move({0, 2}, 4);
    EXPECT_EQ(names(queue.tracks()), "BDACE");
    EXPECT_EQ(name(queue.current()), "C");
    EXPECT_EQ(queue.currentIndex(), 3u);

    queue.move({-1}, 0);
    queue.move({3}, -7);
    EXPECT_EQ(names(queue.tracks()), "CBDAE");
    queue.move({0}, 99);
    EXPECT_EQ(names(queue.tracks()), "BDAEC");

    PlaybackQueue withForward(songs("ABC"), 0, constant(0));
    withForward.advance(false);
    withForward.retreat(false);
    const auto before = withForward;
    withForward.move({5, 9, -2}, 0);
    EXPECT_EQ(withForward, before);
    withForward.move({1}, 0);
    EXPECT_EQ(names(withForward.tracks()), "BAC");
    EXPECT_EQ(name(withForward.advance(false)), "C");  // computed: the forward stack is gone
}

TEST(PlaybackQueueEditing, MoveWhileShuffledRearrangesOnlyTheCycle) {
    PlaybackQueue queue(songs("ABCD"), 2, scripted({1, 1}));
    queue.setShuffled(true);
    ASSERT_EQ(names(queue.tracks()), "CADB");
    queue.move({3}, 1);
    EXPECT_EQ(names(queue.tracks()), "CBAD");
    EXPECT_EQ(name(queue.advance(false)), "B");
    queue.setShuffled(false);
    EXPECT_EQ(names(queue.tracks()), "ABCD");
}

TEST(PlaybackQueueEditing, RemoveKeepsNavigationConsistent) {
    PlaybackQueue queue(songs("ABC"), 2, constant(0));
    EXPECT_EQ(name(queue.remove(2)), "C");
    EXPECT_EQ(name(queue.current()), "B");
    EXPECT_FALSE(queue.remove(2));
    EXPECT_FALSE(queue.remove(-1));

    PlaybackQueue middle(songs("ABC"), 1, constant(0));
    EXPECT_EQ(name(middle.remove(1)), "B");
    EXPECT_EQ(name(middle.current()), "C");
    // The new current song was not played, so going back finds nothing.
    EXPECT_FALSE(middle.retreat(false));

    PlaybackQueue only(songs("A"), 0, constant(0));
    EXPECT_EQ(name(only.remove(0)), "A");
    EXPECT_FALSE(only.current());
    EXPECT_TRUE(only.tracks().empty());

    PlaybackQueue history(songs("ABCD"), 0, constant(0));
    history.advance(false);
    history.advance(false);
    history.advance(false);  // back history A, B, C
    history.remove(1);
    EXPECT_EQ(name(history.retreat(false)), "C");
    EXPECT_EQ(name(history.retreat(false)), "A");
    // The starting song was never entered as heard; B left with its entry.
    EXPECT_EQ(history.shuffledPlayedMusicIDs(), (std::set<std::string>{"wy_C", "wy_D"}));
}

TEST(PlaybackQueueEditing, ClearUpcomingDropsWhatFollowsAndTheForwardStack) {
    PlaybackQueue last(songs("ABC"), 0, constant(0));
    EXPECT_EQ(name(last.retreat(true)), "C");  // at the last entry, A on the forward stack
    last.clearUpcoming();
    EXPECT_EQ(names(last.tracks()), "ABC");
    EXPECT_FALSE(last.advance(false));

    PlaybackQueue first(songs("ABCDE"), 0, seeded(11));
    first.setShuffled(true);
    first.clearUpcoming();
    EXPECT_EQ(names(first.tracks()), "A");
    first.setShuffled(false);
    EXPECT_EQ(names(first.tracks()), "A");

    PlaybackQueue none(songs("AB"), std::nullopt, constant(0));
    none.clearUpcoming();
    EXPECT_EQ(names(none.tracks()), "AB");
}

TEST(PlaybackQueueEditing, UpdateTrackRefreshesEveryEntryOfTheSong) {
    auto list = songs("ABA");
    PlaybackQueue queue(list, 2, constant(0));
    auto renamed = song("A");
    renamed.title = "Renamed";
    queue.updateTrack(renamed);
    auto tracks = queue.tracks();
    EXPECT_EQ(tracks[0].title, "Renamed");
    EXPECT_EQ(tracks[1].title, "B");
    EXPECT_EQ(tracks[2].title, "Renamed");
    EXPECT_EQ(queue.currentIndex(), 2u);
    EXPECT_EQ(name(queue.retreat(true)), "B");

    // The drawn next cycle gets the new data too.
    PlaybackQueue shuffled(songs("AB"), 0, constant(0));
    shuffled.setShuffled(true);
    shuffled.advance(false);
    auto later = song("A");
    later.title = "Later";
    shuffled.updateTrack(later);
    EXPECT_EQ(shuffled.peekNext(false)->title, "Later");
}

TEST(PlaybackQueueEditing, EditsKeepTheCurrentEntryAndTheCycleOrder) {
    std::mt19937 engine(5);
    for (int round = 0; round < 40; ++round) {
        PlaybackQueue queue(songs("ABCDEFGH"), 3, seeded(static_cast<unsigned>(round)));
        queue.setShuffled(round % 2 == 0);
        const auto current = name(queue.current());
        int added = 0;
        for (int step = 0; step < 12; ++step) {
            const auto before = names(queue.tracks());
            const auto count = static_cast<std::ptrdiff_t>(before.size());
            const auto at = std::uniform_int_distribution<std::ptrdiff_t>(0, count)(engine);
            const std::string fresh(1, static_cast<char>('a' + added % 26));
            switch (step % 3) {
                case 0:
                    queue.insert(song(fresh), at);
                    ++added;
                    EXPECT_EQ(names(queue.tracks()),
                              before.substr(0, at) + fresh + before.substr(at));
                    break;
                case 1:
                    queue.append(song(fresh));
                    ++added;
                    EXPECT_EQ(names(queue.tracks()), before + fresh);
                    break;
                case 2:
                    if (at < count && before[at] != current[0]) {
                        queue.remove(at);
                        auto expected = before;
                        expected.erase(at, 1);
                        EXPECT_EQ(names(queue.tracks()), expected);
                    }
                    break;
            }
            EXPECT_EQ(name(queue.current()), current);
        }
    }
}

TEST(PlaybackQueueEditing, HasSameTracksIgnoresOrderAndRepeats) {
    PlaybackQueue queue(songs("ABC"), 0, constant(0));
    EXPECT_TRUE(queue.hasSameTracks(songs("CBAA")));
    EXPECT_FALSE(queue.hasSameTracks(songs("AB")));
    EXPECT_FALSE(queue.hasSameTracks(songs("ABCD")));
    EXPECT_FALSE(queue.hasSameTracks({song("A", MusicSource::kg), song("B"), song("C")}));
}

TEST(PlaybackQueueEditing, EqualityIgnoresTheRandomSourceButNotTheState) {
    PlaybackQueue queue(songs("ABC"), 0, constant(0));
    auto copy = queue;
    EXPECT_EQ(copy, queue);
    auto other = queue;
    other.advance(false);
    copy.advance(false);
    EXPECT_EQ(other, copy);
    EXPECT_NE(other, queue);
    // Same songs, fresh entries: not the same queue.
    EXPECT_NE(PlaybackQueue(songs("ABC"), 0, constant(0)), queue);
}

TEST(PlaybackQueueSelection, OnlyEnabledPlayableSongsAndAStartAmongThem) {
    const auto unplayable = song("U", MusicSource::wy, R"({"st":-200})");
    const auto disabled = song("Q", MusicSource::tx);
    const std::vector<Track> list{song("A"), unplayable, song("B"), disabled,
                                  song("L", MusicSource::local)};

    auto selection = PlaybackQueue::playableSelection(list, 2);
    ASSERT_TRUE(selection);
    EXPECT_EQ(names(selection->tracks), "ABL");
    EXPECT_EQ(selection->index, 1u);

    EXPECT_FALSE(PlaybackQueue::playableSelection(list, 1));
    EXPECT_FALSE(PlaybackQueue::playableSelection(list, 3));
    EXPECT_FALSE(PlaybackQueue::playableSelection(list, 9));
    EXPECT_FALSE(PlaybackQueue::playableSelection({unplayable, disabled}, std::nullopt));
    EXPECT_FALSE(PlaybackQueue::playableSelection({}, std::nullopt));

    auto whole = PlaybackQueue::playableSelection(list, std::nullopt);
    ASSERT_TRUE(whole);
    EXPECT_EQ(names(whole->tracks), "ABL");
    EXPECT_FALSE(whole->index);
}

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <string>

#include "platform/HttpByteStream.h"
#include "platform/StreamHeads.h"
#include "support/FakeHttpServer.h"
#include "support/RangeIgnoringAnswer.h"

namespace velto {
namespace {

std::string bytesOf(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}

TEST(StreamHeadsTest, AHeadIsBoundedAndTellsWhetherTheRestCanBeFetched) {
    const std::string large = bytesOf(StreamHeads::headBytes * 3 + 17);
    const std::string small = bytesOf(40'000);
    FakeHttpServer server;
    server.get("/ranged", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(large, "audio/mpeg");  // cut to the range asked by the server
    });
    server.get("/whole-large", [&](const httplib::Request&, httplib::Response& response) {
        answerIgnoringRange(response, 200, "audio/mpeg", large);
    });
    server.get("/whole-small", [&](const httplib::Request&, httplib::Response& response) {
        answerIgnoringRange(response, 200, "audio/mpeg", small);
    });
    // A refusal waits until its head's address was taken, so that the head is found by it.
    std::promise<void> goneAsked;
    std::shared_future<void> goneAnswers = goneAsked.get_future().share();
    server.get("/gone", [goneAnswers](const httplib::Request&, httplib::Response& response) {
        goneAnswers.wait();
        response.status = 404;
    });
    StreamHeads heads;
    struct Case {
        std::string path;
        std::string head;  // what is held
        bool usable;
        // Given to the playbin once fetched: usable, or refused (its source asks again, on our
        // transfers, not through another HTTP stack for each song that cannot play).
        bool given;
    };
    const Case cases[] = {
        {"/ranged", large.substr(0, StreamHeads::headBytes), true, true},
        {"/whole-large", large.substr(0, StreamHeads::headBytes), false, false},
        {"/whole-small", small, true, true},
        {"/gone", "", false, true},
    };
    std::uint64_t id = 0;
    for (const Case& each : cases) {
        SCOPED_TRACE(each.path);
        const std::string url = server.url(each.path);
        heads.fetch(++id, url);
        const std::string address = heads.addressFor(id, url);
        auto head = StreamHeads::find(address);
        if (each.path == "/gone") goneAsked.set_value();
        ASSERT_NE(head, nullptr);
        ASSERT_TRUE(head->wait({}));
        EXPECT_EQ(head->usable(), each.usable);
        EXPECT_EQ(heads.addressFor(id, url) != url, each.given)
            << (each.given ? "the head is not given to the playbin"
                           : "a head the song cannot be played from is given to the playbin");
        auto bytes = head->bytes();
        if (each.head.empty()) {
            EXPECT_EQ(bytes, nullptr);
            ASSERT_TRUE(head->error());
            EXPECT_EQ(head->error()->status, 404);
            continue;
        }
        ASSERT_NE(bytes, nullptr);
        EXPECT_TRUE(bytes->bytes == each.head) << bytes->bytes.size() << " bytes held";
        if (each.path == "/ranged") {
            EXPECT_EQ(bytes->total, large.size());
        }
    }
    // The rest, from where the head ends, by a range or read past where there is none, never
    // more of it held than the stream's buffer takes.
    for (const std::string path : {"/ranged", "/whole-large"}) {
        SCOPED_TRACE(path);
        HttpByteStream rest(*heads.transfers(), server.url(path), StreamHeads::headBytes * 2,
                            StreamHeads::streamBufferBytes);
        std::string read;
        while (auto bytes = rest.read(64 << 10, {})) {
            if (bytes->empty()) break;
            read += *bytes;
            ASSERT_LE(rest.buffered(), rest.bound());
        }
        EXPECT_TRUE(read == large.substr(StreamHeads::headBytes * 2)) << read.size();
        // The answer without ranges comes in chunks, its length untold.
        EXPECT_EQ(rest.total(),
                  path == "/ranged" ? std::optional<std::uint64_t>(large.size()) : std::nullopt);
        EXPECT_EQ(rest.position(), large.size());
    }
    // A refusal is told by its status.
    HttpByteStream gone(*heads.transfers(), server.url("/gone"), 10,
                        StreamHeads::streamBufferBytes);
    try {
        gone.read(1, {});
        ADD_FAILURE() << "a refused stream read as bytes";
    } catch (const StreamFetchError& error) {
        EXPECT_EQ(error.status, 404);
    }
}

// A song no longer next lets go of its head at once, and the fetch of a head a server holds
// ends without waiting for the server.
TEST(StreamHeadsTest, ASongLeftOutFreesItsHeadAndEndsItsFetch) {
    FakeHttpServer server;
    std::promise<void> asked;
    std::once_flag once;
    server.get("/held", [&](const httplib::Request&, httplib::Response&) {
        std::call_once(once, [&] { asked.set_value(); });
        server.hangUntilStopped();
    });
    StreamHeads heads;
    const std::string url = server.url("/held");
    heads.fetch(1, url);
    heads.fetch(2, "file:///music/local.wav");  // a local file needs none
    EXPECT_EQ(heads.count(), 1u);
    EXPECT_EQ(heads.addressFor(2, "file:///music/local.wav"), "file:///music/local.wav");
    const std::string address = heads.addressFor(1, url);
    ASSERT_NE(address, url);
    std::weak_ptr<StreamHead> head = StreamHeads::find(address);
    asked.get_future().wait();
    heads.keepOnly({1});
    EXPECT_NE(StreamHeads::find(address), nullptr) << "a song still next lost its head";
    {
        auto held = head.lock();
        ASSERT_NE(held, nullptr);
        EXPECT_FALSE(held->done());
        heads.keepOnly({});
        EXPECT_EQ(StreamHeads::find(address), nullptr);
        EXPECT_EQ(heads.addressFor(1, url), url);
        EXPECT_TRUE(held->wait({})) << "the held fetch did not end";
        EXPECT_EQ(held->bytes(), nullptr);
    }
}

}  // namespace
}  // namespace velto

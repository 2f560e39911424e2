#include <gtest/gtest.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/vorbisfile.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ArtworkTestSupport.h"
#include "artwork/LocalArtworkLoader.h"
#include "foundation/Cancellation.h"
#include "support/TempDir.h"

using namespace velto;
using namespace velto::artworktest;
namespace fs = std::filesystem;

namespace {

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

Track localSong(const fs::path& file, bool withPayload = true) {
    return song(file.string(), MusicSource::local,
                withPayload ? "{\"filePath\":\"" + file.string() + "\"}" : "{}");
}

TagLib::ByteVector bytes(const std::string& text) {
    return TagLib::ByteVector(text.data(), static_cast<unsigned>(text.size()));
}

TagLib::FLAC::Picture* flacPicture(const std::string& data) {
    auto* picture = new TagLib::FLAC::Picture;
    picture->setMimeType("image/png");
    picture->setData(bytes(data));
    return picture;
}

// Silence from sox in the given format.
bool sox(const fs::path& path) {
    const auto command = "sox -n -r 8000 -c 1 '" + path.string() + "' trim 0 0.2 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

}  // namespace

TEST(LocalArtworkLoader, SideFilesInOrderBeforeEmbeddedPictures) {
    TempDir dir;
    const fs::path audio = dir.path() / "song.flac";
    ASSERT_TRUE(sox(audio));
    {
        TagLib::FLAC::File file(audio.c_str());
        file.addPicture(flacPicture("embedded"));
        ASSERT_TRUE(file.save());
    }
    EXPECT_EQ(LocalArtworkLoader::loadLocalArtworkData(localSong(audio)), "embedded");
    writeText(dir.path() / "Cover.png", "Cover.png");
    EXPECT_EQ(LocalArtworkLoader::loadLocalArtworkData(localSong(audio)), "Cover.png");
    writeText(dir.path() / "front.jpg", "front");
    writeText(dir.path() / "cover.jpg", "");  // empty: passed over
    EXPECT_EQ(LocalArtworkLoader::loadLocalArtworkData(localSong(audio)), "front");
    writeText(dir.path() / "cover.jpg", "cover");
    EXPECT_EQ(LocalArtworkLoader::loadLocalArtworkData(localSong(audio, false)), "cover");
    // The audio file itself need not exist for side files.
    EXPECT_EQ(LocalArtworkLoader::loadLocalArtworkData(localSong(dir.path() / "gone.mp3")), "cover");
    EXPECT_FALSE(LocalArtworkLoader::loadLocalArtworkData(localSong(dir.path() / "x" / "gone.mp3")));
    EXPECT_FALSE(LocalArtworkLoader::loadLocalArtworkData(song("", MusicSource::local)));
}

TEST(LocalArtworkLoader, PicturesEmbeddedInEachFormat) {
    TempDir dir;
    // MP3: an ID3v2 tag with an empty picture frame first, then the picture.
    const fs::path mp3 = dir.path() / "a" / "song.mp3";
    fs::create_directories(mp3.parent_path());
    std::string frames;
    for (int i = 0; i < 20; ++i) frames += std::string("\xFF\xFB\x90\x64", 4) + std::string(413, '\0');
    writeText(mp3, frames);
    {
        TagLib::MPEG::File file(mp3.c_str());
        for (const char* data : {"", "apic"}) {
            auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
            frame->setPicture(bytes(data));
            file.ID3v2Tag(true)->addFrame(frame);
        }
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2));
    }
    EXPECT_EQ(LocalArtworkLoader::loadLocalArtworkData(localSong(mp3)), "apic");
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(LocalArtworkLoader::loadLocalArtworkData(localSong(mp3), stopped.get_token()),
                 CancellationError);

    const fs::path ogg = dir.path() / "b" / "song.ogg";
    fs::create_directories(ogg.parent_path());
    ASSERT_TRUE(sox(ogg));
    {
        TagLib::Ogg::Vorbis::File file(ogg.c_str());
        file.tag()->addPicture(flacPicture("xiph"));
        ASSERT_TRUE(file.save());
    }
    EXPECT_EQ(LocalArtworkLoader::loadLocalArtworkData(localSong(ogg)), "xiph");

    const fs::path plain = dir.path() / "c" / "song.flac";
    fs::create_directories(plain.parent_path());
    ASSERT_TRUE(sox(plain));
    EXPECT_FALSE(LocalArtworkLoader::loadLocalArtworkData(localSong(plain)));
}

#include "artwork/LocalArtworkLoader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/speexfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <array>
#include <filesystem>
#include <string_view>

#include "artwork/ArtworkDiskCache.h"
#include "foundation/files/AbandonableWork.h"
#include "foundation/Cancellation.h"
#include "foundation/files/FileDescriptor.h"
#include "foundation/files/RegularFile.h"
#include "platform/LocalAudioReadStream.h"

namespace velto::LocalArtworkLoader {
namespace fs = std::filesystem;
namespace {

constexpr std::array<std::string_view, 6> sideFiles = {"cover.jpg",  "cover.png", "folder.jpg",
                                                        "front.jpg",  "Cover.jpg", "Cover.png"};

std::optional<std::string> usable(const TagLib::ByteVector& bytes) {
    if (bytes.isEmpty() || bytes.size() > ArtworkDiskCache::maximumFileBytes) return std::nullopt;
    return std::string(bytes.data(), bytes.size());
}

std::optional<std::string> fromID3v2(TagLib::ID3v2::Tag* tag) {
    if (!tag) return std::nullopt;
    for (TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
        auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (!picture) continue;
        if (auto data = usable(picture->picture())) return data;
    }
    return std::nullopt;
}

std::optional<std::string> fromPictures(const TagLib::List<TagLib::FLAC::Picture*>& pictures) {
    for (TagLib::FLAC::Picture* picture : pictures) {
        if (!picture) continue;
        if (auto data = usable(picture->data())) return data;
    }
    return std::nullopt;
}

std::optional<std::string> fromXiph(TagLib::Ogg::XiphComment* comment) {
    return comment ? fromPictures(comment->pictureList()) : std::nullopt;
}

std::optional<std::string> embedded(TagLib::File* opened) {
    if (!opened || !opened->isValid()) return std::nullopt;
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(opened)) return fromID3v2(mpeg->ID3v2Tag());
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(opened)) {
        if (auto data = fromPictures(flac->pictureList())) return data;
        return fromXiph(flac->xiphComment());
    }
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(opened)) {
        TagLib::MP4::Tag* tag = mp4->tag();
        if (!tag || !tag->contains("covr")) return std::nullopt;
        for (const TagLib::MP4::CoverArt& art : tag->item("covr").toCoverArtList())
            if (auto data = usable(art.data())) return data;
        return std::nullopt;
    }
    if (auto* vorbis = dynamic_cast<TagLib::Ogg::Vorbis::File*>(opened)) return fromXiph(vorbis->tag());
    if (auto* opus = dynamic_cast<TagLib::Ogg::Opus::File*>(opened)) return fromXiph(opus->tag());
    if (auto* speex = dynamic_cast<TagLib::Ogg::Speex::File*>(opened)) return fromXiph(speex->tag());
    if (auto* oggFlac = dynamic_cast<TagLib::Ogg::FLAC::File*>(opened)) return fromXiph(oggFlac->tag());
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(opened)) return fromID3v2(wav->ID3v2Tag());
    if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(opened)) return fromID3v2(aiff->tag());
    return std::nullopt;
}

std::optional<std::string> read(const fs::path& file, std::stop_token stop,
                                const std::function<void()>& answered) {
    // Each step of a path on a share is a question to its server. Opened once, the folder
    // spares every file in it the walk there, so that on a slow share no single opening
    // takes as long as the whole way.
    static const bool descriptorsNamed = ::access("/proc/self/fd", X_OK) == 0;
    const fs::path folder = file.parent_path();
    FileDescriptor opened;
    if (descriptorsNamed) {
        opened = FileDescriptor(
            ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (answered) answered();
    }
    const fs::path in =
        opened ? fs::path("/proc/self/fd") / std::to_string(opened.get()) : folder;
    for (std::string_view name : sideFiles) {
        throwIfCancelled(stop);
        auto data =
            RegularFile::read(in / name, ArtworkDiskCache::maximumFileBytes, true, stop, answered);
        if (data && !data->empty()) return data;
    }

    // TagLib would block on a pipe and has nothing to read in a folder.
    const fs::path audio = in / file.filename();
    struct stat info{};
    const bool stated = ::stat(audio.c_str(), &info) == 0;
    if (answered) answered();
    if (!stated || !S_ISREG(info.st_mode)) return std::nullopt;
    std::optional<std::string> found;
    bool stopped = false;
    try {
        // Bounded like the scanner's reads, so that a large file of zeros ends in moments.
        LocalAudioReadStream stream(audio, stop, answered);
        TagLib::FileRef ref(&stream, false);
        found = embedded(ref.file());
        stopped = stream.stopped();
    } catch (...) {
        return std::nullopt;
    }
    if (stopped) throw CancellationError();
    return found;
}

}  // namespace

std::string fileOf(const Track& track) {
    if (auto payload = track.rawPayload(); payload && payload->is_object()) {
        auto found = payload->find("filePath");
        if (found != payload->end() && found->is_string()) return found->get<std::string>();
    }
    return track.songmid;
}

std::string placeOf(const Track& track) {
    const std::string path = fileOf(track);
    return path.empty() ? std::string() : AbandonableWork::shared().placeOfRead(path);
}

std::optional<std::string> loadLocalArtworkData(
    const Track& track, std::stop_token stop,
    AbandonableWork::Late<std::optional<std::string>> late, std::function<void()> answered) {
    const std::string path = fileOf(track);
    if (path.empty()) return std::nullopt;
    try {
        // The file may sit on a share that stopped answering: a stop or the bound frees this
        // worker then.
        return AbandonableWork::shared().run<std::optional<std::string>>(
            stop,
            [file = fs::path(path), answered = std::move(answered)](
                std::stop_token stop) -> std::optional<std::string> {
                try {
                    return read(file, stop, answered);
                } catch (const CancellationError&) {
                    throw;
                } catch (...) {
                    // The files answered with an error: no picture there, said at once or late.
                    return std::nullopt;
                }
            },
            path, std::move(late));
    } catch (const AbandonableWork::Busy&) {
        return std::nullopt;
    }
}

}  // namespace velto::LocalArtworkLoader

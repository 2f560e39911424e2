#include "support/FakeMusicServices.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "artwork/ArtworkImage.h"
#include "artwork/ArtworkJPEG.h"
#include "support/RangeIgnoringAnswer.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

namespace velto {

namespace {

using json = nlohmann::json;

void answerJSON(httplib::Response& response, const json& body) {
    response.set_content(body.dump(), "application/json");
}

std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

FakeMusicServices::FakeMusicServices()
    : songs_{{"9001", "雾港晨钟", "岚屿", "潮汐集", "[00:00.50]钟声落在雾里\n[00:03.00]船还没有回来\n"},
             {"9002", "纸灯笼", "岚屿", "潮汐集", "[00:00.50]纸灯笼照着石桥\n"},
             {"9003", "北坡的风", "青禾", "山影", "[00:00.50]风从北坡吹过\n"}} {
    {
        TempDir dir;
        writeWavFile(dir.path() / "s.wav", streamSeconds, 8000, 1, 0.2);
        wav_ = fileBytes(dir.path() / "s.wav");
    }
    std::vector<std::uint8_t> pixels(32 * 32 * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = 220;
        pixels[i + 1] = 60;
        pixels[i + 2] = 40;
        pixels[i + 3] = 255;
    }
    jpeg_ = ArtworkJPEG::encode(*ArtworkImage::make(32, 32, std::move(pixels)), 0.9).value_or("");

    // RoVOz API.
    server_.get("/api/163_search", [this](const httplib::Request&, httplib::Response& response) {
        json list = json::array();
        for (const auto& song : songs_) {
            list.push_back({{"id", std::stoll(song.id)},
                            {"name", song.title},
                            {"artists", json::array({{{"name", song.artist}}})},
                            {"album", song.album},
                            {"duration", int(streamSeconds * 1000)},
                            {"picUrl", coverURL()}});
        }
        answerJSON(response, {{"code", 200}, {"data", {{"songs", list}, {"total", list.size()}}}});
    });
    server_.get("/api/163_lyric", [this](const httplib::Request& request, httplib::Response& response) {
        const auto* song = find(request.get_param_value("id"));
        answerJSON(response, {{"code", 200}, {"data", {{"lrc", song ? song->lyric : ""}, {"tlyric", ""}}}});
    });
    server_.get("/api/163_music", [this](const httplib::Request& request, httplib::Response& response) {
        const auto* song = find(request.get_param_value("id"));
        if (!song) return answerJSON(response, {{"code", 404}, {"msg", "没有这首歌"}});
        answerJSON(response, {{"code", 200},
                              {"data", {{"url", streamURL(*song)}, {"level", "standard"}, {"br", 128000}, {"size", wav_.size()}}}});
    });
    server_.get("/api/163_playlist", [this](const httplib::Request&, httplib::Response& response) {
        json tracks = json::array();
        for (const auto& song : songs_) {
            tracks.push_back({{"id", std::stoll(song.id)}, {"name", song.title},
                              {"ar", json::array({{{"name", song.artist}}})},
                              {"al", {{"name", song.album}, {"picUrl", coverURL()}}}, {"dt", int(streamSeconds * 1000)}});
        }
        answerJSON(response, {{"code", 200}, {"data", {{"name", "雾港歌单"}, {"tracks", tracks}}}});
    });

    // NetEase web interface.
    auto songJSON = [this](const Song& song) {
        return json{{"id", std::stoll(song.id)}, {"name", song.title},
                    {"ar", json::array({{{"id", 1}, {"name", song.artist}}})},
                    {"al", {{"id", 2}, {"name", song.album}, {"picUrl", coverURL()}}},
                    {"dt", int(streamSeconds * 1000)}};
    };
    server_.get("/api/search/get", [this, songJSON](const httplib::Request&, httplib::Response& response) {
        json list = json::array();
        for (const auto& song : songs_) list.push_back(songJSON(song));
        answerJSON(response, {{"code", 200}, {"result", {{"songs", list}, {"songCount", list.size()}}}});
    });
    server_.get("/api/song/detail", [this, songJSON](const httplib::Request& request, httplib::Response& response) {
        json list = json::array();
        for (const auto& song : songs_) {
            if (request.get_param_value("ids").find(song.id) != std::string::npos) list.push_back(songJSON(song));
        }
        answerJSON(response, {{"code", 200}, {"songs", list}});
    });
    server_.get("/api/song/lyric", [this](const httplib::Request& request, httplib::Response& response) {
        const auto* song = find(request.get_param_value("id"));
        answerJSON(response, {{"code", 200}, {"lrc", {{"lyric", song ? song->lyric : ""}}}, {"tlyric", {{"lyric", ""}}}});
    });
    server_.get("/api/song/enhance/player/url/v1", [this](const httplib::Request& request, httplib::Response& response) {
        if (netEaseStreamsFail_) {
            response.status = 500;
            return;
        }
        std::string ids = request.get_param_value("ids");
        const Song* song = nullptr;
        for (const auto& candidate : songs_) {
            if (ids.find(candidate.id) != std::string::npos) song = &candidate;
        }
        if (!song) return answerJSON(response, {{"code", 200}, {"data", json::array()}});
        answerJSON(response, {{"code", 200},
                              {"data", json::array({{{"id", std::stoll(song->id)}, {"url", streamURL(*song)}, {"br", 128000},
                                                     {"size", wav_.size()}, {"type", "wav"}, {"level", "standard"}, {"code", 200}}})}});
    });
    server_.get("/api/v6/playlist/detail", [this, songJSON](const httplib::Request&, httplib::Response& response) {
        json tracks = json::array();
        for (const auto& song : songs_) tracks.push_back(songJSON(song));
        answerJSON(response, {{"code", 200}, {"playlist", {{"id", 77}, {"name", "雾港歌单"}, {"tracks", tracks}, {"trackCount", tracks.size()}}}});
    });

    // Streams and the cover.
    for (const auto& song : songs_) {
        server_.get("/stream/" + song.id + ".wav", [this](const httplib::Request&, httplib::Response& response) {
            answerIgnoringRange(response, 200, "audio/wav", wav_);
        });
    }
    server_.get("/cover.jpg", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(jpeg_, "image/jpeg");
    });
}

std::string FakeMusicServices::streamURL(const Song& song) const {
    return server_.url("/stream/" + song.id + ".wav");
}

const FakeMusicServices::Song* FakeMusicServices::find(const std::string& id) const {
    for (const auto& song : songs_) {
        if (song.id == id) return &song;
    }
    return nullptr;
}

void FakeMusicServices::writeResources(const std::filesystem::path& folder) const {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "BuildCredentials.json")
        << json{{"chkszKey", "fake-key"}, {"wyToken", "MUSIC_U=fake-cookie"}}.dump();
}

std::size_t FakeMusicServices::requestCount(const std::string& path) const {
    std::size_t count = 0;
    for (const auto& request : server_.requests()) count += request.path == path;
    return count;
}

}  // namespace velto

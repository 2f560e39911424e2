#include "support/FakeMusicServices.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
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

std::string solidJPEG(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    std::vector<std::uint8_t> pixels(64 * 64 * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = red;
        pixels[i + 1] = green;
        pixels[i + 2] = blue;
        pixels[i + 3] = 255;
    }
    return ArtworkJPEG::encode(*ArtworkImage::make(64, 64, std::move(pixels)), 0.9).value_or("");
}

// The page that "offset" and "limit" (default 30) cut from `all`.
template <class T>
std::vector<T> page(const std::vector<T>& all, const httplib::Request& request) {
    auto number = [&](const char* name, std::size_t fallback) {
        try {
            return request.has_param(name) ? std::size_t(std::stoul(request.get_param_value(name))) : fallback;
        } catch (const std::exception&) {
            return fallback;
        }
    };
    const std::size_t offset = std::min(number("offset", 0), all.size());
    const std::size_t limit = number("limit", 30);
    return {all.begin() + offset, all.begin() + std::min(all.size(), offset + limit)};
}

template <class T>
void appendOnce(std::vector<T>& list, const T& value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

constexpr std::int64_t publishTime = 1'700'000'000'000;

}  // namespace

FakeMusicServices::FakeMusicServices(double streamSeconds, int port)
    : streamSeconds_(streamSeconds),
      server_(port),
      songs_{{"9001", "雾港晨钟", "岚屿", "潮汐集",
              "[00:00.50]钟声落在雾里\n[00:04.00]船还没有回来\n[00:08.00]灯塔一闪一闪\n[00:12.00]潮水漫过石阶\n",
              "[00:00.50]The bell falls into the fog\n[00:04.00]The boat has not come back\n"
              "[00:08.00]The lighthouse blinks\n[00:12.00]The tide climbs the steps\n"},
             {"9002", "纸灯笼", "岚屿", "潮汐集", "[00:00.50]纸灯笼照着石桥\n[00:05.00]桥下的水很慢\n", ""},
             {"9003", "北坡的风", "青禾", "山影", "[00:00.50]风从北坡吹过\n[00:06.00]麦子低下了头\n", ""},
             {"9004", "断线的信号", "青禾", "山影", "[00:00.50]信号在这里断了\n", ""}},
      artists_{{"101", "岚屿"}, {"102", "青禾"}},
      albums_{{"201", "潮汐集"}, {"202", "山影"}},
      playlists_{{"77", "雾港歌单", "灯塔守望者", {"9001", "9002", "9003", "9004"}},
                 {"78", "山间午后", "采茶人", {"9003", "9001"}},
                 {"79", "夜航灯塔", "灯塔守望者", {"9002"}}} {
    {
        TempDir dir;
        writeWavFile(dir.path() / "s.wav", streamSeconds_, 8000, 1, 0.2);
        wav_ = fileBytes(dir.path() / "s.wav");
    }
    covers_ = {solidJPEG(220, 60, 40), solidJPEG(40, 110, 200), solidJPEG(60, 170, 90),
               solidJPEG(230, 190, 50), solidJPEG(140, 70, 180)};
    serveRovoz();
    serveNetEase();
    serveMedia();
}

void FakeMusicServices::serveRovoz() {
    server_.get("/api/163_search", [this](const httplib::Request& request, httplib::Response& response) {
        if (songSearchFails_) return void(response.status = 500);
        const auto found = matching(request.get_param_value("keyword"));
        json list = json::array();
        for (const auto* song : page(found, request)) {
            list.push_back({{"id", std::stoll(song->id)},
                            {"name", song->title},
                            {"artists", json::array({{{"name", song->artist}}})},
                            {"album", song->album},
                            {"duration", int(streamSeconds_ * 1000)},
                            {"picUrl", coverURL(song->album == albums_[0].name ? 0 : 1)}});
        }
        answerJSON(response, {{"code", 200}, {"data", {{"songs", list}, {"total", found.size()}}}});
    });
    server_.get("/api/163_lyric", [this](const httplib::Request& request, httplib::Response& response) {
        const auto* song = find(request.get_param_value("id"));
        answerJSON(response, {{"code", 200},
                              {"data", {{"lrc", song ? song->lyric : ""}, {"tlyric", song ? song->translation : ""}}}});
    });
    server_.get("/api/163_music", [this](const httplib::Request& request, httplib::Response& response) {
        const auto* song = find(request.get_param_value("id"));
        if (!song) return answerJSON(response, {{"code", 404}, {"msg", "没有这首歌"}});
        answerJSON(response, {{"code", 200},
                              {"data", {{"url", streamURL(*song)}, {"level", "standard"}, {"br", 128000}, {"size", wav_.size()}}}});
    });
    // What the playlist import reads: the playlist's own id, its name, its count and its songs.
    server_.get("/api/163_playlist", [this](const httplib::Request& request, httplib::Response& response) {
        const std::string id = request.get_param_value("id");
        auto playlist = std::find_if(playlists_.begin(), playlists_.end(), [&](const Playlist& p) { return p.id == id; });
        if (playlist == playlists_.end()) return answerJSON(response, {{"code", 404}, {"msg", "歌单不存在"}});
        json tracks = json::array();
        for (const auto& songID : playlist->songIDs) {
            const Song& song = *find(songID);
            tracks.push_back({{"id", std::stoll(song.id)}, {"name", song.title},
                              {"ar", json::array({{{"name", song.artist}}})},
                              {"al", {{"name", song.album}, {"picUrl", coverURL(song.album == albums_[0].name ? 0 : 1)}}},
                              {"dt", int(streamSeconds_ * 1000)}});
        }
        answerJSON(response, {{"code", 200},
                              {"data", {{"id", std::stoll(playlist->id)}, {"name", playlist->name},
                                        {"trackCount", tracks.size()}, {"tracks", tracks}}}});
    });
}

void FakeMusicServices::serveNetEase() {
    auto albumIndex = [this](const std::string& name) {
        for (std::size_t i = 0; i < albums_.size(); ++i) {
            if (albums_[i].name == name) return i;
        }
        return std::size_t(0);
    };
    auto artistIndex = [this](const std::string& name) {
        for (std::size_t i = 0; i < artists_.size(); ++i) {
            if (artists_[i].name == name) return i;
        }
        return std::size_t(0);
    };
    auto songJSON = [this, albumIndex, artistIndex](const Song& song) {
        const auto& artist = artists_[artistIndex(song.artist)];
        const auto& album = albums_[albumIndex(song.album)];
        return json{{"id", std::stoll(song.id)}, {"name", song.title},
                    {"ar", json::array({{{"id", std::stoll(artist.id)}, {"name", artist.name}}})},
                    {"al", {{"id", std::stoll(album.id)}, {"name", album.name}, {"picUrl", coverURL(albumIndex(song.album))}}},
                    {"dt", int(streamSeconds_ * 1000)}};
    };
    auto artistJSON = [this](std::size_t index) {
        const auto& artist = artists_[index];
        return json{{"id", std::stoll(artist.id)}, {"name", artist.name}, {"picUrl", coverURL(2 + index)},
                    {"musicSize", songsWhere(&Song::artist, artist.name).size()}, {"albumSize", 1}};
    };
    auto albumJSON = [this](std::size_t index) {
        const auto& album = albums_[index];
        const auto songs = songsWhere(&Song::album, album.name);
        return json{{"id", std::stoll(album.id)}, {"name", album.name},
                    {"artist", {{"name", songs.front()->artist}}}, {"picUrl", coverURL(index)},
                    {"publishTime", publishTime + std::int64_t(index) * 86'400'000 * 200}, {"size", songs.size()}};
    };
    auto playlistJSON = [this](std::size_t index) {
        const auto& playlist = playlists_[index];
        return json{{"id", std::stoll(playlist.id)}, {"name", playlist.name},
                    {"coverImgUrl", coverURL(4 - index % 2)}, {"creator", {{"nickname", playlist.author}}},
                    {"playCount", 12'345 * (index + 1)}, {"trackCount", playlist.songIDs.size()},
                    {"description", "一份虚构的歌单，供试用。"}};
    };

    server_.get("/api/search/get", [=, this](const httplib::Request& request, httplib::Response& response) {
        const auto found = matching(request.get_param_value("s"));
        const std::string type = request.get_param_value("type");
        std::vector<std::size_t> artists, albums, playlists;
        for (const auto* song : found) {
            appendOnce(artists, artistIndex(song->artist));
            appendOnce(albums, albumIndex(song->album));
            for (std::size_t i = 0; i < playlists_.size(); ++i) {
                const auto& ids = playlists_[i].songIDs;
                if (std::find(ids.begin(), ids.end(), song->id) != ids.end()) appendOnce(playlists, i);
            }
        }
        std::sort(playlists.begin(), playlists.end());
        json result;
        auto list = [&](const auto& all, auto toJSON, const char* listKey, const char* countKey) {
            json items = json::array();
            for (const auto& item : page(all, request)) items.push_back(toJSON(item));
            result = {{listKey, items}, {countKey, all.size()}};
        };
        if (type == "100") {
            list(artists, artistJSON, "artists", "artistCount");
        } else if (type == "10") {
            list(albums, albumJSON, "albums", "albumCount");
        } else if (type == "1000") {
            list(playlists, playlistJSON, "playlists", "playlistCount");
        } else if (songSearchFails_) {
            return void(response.status = 500);
        } else {
            list(found, [&](const Song* song) { return songJSON(*song); }, "songs", "songCount");
        }
        answerJSON(response, {{"code", 200}, {"result", result}});
    });
    server_.get("/api/search/suggest/keyword", [this](const httplib::Request& request, httplib::Response& response) {
        const std::string keyword = request.get_param_value("s");
        std::vector<std::string> names;
        for (const auto& song : songs_) {
            for (const auto* name : {&song.title, &song.artist, &song.album}) {
                if (!keyword.empty() && name->find(keyword) != std::string::npos) appendOnce(names, *name);
            }
        }
        for (const auto& playlist : playlists_) {
            if (!keyword.empty() && playlist.name.find(keyword) != std::string::npos) appendOnce(names, playlist.name);
        }
        json matches = json::array();
        for (const auto& name : names) matches.push_back({{"keyword", name}});
        answerJSON(response, {{"code", 200}, {"result", {{"allMatch", matches}}}});
    });
    // More than the search field shows, so that its cap can be seen.
    server_.get("/api/search/hot", [this](const httplib::Request&, httplib::Response& response) {
        std::vector<std::string> words;
        for (const auto& song : songs_) appendOnce(words, song.title);
        for (const auto& artist : artists_) appendOnce(words, artist.name);
        for (const auto& album : albums_) appendOnce(words, album.name);
        for (const auto& playlist : playlists_) appendOnce(words, playlist.name);
        json hots = json::array();
        for (const auto& word : words) hots.push_back({{"first", word}});
        answerJSON(response, {{"code", 200}, {"result", {{"hots", hots}}}});
    });
    for (std::size_t i = 0; i < artists_.size(); ++i) {
        server_.get("/api/v1/artist/" + artists_[i].id, [=, this](const httplib::Request&, httplib::Response& response) {
            json songs = json::array();
            for (const auto* song : songsWhere(&Song::artist, artists_[i].name)) songs.push_back(songJSON(*song));
            answerJSON(response, {{"code", 200}, {"artist", artistJSON(i)}, {"hotSongs", songs}});
        });
        server_.get("/api/artist/albums/" + artists_[i].id, [=, this](const httplib::Request& request, httplib::Response& response) {
            std::vector<std::size_t> owned;
            for (const auto* song : songsWhere(&Song::artist, artists_[i].name)) appendOnce(owned, albumIndex(song->album));
            json albums = json::array();
            for (auto index : page(owned, request)) albums.push_back(albumJSON(index));
            answerJSON(response, {{"code", 200}, {"hotAlbums", albums}});
        });
    }
    for (std::size_t i = 0; i < albums_.size(); ++i) {
        server_.get("/api/v1/album/" + albums_[i].id, [=, this](const httplib::Request&, httplib::Response& response) {
            json songs = json::array();
            for (const auto* song : songsWhere(&Song::album, albums_[i].name)) songs.push_back(songJSON(*song));
            answerJSON(response, {{"code", 200}, {"album", albumJSON(i)}, {"songs", songs}});
        });
    }
    server_.get("/api/song/detail", [this, songJSON](const httplib::Request& request, httplib::Response& response) {
        json list = json::array();
        for (const auto& song : songs_) {
            if (request.get_param_value("ids").find(song.id) != std::string::npos) list.push_back(songJSON(song));
        }
        answerJSON(response, {{"code", 200}, {"songs", list}});
    });
    server_.get("/api/song/lyric", [this](const httplib::Request& request, httplib::Response& response) {
        const auto* song = find(request.get_param_value("id"));
        answerJSON(response, {{"code", 200},
                              {"lrc", {{"lyric", song ? song->lyric : ""}}},
                              {"tlyric", {{"lyric", song ? song->translation : ""}}}});
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
    server_.get("/api/v6/playlist/detail", [=, this](const httplib::Request& request, httplib::Response& response) {
        const std::string id = request.get_param_value("id");
        for (std::size_t i = 0; i < playlists_.size(); ++i) {
            if (playlists_[i].id != id) continue;
            json playlist = playlistJSON(i);
            json tracks = json::array();
            for (const auto& songID : playlists_[i].songIDs) tracks.push_back(songJSON(*find(songID)));
            playlist["tracks"] = tracks;
            return answerJSON(response, {{"code", 200}, {"playlist", playlist}});
        }
        answerJSON(response, {{"code", 404}, {"msg", "歌单不存在"}});
    });
}

void FakeMusicServices::serveMedia() {
    for (const auto& song : songs_) {
        if (&song == &brokenSong()) continue;  // no handler: 404
        server_.get("/stream/" + song.id + ".wav", [this](const httplib::Request&, httplib::Response& response) {
            if (const auto delay = mediaDelay_.load(); delay.count() > 0 && !server_.pause(delay)) {
                return void(response.status = 503);  // stopping
            }
            if (ignoreRange_) return answerIgnoringRange(response, 200, "audio/wav", wav_);
            response.set_content(wav_, "audio/wav");  // the server cuts requested ranges itself
        });
    }
    for (std::size_t i = 0; i < covers_.size(); ++i) {
        server_.get("/cover/" + std::to_string(i) + ".jpg", [this, i](const httplib::Request&, httplib::Response& response) {
            response.set_content(covers_[i], "image/jpeg");
        });
    }
}

std::string FakeMusicServices::streamURL(const Song& song) const {
    return server_.url("/stream/" + song.id + ".wav");
}

std::string FakeMusicServices::coverURL(std::size_t index) const {
    return server_.url("/cover/" + std::to_string(index % covers_.size()) + ".jpg");
}

const FakeMusicServices::Song* FakeMusicServices::find(const std::string& id) const {
    for (const auto& song : songs_) {
        if (song.id == id) return &song;
    }
    return nullptr;
}

// Songs whose title, artist or album holds `keyword`; a keyword that matches nothing finds every
// song, so that any search shows something.
std::vector<const FakeMusicServices::Song*> FakeMusicServices::matching(const std::string& keyword) const {
    std::vector<const Song*> found;
    for (const auto& song : songs_) {
        for (const auto* name : {&song.title, &song.artist, &song.album}) {
            if (!keyword.empty() && name->find(keyword) != std::string::npos) {
                found.push_back(&song);
                break;
            }
        }
    }
    if (found.empty()) {
        for (const auto& song : songs_) found.push_back(&song);
    }
    return found;
}

std::vector<const FakeMusicServices::Song*> FakeMusicServices::songsWhere(const std::string Song::*field,
                                                                          const std::string& value) const {
    std::vector<const Song*> found;
    for (const auto& song : songs_) {
        if (song.*field == value) found.push_back(&song);
    }
    return found;
}

void FakeMusicServices::writeResources(const std::filesystem::path& folder) const {
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / "BuildCredentials.json");
    out << json{{"chkszKey", "fake-key"}, {"wyToken", "MUSIC_U=fake-cookie"}}.dump();
    out.close();
    if (!out) throw std::runtime_error("cannot write " + (folder / "BuildCredentials.json").string());
}

std::size_t FakeMusicServices::requestCount(const std::string& path) const {
    std::size_t count = 0;
    for (const auto& request : server_.requests()) count += request.path == path;
    return count;
}

}  // namespace velto

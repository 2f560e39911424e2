#pragma once

#include <memory>

#include "sources/rovoz/ChkszKugouProviding.h"
#include "sources/rovoz/ChkszNetEaseProviding.h"
#include "sources/model/SourceRuntime.h"

namespace velto {

// The RoVOz side as a SourceRuntime: song search and NetEase lyrics through the RoVOz NetEase
// client, covers from the song's payload, lyrics and covers of local songs from the disk.
class ChkszSourceRuntime : public SourceRuntime {
  public:
    static constexpr int pageSize = 25;

    // QQ Music and Kugou are never served here; those arguments are accepted and dropped.
    ChkszSourceRuntime(std::shared_ptr<SourceRuntime> qq,
                       std::shared_ptr<ChkszNetEaseProviding> netease,
                       std::shared_ptr<ChkszKugouProviding> kugou);
    explicit ChkszSourceRuntime(std::shared_ptr<ChkszNetEaseProviding> netease);

    SearchPage search(const std::string& query, MusicSource source, int page,
                      std::stop_token stop) override;
    LyricInfo lyric(const Track& track, std::stop_token stop) override;
    std::string picURL(const Track& track, std::stop_token stop) override;
    std::vector<std::string> tipSearch(const std::string& query, std::stop_token stop) override;
    Track trackDetail(const Track& track, std::stop_token stop) override;

    // The text of the ".lrc" file beside a local song's audio file; an empty lyric when there
    // is none, it is no UTF-8 text or it was not read within the bound of the user's file
    // reads. Fails only with CancellationError, at once on a stop even while the read hangs.
    static LyricInfo resolveLocalLyric(const Track& track, std::stop_token stop = {});

  private:
    std::shared_ptr<ChkszNetEaseProviding> netease_;
};

}  // namespace velto

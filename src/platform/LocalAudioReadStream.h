#pragma once

#include <taglib/tfilestream.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>

namespace velto {

// A file opened read-only for TagLib that ends early, as if the file stopped there, once a stop
// is requested or its read allowance is spent. TagLib looks for frames from one end of a file to
// the other in small blocks, so a large file of zeros (an unfinished download) would keep it
// busy for minutes; blocks read whole (a tag with its cover) have a larger allowance of their own.
class LocalAudioReadStream final : public TagLib::FileStream {
  public:
    static constexpr std::uint64_t scanAllowance = 4u << 20;
    static constexpr std::uint64_t blockAllowance = 64u << 20;
    static constexpr unsigned long scanBlockLimit = 64u << 10;

    // `answered`, when given, runs after the opening and after each read of the file.
    LocalAudioReadStream(const std::filesystem::path& path, std::stop_token stop,
                         std::function<void()> answered = {});

    TagLib::ByteVector readBlock(unsigned long length) override;

    // A read was refused because a stop was requested.
    bool stopped() const { return stopped_; }

  private:
    std::stop_token stop_;
    std::function<void()> answered_;
    std::uint64_t scanned_ = 0;
    std::uint64_t read_ = 0;
    bool stopped_ = false;
};

}  // namespace velto

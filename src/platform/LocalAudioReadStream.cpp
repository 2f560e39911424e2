#include "platform/LocalAudioReadStream.h"

namespace velto {

LocalAudioReadStream::LocalAudioReadStream(const std::filesystem::path& path, std::stop_token stop,
                                           std::function<void()> answered)
    : TagLib::FileStream(path.c_str(), true), stop_(std::move(stop)), answered_(std::move(answered)) {
    if (answered_) answered_();
}

TagLib::ByteVector LocalAudioReadStream::readBlock(unsigned long length) {
    if (stop_.stop_requested()) {
        stopped_ = true;
        return {};
    }
    std::uint64_t& spent = length < scanBlockLimit ? scanned_ : read_;
    const std::uint64_t allowance = length < scanBlockLimit ? scanAllowance : blockAllowance;
    if (spent + length > allowance) return {};
    spent += length;
    TagLib::ByteVector block = TagLib::FileStream::readBlock(length);
    if (answered_) answered_();
    return block;
}

}  // namespace velto

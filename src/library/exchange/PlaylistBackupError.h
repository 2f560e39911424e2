#pragma once

#include <stdexcept>
#include <string_view>

namespace velto {

// Why a playlist backup could not be read, written or imported. what() is the text the user
// sees.
class PlaylistBackupError : public std::runtime_error {
public:
    enum class Kind { invalidFile, unsupportedVersion, tooLarge, invalidTrack, pendingChanges, saveFailed };

    explicit PlaylistBackupError(Kind kind);
    Kind kind() const { return kind_; }
    static std::string_view description(Kind kind);

    bool operator==(const PlaylistBackupError& other) const { return kind_ == other.kind_; }

private:
    Kind kind_;
};

}  // namespace velto

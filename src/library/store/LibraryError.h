#pragma once

#include <stdexcept>

namespace velto {

// The library's refusals; what() is the text the user reads.
class LibraryError : public std::runtime_error {
  public:
    enum class Kind {
        emptyPlaylistName,
        incompatiblePlaylistKind,
        personalPlaylistImmutable,
        systemPlaylistImmutable
    };

    explicit LibraryError(Kind kind);
    Kind kind() const { return kind_; }
    bool operator==(const LibraryError& other) const { return kind_ == other.kind_; }

    static const char* description(Kind kind);

  private:
    Kind kind_;
};

}  // namespace velto

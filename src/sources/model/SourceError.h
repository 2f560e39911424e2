#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace velto {

// The error of the source layer. what() is the user-facing text.
class SourceError : public std::runtime_error {
public:
    enum class Kind { network, source, credentialRequired };

    static SourceError network(std::exception_ptr underlying);  // "网络失败"
    static SourceError source(std::string message);
    static SourceError credentialRequired(std::string hint);

    Kind kind() const { return kind_; }
    // The message or hint (for network: "网络失败").
    std::string message() const { return what(); }
    std::exception_ptr underlying() const { return underlying_; }

private:
    SourceError(Kind kind, std::string text, std::exception_ptr underlying);
    Kind kind_;
    std::exception_ptr underlying_;
};

}  // namespace velto

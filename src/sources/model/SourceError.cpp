#include "sources/model/SourceError.h"

#include <utility>

namespace velto {

SourceError::SourceError(Kind kind, std::string text, std::exception_ptr underlying)
    : std::runtime_error(std::move(text)), kind_(kind), underlying_(std::move(underlying)) {}

SourceError SourceError::network(std::exception_ptr underlying) {
    return SourceError(Kind::network, "网络失败", std::move(underlying));
}

SourceError SourceError::source(std::string message) {
    return SourceError(Kind::source, std::move(message), nullptr);
}

SourceError SourceError::credentialRequired(std::string hint) {
    return SourceError(Kind::credentialRequired, std::move(hint), nullptr);
}

}  // namespace velto

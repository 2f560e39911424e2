#pragma once

#include <optional>
#include <string>

namespace velto::SourceArtworkURL {

// A cover address as the services send it, made safe to load: absent or blank gives none; an
// http or https address with a host and without user or password comes back with https;
// anything else throws SourceError::source("音源返回封面地址异常").
std::optional<std::string> normalizedString(const std::optional<std::string>& text);

}  // namespace velto::SourceArtworkURL

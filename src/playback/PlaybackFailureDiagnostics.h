#pragma once

#include <cstddef>
#include <exception>
#include <string>

namespace velto {

// Turns a playback failure into the text the user sees.
namespace PlaybackFailureDiagnostics {

// The most of an error's own text that reaches the state (and every log of it). Any message
// written for a user fits; a service's message can be arbitrarily long.
inline constexpr std::size_t maxMessageBytes = 600;

// Network failures (also inside SourceError::network) get one of four fixed hints by their
// class; other errors give their own text with web addresses removed, cut to maxMessageBytes
// (and "…"), or `fallback` when nothing is left.
std::string message(const std::exception_ptr& error, const std::string& fallback);

}  // namespace PlaybackFailureDiagnostics
}  // namespace velto

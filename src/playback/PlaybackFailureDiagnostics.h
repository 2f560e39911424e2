#pragma once

#include <exception>
#include <string>

namespace velto {

// Turns a playback failure into the text the user sees.
namespace PlaybackFailureDiagnostics {

// Network failures (also inside SourceError::network) get one of four fixed hints by their
// class; other errors give their own text with web addresses removed, or `fallback` when
// nothing is left.
std::string message(const std::exception_ptr& error, const std::string& fallback);

}  // namespace PlaybackFailureDiagnostics
}  // namespace velto

#pragma once

#include <string>
#include <string_view>

namespace velto {

// `text` without leading and trailing white space and line breaks, Unicode spaces (such as
// U+00A0 and U+3000) included. The text is UTF-8.
std::string trimmedWhitespace(std::string_view text);

}  // namespace velto

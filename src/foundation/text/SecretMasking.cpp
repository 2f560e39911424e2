#include "foundation/text/SecretMasking.h"

#include <optional>
#include <vector>

namespace velto::SecretMasking {

namespace {

constexpr std::size_t noMatch = std::string_view::npos;

std::optional<unsigned> hexValue(char c) {
    if (c >= '0' && c <= '9') return unsigned(c - '0');
    if (c >= 'a' && c <= 'f') return unsigned(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return unsigned(c - 'A' + 10);
    return std::nullopt;
}

// The byte a "%XX" at `at` stands for.
std::optional<unsigned char> escapedByte(std::string_view text, std::size_t at) {
    if (at + 2 >= text.size() || text[at] != '%') return std::nullopt;
    auto high = hexValue(text[at + 1]);
    auto low = hexValue(text[at + 2]);
    if (!high || !low) return std::nullopt;
    return static_cast<unsigned char>(*high * 16 + *low);
}

// Length of the form of a byte that `fits` and starts at `at`: the byte itself, escaped once or
// escaped twice; 0 when none does.
template <class Fits>
std::size_t formLength(std::string_view text, std::size_t at, Fits fits) {
    if (at >= text.size()) return 0;
    if (fits(static_cast<unsigned char>(text[at]))) return 1;
    if (auto decoded = escapedByte(text, at)) {
        if (fits(*decoded)) return 3;
        // "%25" is an escaped '%', so "%25" and two hex digits is the byte encoded twice.
        if (*decoded == '%' && at + 4 < text.size()) {
            auto high = hexValue(text[at + 3]);
            auto low = hexValue(text[at + 4]);
            if (high && low && fits(static_cast<unsigned char>(*high * 16 + *low))) return 5;
        }
    }
    return 0;
}

unsigned char asciiLower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// `caseless`: a server may have changed the case of the letters it echoes.
std::size_t byteLength(std::string_view text, std::size_t at, unsigned char byte, bool caseless) {
    if (byte == ' ' && at < text.size() && text[at] == '+') return 1;
    return formLength(text, at, [byte, caseless](unsigned char c) {
        return c == byte || (caseless && asciiLower(c) == asciiLower(byte));
    });
}

// Length of the secret's occurrence starting at `at`; 0 when there is none.
std::size_t occurrenceLength(std::string_view text, std::size_t at, std::string_view secret,
                             bool caseless) {
    std::size_t end = at;
    for (char c : secret) {
        std::size_t length = byteLength(text, end, static_cast<unsigned char>(c), caseless);
        if (length == 0) return 0;
        end += length;
    }
    return end - at;
}

// Length of the secret written as hex digits, two a byte, starting at `at`; 0 when it is not.
std::size_t hexLength(std::string_view text, std::size_t at, std::string_view secret) {
    if (text.size() - at < 2 * secret.size()) return 0;
    for (std::size_t i = 0; i < secret.size(); ++i) {
        const auto high = hexValue(text[at + 2 * i]);
        const auto low = hexValue(text[at + 2 * i + 1]);
        if (!high || !low || *high * 16 + *low != static_cast<unsigned char>(secret[i])) return 0;
    }
    return 2 * secret.size();
}

// MIME breaks Base64 into lines with CR LF or LF.
std::size_t lineBreakLength(std::string_view text, std::size_t at) {
    if (at < text.size() && text[at] == '\n') return 1;
    if (at + 1 < text.size() && text[at] == '\r' && text[at + 1] == '\n') return 2;
    return 0;
}

// Length of what `read` finds at `at`, or after a line break there; 0 when it finds nothing.
template <class Read>
std::size_t lengthAcrossBreak(std::string_view text, std::size_t at, Read read) {
    if (std::size_t length = read(at)) return length;
    const std::size_t lineBreak = lineBreakLength(text, at);
    if (lineBreak == 0) return 0;
    const std::size_t length = read(at + lineBreak);
    return length == 0 ? 0 : lineBreak + length;
}

// Either alphabet: the URL-safe one differs only in the last two characters.
int sextetValue(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+' || c == '-') return 62;
    if (c == '/' || c == '_') return 63;
    return -1;
}

// One Base64 character of an encoded secret: which of its six bits the secret decides, and
// their values.
struct Sextet {
    unsigned value = 0;
    unsigned known = 0;
};

// The characters the secret decides when it starts `offset` bytes (0 to 2) into a three-byte
// group. The core's characters lie wholly inside the secret, so they read the same whatever
// surrounds it; the lead and tail characters share bits with the bytes around it.
struct EncodedForm {
    std::optional<Sextet> lead;
    std::vector<Sextet> core;
    std::optional<Sextet> tail;
    std::size_t padding = 0;  // the '=' that follow when the secret ends the encoded bytes
};

EncodedForm encodedForm(std::string_view secret, std::size_t offset) {
    const std::size_t first = offset * 8;
    const std::size_t end = first + secret.size() * 8;
    auto inside = [&](std::size_t bit) { return bit >= first && bit < end; };
    EncodedForm form;
    for (std::size_t start = first / 6 * 6; start < end; start += 6) {
        Sextet sextet;
        for (std::size_t bit = start; bit < start + 6; ++bit) {
            unsigned value = 0;
            if (inside(bit)) {
                const auto byte = static_cast<unsigned char>(secret[(bit - first) / 8]);
                value = (byte >> (7 - (bit - first) % 8)) & 1u;
            }
            sextet.value = sextet.value << 1 | value;
            sextet.known = sextet.known << 1 | (inside(bit) ? 1u : 0u);
        }
        if (sextet.known == 0x3F) {
            form.core.push_back(sextet);
        } else if (start < first) {
            form.lead = sextet;
        } else {
            form.tail = sextet;
        }
    }
    form.padding = (3 - (offset + secret.size()) % 3) % 3;
    return form;
}

std::size_t sextetLength(std::string_view text, std::size_t at, Sextet sextet) {
    return formLength(text, at, [sextet](unsigned char c) {
        const int value = sextetValue(c);
        return value >= 0 && (unsigned(value) & sextet.known) == sextet.value;
    });
}

// A character of the encoded form after its first: a line break may come before it.
std::size_t nextSextetLength(std::string_view text, std::size_t at, Sextet sextet) {
    return lengthAcrossBreak(text, at, [&](std::size_t from) { return sextetLength(text, from, sextet); });
}

// End of the core's characters read from `at`; noMatch when they are not there. `first` tells
// whether the core begins the encoded form.
std::size_t coreEnd(std::string_view text, std::size_t at, const std::vector<Sextet>& core,
                    bool first) {
    for (const Sextet& sextet : core) {
        const std::size_t length =
            first ? sextetLength(text, at, sextet) : nextSextetLength(text, at, sextet);
        if (length == 0) return noMatch;
        at += length;
        first = false;
    }
    return at;
}

// Length of the encoded form starting at `at`; 0 when there is none. Only the core must be
// there; the lead and tail characters and the padding are hidden with it when they fit.
std::size_t encodedLength(std::string_view text, std::size_t at, const EncodedForm& form) {
    std::size_t end = noMatch;
    if (form.lead) {
        if (std::size_t length = sextetLength(text, at, *form.lead)) {
            end = coreEnd(text, at + length, form.core, false);
        }
    }
    if (end == noMatch) end = coreEnd(text, at, form.core, true);
    if (end == noMatch) return 0;
    if (form.tail) {
        if (std::size_t length = nextSextetLength(text, end, *form.tail)) {
            end += length;
            for (std::size_t i = 0; i < form.padding; ++i) {
                length = lengthAcrossBreak(text, end, [&](std::size_t from) {
                    return formLength(text, from, [](unsigned char c) { return c == '='; });
                });
                if (length == 0) break;
                end += length;
            }
        }
    }
    return end - at;
}

// The secret as it travels in an address: a server may encode the address it was asked for.
std::string escaped(std::string_view secret) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : secret) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out += c;
        } else {
            out += {'%', digits[byte >> 4], digits[byte & 0x0F]};
        }
    }
    return out;
}

}  // namespace

std::string masked(std::string_view text, std::string_view secret) {
    if (secret.empty()) return std::string(text);
    const bool longSecret = secret.size() >= shortestEncodedSecret;
    std::vector<EncodedForm> forms;
    if (longSecret) {
        const std::string inAddress = escaped(secret);
        for (std::size_t offset = 0; offset < 3; ++offset) {
            forms.push_back(encodedForm(secret, offset));
            if (inAddress != secret) forms.push_back(encodedForm(inAddress, offset));
        }
    }
    std::string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = occurrenceLength(text, at, secret, longSecret);
        if (length == 0 && longSecret) length = hexLength(text, at, secret);
        for (const EncodedForm& form : forms) {
            if (length != 0) break;
            length = encodedLength(text, at, form);
        }
        if (length != 0) {
            result += mask;
            at += length;
        } else {
            result += text[at++];
        }
    }
    return result;
}

}  // namespace velto::SecretMasking

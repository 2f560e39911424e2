#pragma once

#include <cctype>
#include <map>
#include <string>
#include <string_view>

namespace velto::fuzz {

// A service answer written like an HTTP response without its protocol word, so seed files stay
// readable: "<status>[ <word>]\n", header lines "Name: value\n", an empty line, then the body.
// An input that does not start that way is a body answered with 200.
struct Reply {
    int status = 200;
    std::string word;                            // what the target calls with this answer
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

inline Reply parseReply(std::string_view input) {
    Reply reply;
    reply.body = std::string(input);
    if (input.size() < 4 || !std::isdigit(static_cast<unsigned char>(input[0])) ||
        !std::isdigit(static_cast<unsigned char>(input[1])) ||
        !std::isdigit(static_cast<unsigned char>(input[2])))
        return reply;
    auto lineEnd = input.find('\n');
    if (lineEnd == std::string_view::npos) return reply;
    std::string_view first = input.substr(0, lineEnd);
    if (first.size() > 3 && first[3] != ' ') return reply;
    reply.status = (input[0] - '0') * 100 + (input[1] - '0') * 10 + (input[2] - '0');
    if (first.size() > 4) reply.word = std::string(first.substr(4));
    input.remove_prefix(lineEnd + 1);
    while (true) {
        lineEnd = input.find('\n');
        std::string_view line = input.substr(0, lineEnd);
        if (lineEnd == std::string_view::npos) line = input;
        if (line.empty()) {
            input.remove_prefix(lineEnd == std::string_view::npos ? input.size() : 1);
            break;
        }
        auto colon = line.find(':');
        if (colon != std::string_view::npos) {
            std::string name(line.substr(0, colon));
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            reply.headers[name] = std::string(value);
        }
        if (lineEnd == std::string_view::npos) {
            input = {};
            break;
        }
        input.remove_prefix(lineEnd + 1);
    }
    reply.body = std::string(input);
    return reply;
}

}  // namespace velto::fuzz

#pragma once

#include <httplib.h>

#include <memory>
#include <string>

namespace velto {

// Answers like a media server that does not honour "Range": the whole body, sent chunked with
// the given status (the loopback server would otherwise cut ranges itself). An empty `type`
// sends an empty Content-Type, which the server would otherwise fill with text/plain.
inline void answerIgnoringRange(httplib::Response& response, int status, const std::string& type,
                                std::string body) {
    response.status = status;
    auto content = std::make_shared<std::string>(std::move(body));
    response.set_chunked_content_provider(type, [content](size_t, httplib::DataSink& sink) {
        if (!content->empty()) sink.write(content->data(), content->size());
        sink.done();
        return true;
    });
}

}  // namespace velto

#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/HttpClient.h"
#include "sources/model/SourceError.h"

namespace velto {

// The message of the SourceError that `work` throws, of `kind` unless none is named; a failure
// when it throws nothing or something else.
inline std::string sourceErrorOf(const std::function<void()>& work,
                                 std::optional<SourceError::Kind> kind = SourceError::Kind::source) {
    try {
        work();
    } catch (const SourceError& error) {
        if (kind) {
            EXPECT_EQ(error.kind(), *kind) << error.what();
        }
        return error.what();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected error: " << error.what();
        return {};
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

// What the network failure ("网络失败") that `work` throws carries underneath; a failure when it
// throws none.
inline std::exception_ptr underlyingOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const SourceError& error) {
        EXPECT_EQ(error.kind(), SourceError::Kind::network) << error.what();
        EXPECT_STREQ(error.what(), "网络失败");
        return error.underlying();
    }
    ADD_FAILURE() << "expected a network failure";
    return {};
}

// The code of the HttpError under the network failure `work` throws.
inline HttpError::Code httpCodeUnder(const std::function<void()>& work) {
    if (const auto error = underlyingOf(work)) {
        try {
            std::rethrow_exception(error);
        } catch (const HttpError& failure) {
            return failure.code();
        } catch (...) {
        }
    }
    ADD_FAILURE() << "no HttpError underneath";
    return HttpError::Code::other;
}

}  // namespace velto

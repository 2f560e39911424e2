#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

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

}  // namespace velto

#include "app/ErrorText.h"

#include <stdexcept>

#include "foundation/Log.h"

namespace velto::ErrorText {

std::string describe(const std::exception_ptr& error, const char* category) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
        Log::error(category, e.what());
        if (*e.what() != '\0') return e.what();
    } catch (...) {
        Log::error(category, "failure without a description");
    }
    return "操作失败，请重试。";
}

}  // namespace velto::ErrorText

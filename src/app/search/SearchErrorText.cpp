#include "app/search/SearchErrorText.h"

#include "foundation/Log.h"
#include "platform/HttpClient.h"
#include "sources/model/SourceError.h"

namespace velto {

std::string searchErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const HttpError& failure) {
        Log::info("search", std::string("request failed: ") + failure.what());
        return SourceError::network(error).what();
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "未知错误";
    }
}

}  // namespace velto

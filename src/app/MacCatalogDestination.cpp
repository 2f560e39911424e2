#include "app/MacCatalogDestination.h"

namespace velto {

const std::string& MacCatalogDestination::name() const {
    return std::visit([](const auto& summary) -> const std::string& { return summary.name; },
                      summary_);
}

}  // namespace velto
